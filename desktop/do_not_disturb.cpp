// GLib's headers name a structure member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "desktop/do_not_disturb.h"

namespace {

constexpr const char* kNotifications = "org.freedesktop.Notifications";
constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kGnomeSchema = "org.gnome.desktop.notifications";
constexpr const char* kGnomeKey = "show-banners";

}  // namespace

struct TlDoNotDisturb::GnomeSettings {
    GSettings* settings = nullptr;
    gulong handler = 0;
    ~GnomeSettings() {
        if (settings != nullptr) {
            g_signal_handler_disconnect(settings, handler);
            g_object_unref(settings);
        }
    }
};

TlDoNotDisturb::TlDoNotDisturb(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    WatchGnomeSetting();
    if (!bus_.isConnected()) {
        return;
    }
    bus_.connect(QLatin1String(kNotifications), QLatin1String(kNotificationsPath),
                 QLatin1String(kProperties), QStringLiteral("PropertiesChanged"), this,
                 SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));
    // A notification server that starts or ends (a restart of the desktop shell) is asked again.
    auto* watcher = new QDBusServiceWatcher(QLatin1String(kNotifications), bus_,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty()) {
                    Update(false, show_banners_);
                } else {
                    AskInhibited();
                }
            });
    AskInhibited();
}

TlDoNotDisturb::~TlDoNotDisturb() = default;

void TlDoNotDisturb::AskInhibited() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(kNotifications), QLatin1String(kNotificationsPath),
        QLatin1String(kProperties), QStringLiteral("Get"));
    get << QLatin1String(kNotifications) << QStringLiteral("Inhibited");
    // Never starts a notification server just to ask.
    get.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(get, 2000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                const QDBusPendingReply<QDBusVariant> value = *reply;
                // A server without the property never holds anything back.
                Update(!value.isError() && value.value().variant().toBool(), show_banners_);
            });
}

void TlDoNotDisturb::OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                         const QStringList& invalidated) {
    if (interface != QLatin1String(kNotifications)) {
        return;
    }
    if (changed.contains(QStringLiteral("Inhibited"))) {
        Update(changed.value(QStringLiteral("Inhibited")).toBool(), show_banners_);
    } else if (invalidated.contains(QStringLiteral("Inhibited"))) {
        AskInhibited();
    }
}

void TlDoNotDisturb::WatchGnomeSetting() {
    // Only where the schema is installed: GSettings ends the process on an unknown schema.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kGnomeSchema, TRUE);
    if (schema == nullptr) {
        return;
    }
    const bool has_key = g_settings_schema_has_key(schema, kGnomeKey);
    g_settings_schema_unref(schema);
    if (!has_key) {
        return;
    }
    gnome_ = std::make_unique<GnomeSettings>();
    gnome_->settings = g_settings_new(kGnomeSchema);
    // Changes arrive through the GLib main loop, which Qt's event loop runs.
    gnome_->handler = g_signal_connect(gnome_->settings, "changed::show-banners",
                                       G_CALLBACK(&TlDoNotDisturb::OnGnomeSettingChanged), this);
    show_banners_ = g_settings_get_boolean(gnome_->settings, kGnomeKey) != FALSE;
}

void TlDoNotDisturb::OnGnomeSettingChanged(void* settings, const char*, void* self) {
    auto* me = static_cast<TlDoNotDisturb*>(self);
    me->Update(me->inhibited_,
               g_settings_get_boolean(static_cast<GSettings*>(settings), kGnomeKey) != FALSE);
}

void TlDoNotDisturb::Update(bool inhibited, bool show_banners) {
    const bool was = IsOn();
    inhibited_ = inhibited;
    show_banners_ = show_banners;
    if (IsOn() != was) {
        emit changed(IsOn());
    }
}
