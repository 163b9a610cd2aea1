#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QString>
#include <map>
#include <memory>

class QDBusServiceWatcher;
class QMenu;
class TlDBusMenu;

// One picture of an icon as it travels on the bus: ARGB32 pixels in network byte order.
struct TlIconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using TlIconPixmaps = QList<TlIconPixmap>;
struct TlItemToolTip {
    QString icon_name;
    TlIconPixmaps icon;
    QString title;
    QString text;
};
Q_DECLARE_METATYPE(TlIconPixmap)
Q_DECLARE_METATYPE(TlItemToolTip)
QDBusArgument& operator<<(QDBusArgument& argument, const TlIconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, TlIconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const TlItemToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, TlItemToolTip& tip);

// The program's icon as a StatusNotifierItem on the session bus: the notification area of KDE
// Plasma, of GNOME with the AppIndicator extension and of most Wayland panels. It registers with
// the StatusNotifierWatcher now and whenever one appears later (a panel that starts after the
// program), offers the tray menu as a dbusmenu, and reports the host's clicks as the mouse
// messages they stand for, with the point the host names.
class TlStatusNotifierItem : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kPath = "/StatusNotifierItem";

    // menu: offered to the host; not owned.
    TlStatusNotifierItem(QDBusConnection bus, QMenu* menu, QObject* parent = nullptr);
    ~TlStatusNotifierItem() override;

    // A watcher is on the bus now.
    bool WatcherPresent() const;
    // Registered with a watcher that has a host to show the icon.
    bool IsHosted() const { return registered_ && host_present_; }

    void SetIcon(const QIcon& icon);
    void SetToolTip(const QString& tip);
    // "NeedsAttention" with the attention icon while a message is unseen, else "Active".
    void SetNeedsAttention(bool needs_attention);
    void SetAttentionIcon(const QIcon& icon);

    const TlIconPixmaps& IconPixmaps() const { return pixmaps_; }
    const TlIconPixmaps& AttentionPixmaps() const { return attention_pixmaps_; }
    QString Status() const {
        return needs_attention_ ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
    }
    const QString& ToolTip() const { return tip_; }
    bool HasMenu() const { return menu_ != nullptr; }
    QString ServiceName() const { return service_; }

    // A click as the host reports it: the mouse message (0x201, 0x205, 0x207) and the point on
    // the screen where the host says the click was.
    void Click(int mouse_message, QPoint position);

  signals:
    void clicked(int mouse_message, QPoint position);
    void hostedChanged(bool hosted);
    void iconChanged();
    void attentionIconChanged();
    void toolTipChanged();
    void statusChanged(const QString& status);

  private slots:
    void AskForHostSlot();

  private:
    void Register();
    void AskForHost();
    void SetHosted(bool registered, bool host_present);

    QDBusConnection bus_;
    QString service_;
    std::unique_ptr<TlDBusMenu> menu_;
    std::unique_ptr<QDBusServiceWatcher> watcher_;
    bool registered_ = false;
    bool host_present_ = false;
    TlIconPixmaps pixmaps_;
    TlIconPixmaps attention_pixmaps_;
    bool needs_attention_ = false;
    qint64 icon_key_ = 0;
    std::map<qint64, TlIconPixmaps> pictures_;
    QString tip_;
};

class TlStatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(QString IconThemePath READ Empty)
    Q_PROPERTY(QString IconName READ Empty)
    Q_PROPERTY(TlIconPixmaps IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ Empty)
    Q_PROPERTY(TlIconPixmaps OverlayIconPixmap READ NoPixmaps)
    Q_PROPERTY(QString AttentionIconName READ Empty)
    Q_PROPERTY(TlIconPixmaps AttentionIconPixmap READ AttentionIconPixmap)
    Q_PROPERTY(QString AttentionMovieName READ Empty)
    // Read by GNOME's AppIndicator extension, which logs an error for each one missing.
    Q_PROPERTY(QString IconAccessibleDesc READ Title)
    Q_PROPERTY(QString AttentionAccessibleDesc READ Title)
    Q_PROPERTY(TlItemToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)
  public:
    explicit TlStatusNotifierItemAdaptor(TlStatusNotifierItem* item);

    QString Category() const { return QStringLiteral("Communications"); }
    QString Id() const { return QStringLiteral("com.brannock.TolvaneCorvessan"); }
    QString Title() const { return QStringLiteral("Tolvane Corvessan"); }
    QString Status() const { return item_->Status(); }
    int WindowId() const { return 0; }
    QString Empty() const { return {}; }
    TlIconPixmaps IconPixmap() const { return item_->IconPixmaps(); }
    TlIconPixmaps NoPixmaps() const { return {}; }
    TlIconPixmaps AttentionIconPixmap() const { return item_->AttentionPixmaps(); }
    TlItemToolTip ToolTip() const;
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const;

  public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

  signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

  private:
    TlStatusNotifierItem* item_;
};
