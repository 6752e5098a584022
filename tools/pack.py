#!/usr/bin/python3
"""Packs a folder into a zip or a tar.gz whose bytes depend on the files' contents alone.

usage: pack.py ARCHIVE FOLDER [--top NAME]
  ARCHIVE   NAME.zip or NAME.tar.gz
  FOLDER    what goes in: every file below it, at the archive's top (or in NAME/ with --top)

Every entry has the time of SOURCE_DATE_EPOCH (seconds, as the release takes it from the commit),
no owner (0, no name), the mode 755 for folders and for files that anyone may run and 644 for the
rest, in the order of the paths' bytes; the zip has no extra fields and the gzip stream no name
and no time. So the same files make the same archive on any machine, for any user and umask.
"""
import argparse
import gzip
import io
import os
import stat
import tarfile
import time
import zipfile


def entries(folder):
    """(path in the archive, path on disk) of every folder and file below `folder`, sorted."""
    found = []
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            found.append((os.path.relpath(path, folder).replace(os.sep, '/'), path))
    return sorted(found, key=lambda entry: entry[0].encode())


def mode(path):
    return 0o755 if os.path.isdir(path) or os.stat(path).st_mode & 0o111 else 0o644


def pack_zip(archive, folder, top, epoch):
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(archive, 'w') as z:
        for name, path in entries(folder):
            if os.path.isdir(path):
                continue    # unzip makes the folders a file's path names
            info = zipfile.ZipInfo(top + name, date_time=stamp)
            info.create_system = 3          # Unix, so that the mode below counts
            info.external_attr = (stat.S_IFREG | mode(path)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, 'rb') as f:
                z.writestr(info, f.read(), compresslevel=9)


def pack_tar_gz(archive, folder, top, epoch):
    def entry(name, path):
        info = tarfile.TarInfo(name)
        info.mtime, info.mode = epoch, mode(path)
        info.uid = info.gid = 0
        info.uname = info.gname = ''
        if os.path.isdir(path):
            info.type = tarfile.DIRTYPE
            return info, None
        info.size = os.path.getsize(path)
        return info, path

    data = io.BytesIO()
    with tarfile.open(fileobj=data, mode='w', format=tarfile.GNU_FORMAT) as tar:
        listed = ([(top.rstrip('/'), folder)] if top else []) + [(top + n, p) for n, p in entries(folder)]
        for name, path in listed:
            info, content = entry(name, path)
            if content:
                with open(content, 'rb') as f:
                    tar.addfile(info, f)
            else:
                tar.addfile(info)
    with open(archive, 'wb') as out, gzip.GzipFile(filename='', mode='wb', fileobj=out, compresslevel=9,
                                                     mtime=0) as z:
        z.write(data.getvalue())


def main():
    args = argparse.ArgumentParser()
    args.add_argument('archive')
    args.add_argument('folder')
    args.add_argument('--top', default='')
    opts = args.parse_args()
    epoch = os.environ.get('SOURCE_DATE_EPOCH')
    if not epoch or not epoch.isdigit():
        raise SystemExit('pack.py: SOURCE_DATE_EPOCH must give the time of the files, in seconds')
    top = opts.top.strip('/') + '/' if opts.top else ''
    if opts.archive.endswith('.zip'):
        pack_zip(opts.archive, opts.folder, top, int(epoch))
    elif opts.archive.endswith('.tar.gz'):
        pack_tar_gz(opts.archive, opts.folder, top, int(epoch))
    else:
        raise SystemExit(f'pack.py: {opts.archive}: neither .zip nor .tar.gz')


if __name__ == '__main__':
    main()
