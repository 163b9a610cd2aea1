#include "desktop/dbus_menu.h"

#include <QAction>
#include <QDBusMetaType>
#include <QMenu>
#include <QTimer>

namespace {

constexpr uint kRevision = 1;  // the menu is built once and never changes

// A menu text for the bus: '_' marks the mnemonic there, where Qt uses '&'.
QString BusLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('_')) {
            label += QLatin1String("__");
        } else if (c == QLatin1Char('&') && i + 1 < text.size()) {
            label += text.at(i + 1) == QLatin1Char('&') ? QChar(QLatin1Char('&'))
                                                        : QChar(QLatin1Char('_'));
            if (text.at(i + 1) == QLatin1Char('&')) {
                ++i;
            }
        } else {
            label += c;
        }
    }
    return label;
}

QVariantMap Filtered(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) {
        return properties;
    }
    QVariantMap kept;
    for (const QString& name : names) {
        if (properties.contains(name)) {
            kept.insert(name, properties.value(name));
        }
    }
    return kept;
}

void RegisterTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<TlDBusMenuLayout>();
        qDBusRegisterMetaType<TlDBusMenuItem>();
        qDBusRegisterMetaType<QList<TlDBusMenuItem>>();
        qDBusRegisterMetaType<TlDBusMenuRemoved>();
        qDBusRegisterMetaType<QList<TlDBusMenuRemoved>>();
        qDBusRegisterMetaType<TlDBusMenuEvent>();
        qDBusRegisterMetaType<QList<TlDBusMenuEvent>>();
        qDBusRegisterMetaType<QList<int>>();
        return true;
    }();
    (void)registered;
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuLayout& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const TlDBusMenuLayout& child : item.children) {
        argument << QDBusVariant(QVariant::fromValue(child));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuLayout& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    item.children.clear();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.append(qdbus_cast<TlDBusMenuLayout>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuRemoved& item) {
    argument.beginStructure();
    argument << item.id << item.names;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuRemoved& item) {
    argument.beginStructure();
    argument >> item.id >> item.names;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TlDBusMenuEvent& event) {
    argument.beginStructure();
    argument << event.id << event.event << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TlDBusMenuEvent& event) {
    argument.beginStructure();
    argument >> event.id >> event.event >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

TlDBusMenu::TlDBusMenu(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {
    RegisterTypes();
    new TlDBusMenuAdaptor(this);  // owned by this object, as Qt's adaptors are
}

bool TlDBusMenu::Export(QDBusConnection bus) {
    return bus.registerObject(QLatin1String(kPath), this, QDBusConnection::ExportAdaptors);
}

QVariantMap TlDBusMenu::Properties(int id) const {
    if (id == 0) {
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    }
    if (menu_ == nullptr || id < 0 || id > menu_->actions().size()) {
        return {};
    }
    const QAction* action = menu_->actions().at(id - 1);
    if (action->isSeparator()) {
        return {{QStringLiteral("type"), QStringLiteral("separator")}};
    }
    return {{QStringLiteral("label"), BusLabel(action->text())},
            {QStringLiteral("enabled"), action->isEnabled()},
            {QStringLiteral("visible"), action->isVisible()}};
}

TlDBusMenuLayout TlDBusMenu::Layout() const {
    TlDBusMenuLayout root{0, Properties(0), {}};
    const qsizetype count = menu_ != nullptr ? menu_->actions().size() : 0;
    for (int id = 1; id <= count; ++id) {
        root.children.append({id, Properties(id), {}});
    }
    return root;
}

bool TlDBusMenu::Event(int id, const QString& event) {
    if (menu_ == nullptr || id < 0 || id > menu_->actions().size()) {
        return false;
    }
    if (id > 0 && event == QLatin1String("clicked")) {
        QAction* action = menu_->actions().at(id - 1);
        // After the reply: the command may open windows or end the program.
        QTimer::singleShot(0, action, [action] {
            if (action->isEnabled()) {
                action->trigger();
            }
        });
    }
    return true;
}

TlDBusMenuAdaptor::TlDBusMenuAdaptor(TlDBusMenu* menu) : QDBusAbstractAdaptor(menu), menu_(menu) {}

uint TlDBusMenuAdaptor::GetLayout(int parent_id, int recursion_depth,
                                  const QStringList& property_names, TlDBusMenuLayout& layout) {
    const TlDBusMenuLayout whole = menu_->Layout();
    if (parent_id > 0) {
        layout = {parent_id, Filtered(menu_->Properties(parent_id), property_names), {}};
        return kRevision;
    }
    layout = {0, Filtered(whole.properties, property_names), {}};
    if (recursion_depth != 0) {
        for (const TlDBusMenuLayout& child : whole.children) {
            layout.children.append({child.id, Filtered(child.properties, property_names), {}});
        }
    }
    return kRevision;
}

QList<TlDBusMenuItem> TlDBusMenuAdaptor::GetGroupProperties(const QList<int>& ids,
                                                            const QStringList& property_names) {
    QList<TlDBusMenuItem> items;
    for (int id : ids) {
        items.append({id, Filtered(menu_->Properties(id), property_names)});
    }
    return items;
}

QDBusVariant TlDBusMenuAdaptor::GetProperty(int id, const QString& name) {
    return QDBusVariant(menu_->Properties(id).value(name));
}

void TlDBusMenuAdaptor::Event(int id, const QString& event_id, const QDBusVariant&, uint) {
    menu_->Event(id, event_id);
}

QList<int> TlDBusMenuAdaptor::EventGroup(const QList<TlDBusMenuEvent>& events) {
    QList<int> errors;
    for (const TlDBusMenuEvent& event : events) {
        if (!menu_->Event(event.id, event.event)) {
            errors.append(event.id);
        }
    }
    return errors;
}

bool TlDBusMenuAdaptor::AboutToShow(int) {
    return false;  // nothing to update
}

QList<int> TlDBusMenuAdaptor::AboutToShowGroup(const QList<int>&, QList<int>& id_errors) {
    id_errors.clear();
    return {};
}
