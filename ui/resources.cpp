#include "ui/resources.h"

#include <QGuiApplication>
#include <QPixmapCache>
#include <QString>

// The resource file is compiled into a static library; referencing its initialiser keeps the
// linker from dropping it.
static void InitPictures() {
    static const bool done = [] {
        Q_INIT_RESOURCE(tolvane);
        return true;
    }();
    (void)done;
}

namespace resources {

QIcon LoadIcon(int id) {
    InitPictures();
    QIcon icon;
    auto add = [&](int picture, std::initializer_list<int> sizes) {
        for (int size : sizes) {
            icon.addFile(QString(":/pictures/icon%1_%2.png").arg(picture).arg(size),
                         QSize(size, size));
        }
    };
    switch (id) {
        case kIconNormal:
            add(kIconNormal, {16, 24, 32, 48, 64});
            break;
        case kIconNormalClassic:
            add(kIconNormalClassic, {16, 32});
            break;
        case kIconAlternate:
            add(kIconAlternate, {16, 24, 32, 48, 64});
            break;
        default:
            break;
    }
    return icon;
}

QPixmap LoadBitmap(int id) {
    InitPictures();
    switch (id) {
        case kBitmapCloseNormal:
        case kBitmapCloseHot:
        case kBitmapCaptionTile:
            break;
        default:
            return {};
    }
    // The double-size drawing on screens with more than one device pixel per pixel.
    const bool doubled = qApp != nullptr && qApp->devicePixelRatio() > 1.0;
    // Every popup asks for the same pictures: decoded once, then shared.
    const QString key = QStringLiteral("tolvane/bitmap/%1/%2").arg(id).arg(doubled ? 2 : 1);
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        if (doubled) {
            picture = QPixmap(QStringLiteral(":/pictures/bitmap%1@2x.png").arg(id));
            picture.setDevicePixelRatio(2.0);
        } else {
            picture = QPixmap(QStringLiteral(":/pictures/bitmap%1.png").arg(id));
        }
        QPixmapCache::insert(key, picture);
    }
    return picture;
}

}  // namespace resources
