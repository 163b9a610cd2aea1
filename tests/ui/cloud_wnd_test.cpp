// The rounded popup window: placement from the whole primary screen, the rounded shape, closing
// that only hides, and the auto-close countdown with its activation rules (with a shortened
// second).
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimerEvent>
#include <chrono>

#include "tests/ui/offscreen.h"
#include "ui/cloud_wnd.h"

using namespace std::chrono_literals;

namespace {

// A cloud that counts its refreshes and asks for a height of its own.
class CountingCloud : public TlCloudWnd {
  public:
    using TlCloudWnd::TlCloudWnd;
    int height = 150;
    int refreshes = 0;
    QSize GetDesiredSize() const override { return {123, height}; }
    void UpdateContent(int reason) override {
        ++refreshes;
        TlCloudWnd::UpdateContent(reason);
    }
};

void Send(QWidget* widget, QEvent::Type type) {
    QEvent event(type);
    QCoreApplication::sendEvent(widget, &event);
}

// Shows the cloud and leaves it inactive, as on a desktop. (The offscreen platform activates every
// window it shows; taking that back deactivates the cloud, which restarts its countdown.)
void PopupInactive(TlCloudWnd* cloud) {
    cloud->Popup();
    QCoreApplication::processEvents();
    if (QApplication::activeWindow() != nullptr) {
        QApplication::setActiveWindow(nullptr);
    }
}

}  // namespace

class CloudWndTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { TlCloudWnd::SetSecondLength(20ms); }
    void PlacedAtTheCornerOfTheWholeScreen();
    void RoundedShape();
    void PopupShowsAndRefreshes();
    void CloseOnlyHides();
    void NoAutoCloseWithZeroPeriod();
    void AutoCloseHidesAfterThePeriod();
    void ActivationStopsAndDeactivationRestartsTheCountdown();
    void OtherTimersChangeNothing();
    void ReshownAtTheCornerAfterAMove();
};

void CloudWndTest::PlacedAtTheCornerOfTheWholeScreen() {
    // A desired height of 150 on a 1024 x 768 screen: (709, 578), 300 x 150, whatever width the
    // window asks for.
    CountingCloud cloud(nullptr);
    cloud.UpdateLayout();
    QCOMPARE(cloud.geometry(), QRect(709, 578, 300, 150));
    cloud.height = 355;
    cloud.UpdateLayout();
    QCOMPARE(cloud.geometry(), QRect(709, 373, 300, 355));

    QCOMPARE(TlCloudWnd::PlaceOnScreen(QRect(0, 0, 1920, 1080), 155), QRect(1605, 885, 300, 155));
    // A primary screen that does not start at the origin.
    QCOMPARE(TlCloudWnd::PlaceOnScreen(QRect(1920, 0, 1280, 1024), 150),
             QRect(1920 + 965, 834, 300, 150));
}

void CloudWndTest::RoundedShape() {
    const QRegion region = TlCloudWnd::RoundedRegion(300, 150, 12);
    QCOMPARE(region.boundingRect(), QRect(0, 0, 300, 150));
    // Corners cut off, edges kept between them.
    for (const QPoint corner : {QPoint(0, 0), QPoint(299, 0), QPoint(0, 149), QPoint(299, 149),
                                QPoint(1, 1), QPoint(3, 0)}) {
        QVERIFY2(!region.contains(corner),
                 qPrintable(QString("%1,%2").arg(corner.x()).arg(corner.y())));
    }
    for (const QPoint inside : {QPoint(6, 0), QPoint(293, 0), QPoint(0, 6), QPoint(0, 143),
                                QPoint(150, 75), QPoint(2, 2), QPoint(299, 75), QPoint(150, 149)}) {
        QVERIFY2(region.contains(inside),
                 qPrintable(QString("%1,%2").arg(inside.x()).arg(inside.y())));
    }
    // Symmetric.
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool in = region.contains(QPoint(x, y));
            QCOMPARE(region.contains(QPoint(299 - x, y)), in);
            QCOMPARE(region.contains(QPoint(x, 149 - y)), in);
        }
    }
    QVERIFY(TlCloudWnd::RoundedRegion(0, 10, 12).isEmpty());
    // A window lower than its corners still has a shape.
    QVERIFY(!TlCloudWnd::RoundedRegion(300, 4, 12).isEmpty());

    CountingCloud cloud(nullptr);
    cloud.UpdateLayout();
    QCOMPARE(cloud.mask(), region);
}

void CloudWndTest::PopupShowsAndRefreshes() {
    CountingCloud cloud(nullptr);
    QVERIFY(!cloud.isVisible());
    QVERIFY(cloud.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(cloud.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(cloud.testAttribute(Qt::WA_ShowWithoutActivating));
    cloud.refreshes = 0;
    PopupInactive(&cloud);
    QVERIFY(cloud.isVisible());
    QVERIFY(cloud.refreshes >= 1);
    QVERIFY(!cloud.IsAutoCloseRunning());
    // Hiding refreshes too.
    const int before = cloud.refreshes;
    cloud.hide();
    QVERIFY(cloud.refreshes > before);
}

void CloudWndTest::CloseOnlyHides() {
    // Alt+F4 and every other close request hide the window; it stays and shows again.
    QWidget owner;
    QPointer<CountingCloud> cloud = new CountingCloud(&owner);
    PopupInactive(cloud);
    cloud->SetAutoCloseTime(1000);
    Send(cloud, QEvent::WindowActivate);
    QVERIFY(!cloud->close());
    QVERIFY(cloud);
    QVERIFY(!cloud->isVisible());
    PopupInactive(cloud);
    QVERIFY(cloud->isVisible());
    QCOMPARE(cloud->parentWidget(), &owner);
    QVERIFY(cloud->isWindow());
}

void CloudWndTest::NoAutoCloseWithZeroPeriod() {
    CountingCloud cloud(nullptr);
    PopupInactive(&cloud);
    cloud.SetAutoCloseTime(0);
    QVERIFY(!cloud.IsAutoCloseRunning());
    Send(&cloud, QEvent::WindowActivate);
    Send(&cloud, QEvent::WindowDeactivate);
    QVERIFY(!cloud.IsAutoCloseRunning());
    QTest::qWait(100);
    QVERIFY(cloud.isVisible());
}

void CloudWndTest::AutoCloseHidesAfterThePeriod() {
    QWidget owner;
    QPointer<CountingCloud> cloud = new CountingCloud(&owner);
    PopupInactive(cloud);
    cloud->SetAutoCloseTime(3);
    QVERIFY(cloud->IsAutoCloseRunning());
    QTest::qWait(200);
    QTRY_VERIFY_WITH_TIMEOUT(!cloud->isVisible(), 10000);
    QVERIFY(!cloud->IsAutoCloseRunning());
    QVERIFY(cloud);  // hidden, never destroyed

    // Shown again, the countdown starts again from the full period.
    PopupInactive(cloud);
    QVERIFY(cloud->IsAutoCloseRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!cloud->isVisible(), 10000);

    // A period set on a shown window replaces the running one.
    PopupInactive(cloud);
    cloud->SetAutoCloseTime(0);
    QVERIFY(!cloud->IsAutoCloseRunning());
}

void CloudWndTest::ActivationStopsAndDeactivationRestartsTheCountdown() {
    CountingCloud cloud(nullptr);
    PopupInactive(&cloud);
    cloud.SetAutoCloseTime(5);
    QVERIFY(cloud.IsAutoCloseRunning());

    // The user works in the popup for longer than the period: it stays.
    Send(&cloud, QEvent::WindowActivate);
    QVERIFY(!cloud.IsAutoCloseRunning());
    QTest::qWait(300);
    QVERIFY(cloud.isVisible());

    // Leaving it starts the countdown again, which then hides it.
    Send(&cloud, QEvent::WindowDeactivate);
    QVERIFY(cloud.IsAutoCloseRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!cloud.isVisible(), 10000);

    // Hiding another way leaves a running countdown alone; when it ends it only hides again.
    PopupInactive(&cloud);
    QVERIFY(cloud.IsAutoCloseRunning());
    cloud.hide();
    QVERIFY(cloud.IsAutoCloseRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!cloud.IsAutoCloseRunning(), 10000);
    QVERIFY(!cloud.isVisible());
}

void CloudWndTest::OtherTimersChangeNothing() {
    CountingCloud cloud(nullptr);
    PopupInactive(&cloud);
    cloud.SetAutoCloseTime(1000);
    QTimerEvent other(999);
    QCoreApplication::sendEvent(&cloud, &other);
    QVERIFY(cloud.isVisible());
    QVERIFY(cloud.IsAutoCloseRunning());
}

void CloudWndTest::ReshownAtTheCornerAfterAMove() {
    CountingCloud cloud(nullptr);
    PopupInactive(&cloud);
    cloud.move(10, 10);
    QCOMPARE(cloud.pos(), QPoint(10, 10));
    cloud.UpdateContent(0);
    QCOMPARE(cloud.pos(), QPoint(709, 578));
}

int main(int argc, char** argv) {
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    CloudWndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "cloud_wnd_test.moc"
