#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

class QSoundEffect;
class QMediaPlayer;
class QAudioOutput;

// Plays the sound chosen for a kind of message, without waiting for it. The name is looked up as
// a sound of the desktop's sound theme first ("message-new-instant") and otherwise taken as a file
// name. A sound that cannot be found or played is silently not played.
class TlSoundPlayer : public QObject {
    Q_OBJECT
  public:
    explicit TlSoundPlayer(QObject* parent = nullptr);
    ~TlSoundPlayer() override;

    virtual void Play(const std::string& name);

    // The file a sound name stands for, or an empty string when there is none.
    static QString Resolve(const QString& name);

  private:
    std::unique_ptr<QSoundEffect> effect_;
    std::unique_ptr<QAudioOutput> output_;
    std::unique_ptr<QMediaPlayer> player_;
};
