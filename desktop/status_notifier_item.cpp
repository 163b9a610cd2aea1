#include "desktop/status_notifier_item.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QtEndian>
#include <atomic>

#include "desktop/dbus_menu.h"
#include "desktop/tray_icon.h"

namespace {

constexpr const char* kWatcherInterface = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
// The sizes panels draw tray icons at; a host scales the nearest one.
constexpr int kSizes[] = {16, 22, 32, 48};

TlIconPixmaps PixmapsOf(const QIcon& icon) {
    TlIconPixmaps pixmaps;
    for (int size : kSizes) {
        const QImage image = icon.pixmap(size, size)
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32)
                                 .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (image.isNull()) {
            continue;
        }
        QByteArray bytes(static_cast<qsizetype>(image.width()) * image.height() * 4, '\0');
        auto* out = reinterpret_cast<uchar*>(bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                qToBigEndian<quint32>(line[x], out);
                out += 4;
            }
        }
        pixmaps.append({image.width(), image.height(), bytes});
    }
    return pixmaps;
}

void RegisterTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<TlIconPixmap>();
        qDBusRegisterMetaType<TlIconPixmaps>();
        qDBusRegisterMetaType<TlItemToolTip>();
        return true;
    }();
    (void)registered;
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const TlIconPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TlIconPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TlItemToolTip& tip) {
    argument.beginStructure();
    argument << tip.icon_name << tip.icon << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TlItemToolTip& tip) {
    argument.beginStructure();
    argument >> tip.icon_name >> tip.icon >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

TlStatusNotifierItem::TlStatusNotifierItem(QDBusConnection bus, QMenu* menu, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    RegisterTypes();
    static std::atomic<int> count{0};
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++count);
    auto* adaptor = new TlStatusNotifierItemAdaptor(this);  // owned by this object
    connect(this, &TlStatusNotifierItem::iconChanged, adaptor,
            &TlStatusNotifierItemAdaptor::NewIcon);
    connect(this, &TlStatusNotifierItem::toolTipChanged, adaptor,
            &TlStatusNotifierItemAdaptor::NewToolTip);
    connect(this, &TlStatusNotifierItem::attentionIconChanged, adaptor,
            &TlStatusNotifierItemAdaptor::NewAttentionIcon);
    connect(this, &TlStatusNotifierItem::statusChanged, adaptor,
            &TlStatusNotifierItemAdaptor::NewStatus);
    if (!bus_.isConnected()) {
        return;
    }
    if (menu != nullptr) {
        menu_ = std::make_unique<TlDBusMenu>(menu);
        if (!menu_->Export(bus_)) {
            menu_.reset();
        }
    }
    bus_.registerObject(QLatin1String(kPath), this, QDBusConnection::ExportAdaptors);
    bus_.registerService(service_);

    // Panels come and go (a panel that starts late, a restart of the desktop shell): register
    // with every watcher that appears.
    watcher_ = std::make_unique<QDBusServiceWatcher>(
        QLatin1String(kWatcherService), bus_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] { Register(); });
    connect(watcher_.get(), &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { SetHosted(false, false); });
    bus_.connect(QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
                 QLatin1String(kWatcherInterface), QStringLiteral("StatusNotifierHostRegistered"),
                 this, SLOT(AskForHostSlot()));
    bus_.connect(QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
                 QLatin1String(kWatcherInterface), QStringLiteral("StatusNotifierHostUnregistered"),
                 this, SLOT(AskForHostSlot()));
    if (WatcherPresent()) {
        Register();
    }
}

TlStatusNotifierItem::~TlStatusNotifierItem() {
    if (bus_.isConnected()) {
        bus_.unregisterService(service_);
        bus_.unregisterObject(QLatin1String(kPath));
        if (menu_) {
            bus_.unregisterObject(QLatin1String(TlDBusMenu::kPath));
        }
    }
}

bool TlStatusNotifierItem::WatcherPresent() const {
    return bus_.isConnected() && bus_.interface() != nullptr &&
           bus_.interface()->isServiceRegistered(QLatin1String(kWatcherService)).value();
}

void TlStatusNotifierItem::Register() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
        QLatin1String(kWatcherInterface), QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (reply->isError()) {
                    SetHosted(false, false);
                    return;
                }
                registered_ = true;
                AskForHost();
            });
}

void TlStatusNotifierItem::AskForHost() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(kWatcherInterface) << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                const QDBusPendingReply<QDBusVariant> value = *reply;
                // A watcher that cannot say is taken to have a host.
                SetHosted(registered_, value.isError() || value.value().variant().toBool());
            });
}

void TlStatusNotifierItem::AskForHostSlot() {
    if (registered_) {
        AskForHost();
    }
}

void TlStatusNotifierItem::SetHosted(bool registered, bool host_present) {
    const bool was = IsHosted();
    registered_ = registered;
    host_present_ = host_present;
    if (IsHosted() != was) {
        emit hostedChanged(IsHosted());
    }
}

void TlStatusNotifierItem::SetIcon(const QIcon& icon) {
    if (icon.cacheKey() == icon_key_ && !pixmaps_.isEmpty()) {
        return;
    }
    // Blinking swaps two icons twice a second: each one's pictures are made once.
    auto found = pictures_.find(icon.cacheKey());
    if (found == pictures_.end()) {
        if (pictures_.size() >= 4) {
            pictures_.clear();
        }
        found = pictures_.emplace(icon.cacheKey(), PixmapsOf(icon)).first;
    }
    icon_key_ = icon.cacheKey();
    pixmaps_ = found->second;
    emit iconChanged();
}

void TlStatusNotifierItem::SetAttentionIcon(const QIcon& icon) {
    attention_pixmaps_ = PixmapsOf(icon);
    emit attentionIconChanged();
}

void TlStatusNotifierItem::SetNeedsAttention(bool needs_attention) {
    if (needs_attention == needs_attention_) {
        return;
    }
    needs_attention_ = needs_attention;
    emit statusChanged(Status());
}

void TlStatusNotifierItem::SetToolTip(const QString& tip) {
    if (tip == tip_) {
        return;
    }
    tip_ = tip;
    emit toolTipChanged();
}

void TlStatusNotifierItem::Click(int mouse_message, QPoint position) {
    emit clicked(mouse_message, position);
}

TlStatusNotifierItemAdaptor::TlStatusNotifierItemAdaptor(TlStatusNotifierItem* item)
    : QDBusAbstractAdaptor(item), item_(item) {
    setAutoRelaySignals(false);
}

TlItemToolTip TlStatusNotifierItemAdaptor::ToolTip() const {
    return {QString(), {}, item_->ToolTip(), QString()};
}

QDBusObjectPath TlStatusNotifierItemAdaptor::Menu() const {
    return QDBusObjectPath(item_->HasMenu() ? QLatin1String(TlDBusMenu::kPath)
                                            : QLatin1String("/NO_DBUSMENU"));
}

void TlStatusNotifierItemAdaptor::Activate(int x, int y) {
    item_->Click(tlTrayIcon::kLeftButtonDown, {x, y});
}

void TlStatusNotifierItemAdaptor::SecondaryActivate(int x, int y) {
    item_->Click(tlTrayIcon::kMiddleButtonDown, {x, y});
}

void TlStatusNotifierItemAdaptor::ContextMenu(int x, int y) {
    item_->Click(tlTrayIcon::kRightButtonUp, {x, y});
}

void TlStatusNotifierItemAdaptor::Scroll(int, const QString&) {}
