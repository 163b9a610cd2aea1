#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "resources/dialogs/dialog_template.h"
#include "ui/dialog/dialog_units.h"

// One control made from a template row.
struct TlBuiltControl {
    const dialogs::DialogControl* row;
    QPointer<QWidget> widget;
};

// Makes the controls of a template as children of window, placed in pixels from the template's
// dialog units measured in font (which also becomes the window's font), and sizes the window to
// the template. The controls come in template order, which is also their Tab order; the first
// one lies on top where they overlap (a heading label over its line). Texts are the template's.
//
// Control kinds become: Label → QLabel (words wrap unless centred); Icon → QLabel with the icon;
// EtchedLine → QFrame; CheckBox → QCheckBox; RadioButton → QRadioButton; Edit → QLineEdit;
// ListBox → QListWidget; ListView → TlReportList; PushButton, DefaultButton → QPushButton.
std::vector<TlBuiltControl> BuildDialogControls(const dialogs::DialogTemplate& dialog,
                                                QWidget& window, const QFont& font);

class QListWidget;

// The property that marks a list box made with the sorted style.
inline constexpr const char* kSortedListProperty = "tlSortedList";

// Adds a text to a list box, in its sorted place (without regard to case, in the user's
// locale's order) if the list box is sorted, else at the end. Returns the new row.
int AddListString(QListWidget& list, const QString& text);
