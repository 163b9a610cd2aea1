// The popup and its parts: the rounded window's place, shape, closing and auto-close; the custom
// controls; the message window's layout, text, paging, commands and hostile text; and every
// shipped text whole in its control (popup, options window, about box) in every shipped language,
// at the screen scale and desktop font size a run is given, with no caret in the message text;
// the reply to a personal message, sent off the user-interface thread and archived as sent.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimerEvent>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "archive/archive.h"
#include "archive/array_data_set.h"
#include "archive/file_time.h"
#include "resources/dialogs/dialog_ids.h"
#include "shell/localization/localization.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/mouse.h"
#include "tests/ui/offscreen.h"
#include "ui/about/about_dlg.h"
#include "ui/controls/command_event.h"
#include "ui/dialog/report_list.h"
#include "ui/message_text.h"
#include "ui/options/options_form.h"
#include "ui/popup_msg_form.h"
#include "ui/reply/replies.h"

using namespace std::chrono_literals;

namespace {

void Send(QWidget* widget, QEvent::Type type) {
    QEvent event(type);
    QCoreApplication::sendEvent(widget, &event);
}

// Shows the cloud and leaves it inactive, as on a desktop. (The offscreen platform activates every
// window it shows; the deactivation that follows restarts the cloud's countdown.)
void PopupInactive(TlCloudWnd* cloud) {
    cloud->Popup();
    QCoreApplication::processEvents();
    Send(cloud, QEvent::WindowDeactivate);
}

// A parent that records the commands it receives.
class CommandSink : public QWidget {
  public:
    std::vector<int> commands;

  protected:
    bool event(QEvent* event) override {
        if (event->type() == TlCommandEvent::kType) {
            commands.push_back(static_cast<TlCommandEvent*>(event)->id());
            return true;
        }
        return QWidget::event(event);
    }
};

void Click(QWidget* widget, QPoint press, QPoint release) {
    SendMouse(widget, QEvent::MouseButtonPress, press);
    SendMouse(widget, QEvent::MouseButtonRelease, release);
}

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
             std::int64_t received = 0, std::int32_t type = 1) {
        ArchiveMessage(archive, lock,
                       {type, std::move(origin), std::move(recipient), std::move(text), received});
    }
    QString Line(int n) const { return popup.ShownText().section(QLatin1Char('\n'), n, n); }
    QString Origin() const { return Line(1).section(QLatin1Char(' '), 0, 0); }
    bool AtCorner() const {
        return popup.geometry() == QRect(709, 768 - 40 - popup.height(), 300, popup.height());
    }
};

const std::filesystem::path kProgramFolder =
    std::filesystem::path(TOLVANE_LANGUAGE_DIR).parent_path();

int Advance(const QFont& font, const QString& text) {
    return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

// Every text below window that its control cuts, with the room it has and the room it needs.
QString CutTexts(QWidget* window) {
    QStringList cut;
    auto need = [&](const QString& text, QSize room, QSize wanted) {
        if (!text.isEmpty() && (wanted.width() > room.width() || wanted.height() > room.height())) {
            cut << QStringLiteral("\"%1\" needs %2x%3 in %4x%5")
                       .arg(text)
                       .arg(wanted.width())
                       .arg(wanted.height())
                       .arg(room.width())
                       .arg(room.height());
        }
    };
    // Item views leave a margin on each side of an item's text.
    auto item = [&](QAbstractItemView* view, const QString& text, QRect rect) {
        const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
        need(text, (rect & view->viewport()->rect()).size(),
             {Advance(view->font(), text) + 2 * margin, 0});
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window)) {
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const int wrap = label->wordWrap() ? Qt::TextWordWrap : 0;
            const QRectF text = QFontMetricsF(label->font())
                                    .boundingRect(label->contentsRect(),
                                                  int(label->alignment()) | wrap, label->text());
            need(label->text(), label->contentsRect().size(),
                 {int(std::ceil(text.width())), int(std::ceil(text.height()))});
        } else if (auto* push = qobject_cast<QPushButton*>(w)) {
            QStyleOptionButton option;
            option.initFrom(push);
            need(push->text(),
                 push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push).size(),
                 {Advance(push->font(), push->text()), 0});
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            need(button->text(), button->size(),
                 {button->sizeHint().width(), button->fontMetrics().height()});
        } else if (auto* bar = qobject_cast<tlDragBar*>(w)) {
            need(bar->text(), {bar->width() - 2 * tlDragBar::kTextInset, tlDragBar::kTextHeight},
                 {Advance(bar->font(), bar->text()), bar->fontMetrics().height()});
        } else if (auto* list = qobject_cast<QListWidget*>(w)) {
            for (int row = 0; row < list->count(); ++row) {
                item(list, list->item(row)->text(), list->visualItemRect(list->item(row)));
            }
        } else if (auto* report = qobject_cast<TlReportList*>(w)) {
            for (int column = 0; column < report->columnCount(); ++column) {
                need(report->headerItem()->text(column),
                     {report->header()->sectionSize(column), report->header()->height()},
                     {report->header()->sectionSizeHint(column), 0});
            }
            for (int row = 0; row < report->topLevelItemCount(); ++row) {
                QTreeWidgetItem* row_item = report->topLevelItem(row);
                item(report, row_item->text(0), report->visualItemRect(row_item));
            }
        } else if (auto* tree = qobject_cast<QTreeView*>(w)) {
            for (QModelIndex i = tree->model()->index(0, 0); i.isValid(); i = tree->indexBelow(i)) {
                item(tree, i.data().toString(), tree->visualRect(i));
            }
        }
    }
    return cut.join(QStringLiteral("; "));
}

}  // namespace

class PopupTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        TlCloudWnd::SetSecondLength(20ms);
        LoadLocalization("");
    }
    void PlacementAndShape();
    void AutoCloseRules();
    void ButtonClickSquare();
    void DragBarMovesWindowWithoutResizing();
    void LinkColoursAndClicks();
    void Layout();
    void ComposedText();
    void PagingAndItsEnds();
    void ReplyToPersonalMessages();
    void CommandsAcknowledgeFirst();
    void HostileTextStaysInItsBox();
    void ReadsNeverSeeHalfWrittenRecords();
    void EveryTextIsWhole_data();
    void EveryTextIsWhole();
    void NoCaretInTheMessageText();
};

void PopupTest::PlacementAndShape() {
    // 15 pixels from the right and 40 from the bottom of a 1024 x 768 screen without panels,
    // rounded corners (the popup on a real screen: desktop_test.sh).
    QWidget owner;
    QPointer<TlCloudWnd> cloud = new TlCloudWnd(&owner);
    QCOMPARE(cloud->geometry(), QRect(709, 578, 300, 150));
    QCOMPARE(cloud->mask(), TlCloudWnd::RoundedRegion(300, 150, 12));
    // Clear of a panel, whatever its size and edge: Plasma's 44 pixels and 64 at the bottom, one
    // at the right with GNOME's bar at the top.
    const QRect screen(0, 0, 1280, 800);
    QCOMPARE(TlCloudWnd::PlaceOnScreen(screen, {0, 0, 1280, 756}, 155), QRect(965, 586, 300, 155));
    QCOMPARE(TlCloudWnd::PlaceOnScreen(screen, {0, 0, 1280, 736}, 155), QRect(965, 566, 300, 155));
    QCOMPARE(TlCloudWnd::PlaceOnScreen(screen, {0, 32, 1232, 768}, 155), QRect(917, 605, 300, 155));
    // Alt+F4 and every other close request hide the window; it stays and shows again.
    cloud->Popup();
    QVERIFY(!cloud->close());
    QVERIFY(cloud && !cloud->isVisible());
    cloud->Popup();
    QVERIFY(cloud->isVisible() && cloud->isWindow());
}

void PopupTest::AutoCloseRules() {
    TlCloudWnd cloud(nullptr);
    // Period 0: no countdown, whatever the activation does.
    PopupInactive(&cloud);
    cloud.SetAutoCloseTime(0);
    Send(&cloud, QEvent::WindowDeactivate);
    QVERIFY(!cloud.IsAutoCloseRunning());

    // A period: the countdown ends by hiding the window.
    cloud.SetAutoCloseTime(3);
    QVERIFY(cloud.IsAutoCloseRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!cloud.isVisible(), 10000);

    // The user works in it for longer than the period: it stays; leaving it starts the whole
    // countdown again. A timer that is not the countdown changes nothing.
    PopupInactive(&cloud);
    cloud.SetAutoCloseTime(5);
    Send(&cloud, QEvent::WindowActivate);
    QVERIFY(!cloud.IsAutoCloseRunning());
    QTimerEvent other(999);
    QCoreApplication::sendEvent(&cloud, &other);
    QTest::qWait(300);
    QVERIFY(cloud.isVisible());
    Send(&cloud, QEvent::WindowDeactivate);
    QVERIFY(cloud.IsAutoCloseRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!cloud.isVisible(), 10000);
}

void PopupTest::ButtonClickSquare() {
    CommandSink parent;
    TlButton button(5, &parent);
    button.setGeometry(10, 10, 20, 20);
    // The square is 0 < x < 25, 0 < y < 25 whatever the button's size: the leftmost column and
    // top row do nothing, 3 pixels beyond the 20-pixel button still click, 6 beyond do not.
    const std::pair<QPoint, bool> releases[] = {{{10, 10}, true}, {{0, 10}, false},
                                                {{10, 0}, false}, {{22, 10}, true},
                                                {{24, 24}, true}, {{26, 10}, false}};
    for (const auto& [at, clicks] : releases) {
        parent.commands.clear();
        Click(&button, {10, 10}, at);
        QCOMPARE(parent.commands, clicks ? std::vector<int>{5} : std::vector<int>{});
    }
    // A release without a press on it is no click; a double click gives one command.
    parent.commands.clear();
    SendMouse(&button, QEvent::MouseButtonRelease, {10, 10});
    Click(&button, {8, 8}, {8, 8});
    SendMouse(&button, QEvent::MouseButtonDblClick, {8, 8});
    SendMouse(&button, QEvent::MouseButtonRelease, {8, 8});
    QCOMPARE(parent.commands, std::vector<int>{5});
    // The pointer over it shows the hot picture until it leaves.
    SendMouse(&button, QEvent::MouseMove, {5, 5});
    QVERIFY(button.IsHot());
    SendLeave(&button);
    QVERIFY(!button.IsHot());
}

void PopupTest::DragBarMovesWindowWithoutResizing() {
    QWidget window(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    window.setGeometry(200, 300, 300, 150);
    tlDragBar bar(0, &window);
    bar.setGeometry(1, 1, 297, 24);
    window.show();
    const QPoint start(250, 310);
    SendMouseAt(&bar, QEvent::MouseButtonPress, {49, 9}, start);
    for (const QPoint delta : {QPoint(5, 0), QPoint(-40, 17), QPoint(-120, -200)}) {
        SendMouseAt(&bar, QEvent::MouseMove, {49, 9}, start + delta);
        QCOMPARE(window.geometry(), QRect(QPoint(200, 300) + delta, QSize(300, 150)));
    }
    SendMouseAt(&bar, QEvent::MouseButtonRelease, {49, 9}, start);
    SendMouseAt(&bar, QEvent::MouseMove, {49, 9}, QPoint(600, 600));
    QCOMPARE(window.pos(), QPoint(80, 100));  // no drag without the button
}

void PopupTest::LinkColoursAndClicks() {
    CommandSink parent;
    TlStaticLink link(0x10003, QStringLiteral("Next message"), &parent);
    link.setGeometry(110, 130, 95, 15);
    QCOMPARE(link.palette().color(QPalette::WindowText).rgb(), qRgb(0, 0, 128));
    SendMouse(&link, QEvent::MouseMove, {10, 5});
    QCOMPARE(link.palette().color(QPalette::WindowText).rgb(), qRgb(255, 128, 0));
    SendLeave(&link);
    QCOMPARE(link.palette().color(QPalette::WindowText).rgb(), qRgb(0, 0, 128));

    // Posted, with the id cut to 16 bits; a double click gives two commands; a release after
    // the pointer left the link gives none.
    Click(&link, {10, 5}, {10, 5});
    QVERIFY(parent.commands.empty());
    QCoreApplication::processEvents();
    QCOMPARE(parent.commands, std::vector<int>{3});
    SendMouse(&link, QEvent::MouseButtonDblClick, {10, 5});
    SendMouse(&link, QEvent::MouseButtonRelease, {10, 5});
    Click(&link, {10, 5}, {150, 5});
    QCoreApplication::processEvents();
    QCOMPARE(parent.commands, (std::vector<int>{3, 3}));
}

void PopupTest::Layout() {
    // The empty popup and the longest one (300 pixels of text, the rest scrolls) at their corner:
    // desktop_test.sh. A middling message gets what it needs; the links stay 5 below the text,
    // side by side in the popup's width.
    Fixture f;
    f.Add("ALICE", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8");
    f.popup.Popup();
    const int height = f.popup.text().height();
    QVERIFY(height > 100 && height < 300);
    QCOMPARE(f.popup.height(), 30 + height + 25);
    QVERIFY(f.AtCorner());
    QRect links;
    QVERIFY(f.popup.reply_link().isVisible());
    for (QWidget* link : {&f.popup.prev_link(), &f.popup.next_link(), &f.popup.copy_link(),
                          &f.popup.reply_link()}) {
        QCOMPARE(link->y(), 30 + height + 5);
        QVERIFY(!links.intersects(link->geometry()));
        links |= link->geometry();
    }
    QVERIFY(QRect(5, 0, 290, 1000).contains(links));
    QCOMPARE(f.popup.close_button().parentWidget(), &f.popup.caption());
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
    // Time in 24 hours whatever the locale's habit.
    QCOMPARE(CPopupMsgForm::FormatTime(received, QLocale(QLocale::English, QLocale::UnitedStates)),
             QStringLiteral("19:07:09"));

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

void PopupTest::ReplyToPersonalMessages() {
    // "Reply" for a personal message only: not for a broadcast, nor for a message sent from here,
    // which the popup marks as sent.
    Fixture f;
    f.Add("ALICE", "personal");
    f.Add("ADMIN", "broadcast", "*", 0, 2);
    f.popup.Popup();
    std::vector<std::string> asked;
    f.popup.SetReplyCallback([&](const std::string& origin) { asked.push_back(origin); });
    QVERIFY(!f.popup.reply_link().isVisible());
    Command(&f.popup, CPopupMsgForm::kPrevId);
    QVERIFY(f.popup.reply_link().isVisible());
    Command(&f.popup, CPopupMsgForm::kReplyId);
    QCOMPARE(asked, std::vector<std::string>{"ALICE"});

    // Sending happens on another thread; the window says so meanwhile and takes no second send.
    std::mutex release;
    release.lock();
    sending::Result outcome{sending::Outcome::NotDelivered, "no computer answers for ALICE"};
    std::vector<sending::Message> sent;
    int archived = 0;
    {
        CReplies replies(&f.archive, &f.lock, "BOB", [&] { ++archived; });
        replies.SetSend([&](const sending::Message& message) {
            std::lock_guard wait(release);
            sent.push_back(message);
            return outcome;
        });
        replies.Open("ALICE");
        CReplyDlg& dialog = *replies.dialog();
        auto* text = dialog.Item<QPlainTextEdit>(dialogs::reply::kText);
        auto* status = dialog.Item<QLabel>(dialogs::reply::kStatus);
        QCOMPARE(dialog.Item<QLabel>(dialogs::reply::kTo)->text(), QStringLiteral("To ALICE:"));
        text->setPlainText(QStringLiteral("Yes,\nat noon"));
        auto* send = dialog.Item<QPushButton>(dialogs::kIdOk);
        send->click();
        send->click();
        QCOMPARE(status->text(), QStringLiteral("Sending…"));
        QVERIFY(!send->isEnabled());
        release.unlock();
        QTRY_COMPARE(status->text(),
                     QStringLiteral("Not delivered: no computer answers for ALICE"));
        QCOMPARE(sent.size(), 1u);
        QCOMPARE(sent[0].from + "|" + sent[0].to + "|" + sent[0].text,
                 std::string("BOB|ALICE|Yes,\nat noon"));
        QCOMPARE(f.archive.GetCount(), 2);
        QCOMPARE(text->toPlainText(), QStringLiteral("Yes,\nat noon"));  // kept for another try

        outcome = {sending::Outcome::Delivered, ""};
        send->click();
        QTRY_COMPARE(status->text(), QStringLiteral("Delivered."));
        QVERIFY(text->toPlainText().isEmpty());
        QCOMPARE(archived, 1);
    }
    // Appended as received messages are, line breaks as they keep them; the popup marks it.
    QCOMPARE(f.archive.GetCount(), 3);
    QCOMPARE(f.archive.GetField(2, archive_field::kType).AsInt32(), 3);
    QCOMPARE(f.archive.GetField(2, archive_field::kMessage).AsText(),
             std::string("Yes,\r\nat noon"));
    f.popup.UpdateContent(0);
    QCOMPARE(f.Line(1), QStringLiteral("Sent by BOB to ALICE:"));
    QVERIFY(!f.popup.reply_link().isVisible());
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
        for (int i = 1; i <= 1000; ++i) {
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

void PopupTest::EveryTextIsWhole_data() {
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << QString();
    QTest::newRow("German") << QStringLiteral("german.lng");
    QTest::newRow("French") << QStringLiteral("french.lng");
}

void PopupTest::EveryTextIsWhole() {
    QFETCH(QString, language);
    LoadLocalization(language.toStdString(), kProgramFolder);

    // Whatever the scale, the popup keeps its size in pixels, drawn in the screen's own.
    CPopupMsgForm popup(nullptr);
    popup.Popup();
    QCOMPARE(popup.geometry(), QRect(709, 573, 300, 155));
    QCOMPARE(popup.grab().size(), QSize(300, 155) * popup.devicePixelRatio());
    QCOMPARE(CutTexts(&popup), QString());

    SettingsMap settings;
    SettingsMap pending;
    auto* options = new COptionsForm({nullptr, &settings, &pending, kProgramFolder});
    QVERIFY(options->Create());
    options->show();
    for (int group = 0; group < 3; ++group) {
        options->tree().SelectItem(options->tree().TopLevelItem(group)->child(0));
        if (auto* list = options->findChild<QListWidget*>()) {
            list->setCurrentRow(0);  // the language's details
        }
        QCOMPARE(CutTexts(options), QString());
        // Made smaller only where it has to be.
        if (language.isEmpty() && qEnvironmentVariableIntValue("TOLVANE_TEST_FONT_POINTS") == 0) {
            QCOMPARE(QFontInfo(options->tree().font()).pixelSize(),
                     QFontInfo(QApplication::font()).pixelSize());
        }
    }
    delete options;

    CAboutDlg about;
    QVERIFY(about.Create(nullptr));
    about.window()->show();
    QCOMPARE(CutTexts(about.window()), QString());

    // The reply window with the longest problem the sending reports, and the popup's four links.
    CReplyDlg reply("ALICE", "BOB", [](const sending::Message&) {});
    QVERIFY(reply.Create(nullptr));
    reply.window()->show();
    reply.ShowResult({sending::Outcome::NotDelivered,
                      "the NetBIOS service is not running. Start it with: sudo systemctl start "
                      "tolvane-netbiosd"});
    QCOMPARE(CutTexts(reply.window()), QString());
    TlArrayDataSet archive;
    std::mutex lock;
    ArchiveMessage(archive, lock, {1, "ALICE", "BOB", "text", 0});
    popup.SetDataSet(&archive);
    popup.UpdateContent(0);
    QVERIFY(popup.reply_link().isVisible());
    QCOMPARE(CutTexts(&popup), QString());
}

void PopupTest::NoCaretInTheMessageText() {
    // A caret would be the one difference between the text with and without the keyboard focus.
    TlArrayDataSet archive;
    CPopupMsgForm popup(nullptr);
    popup.SetDataSet(&archive);
    popup.Popup();
    popup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&popup));
    TlRichEdit& text = popup.text();
    const QImage without = text.grab().toImage();
    QTextCursor cursor = text.textCursor();
    cursor.setPosition(4);
    text.setTextCursor(cursor);
    text.setFocus();
    QVERIFY(text.hasFocus());
    QCOMPARE(text.grab().toImage(), without);
    // A selection still shows.
    cursor.movePosition(QTextCursor::EndOfWord, QTextCursor::KeepAnchor);
    text.setTextCursor(cursor);
    QVERIFY(text.grab().toImage() != without);
}

int main(int argc, char** argv) {
    TempConfigHome home;
    const double scale = qEnvironmentVariable("TOLVANE_TEST_SCALE", QStringLiteral("1")).toDouble();
    UseOffscreenScreen(qRound(1024 * scale), qRound(768 * scale), scale);  // 1024 x 768 pixels
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (const int points = qEnvironmentVariableIntValue("TOLVANE_TEST_FONT_POINTS")) {
        QApplication::setFont(QFont(QApplication::font().family(), points));
    }
    PopupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "popup_test.moc"
