// The dialogs made from their templates, the about box, and the options window: its tree, whose
// groups cannot be selected and show their first page instead; "OK" applies, "Cancel" only
// closes; its three pages, which write every change into the pending settings at once. And the
// tray menu's commands on the main window: one options window at a time, which keeps its
// unapplied changes until it closes; "OK" applies and saves at once, the autostart entry only as
// the user chose it, the language at the next start; one about box, hidden and shown again; "Exit
// Tolvane" destroys the open windows without applying anything; closed notices.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <limits>
#include <set>

#include "archive/array_data_set.h"
#include "desktop/main_form.h"
#include "desktop/sound.h"
#include "desktop/tray_commands.h"
#include "platform/registry/desktop_entry.h"
#include "platform/system/version.h"
#include "resources/dialogs/dialog_ids.h"
#include "resources/dialogs/dialog_template.h"
#include "shell/localization/localization.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/offscreen.h"
#include "ui/about/about_dlg.h"
#include "ui/dialog/dialog_builder.h"
#include "ui/dialog/report_list.h"
#include "ui/options/options_form.h"
#include "ui/options/page_general.h"
#include "ui/options/page_reception.h"
#include "ui/options/page_sound.h"
#include "ui/options/pending_settings.h"
#include "ui/options/window_closed_event.h"

namespace {

// Stands for the main window: records the closed notices it receives.
class ClosedNoticeRecorder : public QObject {
  public:
    std::vector<const void*> closed;

  protected:
    bool event(QEvent* event) override {
        if (event->type() != TlWindowClosedEvent::kType) {
            return QObject::event(event);
        }
        closed.push_back(static_cast<TlWindowClosedEvent*>(event)->window());
        return true;
    }
};

// An options window over settings maps and a program folder of the test's own.
struct Fixture {
    QTemporaryDir program_folder;
    SettingsMap settings;
    SettingsMap pending;
    ClosedNoticeRecorder owner;
    QPointer<COptionsForm> form;
    int applied = 0;

    ~Fixture() { delete form.data(); }
    std::filesystem::path folder() const { return program_folder.path().toStdString(); }
    void Language(const std::string& name, std::string_view content) const {
        WriteFile(folder() / "language" / name, content);
    }
    void Open() {
        form = new COptionsForm({&owner, &settings, &pending, folder()});
        form->SetApplyCallback([this] { ++applied; });
        QVERIFY(form->Create());
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        form->tree().doItemsLayout();
    }
    QStandardItem* Group(int index) const { return form->tree().TopLevelItem(index); }
    QStandardItem* PageItem(int group) const { return Group(group)->child(0); }
    void Click(QStandardItem* item, Qt::MouseButton button = Qt::LeftButton) const {
        TlTreeCtrl& tree = form->tree();
        QTest::mouseClick(tree.viewport(), button, Qt::NoModifier, tree.ItemRect(item).center());
    }
    // The page object of a group, whatever is on view.
    template <class Page>
    Page* PageOf(int group) const {
        return dynamic_cast<Page*>(form->root().GetChild(group)->GetChild(0)->GetValue().page);
    }
    // Shows a group's page through the tree and returns the page.
    template <class Page>
    Page* ShowPage(int group) {
        Click(Group(group));
        return PageOf<Page>(group);
    }
    // The pending number of an id; -1 when the id has no pending value.
    std::int32_t Pending(int id) const {
        return pending.count(id) != 0 ? SettingNumber(pending, id) : -1;
    }
    std::string PendingText(int id) const { return SettingText(pending, id); }
};

// Clicks a check box or radio button on its indicator.
void ClickBox(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(4, button->height() / 2));
}

void ClickRow(QAbstractItemView* view, QRect row) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
}

// Moves the keyboard focus away from whatever has it, as a click elsewhere does.
void FocusElsewhere(Fixture& f) {
    f.form->tree().setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
}

// Lets posted events (the queued close, deferred deletes, notices) run.
void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

class SilentSound : public TlSoundPlayer {
  public:
    void Play(const std::string&) override {}
};

constexpr int kMenuOptions = 2;
constexpr int kMenuAbout = 4;
constexpr int kMenuExit = 6;

// The main window without reception, on a registry folder of the test's own.
struct Program {
    QTemporaryDir config;
    TlArrayDataSet archive;
    std::mutex lock;
    SilentSound sound;
    std::unique_ptr<CMainForm> form;

    Program() { Start(); }
    ~Program() {
        form.reset();
        LoadLocalization("");
    }

    platform::registry::Hive hive() const {
        return platform::registry::Hive(config.path().toStdString());
    }
    // Starts the program (again): settings and language are read anew.
    void Start() {
        form.reset();
        CMainForm::Options options;
        options.start_reception = false;
        options.hive = hive();
        options.program_path = QCoreApplication::applicationFilePath().toStdString();
        options.archive = &archive;
        options.archive_lock = &lock;
        options.sound = &sound;
        form = std::make_unique<CMainForm>(std::move(options));
    }
    void Choose(int item) const { form->tray_menu().actions().at(item)->trigger(); }
    COptionsForm* Options() const { return form->tray_commands().FindOpenWindow<COptionsForm>(); }
    CAboutDlg* About() const { return form->tray_commands().FindOpenWindow<CAboutDlg>(); }
    template <class Page>
    Page* PageOf(int group) const {
        return dynamic_cast<Page*>(Options()->root().GetChild(group)->GetChild(0)->GetValue().page);
    }
    void Show(int group) const {
        TlTreeCtrl& tree = Options()->tree();
        tree.SelectItem(tree.TopLevelItem(group)->child(0));
    }
    void ClickOk() const { QTest::mouseClick(&Options()->ok_button(), Qt::LeftButton); }
    QCheckBox* Autostart() const {
        return PageOf<COptionsFormPgGenDlg>(0)->Item<QCheckBox>(dialogs::general_page::kAutostart);
    }
};

void TypeSeconds(const Program& p, const QString& text) {
    p.Show(2);
    auto* seconds =
        p.PageOf<COptionsFormPgRdMsgDlg>(2)->Item<QLineEdit>(dialogs::reception_page::kSeconds);
    seconds->selectAll();
    QTest::keyClicks(seconds, text);
}

}  // namespace

class OptionsTest : public QObject {
    Q_OBJECT
  private slots:
    void TemplatesBuildTheirControls();
    void OpensOnTheFirstPage();
    void ClickingAGroupShowsItsFirstPage();
    void ArrowKeysCannotSelectAGroup();
    void OnlyOkApplies();
    void ReceptionPage();
    void SoundEditGoesToItsRowOnFocusLoss();
    void SoundBrowseAndDeselect();
    void LanguageFiles();
    void HostileLanguageFiles();
    void EachWindowOnce();
    void OkAppliesAndSavesAtOnce();
    void LanguageTakesEffectAtTheNextStart();
    void ExitDestroysTheWindowsWithoutApplying();
};

void OptionsTest::TemplatesBuildTheirControls() {
    for (int id : {100, 137, 168, 174}) {
        const dialogs::DialogTemplate& dialog = *dialogs::FindDialogTemplate(id);
        QWidget window;
        const QFont font = DialogFont(dialog);
        // Never wider than the layouts allow, whatever the desktop's font.
        QVERIFY(TlDialogUnits::FromFont(font).base_x() <= 6);
        const std::vector<TlBuiltControl> built = BuildDialogControls(dialog, window, font);
        QCOMPARE(built.size(), dialog.controls.size());
        std::set<int> ids;
        for (const TlBuiltControl& control : built) {
            QVERIFY(control.row->id == dialogs::kNoId || ids.insert(control.row->id).second);
            QVERIFY(window.rect().contains(control.widget->geometry()));
        }
        // Where controls overlap, the first lies on top: a heading hides the start of its line.
        for (std::size_t i = 0; i + 1 < built.size(); ++i) {
            const QRect both = built[i].widget->geometry() & built[i + 1].widget->geometry();
            QVERIFY(both.isEmpty() || window.childAt(both.center()) == built[i].widget);
        }
        if (id == 168) {
            auto* seconds = window.findChild<QLineEdit*>();
            QTest::keyClicks(seconds, QStringLiteral("4a-5 "));
            QCOMPARE(seconds->text(), QStringLiteral("45"));
        }
        if (id == 137) {
            // Sorted without regard to case; equal texts in the order they came.
            auto* sorted = window.findChild<QListWidget*>();
            for (const char* name : {"beta", "Alpha", "gamma", "alpha", "Beta", "delta"}) {
                AddListString(*sorted, QString::fromUtf8(name));
            }
            QStringList order;
            for (int i = 0; i < sorted->count(); ++i) {
                order << sorted->item(i)->text();
            }
            QCOMPARE(order, QStringList({"Alpha", "alpha", "beta", "Beta", "delta", "gamma"}));
        }
    }
}

void OptionsTest::OpensOnTheFirstPage() {
    Fixture f;
    f.Open();
    QCOMPARE(f.form->minimumSize(), f.form->maximumSize());
    TlTreeCtrl& tree = f.form->tree();
    QVERIFY(tree.IsExpanded(f.Group(0)) && tree.IsExpanded(f.Group(2)));
    QVERIFY(f.form->current_page() == f.PageOf<COptionsFormPgGenDlg>(0));
    QCOMPARE(f.form->heading().text(), QStringLiteral("System"));
    // Nothing is selected, and focus alone selects nothing: the first item is a group.
    tree.setFocus();
    QCoreApplication::processEvents();
    QVERIFY(tree.GetSelectedItem() == nullptr);
    QVERIFY(tree.selectionModel()->selectedIndexes().isEmpty());
}

void OptionsTest::ClickingAGroupShowsItsFirstPage() {
    Fixture f;
    f.Open();
    TlTreeCtrl& tree = f.form->tree();
    const QString headings[] = {"System", "Sound effects", "Message reception"};
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        for (int i : {2, 1, 0}) {
            f.Click(f.Group(i), button);
            QCOMPARE(tree.GetSelectedItem(), f.PageItem(i));
            QVERIFY(!tree.IsSelected(f.Group(i)) && tree.IsExpanded(f.Group(i)));
            QCOMPARE(f.form->heading().text(), headings[i]);
            QCOMPARE(f.form->current_page(), TlOptionsForm::DescriptorOf(f.PageItem(i))->page);
        }
    }
    // The selected item clicked again changes nothing, not even the page's window.
    QPointer<QWidget> window = f.form->current_page()->window();
    f.Click(f.PageItem(0));
    QCOMPARE(f.form->current_page()->window(), window.data());
    // A page item clicked directly is shown, and the old page's window is gone.
    f.Click(f.PageItem(2));
    QCOMPARE(f.form->heading().text(), QStringLiteral("Message reception"));
    QVERIFY(window.isNull());
    // The right button alone does not move the selection to a page item.
    f.Click(f.PageItem(1), Qt::RightButton);
    QCOMPARE(tree.GetSelectedItem(), f.PageItem(2));
    // A double click on a group does not fold it.
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                       tree.ItemRect(f.Group(0)).center());
    QVERIFY(tree.IsExpanded(f.Group(0)));
    QCOMPARE(tree.GetSelectedItem(), f.PageItem(0));
}

void OptionsTest::ArrowKeysCannotSelectAGroup() {
    Fixture f;
    f.Open();
    TlTreeCtrl& tree = f.form->tree();
    const std::pair<int, std::vector<Qt::Key>> tries[] = {
        {0, {Qt::Key_Down, Qt::Key_Up, Qt::Key_Left, Qt::Key_Home}},
        {2, {Qt::Key_Up, Qt::Key_End, Qt::Key_PageUp}}};
    for (const auto& [page, keys] : tries) {
        f.Click(f.PageItem(page));
        QPointer<QWidget> window = f.form->current_page()->window();
        for (Qt::Key key : keys) {
            QTest::keyClick(&tree, key);
            QCOMPARE(tree.GetSelectedItem(), f.PageItem(page));
        }
        QVERIFY(!window.isNull());
    }
    // Nor can the program select a group.
    QVERIFY(!tree.SelectItem(f.Group(1)));
    tree.setCurrentIndex(f.Group(1)->index());
    QCOMPARE(tree.GetSelectedItem(), f.PageItem(2));
}

void OptionsTest::OnlyOkApplies() {
    for (int how = 0; how < 3; ++how) {  // OK, Cancel, the close button
        Fixture f;
        f.settings[kSettingPopupDeadline] = TlVariant(std::int32_t{30});
        f.Open();
        // A change survives switching pages: each showing starts from the pending values.
        auto* page = f.ShowPage<COptionsFormPgRdMsgDlg>(2);
        auto* seconds = page->Item<QLineEdit>(dialogs::reception_page::kSeconds);
        seconds->selectAll();
        QTest::keyClicks(seconds, QStringLiteral("75"));
        f.Click(f.Group(1));
        QVERIFY(page->window() == nullptr);
        f.ShowPage<COptionsFormPgRdMsgDlg>(2);
        QCOMPARE(page->Item<QLineEdit>(dialogs::reception_page::kSeconds)->text(), "75");

        const void* address = f.form.data();
        if (how == 2) {
            f.form->close();
        } else {
            QTest::mouseClick(how == 0 ? &f.form->ok_button() : &f.form->cancel_button(),
                              Qt::LeftButton);
        }
        QCOMPARE(f.applied, how == 0 ? 1 : 0);
        Settle();
        QVERIFY(f.form.isNull());
        QCOMPARE(f.owner.closed, std::vector<const void*>({address}));
        QCOMPARE(SettingNumber(f.settings, kSettingPopupDeadline), 30);  // the owner applies
    }
}

void OptionsTest::ReceptionPage() {
    namespace ids = dialogs::reception_page;
    QCOMPARE(LeadingNumber("12abc"), 12);
    QCOMPARE(LeadingNumber("abc12"), 0);
    // Too large for a setting: the largest, never a wrapped (negative) value.
    QCOMPARE(LeadingNumber("99999999999999999999999"), std::numeric_limits<std::int32_t>::max());

    for (int autoclose : {1, 2}) {  // only 1 means closing by itself
        Fixture f;
        f.settings[kSettingPopupAutoclose] = TlVariant(std::int32_t{autoclose});
        f.settings[kSettingPopupDeadline] = TlVariant(std::int32_t{30});
        f.Open();
        auto* page = f.ShowPage<COptionsFormPgRdMsgDlg>(2);
        auto* manually = page->Item<QRadioButton>(ids::kManually);
        auto* timed = page->Item<QRadioButton>(ids::kAtExpiration);
        auto* seconds = page->Item<QLineEdit>(ids::kSeconds);
        QCOMPARE(timed->isChecked(), autoclose == 1);
        QCOMPARE(manually->isChecked(), autoclose != 1);
        QCOMPARE(seconds->text(), QStringLiteral("30"));
        QVERIFY(f.pending.empty());  // showing changes nothing

        ClickBox(manually);
        QCOMPARE(f.Pending(kSettingPopupAutoclose), 0);
        ClickBox(timed);
        QCOMPARE(f.Pending(kSettingPopupAutoclose), 1);
        seconds->selectAll();
        QTest::keyClick(seconds, Qt::Key_Delete);
        QCOMPARE(f.Pending(kSettingPopupDeadline), 0);
        QTest::keyClick(seconds, Qt::Key_4);
        QCOMPARE(f.Pending(kSettingPopupDeadline), 4);
        QTest::keyClick(seconds, Qt::Key_5);
        QCOMPARE(f.Pending(kSettingPopupDeadline), 45);
        QCOMPARE(SettingNumber(f.settings, kSettingPopupDeadline), 30);
    }
}

void OptionsTest::SoundEditGoesToItsRowOnFocusLoss() {
    namespace ids = dialogs::sound_page;
    Fixture f;
    f.settings[kSettingSoundEnabled] = TlVariant(std::int32_t{1});
    f.settings[kSettingSoundBroadcast] = TlVariant("old.wav");
    f.pending[kSettingSoundPersonal] = TlVariant("me.wav");  // pending values first
    f.Open();
    auto* page = f.ShowPage<COptionsFormDlgSound>(1);
    int beeps = 0;
    page->SetBeep([&] { ++beeps; });
    auto* events = page->Item<TlReportList>(ids::kEvents);
    auto* file = page->Item<QLineEdit>(ids::kFile);
    QCOMPARE(events->topLevelItem(0)->text(1), QStringLiteral("old.wav"));
    QCOMPARE(events->topLevelItem(1)->text(1), QStringLiteral("me.wav"));
    QVERIFY(events->selectedItems().isEmpty() && file->text().isEmpty());
    auto* enable = page->Item<QCheckBox>(ids::kEnable);
    QVERIFY(enable->isChecked());
    ClickBox(enable);
    QCOMPARE(f.Pending(kSettingSoundEnabled), 0);

    // Typed with no row selected: it belongs to the broadcast row, and is taken when the edit
    // loses the focus (with a beep), not while typing, and only when changed.
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("ding.wav"));
    QVERIFY(!f.pending.count(kSettingSoundBroadcast));
    FocusElsewhere(f);
    QCOMPARE(beeps, 1);
    QCOMPARE(f.PendingText(kSettingSoundBroadcast), std::string("ding.wav"));
    QCOMPARE(events->topLevelItem(0)->text(1), QStringLiteral("ding.wav"));
    file->setFocus();
    FocusElsewhere(f);
    QCOMPARE(beeps, 1);

    // Selecting a row takes what was typed for the row before, then shows the new row's file.
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("2"));
    events->setCurrentItem(events->topLevelItem(1));
    QCOMPARE(f.PendingText(kSettingSoundBroadcast), std::string("ding.wav2"));
    QCOMPARE(file->text(), QStringLiteral("me.wav"));
    QCOMPARE(page->selected_setting_id(), int{kSettingSoundPersonal});
}

void OptionsTest::SoundBrowseAndDeselect() {
    namespace ids = dialogs::sound_page;
    Fixture f;
    f.settings[kSettingSoundPersonal] = TlVariant("me.wav");
    f.Open();
    auto* page = f.ShowPage<COptionsFormDlgSound>(1);
    page->SetBeep([] {});
    std::vector<TlOpenFileRequest> asked;
    std::optional<QString> answer = QStringLiteral("/usr/share/sounds/bell.wav");
    page->SetFilePicker([&](QWidget*, const TlOpenFileRequest& request) {
        asked.push_back(request);
        return answer;
    });
    auto* events = page->Item<TlReportList>(ids::kEvents);
    auto* file = page->Item<QLineEdit>(ids::kFile);
    auto* browse = page->Item<QPushButton>(ids::kBrowse);

    ClickRow(events, events->visualItemRect(events->topLevelItem(1)));
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(asked.size(), std::size_t{1});
    QCOMPARE(asked[0].filters, QStringList({"Wave Files (*.wav)", "All Files (*)"}));
    QCOMPARE(f.PendingText(kSettingSoundPersonal), std::string("/usr/share/sounds/bell.wav"));
    QCOMPARE(events->topLevelItem(1)->text(1), file->text());
    QVERIFY(!f.pending.count(kSettingSoundBroadcast));  // only the selected row's setting
    answer.reset();                                     // cancelled: nothing changes
    f.pending.clear();
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(f.pending.empty());

    // A click on empty space below the rows: what was typed goes to the row that was selected,
    // then the edit empties, and neither typing nor "Browse" has a row to go to.
    file->setFocus();
    file->selectAll();
    QTest::keyClicks(file, QStringLiteral("x.wav"));
    ClickRow(events, QRect(0, events->viewport()->height() - 10, 10, 10));
    QVERIFY(events->selectedItems().isEmpty() && file->text().isEmpty());
    QCOMPARE(f.PendingText(kSettingSoundPersonal), std::string("x.wav"));
    asked.clear();
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(asked.empty());
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("lost.wav"));
    FocusElsewhere(f);
    QCOMPARE(f.PendingText(kSettingSoundPersonal), std::string("x.wav"));
}

void OptionsTest::LanguageFiles() {
    namespace ids = dialogs::general_page;
    Fixture f;
    f.Language("de_a.lng", "[Info]\nLanguageName=Deutsch\nAuthor=Anna\nProductVersion=1\n");
    f.Language("de_b.lng", "[Info]\nLanguageName=Deutsch\nAuthor=Bernd\nProductVersion=2\n");
    f.Language("anon.LNG", "[OptionsForm]\n602=X\n");
    f.Language("notes.txt", "[Info]\nLanguageName=Text\n");
    f.settings[kSettingLanguageFile] = TlVariant("de_b.lng");
    f.settings[kSettingAutostart] = TlVariant(std::int32_t{1});
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    auto* autostart = page->Item<QCheckBox>(ids::kAutostart);
    QVERIFY(autostart->isChecked());
    ClickBox(autostart);
    QCOMPARE(f.Pending(kSettingAutostart), 0);

    auto* list = page->Item<QListWidget>(ids::kLanguageList);
    auto* details = page->Item<QLabel>(ids::kLanguageDetails);
    QCOMPARE(list->count(), 4);                             // with the built-in English
    QCOMPARE(list->item(0)->text(), QStringLiteral("<>"));  // no "Info" section
    // The stored file is selected and described.
    QCOMPARE(page->LanguageOfRow(list->currentRow())->file_name, std::string("de_b.lng"));
    QCOMPARE(details->text(), QStringLiteral("Translator: Bernd\nVersion:2"));
    // Each entry keeps its own file, author and version; choosing one stores only its file name.
    std::set<std::string> files;
    for (int row = 0; row < list->count(); ++row) {
        const LangFileInfo* info = page->LanguageOfRow(row);
        ClickRow(list, list->visualItemRect(list->item(row)));
        QCOMPARE(f.PendingText(kSettingLanguageFile), info->file_name);
        QCOMPARE(details->text(), QStringLiteral("Translator: %1\nVersion:%2")
                                      .arg(QString::fromStdString(info->author),
                                           QString::fromStdString(info->product_version)));
        files.insert(info->file_name);
    }
    QVERIFY(files == std::set<std::string>({"", "anon.LNG", "de_a.lng", "de_b.lng"}));

    // A stored name compares exactly: another case is another file, and nothing is selected.
    Fixture g;
    g.Language("de.lng", "[Info]\nLanguageName=Deutsch\n");
    g.settings[kSettingLanguageFile] = TlVariant("DE.lng");
    g.Open();
    page = g.PageOf<COptionsFormPgGenDlg>(0);
    QVERIFY(page->Item<QListWidget>(ids::kLanguageList)->selectedItems().isEmpty());
    QVERIFY(page->Item<QLabel>(ids::kLanguageDetails)->text().isEmpty());
    QVERIFY(!g.pending.count(kSettingLanguageFile));
}

void OptionsTest::HostileLanguageFiles() {
    namespace ids = dialogs::general_page;
    Fixture f;
    f.Language("huge.lng",
               "[Info]\nLanguageName=" + std::string(100000, 'L') + "\nAuthor=\xff\xfe\x80\n");
    f.Language("binary.lng", std::string("\0\x01[Info\n=\n[\n]]]\r\r\n%s%n%x", 24));
    f.Language("percent.lng", "[Info]\nLanguageName=%1 %s\nAuthor=%2%n\nProductVersion=%1\n");
    std::filesystem::create_directories(f.folder() / "language" / "folder.lng");
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    auto* list = page->Item<QListWidget>(ids::kLanguageList);
    QCOMPARE(list->count(), 4);
    for (int row = 0; row < list->count(); ++row) {
        ClickRow(list, list->visualItemRect(list->item(row)));
        QCOMPARE(f.PendingText(kSettingLanguageFile), page->LanguageOfRow(row)->file_name);
        QVERIFY(page->LanguageOfRow(row)->language_name.size() <= 2047);
    }
    // Placeholders in a file's texts are shown as they are.
    list->setCurrentItem(list->findItems(QStringLiteral("%1 %s"), Qt::MatchExactly).value(0));
    QCOMPARE(page->Item<QLabel>(ids::kLanguageDetails)->text(),
             QStringLiteral("Translator: %2%n\nVersion:%1"));
}

void OptionsTest::EachWindowOnce() {
    Program p;
    p.form->pending_settings()[kSettingSoundEnabled] = TlVariant(std::int32_t{1});  // stale
    p.Choose(kMenuOptions);
    QPointer<COptionsForm> first = p.Options();
    QVERIFY(first != nullptr && first->isVisible());
    QVERIFY(p.form->pending_settings().empty());  // a new window starts with no changes
    TypeSeconds(p, QStringLiteral("45"));
    p.Choose(kMenuOptions);
    QCOMPARE(p.Options(), first.data());
    QCOMPARE(SettingNumber(p.form->pending_settings(), kSettingPopupDeadline), 45);
    QTest::mouseClick(&first->cancel_button(), Qt::LeftButton);
    Settle();
    QVERIFY(first.isNull());
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{0});
    QCOMPARE(SettingNumber(p.form->settings(), kSettingPopupDeadline), 0);

    // One about box: "OK", Escape and the close button hide it; asked for again, it is the same
    // box where the user left it.
    p.Choose(kMenuAbout);
    CAboutDlg* about = p.About();
    QPointer<QWidget> box = about->window();
    QCOMPARE(box->windowTitle(), QStringLiteral("About Tolvane"));
    QCOMPARE(about->Item<QLabel>(dialogs::about::kHomepageLabel)->text(), "Homepage:");
    // The product and its version as the build has it, also in the template.
    QCOMPARE(about->Item<QLabel>(dialogs::about::kProduct)->text(),
             QStringLiteral("Tolvane Corvessan ") + QLatin1String(kTolvaneVersion));
    const auto* label = dialogs::FindDialogTemplate(dialogs::about::kTemplate)
                            ->FindControl(dialogs::about::kProduct);
    QCOMPARE(QString::fromUtf8(label->text.data(), qsizetype(label->text.size())),
             QStringLiteral("Tolvane Corvessan Version ") + QLatin1String(kTolvaneVersion));
    box->move(33, 44);
    for (int how = 0; how < 3; ++how) {
        if (how == 0) {
            QTest::mouseClick(about->Item<QPushButton>(dialogs::kIdOk), Qt::LeftButton);
        } else if (how == 1) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            box->close();
        }
        QVERIFY(box && box->isHidden());
        p.Choose(kMenuAbout);
        QCOMPARE(p.About(), about);
        QVERIFY(box->isVisible());
        QCOMPARE(box->pos(), QPoint(33, 44));
    }

    // Closed notices: one for a window not in the list changes nothing; a window gone whose
    // notice has not arrived yet is not found again, and its late notice removes only its entry.
    p.Choose(kMenuOptions);
    int elsewhere = 0;
    QCoreApplication::postEvent(p.form.get(), new TlWindowClosedEvent(&elsewhere));
    delete p.Options();
    QVERIFY(p.Options() == nullptr);
    p.Choose(kMenuOptions);
    QPointer<COptionsForm> second = p.Options();
    Settle();
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{2});
    QCOMPARE(p.Options(), second.data());
    // Destroying the main window takes the windows it opened with it.
    p.form.reset();
    QVERIFY(second.isNull() && box.isNull());
}

void OptionsTest::OkAppliesAndSavesAtOnce() {
    Program p;
    const std::filesystem::path entry = p.hive().AutostartFile();
    p.Choose(kMenuOptions);
    QVERIFY(!p.Autostart()->isChecked());
    p.Autostart()->click();
    TypeSeconds(p, QStringLiteral("12"));
    QVERIFY(!std::filesystem::exists(entry));  // nothing before "OK"
    p.ClickOk();
    // Applied and saved at once, before the window is even gone.
    QCOMPARE(SettingNumber(p.form->settings(), kSettingPopupDeadline), 12);
    QCOMPARE(platform::registry::ProgramFromEntry(ReadFile(entry)),
             QCoreApplication::applicationFilePath().toStdString());
    QVERIFY(ReadFile(p.hive().RegistryFile()).find("\"RecvMsgPopWndDeadline\"=dword:0000000c") !=
            std::string::npos);
    Settle();

    // The session settings switch autostart off while the program runs: neither "OK" without
    // touching the box nor the exit switches it back on, and the box shows it off.
    WriteFile(entry, ReadFile(entry) + "Hidden=true\n");
    const std::string hidden = ReadFile(entry);
    p.Choose(kMenuOptions);
    QVERIFY(!p.Autostart()->isChecked());
    TypeSeconds(p, QStringLiteral("13"));
    p.ClickOk();
    Settle();
    p.Start();
    QCOMPARE(ReadFile(entry), hidden);
    QCOMPARE(SettingNumber(p.form->settings(), kSettingPopupDeadline), 13);
    // The user's own choice wins: on, and off again.
    for (bool on : {true, false}) {
        p.Choose(kMenuOptions);
        p.Autostart()->click();
        p.ClickOk();
        Settle();
        QCOMPARE(
            std::filesystem::exists(entry) && !platform::registry::EntryIsHidden(ReadFile(entry)),
            on);
    }
}

void OptionsTest::LanguageTakesEffectAtTheNextStart() {
    // The shipped files lie in "language" beside this test program, as beside the program.
    Program p;
    p.Choose(kMenuOptions);
    auto* page = p.PageOf<COptionsFormPgGenDlg>(0);
    auto* list = page->Item<QListWidget>(dialogs::general_page::kLanguageList);
    const QList<QListWidgetItem*> german =
        list->findItems(QStringLiteral("Deutsch"), Qt::MatchExactly);
    QCOMPARE(german.size(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(german[0]).center());
    p.ClickOk();
    QCOMPARE(SettingText(p.form->settings(), kSettingLanguageFile), std::string("german.lng"));
    // Nothing changes in this run.
    QCOMPARE(LoadLocString(602), std::string("General"));

    p.Start();
    QCOMPARE(p.form->tray_menu().actions().at(kMenuExit)->text(),
             QStringLiteral("Tolvane beenden"));
    p.Choose(kMenuOptions);
    QCOMPARE(p.Options()->windowTitle(), QStringLiteral("Optionen"));
}

void OptionsTest::ExitDestroysTheWindowsWithoutApplying() {
    Program p;
    p.Choose(kMenuOptions);
    QPointer<COptionsForm> options = p.Options();
    p.Autostart()->click();
    p.Choose(kMenuAbout);
    QPointer<QWidget> box = p.About()->window();
    QPointer<CAboutDlg> about = p.About();

    // In a running loop, as from the tray menu.
    QTimer::singleShot(0, [&] { p.Choose(kMenuExit); });
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(20000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(options.isNull() && about.isNull() && box.isNull());
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{0});
    QCOMPARE(SettingNumber(p.form->settings(), kSettingAutostart), 0);

    p.form.reset();  // the shutdown saves the current settings
    QVERIFY(std::filesystem::exists(p.hive().RegistryFile()));
    QVERIFY(!std::filesystem::exists(p.hive().AutostartFile()));
}

int main(int argc, char** argv) {
    TempConfigHome home;
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    LoadLocalization("");
    OptionsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "options_test.moc"
