#include "desktop/notices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QMessageBox>
#include <cstdio>

namespace {

constexpr const char* kAppId = "com.brannock.TolvaneCorvessan";
// A notification server that does not answer by then is taken to be absent: the user should not
// wait D-Bus's default 25 seconds for the message window.
constexpr int kNotifyTimeoutMs = 2000;

}  // namespace

TlNotices::TlNotices(QObject* parent) : QObject(parent) {}

TlNotices::~TlNotices() {
    for (const QPointer<QWidget>& window : windows_) {
        delete window.data();
    }
}

bool TlNotices::TellOnce(const QString& key, const QString& summary, const QString& body) {
    if (told_.contains(key)) {
        return false;
    }
    told_.insert(key);
    const Notice notice{key, summary, body};
    // Also where a terminal or the session's journal shows it.
    std::fprintf(stderr, "tolvane: %s: %s\n", qUtf8Printable(summary), qUtf8Printable(body));
    if (presenter_) {
        presenter_(notice);
    } else {
        ShowOnDesktop(notice);
    }
    return true;
}

void TlNotices::ShowOnDesktop(const Notice& notice) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        ShowWindow(notice);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QLatin1String(kAppId)},
                            {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
    call << QStringLiteral("Tolvane Corvessan") << uint{0} << QLatin1String(kAppId)
         << notice.summary << notice.body << QStringList() << hints << -1;
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call, kNotifyTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (reply->isError()) {
                    ShowWindow(notice);
                }
            });
}

void TlNotices::ShowWindow(const Notice& notice) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Tolvane Corvessan"),
                                notice.summary, QMessageBox::Ok);
    box->setInformativeText(notice.body);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Like the popup, it never takes the focus from what the user is typing into.
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setModal(false);
    box->setObjectName(notice.key);
    windows_.emplace_back(box);
    box->show();
}
