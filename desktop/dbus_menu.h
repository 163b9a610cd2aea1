#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

class QMenu;

// One item of an exported menu and its children, as the dbusmenu protocol lays them out.
struct TlDBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<TlDBusMenuLayout> children;
};
// An item's properties alone.
struct TlDBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
// An item's removed properties (always none here, the menu never changes while shown).
struct TlDBusMenuRemoved {
    int id = 0;
    QStringList names;
};
// One event of a group of events.
struct TlDBusMenuEvent {
    int id = 0;
    QString event;
    QDBusVariant data;
    uint timestamp = 0;
};
Q_DECLARE_METATYPE(TlDBusMenuLayout)
Q_DECLARE_METATYPE(TlDBusMenuItem)
Q_DECLARE_METATYPE(TlDBusMenuRemoved)
Q_DECLARE_METATYPE(TlDBusMenuEvent)
QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuLayout& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuLayout& item);
QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuRemoved& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuRemoved& item);
QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuEvent& event);

// A QMenu (one level, items and separators) offered on the session bus as a dbusmenu, so that a
// notification area that draws menus itself (KDE Plasma, the AppIndicator extension of GNOME)
// shows it at the icon. A click there triggers the action, as a click in the menu would.
class TlDBusMenu : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kPath = "/MenuBar";

    TlDBusMenu(QMenu* menu, QObject* parent = nullptr);
    // Offers the menu on the bus at kPath; false when that path is taken.
    bool Export(QDBusConnection bus);

    TlDBusMenuLayout Layout() const;
    QVariantMap Properties(int id) const;
    // Carries out an event from the desktop; "clicked" on an item triggers its action once the
    // desktop's call has returned. False for an id that names no item.
    bool Event(int id, const QString& event);

  private:
    QPointer<QMenu> menu_;
};

class TlDBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)
  public:
    explicit TlDBusMenuAdaptor(TlDBusMenu* menu);

    uint Version() const { return 3; }
    QString TextDirection() const { return QStringLiteral("ltr"); }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

  public slots:
    uint GetLayout(int parent_id, int recursion_depth, const QStringList& property_names,
                   TlDBusMenuLayout& layout);
    QList<TlDBusMenuItem> GetGroupProperties(const QList<int>& ids,
                                             const QStringList& property_names);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& event_id, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<TlDBusMenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& id_errors);

  signals:
    void ItemsPropertiesUpdated(const QList<TlDBusMenuItem>& updated,
                                const QList<TlDBusMenuRemoved>& removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

  private:
    TlDBusMenu* menu_;
};
