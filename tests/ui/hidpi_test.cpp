// On a screen with two device pixels per pixel, the pictures come from their double-size
// drawings and the windows keep their sizes in pixels.
#include <QApplication>
#include <QTest>

#include "tests/ui/offscreen.h"
#include "ui/popup_msg_form.h"
#include "ui/resources.h"

class HiDpiTest : public QObject {
    Q_OBJECT
  private slots:
    void PicturesAreDrawnAtTheScreensScale();
    void PopupKeepsItsGeometry();
};

void HiDpiTest::PicturesAreDrawnAtTheScreensScale() {
    for (int id : {resources::kBitmapCloseNormal, resources::kBitmapCloseHot}) {
        const QPixmap bitmap = resources::LoadBitmap(id);
        QCOMPARE(bitmap.devicePixelRatio(), 2.0);
        QCOMPARE(bitmap.size(), QSize(34, 34));
        QCOMPARE(bitmap.deviceIndependentSize(), QSizeF(17, 17));
    }
    const QPixmap tile = resources::LoadBitmap(resources::kBitmapCaptionTile);
    QCOMPARE(tile.deviceIndependentSize(), QSizeF(70, 25));
    QCOMPARE(tile.size(), QSize(140, 50));

    for (int id : {resources::kIconNormal, resources::kIconAlternate}) {
        const QPixmap icon = resources::LoadIcon(id).pixmap(QSize(16, 16), 2.0);
        QCOMPARE(icon.size(), QSize(32, 32));
    }
    QVERIFY(resources::LoadIcon(999).isNull());
    QVERIFY(resources::LoadBitmap(999).isNull());
}

void HiDpiTest::PopupKeepsItsGeometry() {
    // 1024 x 768 pixels of layout on a 2048 x 1536 device.
    CPopupMsgForm popup(nullptr);
    popup.Popup();
    QCOMPARE(popup.geometry(), QRect(709, 573, 300, 155));
    const QImage image = popup.grab().toImage();
    QCOMPARE(image.size(), QSize(600, 310));
    // The caption strip's gradient starts in its strong colour.
    QCOMPARE(image.pixelColor(20, 6).rgb(), qRgb(255, 197, 25));
}

int main(int argc, char** argv) {
    UseOffscreenScreen(2048, 1536, 2);
    QApplication app(argc, argv);
    HiDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "hidpi_test.moc"
