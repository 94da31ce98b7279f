#!/usr/bin/python3
"""Zips a folder so that the same files always give the same bytes: entries in name order, each
with the given time (seconds since 1970, UTC), fixed permissions and no extra fields.

usage: reproducible-zip.py ARCHIVE FOLDER EPOCH   (the folder's name is the entries' first part)
"""
import os
import sys
import time
import zipfile

archive, folder, epoch = sys.argv[1], sys.argv[2].rstrip("/"), int(sys.argv[3])
# A zip time is a local date from 1980 to 2107 without a zone; the UTC date of the epoch is used.
stamp = time.gmtime(max(epoch, 315532800))[:6]
root = os.path.dirname(folder)


def entry(path, is_dir):
    name = os.path.relpath(path, root).replace(os.sep, "/") + ("/" if is_dir else "")
    info = zipfile.ZipInfo(name, stamp)
    info.create_system = 3  # Unix, so that the modes below count
    if is_dir:
        info.external_attr = (0o40755 << 16) | 0x10
    else:
        mode = 0o755 if os.access(path, os.X_OK) else 0o644
        info.external_attr = (0o100000 | mode) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


with zipfile.ZipFile(archive + ".tmp", "w") as out:
    for top, dirs, files in os.walk(folder):
        dirs.sort()
        out.writestr(entry(top, True), b"")
        for name in sorted(files):
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                out.writestr(entry(path, False), f.read(), compresslevel=9)
os.replace(archive + ".tmp", archive)
