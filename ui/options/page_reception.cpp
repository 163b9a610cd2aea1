#include "ui/options/page_reception.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "resources/dialogs/dialog_ids.h"
#include "ui/options/page_font.h"
#include "ui/window_utils.h"

namespace ids = dialogs::reception_page;

COptionsFormPgRdMsgDlg::COptionsFormPgRdMsgDlg(TlPendingSettings settings)
    : TlDialog(ids::kTemplate), settings_(settings) {}

bool COptionsFormPgRdMsgDlg::OnInitDialog() {
    SetPageFont(*this, {ids::kPopupHeading, ids::kCloseLabel, ids::kSecondsLabel, ids::kDndNote});
    SetLocalizedTexts({ids::kPopupHeading, ids::kCloseLabel, ids::kManually, ids::kAtExpiration,
                       ids::kSecondsLabel, ids::kDndNote, ids::kDndPopup});
    FitLabelToText(Item<QLabel>(ids::kPopupHeading));

    auto* manually = Item<QRadioButton>(ids::kManually);
    auto* at_expiration = Item<QRadioButton>(ids::kAtExpiration);
    if (manually != nullptr && at_expiration != nullptr) {
        (settings_.ReadNumber(kSettingPopupAutoclose) == 1 ? at_expiration : manually)
            ->setChecked(true);
        connect(manually, &QRadioButton::clicked, this,
                [this] { settings_.Write(kSettingPopupAutoclose, TlVariant(std::int32_t{0})); });
        connect(at_expiration, &QRadioButton::clicked, this,
                [this] { settings_.Write(kSettingPopupAutoclose, TlVariant(std::int32_t{1})); });
    }

    if (auto* seconds = Item<QLineEdit>(ids::kSeconds)) {
        seconds->setText(QString::number(settings_.ReadNumber(kSettingPopupDeadline)));
        // Every change is taken at once, so the pending value always matches the text.
        connect(seconds, &QLineEdit::textChanged, this, [this](const QString& text) {
            settings_.Write(kSettingPopupDeadline, TlVariant(LeadingNumber(text.toStdString())));
        });
    }
    if (auto* anyway = Item<QCheckBox>(ids::kDndPopup)) {
        anyway->setChecked(settings_.ReadNumber(kSettingPopupDuringDnd) == 1);
        connect(anyway, &QCheckBox::toggled, this, [this](bool ticked) {
            settings_.Write(kSettingPopupDuringDnd, TlVariant(std::int32_t{ticked ? 1 : 0}));
        });
    }
    return true;
}
