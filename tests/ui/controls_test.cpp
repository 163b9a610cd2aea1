// The custom controls: the close button's click square and double click, the caption strip's
// drag and command forwarding, the links' colours and clicks, the text box's plain text and size.
#include <QApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "shell/desktop/window_utils.h"
#include "tests/ui/mouse.h"
#include "tests/ui/offscreen.h"
#include "ui/controls/command_event.h"
#include "ui/controls/drag_bar.h"
#include "ui/controls/rich_edit.h"
#include "ui/controls/static_link.h"
#include "ui/controls/tl_button.h"
#include "ui/resources.h"

namespace {

// A parent that records the commands it receives.
class CommandSink : public QWidget {
  public:
    using QWidget::QWidget;
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

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT
  private slots:
    void ButtonClickSquare();
    void ButtonDoubleClickSendsOneCommand();
    void ButtonHotPicture();
    void DragBarMovesWindowWithoutResizing();
    void DragBarForwardsChildCommands();
    void DragBarTiles();
    void LinkColours();
    void LinkClicks();
    void RichEditShowsPlainTextAndReportsItsSize();
    void TransparentBitmap();
};

void ControlsTest::ButtonClickSquare() {
    CommandSink parent;
    TlButton button(5, &parent);
    button.setGeometry(10, 10, 20, 20);

    struct Case {
        QPoint release;
        bool clicks;
    };
    // The square is 0 < x < 25, 0 < y < 25 whatever the button's size: a release on the
    // leftmost column or top row does nothing, one 3 pixels beyond a 20-pixel button still
    // clicks, one 6 pixels beyond does not.
    const Case cases[] = {{{10, 10}, true},  {{1, 1}, true},   {{0, 10}, false}, {{10, 0}, false},
                          {{22, 10}, true},  {{10, 22}, true}, {{24, 24}, true}, {{25, 10}, false},
                          {{10, 26}, false}, {{-3, 10}, false}};
    for (const Case& c : cases) {
        parent.commands.clear();
        SendMouse(&button, QEvent::MouseButtonPress, {10, 10});
        SendMouse(&button, QEvent::MouseButtonRelease, c.release);
        QCOMPARE(parent.commands.size(), c.clicks ? 1u : 0u);
        if (c.clicks) {
            QCOMPARE(parent.commands.front(), 5);
        }
    }

    // A release without a press on the button is no click.
    parent.commands.clear();
    SendMouse(&button, QEvent::MouseButtonRelease, {10, 10});
    QVERIFY(parent.commands.empty());
    // Nor is a release of another button.
    SendMouse(&button, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton);
    SendMouse(&button, QEvent::MouseButtonRelease, {10, 10}, Qt::RightButton);
    QVERIFY(parent.commands.empty());
}

void ControlsTest::ButtonDoubleClickSendsOneCommand() {
    CommandSink parent;
    TlButton button(5, &parent);
    button.setGeometry(0, 0, 20, 20);
    SendMouse(&button, QEvent::MouseButtonPress, {8, 8});
    SendMouse(&button, QEvent::MouseButtonRelease, {8, 8});
    SendMouse(&button, QEvent::MouseButtonDblClick, {8, 8});
    SendMouse(&button, QEvent::MouseButtonRelease, {8, 8});
    QCOMPARE(parent.commands.size(), 1u);
    // The next single click works again.
    SendMouse(&button, QEvent::MouseButtonPress, {8, 8});
    SendMouse(&button, QEvent::MouseButtonRelease, {8, 8});
    QCOMPARE(parent.commands.size(), 2u);
}

void ControlsTest::ButtonHotPicture() {
    QWidget parent;
    parent.resize(60, 60);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    TlButton button(5, &parent);
    button.setGeometry(0, 0, 20, 20);
    button.SetBitmaps(resources::LoadBitmap(resources::kBitmapCloseNormal),
                      resources::LoadBitmap(resources::kBitmapCloseHot));
    parent.show();

    // At rest the key colour is transparent: the parent's white shows at the corner.
    QImage rest = parent.grab(QRect(0, 0, 20, 20)).toImage();
    QCOMPARE(rest.pixelColor(0, 0).rgb(), QColor(Qt::white).rgb());
    QVERIFY(!button.IsHot());

    SendMouse(&button, QEvent::MouseMove, {5, 5});
    QVERIFY(button.IsHot());
    // The hot picture is a framed square: its corner pixel is the grey frame.
    QImage hot = parent.grab(QRect(0, 0, 20, 20)).toImage();
    QCOMPARE(hot.pixelColor(0, 0).rgb(), qRgb(128, 128, 128));

    SendLeave(&button);
    QVERIFY(!button.IsHot());
}

void ControlsTest::DragBarMovesWindowWithoutResizing() {
    QWidget window(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    window.setGeometry(200, 300, 300, 150);
    tlDragBar bar(0, &window);
    bar.setGeometry(1, 1, 297, 24);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QPoint start_global(250, 310);
    SendMouseAt(&bar, QEvent::MouseButtonPress, {49, 9}, start_global);
    QVERIFY(bar.IsDragging());
    // The window follows the pointer exactly, step by step.
    const QPoint moves[] = {{5, 0}, {-40, 17}, {-120, -200}};
    for (const QPoint& delta : moves) {
        SendMouseAt(&bar, QEvent::MouseMove, {49, 9}, start_global + delta);
        QCOMPARE(window.pos(), QPoint(200, 300) + delta);
        QCOMPARE(window.size(), QSize(300, 150));
    }
    SendMouseAt(&bar, QEvent::MouseButtonRelease, {49, 9}, start_global + QPoint(-120, -200));
    QVERIFY(!bar.IsDragging());
    // Moving without the button held no longer drags.
    SendMouseAt(&bar, QEvent::MouseMove, {49, 9}, QPoint(600, 600));
    QCOMPARE(window.pos(), QPoint(80, 100));
}

void ControlsTest::DragBarForwardsChildCommands() {
    CommandSink window;
    tlDragBar bar(0, &window);
    bar.setGeometry(1, 1, 297, 24);
    TlButton close(5, &bar);
    close.setGeometry(274, 3, 20, 20);
    SendMouse(&close, QEvent::MouseButtonPress, {10, 10});
    SendMouse(&close, QEvent::MouseButtonRelease, {10, 10});
    QCOMPARE(window.commands, std::vector<int>{5});
    // A strip without a parent swallows nothing it cannot pass on.
    tlDragBar orphan(0, nullptr);
    TlCommandEvent command(5, nullptr);
    QCoreApplication::sendEvent(&orphan, &command);
}

void ControlsTest::DragBarTiles() {
    // A 297-pixel strip is covered by 12 tiles, the last cut to 22 pixels.
    QCOMPARE(tlDragBar::TileCount(297), 12);
    QCOMPARE(tlDragBar::TileCount(275), 11);
    QCOMPARE(tlDragBar::TileCount(1), 1);
    QCOMPARE(tlDragBar::TileCount(0), 0);

    QWidget window;
    window.resize(300, 30);
    tlDragBar bar(0, &window);
    bar.setGeometry(0, 0, 297, 24);
    bar.SetText(QStringLiteral("Messages received"));
    window.show();
    const QImage image = bar.grab().toImage();
    // The gradient: the top rows in the strong colour at both ends of the strip, the bottom row
    // paler.
    QCOMPARE(image.pixelColor(1, 1).rgb(), qRgb(255, 197, 25));
    QCOMPARE(image.pixelColor(296, 1).rgb(), qRgb(255, 197, 25));
    QVERIFY(image.pixelColor(296, 23).blue() > 150);
}

void ControlsTest::LinkColours() {
    QWidget parent;
    TlStaticLink link(2, QStringLiteral("Prev message"), &parent);
    link.setGeometry(5, 130, 95, 15);
    QCOMPARE(link.TextColour().rgb(), qRgb(0, 0, 128));
    QCOMPARE(link.palette().color(QPalette::WindowText).rgb(), qRgb(0, 0, 128));

    SendMouse(&link, QEvent::MouseMove, {10, 5});
    QVERIFY(link.IsHot());
    QCOMPARE(link.TextColour().rgb(), qRgb(255, 128, 0));
    QCOMPARE(link.palette().color(QPalette::WindowText).rgb(), qRgb(255, 128, 0));

    SendLeave(&link);
    QVERIFY(!link.IsHot());
    QCOMPARE(link.palette().color(QPalette::WindowText).rgb(), qRgb(0, 0, 128));
}

void ControlsTest::LinkClicks() {
    CommandSink parent;
    TlStaticLink link(0x10003, QStringLiteral("Next message"), &parent);
    link.setGeometry(110, 130, 95, 15);

    // The command is posted: nothing arrives before the loop runs.
    SendMouse(&link, QEvent::MouseButtonPress, {10, 5});
    SendMouse(&link, QEvent::MouseButtonRelease, {10, 5});
    QVERIFY(parent.commands.empty());
    QCoreApplication::processEvents();
    QCOMPARE(parent.commands, std::vector<int>{3});  // the id cut to 16 bits

    // A double click gives two commands, one per release.
    parent.commands.clear();
    SendMouse(&link, QEvent::MouseButtonPress, {10, 5});
    SendMouse(&link, QEvent::MouseButtonRelease, {10, 5});
    SendMouse(&link, QEvent::MouseButtonDblClick, {10, 5});
    SendMouse(&link, QEvent::MouseButtonRelease, {10, 5});
    QCoreApplication::processEvents();
    QCOMPARE(parent.commands.size(), 2u);

    // A release after the pointer left the link clicks nothing.
    parent.commands.clear();
    SendMouse(&link, QEvent::MouseButtonPress, {10, 5});
    SendMouse(&link, QEvent::MouseButtonRelease, {150, 5});
    QCoreApplication::processEvents();
    QVERIFY(parent.commands.empty());

    // A command posted by a link that is gone by the time it arrives still reaches the parent,
    // without a dangling control.
    auto* doomed = new TlStaticLink(4, QStringLiteral("Copy"), &parent);
    doomed->setGeometry(215, 130, 80, 15);
    SendMouse(doomed, QEvent::MouseButtonRelease, {5, 5});
    delete doomed;
    QCoreApplication::processEvents();
    QCOMPARE(parent.commands, std::vector<int>{4});
}

void ControlsTest::RichEditShowsPlainTextAndReportsItsSize() {
    QWidget parent;
    TlRichEdit edit(6, &parent);
    edit.setGeometry(6, 30, 288, 70);

    // What a sender writes is never markup.
    const QString markup = QStringLiteral("<b>bold</b> <img src=\"/etc/passwd\"> {\\rtf1 x}");
    edit.setPlainText(markup);
    QCOMPARE(edit.toPlainText(), markup);
    QVERIFY(!edit.document()->toHtml().contains(QStringLiteral("<img")));

    edit.setPlainText(QStringLiteral("one line"));
    edit.RequestResize();
    QCOMPARE(edit.RequestedWidth(), 288);
    const int one_line = edit.RequestedHeight();
    QVERIFY(one_line > 0);

    edit.setPlainText(QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9\n10"));
    edit.RequestResize();
    QVERIFY(edit.RequestedHeight() >= 9 * one_line);

    // A long word-wrapped line needs more than one line of height at the same width.
    edit.setPlainText(
        QString(400, QLatin1Char('w')).replace(QStringLiteral("wwww"), QStringLiteral("www ")));
    edit.RequestResize();
    QCOMPARE(edit.RequestedWidth(), 288);
    QVERIFY(edit.RequestedHeight() > 2 * one_line);

    QVERIFY(edit.isReadOnly());
    QCOMPARE(edit.cursorWidth(), 0);
}

void ControlsTest::TransparentBitmap() {
    QImage source(4, 1, QImage::Format_RGB32);
    source.setPixel(0, 0, qRgb(255, 0, 255));
    source.setPixel(1, 0, qRgb(10, 20, 30));
    source.setPixel(2, 0, qRgb(255, 0, 255));
    source.setPixel(3, 0, qRgb(254, 0, 255));
    const QPixmap picture = QPixmap::fromImage(source);

    QImage target(4, 1, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    {
        QPainter painter(&target);
        DrawTransparentBitmap(painter, picture, 0, 0, QColor(255, 0, 255));
    }
    QCOMPARE(target.pixel(0, 0), qRgb(1, 2, 3));
    QCOMPARE(target.pixel(1, 0), qRgb(10, 20, 30));
    QCOMPARE(target.pixel(2, 0), qRgb(1, 2, 3));
    QCOMPARE(target.pixel(3, 0), qRgb(254, 0, 255));
    // The picture itself is unchanged.
    QCOMPARE(picture.toImage().pixel(0, 0), qRgb(255, 0, 255));

    // Without the key colour the whole picture is copied.
    target.fill(qRgb(1, 2, 3));
    {
        QPainter painter(&target);
        DrawTransparentBitmap(painter, picture, 0, 0, QColor(0, 255, 0));
    }
    QCOMPARE(target.pixel(0, 0), qRgb(255, 0, 255));
}

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    ControlsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "controls_test.moc"
