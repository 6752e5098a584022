"""One virtual keyboard on a Wayland seat for as long as the rig needs it, spoken in the wire
protocol directly.

wtype makes a new keyboard each run, and foot then sees its focus go and come back (CSI O, CSI I)
each time: a game that lets go of every key on a focus out would lose a held key to each screen
read. One keyboard kept open sends holds, taps and the chord that reads the screen without that.
"""
import array
import os
import socket
import struct
import time

# The keys this keyboard has, as keysyms; key i is evdev code i + 1 (xkb keycode i + 9).
KEYSYMS = ['Return', 'KP_Enter', 'KP_1', 'q', 'c', 'z', 'Control_L', 'Shift_L', 'F12',
           *[str(d) for d in range(10)]]
MODS = {'Control_L': 4, 'Shift_L': 1}
KEYMAP = ('xkb_keymap {\nxkb_keycodes "rig" { minimum = 8; maximum = 255; '
          + ' '.join(f'<K{i}> = {i + 9};' for i in range(len(KEYSYMS)))
          + ' };\nxkb_types "rig" { include "complete" };\nxkb_compatibility "rig" { include "complete" };\n'
          'xkb_symbols "rig" { ' + ' '.join(f'key <K{i}> {{[ {s} ]}};' for i, s in enumerate(KEYSYMS))
          + ' };\n};\n')


class Keyboard:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id, self.mods, self.inbox = 2, 0, b''
        registry = self.new_id()
        self.send(1, 1, struct.pack('<I', registry))            # wl_display.get_registry
        globals_ = {}
        for obj, opcode, body in self.roundtrip():
            if obj == registry and opcode == 0:                  # wl_registry.global
                name, = struct.unpack_from('<I', body)
                length, = struct.unpack_from('<I', body, 4)
                globals_[body[8:8 + length - 1].decode()] = name
        seat = self.bind(registry, globals_['wl_seat'], 'wl_seat', 1)
        manager = self.bind(registry, globals_['zwp_virtual_keyboard_manager_v1'],
                            'zwp_virtual_keyboard_manager_v1', 1)
        self.kb = self.new_id()
        self.send(manager, 0, struct.pack('<II', seat, self.kb))  # create_virtual_keyboard
        keymap = KEYMAP.encode() + b'\0'
        fd = os.memfd_create('rig-keymap')
        os.write(fd, keymap)
        self.send(self.kb, 0, struct.pack('<II', 1, len(keymap)), fd)  # keymap: xkb v1
        os.close(fd)
        self.roundtrip()

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, body, fd=None):
        data = struct.pack('<II', obj, (8 + len(body)) << 16 | opcode) + body
        rights = [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array('i', [fd]))] if fd is not None else []
        self.sock.sendmsg([data], rights)

    def bind(self, registry, name, interface, version):
        new = self.new_id()
        text = interface.encode() + b'\0'
        text += b'\0' * (-len(text) % 4)
        self.send(registry, 0, struct.pack('<II', name, len(interface) + 1) + text + struct.pack('<II', version, new))
        return new

    def roundtrip(self):
        """Waits until the compositor has handled everything sent; returns its events."""
        callback = self.new_id()
        self.send(1, 0, struct.pack('<I', callback))               # wl_display.sync
        events = []
        while True:
            while len(self.inbox) < 8 or len(self.inbox) < struct.unpack_from('<I', self.inbox, 4)[0] >> 16:
                self.inbox += self.sock.recv(65536)
            obj, size_op = struct.unpack_from('<II', self.inbox)
            size = size_op >> 16
            events.append((obj, size_op & 0xffff, self.inbox[8:size]))
            self.inbox = self.inbox[size:]
            if obj == callback:
                return events

    def key(self, keysym, down):
        code = KEYSYMS.index(keysym)
        if keysym in MODS:
            self.mods = self.mods | MODS[keysym] if down else self.mods & ~MODS[keysym]
        self.send(self.kb, 1, struct.pack('<III', int(time.monotonic() * 1000) & 0xffffffff, code + 1, int(down)))
        if keysym in MODS:
            self.send(self.kb, 2, struct.pack('<IIII', self.mods, 0, 0, 0))
        self.roundtrip()

    def close(self):
        self.sock.close()
