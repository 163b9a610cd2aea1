// The rounded popup window: placement from the whole primary screen, the rounded shape, closing
// that only hides, and the auto-close rules (with a shortened second).
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimerEvent>
#include <chrono>

#include "tests/ui/offscreen.h"
#include "ui/cloud_wnd.h"

using namespace std::chrono_literals;

namespace {

void Send(QWidget* widget, QEvent::Type type) {
    QEvent event(type);
    QCoreApplication::sendEvent(widget, &event);
}

// Shows the cloud and leaves it inactive, as on a desktop. (The offscreen platform activates every
// window it shows; taking that back deactivates the cloud, which restarts its countdown.)
void PopupInactive(TlCloudWnd* cloud) {
    cloud->Popup();
    QCoreApplication::processEvents();
    QApplication::setActiveWindow(nullptr);
}

}  // namespace

class CloudWndTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { TlCloudWnd::SetSecondLength(20ms); }
    void PlacementAndShape();
    void CloseOnlyHides();
    void AutoCloseRules();
};

void CloudWndTest::PlacementAndShape() {
    // A height of 150 on a 1024 x 768 screen: (709, 578).
    TlCloudWnd cloud(nullptr);
    QCOMPARE(cloud.geometry(), QRect(709, 578, 300, 150));
    QCOMPARE(TlCloudWnd::PlaceOnScreen(QRect(1920, 0, 1280, 1024), 355),
             QRect(2885, 629, 300, 355));

    const QRegion region = TlCloudWnd::RoundedRegion(300, 150, 12);
    QCOMPARE(cloud.mask(), region);
    QCOMPARE(region.boundingRect(), QRect(0, 0, 300, 150));
    for (const QPoint out : {QPoint(0, 0), QPoint(3, 0), QPoint(299, 0), QPoint(1, 148)}) {
        QVERIFY(!region.contains(out));
    }
    for (const QPoint in : {QPoint(6, 0), QPoint(0, 6), QPoint(150, 75), QPoint(299, 143)}) {
        QVERIFY(region.contains(in));
    }
}

void CloudWndTest::CloseOnlyHides() {
    // Alt+F4 and every other close request hide the window; it stays and shows again.
    QWidget owner;
    QPointer<TlCloudWnd> cloud = new TlCloudWnd(&owner);
    cloud->Popup();
    QVERIFY(!cloud->close());
    QVERIFY(cloud && !cloud->isVisible());
    cloud->Popup();
    QVERIFY(cloud->isVisible() && cloud->isWindow());
}

void CloudWndTest::AutoCloseRules() {
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

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    CloudWndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "cloud_wnd_test.moc"
