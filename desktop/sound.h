#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

class QSoundEffect;
struct ca_context;

// Plays the sound chosen for a kind of message, without waiting for it. The name is looked up as
// a sound of the desktop's sound theme first ("message-new-instant") and otherwise taken as a file
// name. WAV files go through Qt's sound effects; sound-theme names and every other file (OGG
// Vorbis, such as the theme's .oga files) through libcanberra, the desktop's event-sound library,
// which reaches PulseAudio or PipeWire. A sound that cannot be found, decoded or played (no sound
// server, no audio device, a format neither knows) is silently not played.
class TlSoundPlayer : public QObject {
    Q_OBJECT
  public:
    explicit TlSoundPlayer(QObject* parent = nullptr);
    ~TlSoundPlayer() override;

    virtual void Play(const std::string& name);

    // The absolute path of the readable file a name stands for, or an empty string.
    static QString Resolve(const QString& name);

  private:
    void PlayWave(const QString& path);
    // A libcanberra result code: 0 when the sound started.
    int PlayEvent(const char* property, const QString& value);

    std::unique_ptr<QSoundEffect> effect_;
    ca_context* events_ = nullptr;
};
