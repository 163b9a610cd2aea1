#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>

// Whether the desktop's Do Not Disturb is on, followed as it changes, without polling: KDE
// Plasma's (and other notification servers') `Inhibited` property of org.freedesktop.Notifications
// on the session bus, and GNOME's setting org.gnome.desktop.notifications show-banners (off means
// Do Not Disturb), read through GSettings where its schema is installed.
class TlDoNotDisturb : public QObject {
    Q_OBJECT
  public:
    explicit TlDoNotDisturb(QDBusConnection bus, QObject* parent = nullptr);
    ~TlDoNotDisturb() override;

    bool IsOn() const { return inhibited_ || !show_banners_; }

  signals:
    void changed(bool on);

  private slots:
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

  private:
    void AskInhibited();
    void Update(bool inhibited, bool show_banners);
    void WatchGnomeSetting();
    static void OnGnomeSettingChanged(void* settings, const char* key, void* self);

    QDBusConnection bus_;
    bool inhibited_ = false;
    bool show_banners_ = true;
    struct GnomeSettings;
    std::unique_ptr<GnomeSettings> gnome_;
};
