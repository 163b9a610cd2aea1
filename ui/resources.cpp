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
    // Every popup asks for the same pictures: decoded once, then shared.
    const QString key = QStringLiteral("tolvane/bitmap/%1").arg(id);
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        // Loading by file name picks the @2x picture on screens that want it.
        picture = QPixmap(QString(":/pictures/bitmap%1.png").arg(id));
        QPixmapCache::insert(key, picture);
    }
    return picture;
}

}  // namespace resources
