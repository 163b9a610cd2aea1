// The tray menu's commands on the main window: one options window at a time, which keeps its
// unapplied changes until it closes; "OK" applies and saves at once, the autostart entry only as
// the user chose it, the language at the next start; one about box, hidden and shown again; "Exit
// Tolvane" destroys the open windows without applying anything; closed notices.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "archive/array_data_set.h"
#include "platform/registry/desktop_entry.h"
#include "resources/dialogs/dialog_ids.h"
#include "shell/desktop/main_form.h"
#include "shell/desktop/sound.h"
#include "shell/desktop/tray_commands.h"
#include "shell/localization/localization.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/offscreen.h"
#include "ui/about/about_dlg.h"
#include "ui/options/options_form.h"
#include "ui/options/page_general.h"
#include "ui/options/page_reception.h"
#include "ui/options/window_closed_event.h"

namespace {

class SilentSound : public TlSoundPlayer {
  public:
    void Play(const std::string&) override {}
};

constexpr int kMenuOptions = 0;
constexpr int kMenuAbout = 2;
constexpr int kMenuExit = 4;

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

// Lets posted events (the queued close, deferred deletes, notices) run.
void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

void TypeSeconds(const Program& p, const QString& text) {
    p.Show(2);
    auto* seconds =
        p.PageOf<COptionsFormPgRdMsgDlg>(2)->Item<QLineEdit>(dialogs::reception_page::kSeconds);
    seconds->selectAll();
    QTest::keyClicks(seconds, text);
}

}  // namespace

class TrayCommandsTest : public QObject {
    Q_OBJECT
  private slots:
    void OptionsTwiceBringsTheSameWindow();
    void OkAppliesAndSavesAtOnce();
    void LanguageTakesEffectAtTheNextStart();
    void AboutTwiceShowsOneBox();
    void ExitDestroysTheWindowsWithoutApplying();
    void ClosedNotices();
};

void TrayCommandsTest::OptionsTwiceBringsTheSameWindow() {
    Program p;
    p.form->pending_settings()[kSettingSoundEnabled] = TlVariant(std::int32_t{1});  // stale
    p.Choose(kMenuOptions);
    QPointer<COptionsForm> first = p.Options();
    QVERIFY(first != nullptr && first->isVisible());
    QVERIFY(p.form->pending_settings().empty());  // a new window starts with no changes
    TypeSeconds(p, QStringLiteral("45"));

    p.Choose(kMenuOptions);
    QCOMPARE(p.Options(), first.data());
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{1});
    QCOMPARE(SettingNumber(p.form->pending_settings(), kSettingPopupDeadline), 45);

    QTest::mouseClick(&first->cancel_button(), Qt::LeftButton);
    Settle();
    QVERIFY(first.isNull());
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{0});
    QCOMPARE(SettingNumber(p.form->settings(), kSettingPopupDeadline), 0);
    p.Choose(kMenuOptions);
    QVERIFY(p.Options() != nullptr && p.Options() != first.data());
    QVERIFY(p.form->pending_settings().empty());
}

void TrayCommandsTest::OkAppliesAndSavesAtOnce() {
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

void TrayCommandsTest::LanguageTakesEffectAtTheNextStart() {
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

void TrayCommandsTest::AboutTwiceShowsOneBox() {
    Program p;
    p.Choose(kMenuAbout);
    CAboutDlg* about = p.About();
    QPointer<QWidget> box = about->window();
    QVERIFY(box->isVisible());
    p.Choose(kMenuAbout);
    QCOMPARE(p.About(), about);
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{1});
    // Moved by the user, closed with "OK", asked for again: the same box, where it was.
    box->move(33, 44);
    QTest::mouseClick(about->Item<QPushButton>(dialogs::kIdOk), Qt::LeftButton);
    QVERIFY(box && box->isHidden());
    p.Choose(kMenuAbout);
    QCOMPARE(p.About(), about);
    QVERIFY(box->isVisible());
    QCOMPARE(box->pos(), QPoint(33, 44));
}

void TrayCommandsTest::ExitDestroysTheWindowsWithoutApplying() {
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
    watchdog.setSingleShot(true);
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

void TrayCommandsTest::ClosedNotices() {
    Program p;
    p.Choose(kMenuAbout);
    p.Choose(kMenuOptions);
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{2});
    // A notice for a window that is not in the list changes nothing.
    int elsewhere = 0;
    QCoreApplication::postEvent(p.form.get(), new TlWindowClosedEvent(&elsewhere));
    Settle();
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{2});

    // A window gone whose notice has not arrived yet is not found again: the next command makes
    // a new one, and the late notice removes only the old entry.
    delete p.Options();
    QVERIFY(p.Options() == nullptr);
    p.Choose(kMenuOptions);
    QPointer<COptionsForm> second = p.Options();
    QVERIFY(second != nullptr);
    Settle();
    QCOMPARE(p.form->tray_commands().OpenWindowCount(), std::size_t{2});
    QCOMPARE(p.Options(), second.data());

    // Destroying the main window takes the windows it opened with it.
    QPointer<QWidget> box = p.About()->window();
    p.form.reset();
    QVERIFY(second.isNull() && box.isNull());
}

int main(int argc, char** argv) {
    TempConfigHome home;
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TrayCommandsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tray_commands_test.moc"
