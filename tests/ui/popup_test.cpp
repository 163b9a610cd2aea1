// The popup message window: its layout for short and long texts, the composed text, paging and
// its ends, Copy, the acknowledge callback before every command, and reading an archive that
// port threads append to meanwhile.
#include <QApplication>
#include <QClipboard>
#include <QPointer>
#include <QTest>
#include <atomic>
#include <mutex>
#include <thread>

#include "archive/archive.h"
#include "archive/array_data_set.h"
#include "archive/file_time.h"
#include "tests/ui/mouse.h"
#include "tests/ui/offscreen.h"
#include "ui/controls/command_event.h"
#include "ui/message_text.h"
#include "ui/popup_msg_form.h"

namespace {

constexpr int kScreenHeight = 768;

ArchivedMessage Message(std::string origin, std::string recipient, std::string text,
                        std::int64_t received = 0) {
    ArchivedMessage m;
    m.type = 1;
    m.origin = std::move(origin);
    m.recipient = std::move(recipient);
    m.message = std::move(text);
    m.received = received;
    return m;
}

void Command(QWidget* popup, int id) {
    TlCommandEvent command(id, nullptr);
    QCoreApplication::sendEvent(popup, &command);
}

// One archive with its lock and a popup on it, as the main window makes them.
struct Fixture {
    TlArrayDataSet archive;
    std::mutex lock;
    CPopupMsgForm popup{nullptr};

    Fixture() { popup.SetDataSet(&archive, &lock); }
    void Add(std::string origin, std::string text) {
        ArchiveMessage(archive, lock, Message(std::move(origin), "BOB", std::move(text)));
    }
    QString Origin() {
        // The line "<origin> wrote to BOB:".
        return popup.ShownText().section(QLatin1Char('\n'), 1, 1).section(QLatin1Char(' '), 0, 0);
    }
    void ExpectAtCorner() const {
        QCOMPARE(popup.pos(), QPoint(1024 - 300 - 15, kScreenHeight - popup.height() - 40));
    }
};

}  // namespace

class PopupTest : public QObject {
    Q_OBJECT
  private slots:
    void EmptyArchiveLayout();
    void LongMessageLayout();
    void ComposedText();
    void WroteToPatternIsFilledSafely();
    void TimeIsShownIn24Hours();
    void PagingAndItsEnds();
    void ShowingOrHidingReturnsToTheNewest();
    void CopyCopiesExactlyWhatIsShown();
    void EveryCommandAcknowledgesFirst();
    void CloseButtonHidesThroughTheCaptionStrip();
    void ReadsNeverSeeHalfWrittenRecords();
    void HostileTextStaysInItsBox();
};

void PopupTest::EmptyArchiveLayout() {
    Fixture f;
    f.popup.Popup();
    QCOMPARE(f.popup.ShownText(), QStringLiteral("No messages"));
    QCOMPARE(f.popup.text().geometry(), QRect(6, 30, 288, 100));
    QCOMPARE(f.popup.size(), QSize(300, 155));
    f.ExpectAtCorner();
    // Links 5 pixels below the text, their x and size kept; 5 pixels of background below them.
    QCOMPARE(f.popup.prev_link().geometry(), QRect(5, 135, 95, 15));
    QCOMPARE(f.popup.next_link().geometry(), QRect(110, 135, 95, 15));
    QCOMPARE(f.popup.copy_link().geometry(), QRect(215, 135, 80, 15));
    QCOMPARE(f.popup.caption().geometry(), QRect(1, 1, 297, 24));
    QCOMPARE(f.popup.caption().text(), QStringLiteral("Messages received"));
    QCOMPARE(f.popup.close_button().parentWidget(), &f.popup.caption());
    QCOMPARE(f.popup.close_button().geometry(), QRect(274, 3, 20, 20));
    QCOMPARE(f.popup.prev_link().text(), QStringLiteral("Prev message"));
    QCOMPARE(f.popup.next_link().text(), QStringLiteral("Next message"));
    QCOMPARE(f.popup.copy_link().text(), QStringLiteral("Copy"));

    // Without an archive the text is empty, with the same layout.
    CPopupMsgForm bare(nullptr);
    bare.Popup();
    QCOMPARE(bare.ShownText(), QString());
    QCOMPARE(bare.size(), QSize(300, 155));
    Command(&bare, CPopupMsgForm::kPrevId);
    Command(&bare, CPopupMsgForm::kNextId);
    QCOMPARE(bare.size(), QSize(300, 155));
}

void PopupTest::LongMessageLayout() {
    Fixture f;
    std::string text;
    for (int i = 0; i < 80; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
    }
    f.Add("ALICE", text);
    f.popup.Popup();
    // Capped at 300 pixels of text; the rest scrolls inside it.
    QCOMPARE(f.popup.text().geometry(), QRect(6, 30, 288, 300));
    QCOMPARE(f.popup.size(), QSize(300, 355));
    f.ExpectAtCorner();
    QCOMPARE(f.popup.copy_link().y(), 335);
    QVERIFY(f.popup.ShownText().endsWith(QStringLiteral("line 79\n")));

    // A text between the bounds gets exactly the height it needs.
    f.Add("ALICE", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10");
    f.popup.UpdateContent(0);
    const int height = f.popup.text().height();
    QVERIFY2(height > 100 && height < 300, qPrintable(QString::number(height)));
    QCOMPARE(f.popup.height(), 30 + height + 25);
}

void PopupTest::ComposedText() {
    Fixture f;
    file_time::CalendarTime when;
    when.year = 2024;
    when.month = 3;
    when.day = 5;
    when.hour = 14;
    when.minute = 7;
    when.second = 9;
    const std::int64_t received = file_time::FromCalendar(when);
    ArchiveMessage(f.archive, f.lock,
                   Message("ALICE", "BOB", "Grüße aus Köln\r\n<b>not bold</b>", received));
    f.popup.Popup();
    const QLocale locale = QLocale::system();
    const QString expected =
        CPopupMsgForm::FormatDate(received, locale) + QStringLiteral(" ") +
        CPopupMsgForm::FormatTime(received, locale) +
        QStringLiteral("\nALICE wrote to BOB:\n\nGrüße aus Köln\n<b>not bold</b>");
    QCOMPARE(f.popup.ShownText(), expected);
    QCOMPARE(CPopupMsgForm::FormatDate(received, QLocale(QLocale::German, QLocale::Germany)),
             QStringLiteral("05.03.24"));
}

void PopupTest::WroteToPatternIsFilledSafely() {
    using message_text::FormatWroteTo;
    QCOMPARE(FormatWroteTo("%s wrote to %s:", "ALICE", "BOB"), std::string("ALICE wrote to BOB:"));
    // A translation is a pattern for two names only: other sequences are shown as written,
    // never read as arguments.
    QCOMPARE(FormatWroteTo("%s %d %n %x %s %s", "A", "B"), std::string("A %d %n %x B %s"));
    QCOMPARE(FormatWroteTo("100%% %s", "A", "B"), std::string("100% A"));
    QCOMPARE(FormatWroteTo("no names", "A", "B"), std::string("no names"));
    QCOMPARE(FormatWroteTo("%s%", "A", "B"), std::string("A%"));
    QCOMPARE(FormatWroteTo("", "A", "B"), std::string());
    // Names are inserted as they are.
    QCOMPARE(FormatWroteTo("%s → %s", "%s%n", "%%"), std::string("%s%n → %%"));

    QCOMPARE(message_text::Compose("5.3.2024", "14:07:09", "%s wrote to %s:", "A", "B", "hi"),
             std::string("5.3.2024 14:07:09\r\nA wrote to B:\r\n\r\nhi"));
}

void PopupTest::TimeIsShownIn24Hours() {
    file_time::CalendarTime when;
    when.year = 2023;
    when.month = 12;
    when.day = 31;
    when.hour = 23;
    when.minute = 59;
    when.second = 58;
    const std::int64_t t = file_time::FromCalendar(when);
    for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::German, QLocale::Germany), QLocale::c()}) {
        QCOMPARE(CPopupMsgForm::FormatTime(t, locale), QStringLiteral("23:59:58"));
    }
    when.hour = 7;
    QCOMPARE(CPopupMsgForm::FormatTime(file_time::FromCalendar(when),
                                       QLocale(QLocale::English, QLocale::UnitedStates)),
             QStringLiteral("7:59:58"));
}

void PopupTest::PagingAndItsEnds() {
    Fixture f;
    f.Add("FIRST", "one");
    f.Add("SECOND", "two");
    f.Add("THIRD", "three");
    f.popup.Popup();
    QCOMPARE(f.Origin(), QStringLiteral("THIRD"));

    // Next on the last record keeps it, refreshes and puts the window back at its corner.
    f.popup.move(10, 10);
    Command(&f.popup, CPopupMsgForm::kNextId);
    QCOMPARE(f.archive.GetCurrent(), 2);
    QCOMPARE(f.Origin(), QStringLiteral("THIRD"));
    f.ExpectAtCorner();

    Command(&f.popup, CPopupMsgForm::kPrevId);
    QCOMPARE(f.Origin(), QStringLiteral("SECOND"));
    Command(&f.popup, CPopupMsgForm::kPrevId);
    QCOMPARE(f.Origin(), QStringLiteral("FIRST"));
    // Prev on the first record keeps it; a drag away is undone by the refresh.
    f.popup.move(100, 100);
    Command(&f.popup, CPopupMsgForm::kPrevId);
    QCOMPARE(f.archive.GetCurrent(), 0);
    QCOMPARE(f.Origin(), QStringLiteral("FIRST"));
    f.ExpectAtCorner();

    Command(&f.popup, CPopupMsgForm::kNextId);
    QCOMPARE(f.Origin(), QStringLiteral("SECOND"));

    // A message arriving meanwhile becomes current for the popup too.
    f.Add("FOURTH", "four");
    Command(&f.popup, CPopupMsgForm::kPrevId);
    QCOMPARE(f.Origin(), QStringLiteral("THIRD"));

    // An index outside the records (the archive does not check) shows "No messages".
    {
        std::lock_guard lock(f.lock);
        f.archive.SetCurrent(17);
    }
    f.popup.UpdateContent(0);
    QCOMPARE(f.popup.ShownText(), QStringLiteral("No messages"));
}

void PopupTest::ShowingOrHidingReturnsToTheNewest() {
    Fixture f;
    f.Add("FIRST", "one");
    f.Add("SECOND", "two");
    f.popup.Popup();
    Command(&f.popup, CPopupMsgForm::kPrevId);
    QCOMPARE(f.archive.GetCurrent(), 0);
    // Closing leaves the archive at its newest message without refreshing the text again.
    Command(&f.popup, CPopupMsgForm::kCloseId);
    QVERIFY(!f.popup.isVisible());
    QCOMPARE(f.archive.GetCurrent(), 1);
    QCOMPARE(f.Origin(), QStringLiteral("FIRST"));
    // Shown again, it shows the newest.
    f.popup.Popup();
    QCOMPARE(f.Origin(), QStringLiteral("SECOND"));
}

void PopupTest::CopyCopiesExactlyWhatIsShown() {
    Fixture f;
    f.Add("ALICE", "Zeile eins\r\nÄrger mit Umlauten");
    f.Add("CAROL", "newer");
    f.popup.Popup();
    Command(&f.popup, CPopupMsgForm::kPrevId);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    Command(&f.popup, CPopupMsgForm::kCopyId);
    const QString copied = QGuiApplication::clipboard()->text();
    QCOMPARE(copied, f.popup.ShownText());
    const QStringList lines = copied.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[0].contains(QLatin1Char(':')));  // date and time
    QCOMPARE(lines[1], QStringLiteral("ALICE wrote to BOB:"));
    QCOMPARE(lines[2], QString());
    QCOMPARE(lines[3], QStringLiteral("Zeile eins"));
    QCOMPARE(lines[4], QStringLiteral("Ärger mit Umlauten"));
    // Copying does not move through the archive.
    QCOMPARE(f.archive.GetCurrent(), 0);
}

void PopupTest::EveryCommandAcknowledgesFirst() {
    Fixture f;
    f.Add("FIRST", "one");
    f.Add("SECOND", "two");
    f.popup.Popup();

    // What the callback sees is the state before the command took effect.
    struct Seen {
        int current;
        QString clipboard;
        bool visible;
    };
    std::vector<Seen> seen;
    f.popup.SetAcknowledgeCallback([&] {
        seen.push_back(
            {f.archive.GetCurrent(), QGuiApplication::clipboard()->text(), f.popup.isVisible()});
    });
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    Command(&f.popup, CPopupMsgForm::kPrevId);
    QCOMPARE(seen.size(), 1u);
    QCOMPARE(seen.back().current, 1);
    QCOMPARE(f.archive.GetCurrent(), 0);

    Command(&f.popup, CPopupMsgForm::kNextId);
    QCOMPARE(seen.size(), 2u);
    QCOMPARE(seen.back().current, 0);

    Command(&f.popup, CPopupMsgForm::kCopyId);
    QCOMPARE(seen.size(), 3u);
    QCOMPARE(seen.back().clipboard, QStringLiteral("before"));

    Command(&f.popup, CPopupMsgForm::kCloseId);
    QCOMPARE(seen.size(), 4u);
    QVERIFY(seen.back().visible);
    QVERIFY(!f.popup.isVisible());

    // Ids that are not commands of the popup (the caption strip, the text) acknowledge nothing.
    Command(&f.popup, CPopupMsgForm::kCaptionId);
    Command(&f.popup, CPopupMsgForm::kTextId);
    QCOMPARE(seen.size(), 4u);
}

void PopupTest::CloseButtonHidesThroughTheCaptionStrip() {
    Fixture f;
    f.Add("ALICE", "hello");
    int acknowledged = 0;
    f.popup.SetAcknowledgeCallback([&] { ++acknowledged; });
    f.popup.Popup();
    QVERIFY(f.popup.isVisible());
    SendMouse(&f.popup.close_button(), QEvent::MouseButtonPress, {10, 10});
    SendMouse(&f.popup.close_button(), QEvent::MouseButtonRelease, {10, 10});
    QCOMPARE(acknowledged, 1);
    QVERIFY(!f.popup.isVisible());

    // The links post their commands.
    f.popup.Popup();
    SendMouse(&f.popup.prev_link(), QEvent::MouseButtonPress, {5, 5});
    SendMouse(&f.popup.prev_link(), QEvent::MouseButtonRelease, {5, 5});
    QCOMPARE(acknowledged, 1);
    QTRY_COMPARE(acknowledged, 2);
}

void PopupTest::ReadsNeverSeeHalfWrittenRecords() {
    // A port thread appends while the popup pages and refreshes: every text shown belongs to one
    // whole record (origin, recipient and message carry the same number).
    Fixture f;
    f.Add("O0", "M0");
    f.popup.Popup();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= 3000; ++i) {
            const std::string n = std::to_string(i);
            ArchiveMessage(f.archive, f.lock, Message("O" + n, "R" + n, "M" + n));
        }
        done = true;
    });
    int checked = 0;
    while (!done || checked < 50) {
        Command(&f.popup, (checked % 3 == 0) ? CPopupMsgForm::kPrevId : CPopupMsgForm::kNextId);
        const QStringList lines = f.popup.ShownText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        const QString origin = lines[1].section(QLatin1Char(' '), 0, 0);
        const QString n = origin.mid(1);
        if (n != QStringLiteral("0")) {
            QCOMPARE(lines[1], QStringLiteral("O%1 wrote to R%1:").arg(n));
        }
        QCOMPARE(lines[3], QStringLiteral("M") + n);
        ++checked;
    }
    writer.join();
    QCOMPARE(f.archive.GetCount(), 3001);
}

void PopupTest::HostileTextStaysInItsBox() {
    // Whatever a sender puts in a message is shown as text inside the fixed layout.
    Fixture f;
    const std::string cases[] = {
        std::string(5000, 'x'),                      // one unbreakable word
        std::string("bad \xC3\x28 \xFF\xFE utf-8"),  // invalid sequences
        std::string("nul\0inside\0", 12),            // zero bytes
        "\xE2\x80\xAE reversed \xE2\x80\xAC and <script>x</script> &amp; %s %n",
        std::string(3000, '\n'),  // line breaks only
    };
    for (const std::string& text : cases) {
        ArchiveMessage(f.archive, f.lock, Message("%s%n", "<b>BOB</b>", text));
        f.popup.Popup();
        QCOMPARE(f.popup.width(), 300);
        QVERIFY(f.popup.height() >= 155 && f.popup.height() <= 355);
        QCOMPARE(f.popup.text().width(), 288);
        f.ExpectAtCorner();
        QVERIFY(f.popup.ShownText().contains(QStringLiteral("%s%n wrote to <b>BOB</b>:")));
    }
}

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, kScreenHeight);
    QApplication app(argc, argv);
    PopupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "popup_test.moc"
