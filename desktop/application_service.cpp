#include "desktop/application_service.h"

#include <QDBusConnectionInterface>
#include <QTimer>

TlApplicationService::TlApplicationService(Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    new TlApplicationAdaptor(this);  // owned by this object, as Qt's adaptors are
}

TlApplicationService::~TlApplicationService() {
    if (registered_) {
        bus_.unregisterObject(QLatin1String(kPath));
        bus_.unregisterService(QLatin1String(kName));
    }
}

bool TlApplicationService::Register(QDBusConnection bus) {
    if (registered_ || !bus.isConnected() ||
        !bus.registerObject(QLatin1String(kPath), this, QDBusConnection::ExportAdaptors)) {
        return false;
    }
    if (!bus.registerService(QLatin1String(kName))) {
        bus.unregisterObject(QLatin1String(kPath));
        return false;
    }
    bus_ = bus;
    registered_ = true;
    return true;
}

void TlApplicationService::Activate() const {
    if (handlers_.activate) {
        handlers_.activate();
    }
}

bool TlApplicationService::ActivateAction(const QString& action) const {
    return handlers_.action && handlers_.action(action);
}

TlApplicationAdaptor::TlApplicationAdaptor(TlApplicationService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

// Each request is carried out after the reply has gone: it may open windows or end the program.

void TlApplicationAdaptor::Activate(const QVariantMap&) {
    QTimer::singleShot(0, service_, [service = service_] { service->Activate(); });
}

void TlApplicationAdaptor::Open(const QStringList&, const QVariantMap&) {
    // The program opens no documents; being asked to is being activated.
    QTimer::singleShot(0, service_, [service = service_] { service->Activate(); });
}

void TlApplicationAdaptor::ActivateAction(const QString& action_name, const QVariantList&,
                                          const QVariantMap&) {
    QTimer::singleShot(0, service_,
                       [service = service_, action_name] { service->ActivateAction(action_name); });
}
