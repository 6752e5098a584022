#!/usr/bin/python3
"""What makes the release the same bytes on every machine: tools/pack.py's archives and the page's
icons (web/make_icons.js, with its own deflate).

usage: release_files_test.py Pack            the archives
       release_files_test.py Icons NODE      the icons, drawn by NODE (node)
"""
import gzip
import os
import struct
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EPOCH = 1700000000      # 2023-11-14 22:13:20 UTC


class Pack(unittest.TestCase):
    """The same files make the same archive whatever their times, modes beyond the executable
    bit, and the umask; every entry has the epoch's time, no owner, 755 or 644, in path order."""

    def pack(self, folder, archive, *top):
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH))
        subprocess.run([sys.executable, os.path.join(ROOT, 'tools', 'pack.py'), archive, folder, *top], env=env,
                       check=True)
        with open(archive, 'rb') as f:
            return f.read()

    def folder(self, root, when, private):
        os.makedirs(os.path.join(root, 'b'))
        files = {'z.txt': b'last by name\n', 'b/inner': b'in a folder\n', 'A-game': b'\x7fELF run me'}
        for name, data in files.items():
            path = os.path.join(root, name)
            with open(path, 'wb') as f:
                f.write(data)
            os.chmod(path, (0o700 if private else 0o755) if name == 'A-game' else (0o600 if private else 0o664))
            os.utime(path, (when, when))
        return files

    def test_archives_are_a_function_of_the_files(self):
        with tempfile.TemporaryDirectory() as work:
            self.folder(os.path.join(work, 'one'), 1, private=False)
            old = os.umask(0o077)
            try:
                files = self.folder(os.path.join(work, 'two'), 2000000000, private=True)
            finally:
                os.umask(old)
            for kind, top in (('zip', ()), ('tar.gz', ('--top', 'game-1.0'))):
                one = self.pack(os.path.join(work, 'one'), os.path.join(work, f'one.{kind}'), *top)
                two = self.pack(os.path.join(work, 'two'), os.path.join(work, f'two.{kind}'), *top)
                self.assertEqual(one, two, f'{kind}: the same files, other bytes')
            self.check_zip(os.path.join(work, 'two.zip'), files)
            self.check_tar(os.path.join(work, 'two.tar.gz'), files)

    def check_zip(self, archive, files):
        with zipfile.ZipFile(archive) as z:
            infos = z.infolist()
            self.assertEqual([i.filename for i in infos], ['A-game', 'b/inner', 'z.txt'])
            for info in infos:
                self.assertEqual(z.read(info), files[info.filename])
                self.assertEqual(info.date_time, (2023, 11, 14, 22, 13, 20))
                self.assertEqual(info.external_attr >> 16, 0o100755 if info.filename == 'A-game' else 0o100644)
                self.assertEqual(info.extra, b'', f'{info.filename}: extra fields (owners, times)')

    def check_tar(self, archive, files):
        with open(archive, 'rb') as f:
            head = f.read(10)
        self.assertEqual(head[4:8], b'\0\0\0\0', 'the gzip stream holds a time')
        self.assertFalse(head[3] & 0x08, 'the gzip stream holds a name')
        with tarfile.open(archive) as tar:
            members = tar.getmembers()
            self.assertEqual([m.name for m in members],
                             ['game-1.0', 'game-1.0/A-game', 'game-1.0/b', 'game-1.0/b/inner', 'game-1.0/z.txt'])
            for m in members:
                self.assertEqual((m.mtime, m.uid, m.gid, m.uname, m.gname), (EPOCH, 0, 0, '', ''), m.name)
                self.assertEqual(m.mode, 0o755 if m.isdir() or m.name.endswith('A-game') else 0o644, m.name)
                if m.isfile():
                    self.assertEqual(tar.extractfile(m).read(), files[m.name.split('/', 1)[1]])
        with gzip.open(archive) as g:
            g.read()    # the stream's own checks: its length and CRC


def chunks(png):
    """(type, data) of each chunk of a PNG, each CRC checked."""
    assert png[:8] == b'\x89PNG\r\n\x1a\n', 'no PNG signature'
    at, found = 8, []
    while at < len(png):
        length, kind = struct.unpack('>I4s', png[at:at + 8])
        data = png[at + 8:at + 8 + length]
        assert struct.unpack('>I', png[at + 8 + length:at + 12 + length])[0] == zlib.crc32(kind + data), kind
        found.append((kind.decode(), data))
        at += 12 + length
    return found


class Icons(unittest.TestCase):
    """The icons are valid PNG files whose deflate stream any inflater reads back, the same
    picture at every size, and the same bytes every time they are drawn."""
    node = None

    def draw(self, folder):
        subprocess.run([self.node, os.path.join(ROOT, 'web', 'make_icons.js'), folder, '16', '192', '512'], check=True)
        icons = {}
        for size in (16, 192, 512):
            with open(os.path.join(folder, f'icon-{size}.png'), 'rb') as f:
                icons[size] = f.read()
        return icons

    def pixels(self, png):
        found = chunks(png)
        self.assertEqual([kind for kind, _ in found], ['IHDR', 'PLTE', 'IDAT', 'IEND'])
        width, height, depth, colour = struct.unpack('>IIBB', found[0][1][:10])
        self.assertEqual((depth, colour), (1, 3), 'one bit a pixel, from the palette')
        self.assertEqual(found[1][1], bytes([0, 0, 0, 0x4a, 0xf6, 0x26]))
        raw = zlib.decompress(found[2][1])      # checks the stream's Adler-32 too
        row = 1 + (width + 7) // 8
        self.assertEqual(len(raw), height * row)
        self.assertEqual({raw[y * row] for y in range(height)}, {0}, 'a row filtered')
        return [[raw[y * row + 1 + x // 8] >> (7 - x % 8) & 1 for x in range(width)] for y in range(height)]

    def test_icons(self):
        with tempfile.TemporaryDirectory() as one, tempfile.TemporaryDirectory() as two:
            icons = self.draw(one)
            self.assertEqual(icons, self.draw(two), 'drawn twice, other bytes')
        grid = self.pixels(icons[16])
        self.assertEqual(sum(map(sum, grid)), 30, "the prompt's 30 cells of the 16 by 16 picture")
        for size in (192, 512):
            picture = self.pixels(icons[size])
            self.assertEqual(len(picture), size)
            scaled = [[picture[y * size // 16][x * size // 16] for x in range(16)] for y in range(16)]
            self.assertEqual(scaled, grid, f'icon-{size}.png is another picture')


if __name__ == '__main__':
    which = sys.argv[1]
    if which == 'Icons':
        Icons.node = sys.argv[2]
    unittest.main(argv=[sys.argv[0], which])
