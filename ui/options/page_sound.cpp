#include "ui/options/page_sound.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QItemSelection>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <set>

#include "resources/dialogs/dialog_ids.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"
#include "ui/dialog/report_list.h"
#include "ui/options/page_font.h"

namespace ids = dialogs::sound_page;

namespace {

QString Loc(int id) {
    return QString::fromStdString(LoadLocString(id));
}

int SettingOfRow(int row) {
    return row == 0 ? kSettingSoundBroadcast : kSettingSoundPersonal;
}

std::set<int> RowsOf(const QItemSelection& selection) {
    std::set<int> rows;
    for (const QModelIndex& index : selection.indexes()) {
        rows.insert(index.row());
    }
    return rows;
}

}  // namespace

COptionsFormDlgSound::COptionsFormDlgSound(TlPendingSettings settings)
    : TlDialog(ids::kTemplate),
      settings_(settings),
      pick_file_(&COptionsFormDlgSound::RunFileDialog),
      beep_([] { QApplication::beep(); }) {}

TlOpenFileRequest COptionsFormDlgSound::SoundFileRequest() {
    TlOpenFileRequest request;
    // "All Files" matches every name, with or without an extension.
    request.filters = {QStringLiteral("Wave Files (*.wav)"), QStringLiteral("All Files (*)")};
    request.selected_filter = 0;
    request.default_suffix = QStringLiteral("wav");
    return request;
}

std::optional<QString> COptionsFormDlgSound::RunFileDialog(QWidget* owner,
                                                           const TlOpenFileRequest& request) {
    // On the heap and watched: the owner may be destroyed while the dialog runs (the program
    // ending from the tray menu), and the dialog with it.
    QPointer<QFileDialog> dialog = new QFileDialog(owner);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(request.filters);
    if (request.selected_filter >= 0 && request.selected_filter < request.filters.size()) {
        dialog->selectNameFilter(request.filters[request.selected_filter]);
    }
    dialog->setDefaultSuffix(request.default_suffix);
    const int result = dialog->exec();
    if (dialog == nullptr) {
        return std::nullopt;
    }
    std::optional<QString> chosen;
    if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        chosen = dialog->selectedFiles().constFirst();
    }
    delete dialog.data();
    return chosen;
}

bool COptionsFormDlgSound::OnInitDialog() {
    SetPageFont(*this, {ids::kEnable, ids::kEvents, ids::kBrowse});
    SetLocalizedTexts({ids::kEnable, ids::kBrowse});

    if (auto* events = Item<TlReportList>(ids::kEvents)) {
        events->setSelectionBehavior(QAbstractItemView::SelectRows);
        events->setHeaderLabels({Loc(strings::kSoundEventColumn), Loc(strings::kSoundFileColumn)});
        events->setColumnWidth(0, kEventColumnWidth);
        events->setColumnWidth(1, kFileColumnWidth);
        const std::pair<int, int> rows[] = {{strings::kSoundBroadcast, kSettingSoundBroadcast},
                                            {strings::kSoundPersonal, kSettingSoundPersonal}};
        for (const auto& [text, setting] : rows) {
            auto* item = new QTreeWidgetItem(events);
            item->setText(0, Loc(text));
            item->setText(1, QString::fromStdString(settings_.ReadText(setting)));
        }
        connect(events->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this](const QItemSelection& selected, const QItemSelection& deselected) {
                    // The row that lost the selection is reported before the one that gained it.
                    for (int row : RowsOf(deselected)) {
                        OnItemChanged(row, false);
                    }
                    for (int row : RowsOf(selected)) {
                        OnItemChanged(row, true);
                    }
                });
    }
    // Until the user picks a row, what is typed belongs to the first one.
    selected_row_ = 0;
    selected_setting_id_ = kSettingSoundBroadcast;

    if (auto* enable = Item<QCheckBox>(ids::kEnable)) {
        enable->setChecked(settings_.ReadNumber(kSettingSoundEnabled) == 1);
        connect(enable, &QCheckBox::clicked, this, [this](bool ticked) {
            settings_.Write(kSettingSoundEnabled, TlVariant(std::int32_t{ticked ? 1 : 0}));
        });
    }
    if (auto* file = Item<QLineEdit>(ids::kFile)) {
        file->installEventFilter(this);
    }
    if (auto* browse = Item<QPushButton>(ids::kBrowse)) {
        connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    }
    return true;
}

bool COptionsFormDlgSound::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && watched == GetDlgItem(ids::kFile) &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        CommitEdit();
    }
    return TlDialog::eventFilter(watched, event);
}

void COptionsFormDlgSound::OnItemChanged(int row, bool selected) {
    CommitEdit();
    SelectRow(selected ? row : -1);
}

void COptionsFormDlgSound::SelectRow(int row) {
    auto* file = Item<QLineEdit>(ids::kFile);
    auto* events = Item<TlReportList>(ids::kEvents);
    if (file == nullptr || events == nullptr) {
        return;
    }
    file->clear();
    selected_row_ = row;
    selected_setting_id_ = SettingOfRow(row);
    if (row == -1) {
        return;
    }
    if (QTreeWidgetItem* item = events->topLevelItem(row)) {
        file->setText(item->text(1));
    }
}

void COptionsFormDlgSound::CommitEdit() {
    auto* file = Item<QLineEdit>(ids::kFile);
    auto* events = Item<TlReportList>(ids::kEvents);
    if (file == nullptr || events == nullptr || !file->isModified() || selected_row_ == -1) {
        return;
    }
    QTreeWidgetItem* item = events->topLevelItem(selected_row_);
    if (item == nullptr) {
        return;
    }
    if (beep_) {
        beep_();
    }
    const QString text = file->text();
    item->setText(1, text);
    settings_.Write(selected_setting_id_, TlVariant(text.toStdString()));
    file->setModified(false);
}

void COptionsFormDlgSound::Browse() {
    if (selected_row_ == -1 || window() == nullptr || !pick_file_) {
        return;
    }
    const QPointer<COptionsFormDlgSound> self(this);
    const std::optional<QString> path = pick_file_(window(), SoundFileRequest());
    // The page, or its window, may have gone while the dialog was open.
    if (self == nullptr || !path) {
        return;
    }
    auto* file = Item<QLineEdit>(ids::kFile);
    auto* events = Item<TlReportList>(ids::kEvents);
    QTreeWidgetItem* item = events != nullptr ? events->topLevelItem(selected_row_) : nullptr;
    if (file == nullptr || item == nullptr) {
        return;
    }
    file->setText(*path);
    item->setText(1, *path);
    settings_.Write(selected_setting_id_, TlVariant(path->toStdString()));
}
