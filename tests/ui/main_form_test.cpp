// The main window without reception: arrivals from several port threads, the line-break
// restoration, the sound of each kind, popup replacement and the closing mode, the tray icon's
// clicks and menu, the blinking state machine, "Exit Tolvane" and the settings saved at shutdown.
#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "archive/array_data_set.h"
#include "platform/codepage/codepage.h"
#include "shell/desktop/blinker.h"
#include "shell/desktop/main_form.h"
#include "shell/desktop/sound.h"
#include "shell/desktop/tray_icon.h"
#include "tests/ui/offscreen.h"
#include "ui/controls/command_event.h"
#include "ui/popup_msg_form.h"

namespace {

class RecordingSound : public TlSoundPlayer {
  public:
    std::vector<std::string> played;
    void Play(const std::string& name) override { played.push_back(name); }
};

ReceivedMessage Received(MessageKind kind, std::string origin, std::string text) {
    ReceivedMessage m;
    m.kind = kind;
    m.origin = std::move(origin);
    m.recipient = "BOB";
    m.text = std::move(text);
    return m;
}

// A main window on an archive, a registry folder and a sound of the test's own.
struct Fixture {
    QTemporaryDir config;
    TlArrayDataSet archive;
    std::mutex lock;
    RecordingSound sound;
    std::unique_ptr<CMainForm> form;

    Fixture() {
        CMainForm::Options options;
        options.start_reception = false;
        options.hive = platform::registry::Hive(config.path().toStdString());
        options.program_path = "/usr/bin/tolvane";
        options.archive = &archive;
        options.archive_lock = &lock;
        options.sound = &sound;
        form = std::make_unique<CMainForm>(std::move(options));
    }
    // Delivers as a port thread does, and lets the window handle the notice.
    void Arrive(MessageKind kind, std::string origin, std::string text = "hello") {
        std::thread port(
            [&] { form->OnMessageReceived(Received(kind, std::move(origin), std::move(text))); });
        port.join();
        QCoreApplication::processEvents();
    }
    std::string Field(int index, std::string_view name) {
        std::lock_guard guard(lock);
        return archive.GetField(index, name).AsText();
    }
};

void Command(QWidget* popup, int id) {
    TlCommandEvent command(id, nullptr);
    QCoreApplication::sendEvent(popup, &command);
}

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT
  private slots:
    void TrayIconAndMenu();
    void ArrivalsFromManyPortThreads();
    void LineBreaksAreRestored();
    void SoundOfEachKind();
    void EachArrivalReplacesThePopup();
    void ClosingModeDecidesTheBlinking();
    void BlinkingStateMachine();
    void BlinkingOnTheTrayIcon();
    void TrayClicks();
    void PopupCommandsAcknowledge();
    void ExitEndsTheMessageLoop();
    void ShutdownSavesTheSettings();
};

void MainFormTest::TrayIconAndMenu() {
    Fixture f;
    QVERIFY(f.form->isHidden());
    QVERIFY(f.form->tray_icon().IsAdded());
    QCOMPARE(f.form->tray_icon().ShownTip(), QStringLiteral("Tolvane Corvessan 2.0"));
    QCOMPARE(f.form->tray_icon().icon().cacheKey(), f.form->normal_icon().cacheKey());
    QVERIFY(!f.form->normal_icon().isNull());
    QVERIFY(!f.form->alternate_icon().isNull());

    const QList<QAction*> items = f.form->tray_menu().actions();
    QCOMPARE(items.size(), 5);
    QCOMPARE(items[0]->text(), QStringLiteral("Change options..."));
    QVERIFY(items[1]->isSeparator());
    QCOMPARE(items[2]->text(), QStringLiteral("About..."));
    QVERIFY(items[3]->isSeparator());
    QCOMPARE(items[4]->text(), QStringLiteral("Exit Tolvane"));
    // Options and about come later: choosing them changes nothing yet.
    items[0]->trigger();
    items[2]->trigger();

    // Tips are cut to 63 characters, never in the middle of a character.
    QCOMPARE(tlTrayIcon::CutTip(QString(70, QLatin1Char('x'))).size(), 63);
    const QString emoji = QString(62, QLatin1Char('x')) + QString::fromUtf8("\xF0\x9F\x98\x80");
    QCOMPARE(tlTrayIcon::CutTip(emoji), QString(62, QLatin1Char('x')));
}

void MainFormTest::ArrivalsFromManyPortThreads() {
    Fixture f;
    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> ports;
    for (int t = 0; t < kThreads; ++t) {
        ports.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string n = std::to_string(t) + "-" + std::to_string(i);
                f.form->OnMessageReceived(Received(
                    t % 2 == 0 ? MessageKind::Personal : MessageKind::Broadcast, "O" + n, "M" + n));
            }
        });
    }
    for (std::thread& port : ports) {
        port.join();
    }
    QCoreApplication::processEvents();

    // Every message is archived whole.
    QCOMPARE(f.archive.GetCount(), kThreads * kEach);
    for (int i = 0; i < f.archive.GetCount(); ++i) {
        const std::string origin = f.Field(i, archive_field::kOrigin);
        QCOMPARE(f.Field(i, archive_field::kMessage), "M" + origin.substr(1));
        QCOMPARE(f.Field(i, archive_field::kRecipient), std::string("BOB"));
        std::lock_guard guard(f.lock);
        QVERIFY(f.archive.GetField(i, archive_field::kReceived).AsInt64() > 0);
        const int type = f.archive.GetField(i, archive_field::kType).AsInt32();
        QVERIFY(type == 1 || type == 2);
    }
    // The window caught up with one notice for all that arrived before it looked, and shows the
    // newest.
    QVERIFY(f.form->ArrivalsHandled() >= 1);
    QVERIFY(f.form->ArrivalsHandled() <= static_cast<std::size_t>(kThreads * kEach));
    QVERIFY(f.form->popup() != nullptr);
    const std::string newest = f.Field(f.archive.GetLastIndex(), archive_field::kOrigin);
    QVERIFY(f.form->popup()->ShownText().contains(QString::fromStdString(newest) + " wrote to"));

    // After the notice was handled, the next arrival gets a notice of its own.
    const std::size_t handled = f.form->ArrivalsHandled();
    f.Arrive(MessageKind::Personal, "LATE");
    QCOMPARE(f.form->ArrivalsHandled(), handled + 1);
    QVERIFY(f.form->popup()->ShownText().contains("LATE wrote to BOB:"));
}

void MainFormTest::LineBreaksAreRestored() {
    Fixture f;
    const std::string mark = platform::codepage::OemLineBreak();
    QVERIFY(!mark.empty());
    f.Arrive(MessageKind::Personal, "A", "one" + mark + "two" + mark);
    QCOMPARE(f.Field(0, archive_field::kMessage), std::string("one\r\ntwo\r\n"));
    f.Arrive(MessageKind::Personal, "A", "plain\ttext");
    QCOMPARE(f.Field(1, archive_field::kMessage), std::string("plain\ttext"));
    QVERIFY(f.form->popup()->ShownText().endsWith("plain\ttext"));
}

void MainFormTest::SoundOfEachKind() {
    Fixture f;
    SettingsMap& settings = f.form->settings();

    // Off by default (no settings stored yet).
    f.Arrive(MessageKind::Personal, "A");
    QVERIFY(f.sound.played.empty());

    settings[kSettingSoundEnabled] = TlVariant(std::int32_t{1});
    settings[kSettingSoundPersonal] = TlVariant("personal.wav");
    settings[kSettingSoundBroadcast] = TlVariant("message-new-instant");
    f.Arrive(MessageKind::Personal, "A");
    f.Arrive(MessageKind::Broadcast, "B");
    QCOMPARE(f.sound.played, (std::vector<std::string>{"personal.wav", "message-new-instant"}));

    // An empty name for the kind plays nothing.
    settings[kSettingSoundBroadcast] = TlVariant("");
    f.Arrive(MessageKind::Broadcast, "C");
    QCOMPARE(f.sound.played.size(), 2u);

    // Only 1 switches sounds on; a text "1" is no number.
    settings[kSettingSoundEnabled] = TlVariant(std::int32_t{2});
    f.Arrive(MessageKind::Personal, "D");
    settings[kSettingSoundEnabled] = TlVariant("1");
    f.Arrive(MessageKind::Personal, "E");
    QCOMPARE(f.sound.played.size(), 2u);

    // A name that stands for no sound is not played and not reported.
    TlSoundPlayer real;
    real.Play("/nonexistent/sound.wav");
    real.Play("no-such-theme-sound");
    real.Play("");
    QCOMPARE(TlSoundPlayer::Resolve(QStringLiteral("/nonexistent/sound.wav")), QString());
}

void MainFormTest::EachArrivalReplacesThePopup() {
    Fixture f;
    QVERIFY(f.form->popup() == nullptr);
    f.Arrive(MessageKind::Personal, "FIRST");
    QPointer<CPopupMsgForm> first = f.form->popup();
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QVERIFY(first->isWindow());
    QCOMPARE(first->parentWidget(), f.form.get());

    // Paging back in the old popup does not stop a new arrival from showing the newest.
    f.Arrive(MessageKind::Personal, "SECOND");
    Command(f.form->popup(), CPopupMsgForm::kPrevId);
    f.Arrive(MessageKind::Broadcast, "THIRD");
    QVERIFY(!first);
    QVERIFY(f.form->popup()->ShownText().contains("THIRD wrote to BOB:"));
    QVERIFY(f.form->popup()->isVisible());
}

void MainFormTest::ClosingModeDecidesTheBlinking() {
    Fixture f;
    SettingsMap& settings = f.form->settings();

    // Closing by hand: no countdown, and the blinking winds down at once.
    settings[kSettingPopupAutoclose] = TlVariant(std::int32_t{2});
    settings[kSettingPopupDeadline] = TlVariant(std::int32_t{9});
    f.Arrive(MessageKind::Personal, "A");
    QCOMPARE(f.form->popup()->AutoCloseTime(), 0);
    QVERIFY(!f.form->blinker().OpenEnded());
    QVERIFY(f.form->IsBlinkTimerRunning());

    // Closing by itself: the deadline's countdown, and blinking until the user acknowledges.
    settings[kSettingPopupAutoclose] = TlVariant(std::int32_t{1});
    f.Arrive(MessageKind::Personal, "B");
    QCOMPARE(f.form->popup()->AutoCloseTime(), 9);
    QVERIFY(f.form->blinker().OpenEnded());
    QVERIFY(f.form->IsBlinkTimerRunning());
}

void MainFormTest::BlinkingStateMachine() {
    TlBlinker blinker;
    QVERIFY(!blinker.Running());

    // Open-ended: normal on odd ticks, alternate on even ones, for as long as nobody looks.
    blinker.StartBlinking();
    for (int tick = 1; tick <= 200; ++tick) {
        const TlBlinker::Tick t = blinker.OnTick();
        QVERIFY(!t.stop_timer);
        QCOMPARE(t.icon, tick % 2 != 0 ? TlBlinker::Icon::Normal : TlBlinker::Icon::Alternate);
    }

    // Wind-down: 14 more ticks, then the 15th stops on the normal icon.
    blinker.StopBlinking();
    for (int tick = 1; tick <= 14; ++tick) {
        const TlBlinker::Tick t = blinker.OnTick();
        QVERIFY(!t.stop_timer);
        QCOMPARE(t.icon, tick % 2 != 0 ? TlBlinker::Icon::Normal : TlBlinker::Icon::Alternate);
        // Acknowledging again does not prolong it.
        blinker.StopBlinking();
    }
    const TlBlinker::Tick last = blinker.OnTick();
    QVERIFY(last.stop_timer);
    QCOMPARE(last.icon, TlBlinker::Icon::Normal);
    QVERIFY(!blinker.Running());

    // An arrival during the wind-down restarts open-ended blinking from 0.
    blinker.StartBlinking();
    blinker.StopBlinking();
    for (int tick = 0; tick < 5; ++tick) {
        blinker.OnTick();
    }
    blinker.StartBlinking();
    QVERIFY(blinker.OpenEnded());
    QCOMPARE(blinker.count(), 0);
    for (int tick = 0; tick < 40; ++tick) {
        QVERIFY(!blinker.OnTick().stop_timer);
    }

    // Acknowledging with nothing blinking winds down without a timer: no visible effect.
    TlBlinker idle;
    idle.StopBlinking();
    QVERIFY(!idle.Running());
    QCOMPARE(idle.limit(), TlBlinker::kWindDownTicks);
}

void MainFormTest::BlinkingOnTheTrayIcon() {
    Fixture f;
    f.form->settings()[kSettingPopupAutoclose] = TlVariant(std::int32_t{1});
    f.form->settings()[kSettingPopupDeadline] = TlVariant(std::int32_t{600});
    f.Arrive(MessageKind::Personal, "A");
    QVERIFY(f.form->IsBlinkTimerRunning());
    const qint64 normal = f.form->normal_icon().cacheKey();
    const qint64 alternate = f.form->alternate_icon().cacheKey();
    f.form->OnBlinkTimer();
    QCOMPARE(f.form->tray_icon().icon().cacheKey(), normal);
    f.form->OnBlinkTimer();
    QCOMPARE(f.form->tray_icon().icon().cacheKey(), alternate);

    // A click on the icon acknowledges: 14 more ticks, then the timer stops on the normal icon.
    f.form->OnTrayNotify(tlTrayIcon::kLeftButtonDown);
    for (int tick = 1; tick <= 14; ++tick) {
        f.form->OnBlinkTimer();
        QVERIFY(f.form->IsBlinkTimerRunning());
    }
    QCOMPARE(f.form->tray_icon().icon().cacheKey(), alternate);
    f.form->OnBlinkTimer();
    QVERIFY(!f.form->IsBlinkTimerRunning());
    QCOMPARE(f.form->tray_icon().icon().cacheKey(), normal);

    // A new arrival starts it all again.
    f.Arrive(MessageKind::Broadcast, "B");
    QVERIFY(f.form->IsBlinkTimerRunning());
    QVERIFY(f.form->blinker().OpenEnded());
}

void MainFormTest::TrayClicks() {
    Fixture f;
    // A left click before any message: an empty popup, and a wind-down with no timer running.
    f.form->OnTrayNotify(tlTrayIcon::kLeftButtonDown);
    QVERIFY(f.form->popup() != nullptr);
    QCOMPARE(f.form->popup()->ShownText(), QStringLiteral("No messages"));
    QVERIFY(!f.form->IsBlinkTimerRunning());
    QVERIFY(!f.form->blinker().OpenEnded());

    // A double click arrives as a press and a double click: the popup is made twice.
    f.Arrive(MessageKind::Personal, "A");
    QPointer<CPopupMsgForm> before = f.form->popup();
    f.form->tray_icon().Notify(tlTrayIcon::kLeftButtonDown);
    QVERIFY(!before);
    QPointer<CPopupMsgForm> pressed = f.form->popup();
    f.form->tray_icon().Notify(tlTrayIcon::kLeftButtonDoubleClick);
    QVERIFY(!pressed);
    QVERIFY(f.form->popup()->isVisible());
    QVERIFY(f.form->popup()->ShownText().contains("A wrote to BOB:"));

    // Other mouse messages do nothing.
    QPointer<CPopupMsgForm> current = f.form->popup();
    f.form->OnTrayNotify(tlTrayIcon::kMiddleButtonDown);
    f.form->OnTrayNotify(0x200);
    QVERIFY(current);
    QVERIFY(!f.form->tray_menu().isVisible());

    // The right button opens the menu.
    f.form->OnTrayNotify(tlTrayIcon::kRightButtonUp);
    QVERIFY(f.form->tray_menu().isVisible());
    f.form->tray_menu().hide();
    QVERIFY(current);

    QCOMPARE(tlTrayIcon::MouseMessageFor(QSystemTrayIcon::Trigger), tlTrayIcon::kLeftButtonDown);
    QCOMPARE(tlTrayIcon::MouseMessageFor(QSystemTrayIcon::DoubleClick),
             tlTrayIcon::kLeftButtonDoubleClick);
    QCOMPARE(tlTrayIcon::MouseMessageFor(QSystemTrayIcon::Context), tlTrayIcon::kRightButtonUp);
}

void MainFormTest::PopupCommandsAcknowledge() {
    Fixture f;
    f.form->settings()[kSettingPopupAutoclose] = TlVariant(std::int32_t{1});
    f.form->settings()[kSettingPopupDeadline] = TlVariant(std::int32_t{600});
    f.Arrive(MessageKind::Personal, "A");
    QVERIFY(f.form->blinker().OpenEnded());
    Command(f.form->popup(), CPopupMsgForm::kCopyId);
    QVERIFY(!f.form->blinker().OpenEnded());
    QCOMPARE(f.form->blinker().limit(), TlBlinker::kWindDownTicks);
}

void MainFormTest::ExitEndsTheMessageLoop() {
    // A popup on screen, which only hides when asked to close, does not hold the program.
    Fixture f;
    f.Arrive(MessageKind::Personal, "A");
    QVERIFY(f.form->popup()->isVisible());
    QTimer::singleShot(0, [&] { f.form->tray_menu().actions().at(4)->trigger(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(20000);
    QCOMPARE(QApplication::exec(), 0);
}

void MainFormTest::ShutdownSavesTheSettings() {
    auto f = std::make_unique<Fixture>();
    f->form->settings()[kSettingPopupDeadline] = TlVariant(std::int32_t{12});
    f->form->settings()[kSettingSoundPersonal] = TlVariant("ding.wav");
    f->Arrive(MessageKind::Personal, "A");
    QPointer<CPopupMsgForm> popup = f->form->popup();
    const std::filesystem::path file =
        platform::registry::Hive(f->config.path().toStdString()).RegistryFile();
    f->form.reset();
    QVERIFY(!popup);  // owned by the main window

    std::ifstream in(file);
    QVERIFY(in.good());
    std::stringstream text;
    text << in.rdbuf();
    const std::string saved = text.str();
    QVERIFY2(saved.find("\"RecvMsgPopWndDeadline\"=dword:0000000c") != std::string::npos,
             saved.c_str());
    QVERIFY(saved.find("\"SoundEventIncMsgPriv\"=\"ding.wav\"") != std::string::npos);
    QVERIFY(saved.find("\"RecvMsgPopWndAutoclose\"=dword:00000000") != std::string::npos);

    // The next start reads them back.
    CMainForm::Options options;
    options.start_reception = false;
    options.hive = platform::registry::Hive(f->config.path().toStdString());
    options.archive = &f->archive;
    options.archive_lock = &f->lock;
    options.sound = &f->sound;
    CMainForm again(std::move(options));
    QCOMPARE(SettingNumber(again.settings(), kSettingPopupDeadline), 12);
    QCOMPARE(SettingText(again.settings(), kSettingSoundPersonal), std::string("ding.wav"));
}

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    MainFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_form_test.moc"
