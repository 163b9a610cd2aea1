// The custom controls: the close button's click square, the caption strip's drag, the links'
// colours and clicks.
#include <QApplication>
#include <QTest>
#include <vector>

#include "tests/ui/mouse.h"
#include "tests/ui/offscreen.h"
#include "ui/controls/command_event.h"
#include "ui/controls/drag_bar.h"
#include "ui/controls/static_link.h"
#include "ui/controls/tl_button.h"

namespace {

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

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT
  private slots:
    void ButtonClickSquare();
    void DragBarMovesWindowWithoutResizing();
    void LinkColoursAndClicks();
};

void ControlsTest::ButtonClickSquare() {
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

void ControlsTest::DragBarMovesWindowWithoutResizing() {
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
    // A 297-pixel strip is covered by 12 tiles, the last one cut.
    QCOMPARE(tlDragBar::TileCount(297), 12);
    QCOMPARE(tlDragBar::TileCount(275), 11);
}

void ControlsTest::LinkColoursAndClicks() {
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

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    ControlsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "controls_test.moc"
