#include "ui/options/page_general.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>

#include "resources/dialogs/dialog_ids.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"
#include "ui/options/page_font.h"
#include "ui/window_utils.h"

namespace ids = dialogs::general_page;

namespace {

QString Loc(int id) {
    return QString::fromStdString(LoadLocString(id));
}

}  // namespace

COptionsFormPgGenDlg::COptionsFormPgGenDlg(TlPendingSettings settings,
                                           std::filesystem::path program_folder)
    : TlDialog(ids::kTemplate), settings_(settings), program_folder_(std::move(program_folder)) {}

bool COptionsFormPgGenDlg::OnInitDialog() {
    SetPageFont(*this,
                {ids::kLaunchHeading, ids::kAutostart, ids::kLanguageHeading, ids::kSelectLanguage,
                 ids::kLanguageList, ids::kLanguageDetails, ids::kRestartNote});
    SetLocalizedTexts({ids::kLaunchHeading, ids::kAutostart, ids::kLanguageHeading,
                       ids::kSelectLanguage, ids::kRestartNote});
    FitLabelToText(Item<QLabel>(ids::kLaunchHeading));
    FitLabelToText(Item<QLabel>(ids::kLanguageHeading));

    auto* autostart = Item<QCheckBox>(ids::kAutostart);
    if (autostart != nullptr) {
        autostart->setChecked(settings_.ReadNumber(kSettingAutostart) == 1);
        connect(autostart, &QCheckBox::clicked, this, [this](bool ticked) {
            settings_.Write(kSettingAutostart, TlVariant(std::int32_t{ticked ? 1 : 0}));
        });
    }

    FillLanguageList();
    auto* list = Item<QListWidget>(ids::kLanguageList);
    if (list != nullptr && list->count() > 0) {
        const std::string chosen = settings_.ReadText(kSettingLanguageFile);
        for (int row = 0; row < list->count(); ++row) {
            const LangFileInfo* info = LanguageOfRow(row);
            if (info != nullptr && info->file_name == chosen) {
                list->setCurrentRow(row);
                break;
            }
        }
        ShowLanguageDetails();
    }
    if (list != nullptr) {
        connect(list, &QListWidget::itemSelectionChanged, this, [this] { ShowLanguageDetails(); });
    }
    return true;
}

void COptionsFormPgGenDlg::FillLanguageList() {
    // The program's own English texts come first; no file holds them.
    languages_ = {LangFileInfo{QCoreApplication::applicationVersion().toStdString(), "Brannock",
                               "English", ""}};
    const std::vector<LangFileInfo> files = ListLanguageFiles(program_folder_);
    languages_.insert(languages_.end(), files.begin(), files.end());
    auto* list = Item<QListWidget>(ids::kLanguageList);
    if (list == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < languages_.size(); ++i) {
        const int row = AddListString(*list, QString::fromStdString(languages_[i].language_name));
        list->item(row)->setData(Qt::UserRole, QVariant::fromValue(static_cast<qulonglong>(i)));
    }
}

const LangFileInfo* COptionsFormPgGenDlg::LanguageOfRow(int row) const {
    auto* list = Item<QListWidget>(ids::kLanguageList);
    const QListWidgetItem* item = list != nullptr ? list->item(row) : nullptr;
    if (item == nullptr) {
        return nullptr;
    }
    bool ok = false;
    const qulonglong index = item->data(Qt::UserRole).toULongLong(&ok);
    return ok && index < languages_.size() ? &languages_[index] : nullptr;
}

void COptionsFormPgGenDlg::ShowLanguageDetails() {
    auto* list = Item<QListWidget>(ids::kLanguageList);
    if (list == nullptr) {
        return;
    }
    const QList<QListWidgetItem*> selected = list->selectedItems();
    const LangFileInfo* info = selected.isEmpty() ? nullptr : LanguageOfRow(list->row(selected[0]));
    if (info == nullptr) {
        return;
    }
    SetDlgItemText(
        ids::kLanguageDetails,
        QStringLiteral("%1 %2\n%3%4")
            .arg(Loc(strings::kSysTranslator), QString::fromStdString(info->author),
                 Loc(strings::kSysVersion), QString::fromStdString(info->product_version)));
    // Showing the language in use changes nothing.
    if (info->file_name != settings_.ReadText(kSettingLanguageFile)) {
        settings_.Write(kSettingLanguageFile, TlVariant(info->file_name));
    }
}
