#include "desktop/sound.h"

#include <canberra.h>

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace {

// The one sound of each kind that plays at a time: a new arrival cuts the previous one short.
constexpr std::uint32_t kEventSoundId = 1;

}  // namespace

TlSoundPlayer::TlSoundPlayer(QObject* parent) : QObject(parent) {}

TlSoundPlayer::~TlSoundPlayer() {
    if (events_ != nullptr) {
        ca_context_destroy(events_);
    }
}

QString TlSoundPlayer::Resolve(const QString& name) {
    if (name.isEmpty()) {
        return {};
    }
    const QFileInfo file(name);
    if (file.isFile() && file.isReadable()) {
        return file.absoluteFilePath();
    }
    return {};
}

void TlSoundPlayer::Play(const std::string& name) {
    const QString text = QString::fromStdString(name);
    if (text.isEmpty()) {
        return;
    }
    // A name without a folder is a sound of the theme first; only when the theme has no such
    // sound is it a file in the current folder.
    if (!text.contains(QLatin1Char('/')) &&
        PlayEvent(CA_PROP_EVENT_ID, text) != CA_ERROR_NOTFOUND) {
        return;
    }
    const QString path = Resolve(text);
    if (path.isEmpty()) {
        return;
    }
    if (path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)) {
        PlayWave(path);
    } else {
        PlayEvent(CA_PROP_MEDIA_FILENAME, path);
    }
}

void TlSoundPlayer::PlayWave(const QString& path) {
    // Short effects with little delay; replaying the same one restarts it.
    if (!effect_) {
        effect_ = std::make_unique<QSoundEffect>();
    }
    const QUrl url = QUrl::fromLocalFile(path);
    if (effect_->source() != url) {
        effect_->setSource(url);
    }
    effect_->play();
}

int TlSoundPlayer::PlayEvent(const char* property, const QString& value) {
    if (events_ == nullptr) {
        if (ca_context_create(&events_) != CA_SUCCESS) {
            events_ = nullptr;
            return CA_ERROR_NODRIVER;
        }
        ca_context_change_props(events_, CA_PROP_APPLICATION_NAME, "Tolvane Corvessan",
                                CA_PROP_APPLICATION_ID, "com.brannock.TolvaneCorvessan",
                                CA_PROP_APPLICATION_ICON_NAME, "com.brannock.TolvaneCorvessan",
                                nullptr);
    }
    // The context connects to the sound server at the first sound, and again at the next one
    // when that failed, so a server that starts later is used.
    ca_context_cancel(events_, kEventSoundId);
    const QByteArray bytes = value.toUtf8();
    return ca_context_play(events_, kEventSoundId, property, bytes.constData(),
                           CA_PROP_EVENT_DESCRIPTION, "Message received",
                           CA_PROP_CANBERRA_CACHE_CONTROL, "volatile", nullptr);
}
