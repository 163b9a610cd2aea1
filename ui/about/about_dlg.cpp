#include "ui/about/about_dlg.h"

#include <QGuiApplication>
#include <QScreen>

#include "resources/dialogs/dialog_ids.h"
#include "shell/localization/localization.h"

namespace ids = dialogs::about;

CAboutDlg::CAboutDlg() : TlDialog(ids::kTemplate) {}

bool CAboutDlg::OnInitDialog() {
    QWidget* box = window();
    // Its owner, the main window, is never shown: the box goes to the middle of the primary
    // screen's work area.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        box->move(area.x() + (area.width() - box->width()) / 2,
                  area.y() + (area.height() - box->height()) / 2);
    }
    if (const dialogs::DialogTemplate* dialog = dialog_template()) {
        box->setWindowTitle(QString::fromStdString(LoadLocString(dialog->caption_text_id)));
    }
    SetLocalizedTexts({ids::kProduct, ids::kDescription, ids::kFeedbackLabel, ids::kHomepageLabel,
                       dialogs::kIdOk});
    return true;
}
