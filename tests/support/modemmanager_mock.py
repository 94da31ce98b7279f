'''ModemManager on a private system bus, for python3-dbusmock (-t this file -p JSON).

Parameters:
  modems: list of {"device": uid, "ports": [[name, type], ...], "hold": path}; with "hold" the
          mock holds that port as ModemManager holds its modems' ports (open, flock) until the
          modem is inhibited
  refuse: InhibitDevice fails as when polkit says no
Every call ends in the log (-l); "ready" is logged once all is set up.
'''
import fcntl
import os

import dbus

BUS_NAME = 'org.freedesktop.ModemManager1'
MAIN_OBJ = '/org/freedesktop/ModemManager1'
MAIN_IFACE = 'org.freedesktop.ModemManager1'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MODEM_IFACE = 'org.freedesktop.ModemManager1.Modem'
PORT_TYPE_AT = 3


def inhibit_device(self, uid, inhibit):
    if self.refuse:
        raise dbus.exceptions.DBusException(
            'Not authorized to control the device',
            name='org.freedesktop.ModemManager1.Error.Core.Unauthorized')
    if inhibit and uid in self.held:
        os.close(self.held.pop(uid))


def load(mock, parameters):
    mock.refuse = bool(parameters.get('refuse', False))
    mock.held = {}
    for index, modem in enumerate(parameters.get('modems', [])):
        ports = dbus.Array([dbus.Struct((str(name), dbus.UInt32(kind)))
                            for name, kind in modem['ports']], signature='(su)')
        mock.AddObject(f'{MAIN_OBJ}/Modem/{index}', MODEM_IFACE,
                       {'Device': dbus.String(modem['device']), 'Ports': ports,
                        'PrimaryPort': dbus.String(modem['ports'][0][0])}, [])
        if modem.get('hold'):
            fd = os.open(modem['hold'], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            mock.held[modem['device']] = fd
    mock.AddMethod(MAIN_IFACE, 'InhibitDevice', 'sb', '', inhibit_device)
    mock.log('ready')
