'''The session's screen saver as desktops offer it on the session bus, for
tests: Inhibit and UnInhibit with cookies, and GetActive, whose answer the
mock's SetActive changes. The mock's ListHolds tells the cookies held.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.holds = {}
    mock.next_cookie = 1
    mock.active = False
    mock.AddMethods(MAIN_IFACE, [
        ('Inhibit', 'ss', 'u',
         'ret = self.next_cookie; self.holds[ret] = (args[0], args[1]); self.next_cookie += 1'),
        ('UnInhibit', 'u', '', 'del self.holds[args[0]]'),
        ('GetActive', '', 'b', 'ret = self.active'),
    ])


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='a(uss)')
def ListHolds(self):
    return [(cookie, who, why) for cookie, (who, why) in self.holds.items()]


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def SetActive(self, active):
    self.active = active
