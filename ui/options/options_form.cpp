#include "ui/options/options_form.h"

#include <QCoreApplication>
#include <QIcon>

#include "resources/dialogs/dialog_ids.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"
#include "shell/utility/program_folder.h"
#include "ui/options/page_general.h"
#include "ui/options/page_reception.h"
#include "ui/options/page_sound.h"
#include "ui/options/pending_settings.h"
#include "ui/options/window_closed_event.h"

namespace {

QString Loc(int id) {
    return QString::fromStdString(LoadLocString(id));
}

}  // namespace

// The pictures of the dialogs are compiled into a static library; referencing their initialiser
// keeps the linker from dropping them.
static void InitDialogPictures() {
    static const bool done = [] {
        Q_INIT_RESOURCE(dialogs);
        return true;
    }();
    (void)done;
}

COptionsForm::COptionsForm(Environment environment)
    : environment_(std::move(environment)), owner_(environment_.owner) {
    if (environment_.program_folder.empty()) {
        environment_.program_folder = GetProgramFolder();
    }
}

COptionsForm::~COptionsForm() {
    if (owner_ != nullptr) {
        QCoreApplication::postEvent(owner_, new TlWindowClosedEvent(this));
    }
}

QIcon COptionsForm::OptionsIcon() {
    InitDialogPictures();
    QIcon icon;
    icon.addFile(QStringLiteral(":/dialogs/icon132_16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/dialogs/icon132_32.png"), QSize(32, 32));
    return icon;
}

void COptionsForm::PreCreateWindow() {
    TlOptionsForm::PreCreateWindow();
    setWindowTitle(Loc(strings::kOptionsCaption));
    setWindowIcon(OptionsIcon());
}

bool COptionsForm::OnCreate() {
    if (!TlOptionsForm::OnCreate()) {
        return false;
    }
    ok_button().setText(Loc(strings::kOk));
    cancel_button().setText(Loc(strings::kCancel));

    // Pages need both maps; without them the window has groups but no pages.
    std::unique_ptr<TlDialog> pages[3];
    if (environment_.settings != nullptr && environment_.pending != nullptr) {
        const TlPendingSettings access(*environment_.settings, *environment_.pending);
        pages[0] = std::make_unique<COptionsFormPgGenDlg>(access, environment_.program_folder);
        pages[1] = std::make_unique<COptionsFormDlgSound>(access);
        pages[2] = std::make_unique<COptionsFormPgRdMsgDlg>(access);
    }
    struct Row {
        int group, item, heading;
        std::uint16_t template_id;
    };
    static constexpr Row kRows[3] = {
        {strings::kOptionsGeneral, strings::kOptionsSystem, strings::kSysHeading,
         dialogs::general_page::kTemplate},
        {strings::kOptionsInterface, strings::kOptionsSoundEffects, strings::kSoundHeading,
         dialogs::sound_page::kTemplate},
        {strings::kOptionsBehaviour, strings::kOptionsMessageReception, strings::kRecvHeading,
         dialogs::reception_page::kTemplate},
    };
    TlTreeNode<TlOptionsPageInfo>& root = root_node();
    for (int i = 0; i < 3; ++i) {
        const Row& row = kRows[i];
        TlTreeNode<TlOptionsPageInfo>* group = root.GetChild(root.AddChild());
        group->SetValue(TlOptionsPageInfo(Loc(row.group), QString(), 0, nullptr));
        TlTreeNode<TlOptionsPageInfo>* item = group->GetChild(group->AddChild());
        TlDialog* page = pages[i] ? AdoptPage(std::move(pages[i])) : nullptr;
        item->SetValue(TlOptionsPageInfo(Loc(row.item), Loc(row.heading), row.template_id, page));
    }
    BuildTree(root, nullptr);

    // The first page is on view, though no item is selected yet.
    ShowPage(root.GetChild(0)->GetChild(0)->GetValue());
    return true;
}
