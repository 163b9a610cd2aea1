#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <functional>

// The program on the session bus under its application id, with the org.freedesktop.Application
// interface, the way desktops start and command a program from its desktop entry: a click on the
// program in the application menu (Activate) and the entry's actions "options", "about" and
// "quit" (ActivateAction). So the options, the about box and the exit stay reachable where no
// notification area shows the icon. A second copy of the program finds the name taken and
// stays off the bus.
class TlApplicationService : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kName = "com.brannock.TolvaneCorvessan";
    static constexpr const char* kPath = "/com/brannock/TolvaneCorvessan";

    struct Handlers {
        std::function<void()> activate;
        // "options", "about" or "quit" in any case (GNOME sends the entry's "Options"); false for
        // any other action name.
        std::function<bool(const QString& action)> action;
    };

    explicit TlApplicationService(Handlers handlers, QObject* parent = nullptr);
    ~TlApplicationService() override;

    // Takes the name on the bus; false when there is no bus or the name belongs to another
    // process.
    bool Register(QDBusConnection bus);

    void Activate() const;
    bool ActivateAction(const QString& action) const;

  private:
    Handlers handlers_;
    QDBusConnection bus_{QString()};
    bool registered_ = false;
};

class TlApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
  public:
    explicit TlApplicationAdaptor(TlApplicationService* service);

  public slots:
    void Activate(const QVariantMap& platform_data);
    void Open(const QStringList& uris, const QVariantMap& platform_data);
    void ActivateAction(const QString& action_name, const QVariantList& parameter,
                        const QVariantMap& platform_data);

  private:
    TlApplicationService* service_;
};
