#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// Runs the test's windows on Qt's offscreen platform with one primary screen of the given size
// in device pixels, before the application object exists. A scale of 2 makes a HiDPI screen on
// which the program's pixels are two device pixels wide.
inline void UseOffscreenScreen(int width, int height, double scale = 1) {
    static std::unique_ptr<QTemporaryDir> dir;
    dir = std::make_unique<QTemporaryDir>();
    const QString path = dir->filePath(QStringLiteral("screens.json"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QStringLiteral(R"({"screens":[{"name":"primary","x":0,"y":0,"width":%1,)"
                                  R"("height":%2,"logicalDpiX":96,"logicalDpiY":96,"dpr":1}]})")
                       .arg(width)
                       .arg(height)
                       .toUtf8());
    }
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir->path().toLocal8Bit());
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
}
