#!/usr/bin/env python3
"""Damaged inputs for the tests of prepare mode, made from the sample.

bad-signature <good.pack> <out.pack>
    A copy of the pack with one byte of its signature flipped.
damaged-payload <payload directory> <out.zip>
    The payload as a ZIP archive (stored entries, directories first) whose
    last file entry has one flipped byte, so that its CRC-32 no longer
    matches; the archive itself still opens.
"""
import os
import sys
import zipfile

HEADER_SIZE = 16


def flip(data, offset):
    data[offset] ^= 0xFF


def bad_signature(source, target):
    data = bytearray(open(source, "rb").read())
    flip(data, HEADER_SIZE + 10)
    open(target, "wb").write(data)


def damaged_payload(directory, target):
    with zipfile.ZipFile(target, "w", zipfile.ZIP_STORED) as archive:
        for root, dirs, files in os.walk(directory):
            dirs.sort()
            relative = os.path.relpath(root, directory)
            if relative != ".":
                archive.write(root, relative.replace(os.sep, "/") + "/")
            for name in sorted(files):
                path = os.path.join(root, name)
                archive.write(path, os.path.relpath(path, directory).replace(os.sep, "/"))
    with zipfile.ZipFile(target) as archive:
        last = [info for info in archive.infolist() if not info.is_dir()][-1]
    data = bytearray(open(target, "rb").read())
    name_length = int.from_bytes(data[last.header_offset + 26:last.header_offset + 28], "little")
    extra_length = int.from_bytes(data[last.header_offset + 28:last.header_offset + 30], "little")
    start = last.header_offset + 30 + name_length + extra_length
    flip(data, start + last.compress_size // 2)
    open(target, "wb").write(data)


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("bad-signature", "damaged-payload"):
        sys.stderr.write(__doc__)
        return 1
    if sys.argv[1] == "bad-signature":
        bad_signature(sys.argv[2], sys.argv[3])
    else:
        damaged_payload(sys.argv[2], sys.argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main())
