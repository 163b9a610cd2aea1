#pragma once

#include <initializer_list>

class TlDialog;

// Gives the listed controls of a page's window the small font of the desktop's controls.
void SetPageFont(TlDialog& page, std::initializer_list<int> ids);
