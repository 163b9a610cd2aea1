// The main window without reception: a notice, a popup and a sound for each arrival (a flood
// shares them), the closing mode, the blinking, the tray icon's clicks. "Exit Tolvane" with a
// popup on screen and the settings saved at shutdown are checked from outside (desktop_test.sh).
#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <thread>
#include <vector>

#include "archive/array_data_set.h"
#include "desktop/main_form.h"
#include "desktop/sound.h"
#include "desktop/tray_icon.h"
#include "platform/codepage/codepage.h"
#include "tests/ui/offscreen.h"
#include "ui/controls/command_event.h"
#include "ui/popup_msg_form.h"

namespace {

class RecordingSound : public TlSoundPlayer {
  public:
    std::vector<std::string> played;
    void Play(const std::string& name) override { played.push_back(name); }
};

// A main window on an archive, a settings folder and a sound of the test's own.
struct Fixture {
    QTemporaryDir config;
    TlArrayDataSet archive;
    std::mutex lock;
    RecordingSound sound;
    std::unique_ptr<CMainForm> form;

    Fixture() { Start(); }
    void Start() {
        CMainForm::Options options;
        options.start_reception = false;
        options.hive = platform::registry::Hive(config.path().toStdString());
        options.archive = &archive;
        options.archive_lock = &lock;
        options.sound = &sound;
        form = std::make_unique<CMainForm>(std::move(options));
    }
    // Delivers from a port thread before the window runs, then lets it handle the notices.
    void Arrive(std::vector<ReceivedMessage> messages) {
        const std::size_t before = form->ArrivalsHandled();
        std::thread port([&] {
            for (ReceivedMessage& message : messages) {
                form->OnMessageReceived(std::move(message));
            }
        });
        port.join();
        QVERIFY(QTest::qWaitFor([&] { return form->ArrivalsHandled() == before + messages.size(); },
                                5000));
    }
    void Arrive(MessageKind kind, std::string origin, std::string text = "hello") {
        Arrive({{kind, std::move(origin), "BOB", std::move(text)}});
    }
    std::string Field(int index, std::string_view name) {
        return archive.GetField(index, name).AsText();
    }
    void Set(int id, TlVariant value) { form->settings()[id] = std::move(value); }
    qint64 ShownIcon() { return form->tray_icon().icon().cacheKey(); }
};

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT
  private slots:
    void AFloodSharesItsNotices();
    void EachArrivalPopsUpAndSounds();
    void Blinking();
    void TrayIconClicksAndMenu();
};

void MainFormTest::AFloodSharesItsNotices() {
    Fixture f;
    std::vector<std::thread> ports;
    for (int t = 0; t < 4; ++t) {
        ports.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i) {
                const std::string n = std::to_string(t) + "-" + std::to_string(i);
                f.form->OnMessageReceived({MessageKind::Broadcast, "O" + n, "R" + n, "M" + n});
            }
        });
    }
    for (std::thread& port : ports) {
        port.join();
    }
    // Every message archived whole; past the bound the notices are shared, and the last one
    // shows the newest message.
    QCOMPARE(f.archive.GetCount(), 1000);
    for (int i = 0; i < 1000; ++i) {
        const std::string n = f.Field(i, archive_field::kOrigin).substr(1);
        QCOMPARE(f.Field(i, archive_field::kRecipient) + f.Field(i, archive_field::kMessage),
                 "R" + n + "M" + n);
    }
    QTRY_COMPARE(f.form->ArrivalsHandled(), std::size_t{CMainForm::kMaxWaitingNotices});
    QVERIFY(f.form->popup()->ShownText().endsWith(
        QString::fromStdString(f.Field(999, archive_field::kMessage))));
    // Line breaks sent as the OEM 0x14 become CR LF.
    f.Arrive(MessageKind::Personal, "LATE", "one" + platform::codepage::OemLineBreak() + "two");
    QCOMPARE(f.Field(1000, archive_field::kMessage), std::string("one\r\ntwo"));
    QVERIFY(f.form->popup()->ShownText().endsWith("LATE wrote to BOB:\n\none\ntwo"));
}

void MainFormTest::EachArrivalPopsUpAndSounds() {
    Fixture f;
    QSignalSpy popups(f.form.get(), &CMainForm::popupShown);
    f.Arrive(MessageKind::Personal, "A");  // sound off by default
    f.Set(kSettingSoundEnabled, std::int32_t{1});
    f.Set(kSettingSoundPersonal, "personal.wav");
    f.Set(kSettingSoundBroadcast, "message-new-instant");
    // Two quick messages: two popups and two sounds, each chosen by the current record.
    f.Arrive({{MessageKind::Personal, "B", "BOB", "b"}, {MessageKind::Broadcast, "C", "*", "c"}});
    QCOMPARE(popups.count(), 3);
    QCOMPARE(f.sound.played, (std::vector<std::string>(2, "message-new-instant")));
    f.Set(kSettingSoundBroadcast, "");  // an empty name plays nothing
    f.Arrive(MessageKind::Broadcast, "D");
    f.Set(kSettingSoundEnabled, "1");  // only the number 1 switches sounds on
    f.Arrive(MessageKind::Personal, "E");
    QCOMPARE(f.sound.played.size(), 2u);

    // Closing by hand (any value but 1): no countdown, and the blinking winds down at once.
    f.Set(kSettingPopupAutoclose, std::int32_t{2});
    f.Set(kSettingPopupDeadline, std::int32_t{9});
    QPointer<CPopupMsgForm> old = f.form->popup();
    f.Arrive(MessageKind::Personal, "F");
    QVERIFY(!old);  // each arrival replaces the popup
    QCOMPARE(f.form->popup()->AutoCloseTime(), 0);
    QVERIFY(!f.form->blinker().OpenEnded());
    // Closing by itself: the deadline, and blinking until a command in the popup acknowledges.
    f.Set(kSettingPopupAutoclose, std::int32_t{1});
    f.Arrive(MessageKind::Personal, "G");
    QCOMPARE(f.form->popup()->AutoCloseTime(), 9);
    QVERIFY(f.form->blinker().OpenEnded());
    TlCommandEvent copy(CPopupMsgForm::kCopyId, nullptr);
    QCoreApplication::sendEvent(f.form->popup(), &copy);
    QCOMPARE(f.form->blinker().limit(), TlBlinker::kWindDownTicks);
}

void MainFormTest::Blinking() {
    // Alternating icons; acknowledged, 14 more ticks (acknowledging again does not prolong them)
    // and the 15th settles on the normal icon; an arrival during the wind-down starts open-ended
    // blinking from 0.
    Fixture f;
    f.Set(kSettingPopupAutoclose, std::int32_t{1});
    f.Set(kSettingPopupDeadline, std::int32_t{600});
    f.Arrive(MessageKind::Personal, "A");
    f.form->OnBlinkTimer();
    QCOMPARE(f.ShownIcon(), f.form->normal_icon().cacheKey());
    f.form->OnBlinkTimer();
    QCOMPARE(f.ShownIcon(), f.form->alternate_icon().cacheKey());
    // Unseen, the icon asks for attention; the tray menu's first item shows the message.
    QVERIFY(f.form->tray_icon().NeedsAttention());
    f.form->tray_menu().actions().first()->trigger();
    QVERIFY(!f.form->tray_icon().NeedsAttention() && f.form->popup()->isVisible());
    f.form->OnBlinkTimer();
    f.Arrive(MessageKind::Personal, "B");
    QVERIFY(f.form->blinker().OpenEnded() && f.form->blinker().count() == 0);
    f.form->StopBlinking();
    for (int tick = 0; tick < 15; ++tick) {
        QVERIFY(f.form->IsBlinkTimerRunning());
        f.form->OnBlinkTimer();
        f.form->StopBlinking();
    }
    QVERIFY(!f.form->IsBlinkTimerRunning());
    QCOMPARE(f.ShownIcon(), f.form->normal_icon().cacheKey());
}

void MainFormTest::TrayIconClicksAndMenu() {
    Fixture f;
    QVERIFY(f.form->isHidden() && f.form->tray_icon().IsAdded());
    // A left click before any message: an empty popup, a wind-down without a running timer.
    f.form->OnTrayNotify(tlTrayIcon::kLeftButtonDown);
    QCOMPARE(f.form->popup()->ShownText(), QStringLiteral("No messages"));
    QVERIFY(!f.form->IsBlinkTimerRunning() && !f.form->blinker().OpenEnded());
    // A double click arrives as a press and a double click: the popup is made twice.
    QPointer<CPopupMsgForm> first = f.form->popup();
    f.form->tray_icon().Notify(tlTrayIcon::MouseMessageFor(QSystemTrayIcon::Trigger));
    QPointer<CPopupMsgForm> second = f.form->popup();
    f.form->tray_icon().Notify(tlTrayIcon::MouseMessageFor(QSystemTrayIcon::DoubleClick));
    QVERIFY(!first && !second && f.form->popup()->isVisible());
    // The middle button does nothing (the right one's menu: desktop_test.sh).
    QPointer<CPopupMsgForm> current = f.form->popup();
    f.form->tray_icon().Notify(tlTrayIcon::MouseMessageFor(QSystemTrayIcon::MiddleClick));
    QVERIFY(current && !f.form->tray_menu().isVisible());
    // Tips are cut to 63 characters, never inside a character.
    QCOMPARE(tlTrayIcon::CutTip(QString(62, 'x') + QString::fromUtf8("\xF0\x9F\x98\x80")),
             QString(62, 'x'));
}

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    MainFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_form_test.moc"
