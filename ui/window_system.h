#pragma once

// Under a Wayland compositor a program cannot put a window at a place of its choosing, and the
// popup belongs at the bottom-right corner of the screen. Where the session also offers XWayland,
// the program therefore runs there (Qt's xcb platform), and the popup is a window the compositor
// does not manage, shown where the program puts it and never given the focus.

// Picks XWayland when both a Wayland and an X display are there and the user has not chosen a Qt
// platform (QT_QPA_PLATFORM). Called before the application object exists.
void ChooseWindowSystem();

// The windows are X11 windows shown by a Wayland compositor through XWayland.
bool OnXWayland();
