// The popup message window: layout for short and long texts, the composed text, paging and its
// ends, Copy, the acknowledge callback before every command, hostile text, and reading an archive
// that a port thread appends to meanwhile.
#include <QApplication>
#include <QClipboard>
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

void Command(QWidget* popup, int id) {
    TlCommandEvent command(id, nullptr);
    QCoreApplication::sendEvent(popup, &command);
}

// An archive with its lock and a popup on it, as the main window makes them.
struct Fixture {
    TlArrayDataSet archive;
    std::mutex lock;
    CPopupMsgForm popup{nullptr};

    Fixture() { popup.SetDataSet(&archive, &lock); }
    void Add(std::string origin, std::string text, std::string recipient = "BOB",
             std::int64_t received = 0) {
        ArchiveMessage(archive, lock,
                       {1, std::move(origin), std::move(recipient), std::move(text), received});
    }
    QString Line(int n) const { return popup.ShownText().section(QLatin1Char('\n'), n, n); }
    QString Origin() const { return Line(1).section(QLatin1Char(' '), 0, 0); }
    bool AtCorner() const {
        return popup.geometry() == QRect(709, 768 - 40 - popup.height(), 300, popup.height());
    }
};

}  // namespace

class PopupTest : public QObject {
    Q_OBJECT
  private slots:
    void Layout();
    void ComposedText();
    void PagingAndItsEnds();
    void CommandsAcknowledgeFirst();
    void HostileTextStaysInItsBox();
    void ReadsNeverSeeHalfWrittenRecords();
};

void PopupTest::Layout() {
    Fixture f;
    f.popup.Popup();
    QCOMPARE(f.popup.ShownText(), QStringLiteral("No messages"));
    QCOMPARE(f.popup.text().geometry(), QRect(6, 30, 288, 100));
    QCOMPARE(f.popup.size(), QSize(300, 155));
    QVERIFY(f.AtCorner());
    QCOMPARE(f.popup.copy_link().geometry(), QRect(215, 135, 80, 15));  // 5 below the text
    QCOMPARE(f.popup.close_button().geometry(), QRect(274, 3, 20, 20));
    QCOMPARE(f.popup.close_button().parentWidget(), &f.popup.caption());

    // A long message gets 300 pixels of text, the rest scrolls; a middling one what it needs.
    std::string text;
    for (int i = 0; i < 80; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
    }
    f.Add("ALICE", text);
    f.popup.UpdateContent(0);
    QCOMPARE(f.popup.text().geometry(), QRect(6, 30, 288, 300));
    QCOMPARE(f.popup.size(), QSize(300, 355));
    QCOMPARE(f.popup.prev_link().geometry(), QRect(5, 335, 95, 15));
    QVERIFY(f.AtCorner());
    f.Add("ALICE", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10");
    f.popup.UpdateContent(0);
    QVERIFY(f.popup.text().height() > 100 && f.popup.text().height() < 300);
    QCOMPARE(f.popup.height(), 30 + f.popup.text().height() + 25);
}

void PopupTest::ComposedText() {
    Fixture f;
    const std::int64_t received = file_time::FromCalendar({2024, 3, 5, 19, 7, 9, 0, 2});
    f.Add("ALICE", "Grüße aus Köln\r\n<b>not bold</b>", "BOB", received);
    f.popup.Popup();
    const QLocale locale = QLocale::system();
    QCOMPARE(f.popup.ShownText(), CPopupMsgForm::FormatDate(received, locale) + " " +
                                      CPopupMsgForm::FormatTime(received, locale) +
                                      "\nALICE wrote to BOB:\n\nGrüße aus Köln\n<b>not bold</b>");
    // Time in 24 hours whatever the locale's habit; the locale's short date.
    for (const QLocale& l : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()}) {
        QCOMPARE(CPopupMsgForm::FormatTime(received, l), QStringLiteral("19:07:09"));
    }
    QCOMPARE(CPopupMsgForm::FormatDate(received, QLocale(QLocale::German, QLocale::Germany)),
             QStringLiteral("05.03.24"));

    // A translated "wrote to" line is a pattern for two names only; nothing else in it, and
    // nothing in the names, is read as a format.
    using message_text::FormatWroteTo;
    QCOMPARE(FormatWroteTo("%s %d %n %s %s", "A", "B"), std::string("A %d %n B %s"));
    QCOMPARE(FormatWroteTo("100%% %s", "A", "B"), std::string("100% A"));
    QCOMPARE(FormatWroteTo("%s%", "%s%n", "B"), std::string("%s%n%"));
    QCOMPARE(FormatWroteTo("no names", "A", "B"), std::string("no names"));
}

void PopupTest::PagingAndItsEnds() {
    Fixture f;
    f.Add("FIRST", "one");
    f.Add("SECOND", "two");
    f.Add("THIRD", "three");
    f.popup.Popup();
    // Each step refreshes and puts a dragged popup back at its corner; the ends keep the record.
    const std::pair<int, const char*> steps[] = {{CPopupMsgForm::kNextId, "THIRD"},
                                                 {CPopupMsgForm::kPrevId, "SECOND"},
                                                 {CPopupMsgForm::kPrevId, "FIRST"},
                                                 {CPopupMsgForm::kPrevId, "FIRST"},
                                                 {CPopupMsgForm::kNextId, "SECOND"}};
    for (const auto& [command, origin] : steps) {
        f.popup.move(10, 10);
        Command(&f.popup, command);
        QCOMPARE(f.Origin(), QString::fromLatin1(origin));
        QVERIFY(f.AtCorner());
    }
    // Hiding leaves the archive at its newest record without refreshing the text.
    Command(&f.popup, CPopupMsgForm::kCloseId);
    QVERIFY(!f.popup.isVisible());
    QCOMPARE(f.archive.GetCurrent(), 2);
    QCOMPARE(f.Origin(), QStringLiteral("SECOND"));
    // An index outside the records shows "No messages".
    f.archive.SetCurrent(17);
    f.popup.UpdateContent(0);
    QCOMPARE(f.popup.ShownText(), QStringLiteral("No messages"));
}

void PopupTest::CommandsAcknowledgeFirst() {
    Fixture f;
    f.Add("ALICE", "Zeile eins\r\nÄrger mit Umlauten");
    f.Add("CAROL", "newer");
    f.popup.Popup();
    // What the callback sees is the state before the command acts.
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
    QCOMPARE(seen.back().current, 1);
    Command(&f.popup, CPopupMsgForm::kCopyId);
    QCOMPARE(seen.back().clipboard, QStringLiteral("before"));
    // Copy takes exactly what is shown: date and time, the "wrote to" line, the message.
    const QString copied = QGuiApplication::clipboard()->text();
    QCOMPARE(copied, f.popup.ShownText());
    QCOMPARE(copied.section('\n', 1),
             QStringLiteral("ALICE wrote to BOB:\n\nZeile eins\nÄrger mit Umlauten"));
    QVERIFY(copied.section('\n', 0, 0).contains(QLatin1Char(':')));
    Command(&f.popup, CPopupMsgForm::kNextId);
    QCOMPARE(seen.back().current, 0);
    // The close button's click reaches the popup through the caption strip.
    SendMouse(&f.popup.close_button(), QEvent::MouseButtonPress, {10, 10});
    SendMouse(&f.popup.close_button(), QEvent::MouseButtonRelease, {10, 10});
    QVERIFY(seen.back().visible);
    QVERIFY(!f.popup.isVisible());
    QCOMPARE(seen.size(), 4u);
    // Ids that are not commands of the popup acknowledge nothing.
    Command(&f.popup, CPopupMsgForm::kCaptionId);
    QCOMPARE(seen.size(), 4u);
}

void PopupTest::HostileTextStaysInItsBox() {
    Fixture f;
    const std::string cases[] = {
        std::string(5000, 'x'),                                  // one unbreakable word
        std::string("bad \xC3\x28 \xFF\xFE utf-8 nul\0in", 22),  // invalid sequences, zero bytes
        "\xE2\x80\xAE reversed <script>x</script> {\\rtf1 x} &amp;",
        std::string(3000, '\n'),
    };
    for (const std::string& text : cases) {
        f.Add("%s%n", text, "<b>BOB</b>");
        f.popup.Popup();
        QCOMPARE(f.popup.text().width(), 288);
        QVERIFY(f.popup.height() >= 155 && f.popup.height() <= 355);
        QVERIFY(f.AtCorner());
        QCOMPARE(f.Line(1), QStringLiteral("%s%n wrote to <b>BOB</b>:"));
        if (text.find("<script>") != std::string::npos) {
            // Markup is shown as written, never interpreted.
            QVERIFY(f.popup.ShownText().endsWith("<script>x</script> {\\rtf1 x} &amp;"));
        }
    }
}

void PopupTest::ReadsNeverSeeHalfWrittenRecords() {
    // A port thread appends while the popup pages and refreshes: every text shown is one whole
    // record (origin, recipient and message carry the same number).
    Fixture f;
    f.Add("O0", "M0", "R0");
    f.popup.Popup();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= 3000; ++i) {
            const std::string n = std::to_string(i);
            f.Add("O" + n, "M" + n, "R" + n);
        }
        done = true;
    });
    for (int checked = 0; !done || checked < 50; ++checked) {
        Command(&f.popup, checked % 3 == 0 ? CPopupMsgForm::kPrevId : CPopupMsgForm::kNextId);
        const QString n = f.Origin().mid(1);
        QCOMPARE(f.Line(1), QStringLiteral("O%1 wrote to R%1:").arg(n));
        QCOMPARE(f.Line(3), QStringLiteral("M") + n);
    }
    writer.join();
}

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    PopupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "popup_test.moc"
