#include "ui/options/page_font.h"

#include "ui/dialog/dialog_units.h"
#include "ui/dialog/tl_dialog.h"

void SetPageFont(TlDialog& page, std::initializer_list<int> ids) {
    const QFont font = GuiFont();
    for (int id : ids) {
        if (QWidget* control = page.GetDlgItem(id)) {
            control->setFont(font);
        }
    }
}
