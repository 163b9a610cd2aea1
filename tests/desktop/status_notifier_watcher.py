'''A StatusNotifierWatcher with a host, as a panel that shows StatusNotifierItems offers it: a
python-dbusmock template. Items that register are listed in RegisteredStatusNotifierItems and,
with the mock's log, in its log file.'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'IsStatusNotifierHostRegistered': True,
        'ProtocolVersion': dbus.Int32(0),
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
    }, signature='sv'))
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '',
         'items = self.Get("%s", "RegisteredStatusNotifierItems")\n'
         'self.Set("%s", "RegisteredStatusNotifierItems", items + [args[0]])\n'
         'self.EmitSignal("%s", "StatusNotifierItemRegistered", "s", [args[0]])'
         % (MAIN_IFACE, MAIN_IFACE, MAIN_IFACE)),
        ('RegisterStatusNotifierHost', 's', '', ''),
    ])
