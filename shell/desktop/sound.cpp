#include "shell/desktop/sound.h"

#include <QAudioOutput>
#include <QDir>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QUrl>

TlSoundPlayer::TlSoundPlayer(QObject* parent) : QObject(parent) {}

TlSoundPlayer::~TlSoundPlayer() = default;

QString TlSoundPlayer::Resolve(const QString& name) {
    if (name.isEmpty()) {
        return {};
    }
    if (!name.contains(QLatin1Char('/'))) {
        // A sound-theme name: the freedesktop theme's stereo sounds in the data folders.
        for (const char* extension : {".oga", ".ogg", ".wav"}) {
            const QString found = QStandardPaths::locate(
                QStandardPaths::GenericDataLocation,
                QStringLiteral("sounds/freedesktop/stereo/") + name + QLatin1String(extension));
            if (!found.isEmpty()) {
                return found;
            }
        }
    }
    const QFileInfo file(name);
    if (file.isFile() && file.isReadable()) {
        return file.absoluteFilePath();
    }
    return {};
}

void TlSoundPlayer::Play(const std::string& name) {
    const QString path = Resolve(QString::fromStdString(name));
    if (path.isEmpty()) {
        return;
    }
    const QUrl url = QUrl::fromLocalFile(path);
    if (path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)) {
        // Short effects with little delay; replaying the same one restarts it.
        if (!effect_) {
            effect_ = std::make_unique<QSoundEffect>();
        }
        if (effect_->source() != url) {
            effect_->setSource(url);
        }
        effect_->play();
        return;
    }
    if (!player_) {
        output_ = std::make_unique<QAudioOutput>();
        player_ = std::make_unique<QMediaPlayer>();
        player_->setAudioOutput(output_.get());
    }
    if (player_->source() != url) {
        player_->setSource(url);
    }
    player_->setPosition(0);
    player_->play();
}
