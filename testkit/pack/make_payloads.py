#!/usr/bin/env python3
"""Writes the test payloads that a directory tree cannot give: damaged
archives, archives made on Windows, hostile names, a payload that is not a
ZIP. Each is later signed with packtool wrap --unchecked.

usage: make_payloads.py <output directory>
"""
import os
import struct
import sys
import zipfile
import zlib

# 2024-03-05 10:20:30, as a DOS date and time.
DATE_TIME = (2024, 3, 5, 10, 20, 30)
WINDOWS_ARCHIVE = 0x20
WINDOWS_READ_ONLY_HIDDEN = 0x23
WINDOWS_DIRECTORY = 0x10


def windows_entry(name, attributes=WINDOWS_ARCHIVE):
    info = zipfile.ZipInfo(name, DATE_TIME)
    info.create_system = 0  # MS-DOS: no Unix permission bits
    info.external_attr = attributes
    info.compress_type = zipfile.ZIP_STORED
    return info


def write_zip(path, entries):
    with zipfile.ZipFile(path, "w") as archive:
        for info, data in entries:
            archive.writestr(info, data)


def flip_crc(path, entry_index):
    """Flips one bit of an entry's CRC-32 in its local and central headers."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    with zipfile.ZipFile(path) as archive:
        info = archive.infolist()[entry_index]
    local = info.header_offset
    assert data[local:local + 4] == b"PK\x03\x04"
    crc_at = local + 14
    data[crc_at] ^= 0x01
    central = data.index(b"PK\x01\x02")
    for _ in range(entry_index):
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, central + 28)
        central += 46 + name_length + extra_length + comment_length
    data[central + 16] ^= 0x01
    with open(path, "wb") as f:
        f.write(data)


def deflated_without_end(path, entries, name, data):
    """Writes `entries` and then `name` as a DEFLATE entry whose stream
    gives every byte of `data` and never ends: no final block, CRC-32 and
    sizes those of `data`. Written stored, then relabelled."""
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    raw = compressor.compress(data) + compressor.flush(zlib.Z_SYNC_FLUSH)
    write_zip(path, entries + [(windows_entry(name), raw)])
    with open(path, "rb") as f:
        archive = bytearray(f.read())
    with zipfile.ZipFile(path) as z:
        local = z.infolist()[-1].header_offset
    central = archive.rindex(b"PK\x01\x02")
    for at, method_at, crc_at, size_at in ((local, 8, 14, 22), (central, 10, 16, 24)):
        struct.pack_into("<H", archive, at + method_at, 8)
        struct.pack_into("<I", archive, at + crc_at, zlib.crc32(data) & 0xFFFFFFFF)
        struct.pack_into("<I", archive, at + size_at, len(data))
    with open(path, "wb") as f:
        f.write(archive)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)

    first = b"first entry, written before the damaged one\n"
    second = b"second entry: its stored CRC-32 is wrong\n" * 40
    write_zip(os.path.join(out, "crc-second.zip"), [
        (windows_entry("first.txt"), first),
        (windows_entry("second.txt"), second),
        (windows_entry("third.txt"), b"never reached\n"),
    ])
    flip_crc(os.path.join(out, "crc-second.zip"), 1)

    write_zip(os.path.join(out, "windows-attributes.zip"), [
        (windows_entry("plain.txt"), b"plain\n"),
        (windows_entry("hidden.txt", WINDOWS_READ_ONLY_HIDDEN), b"read-only and hidden\n"),
    ])

    # Names that look odd but stay inside the staging directory.
    write_zip(os.path.join(out, "odd-safe-names.zip"), [
        (windows_entry("..hidden"), b"1\n"),
        (windows_entry("a..b.txt"), b"2\n"),
        (windows_entry("dots.in.name"), b"3\n"),
    ])

    unsafe = {
        "dotdot": "../escape-dotdot.txt",
        "dotdot-backslash": "..\\escape-dotdot-backslash.txt",
        "dotdot-inner": "inner/../../escape-inner.txt",
        "dotdot-blank": ".. /escape-dotdot-blank.txt",
        "absolute": "/escape-absolute.txt",
        "absolute-backslash": "\\escape-absolute-backslash.txt",
        "drive-relative": "C:escape-drive-relative.txt",
        "drive-root": "C:/escape-drive-root.txt",
        "stream": "before.txt:escape-stream",
        "dotdot-directory": "../escape-directory/",
        "device-com0": "COM0",
        "device-lpt0": "lpt0.log",
        "blank-level": "a /evil.txt",
        "dot-level": "b../dots.txt",
        "blank-directory": "c /made/",
        "trailing-dot": "trailing.",
        "char-less-than": "a<b.txt",
        "char-question": "what?.txt",
        "char-pipe": "pipe|.txt",
        "char-tab": "tab\t.txt",
        "char-control": "bell\x07.txt",
    }
    for case, name in sorted(unsafe.items()):
        attributes = WINDOWS_DIRECTORY if name.endswith("/") else WINDOWS_ARCHIVE
        write_zip(os.path.join(out, "unsafe-%s.zip" % case), [
            (windows_entry("before.txt"), b"written before the hostile entry\n"),
            (windows_entry(name, attributes), b"" if name.endswith("/") else b"escaped\n"),
            (windows_entry("after.txt"), b"never reached\n"),
        ])

    # Stored names the reader refuses whole: empty, one with a zero byte, and
    # one flagged as UTF-8 that is not (zipfile writes neither, so the bytes
    # are put in afterwards; it flags the name that is not ASCII).
    for case, name, stored in (("empty", "", b""), ("zero-byte", "abXd.txt", b"ab\0d.txt"),
                               ("utf8-invalid", "ab\u00ffd.txt", b"ab\xc3(d.txt")):
        path = os.path.join(out, "badname-%s.zip" % case)
        write_zip(path, [
            (windows_entry("before.txt"), b"written before the refused entry\n"),
            (windows_entry(name), b"never written\n"),
        ])
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data.replace(name.encode(), stored) if name else data)

    # Entries that cannot all have their own place: refused before anything
    # is written. A short-name shape or a level of 256 characters cannot be
    # told from another place until it is written; names flagged as UTF-8
    # are compared as decoded (zipfile flags a name that is not ASCII). And a
    # "." level, which names the level before it.
    conflicts = {
        "short-name-file": [("longname.txt", False), ("LONGNA~1.TXT", False)],
        "short-name-directory": [("Letterwing Update/", True), ("LETTER~1/", True),
                                 ("LETTER~1/x", False)],
        "long-component": [("c" * 256, False)],
        "utf8-case": [("\u00e9.txt", False), ("\u00c9.txt", False)],
        "case-duplicate": [("Case.txt", False), ("CASE.TXT", False)],
        "file-then-directory": [("clash", False), ("clash/", True)],
        "directory-then-file": [("clash/", True), ("clash", False)],
        "file-as-directory": [("f", False), ("f/sub/", True)],
        "no-directory": [("missing/x.txt", False)],
    }
    for case, names in sorted(conflicts.items()):
        write_zip(os.path.join(out, "set-%s.zip" % case),
                  [(windows_entry("before.txt"), b"never written\n")] +
                  [(windows_entry(name, WINDOWS_DIRECTORY if directory else WINDOWS_ARCHIVE),
                    b"" if directory else b"x\n") for name, directory in names])
    write_zip(os.path.join(out, "dot-level.zip"), [
        (windows_entry("L/", WINDOWS_DIRECTORY), b""),
        (windows_entry("L/./e.txt"), b"e\n"),
    ])
    deflated_without_end(os.path.join(out, "truncated-deflate.zip"),
                         [(windows_entry("before.txt"), b"before\n")], "cut.txt",
                         b"a stream that never ends\n" * 50)

    # The prepare tests that change the tree while a run works: a level
    # ("L/many") written into, left for another and reached again; and a
    # payload slow enough to unpack that a second run meets the first,
    # with its updater first and its package last.
    write_zip(os.path.join(out, "race.zip"), [
        (windows_entry("L/", WINDOWS_DIRECTORY), b""),
        (windows_entry("L/many/", WINDOWS_DIRECTORY), b""),
        (windows_entry("L/many/a.txt"), b"a\n"),
        (windows_entry("L/many/b.txt"), b"b\n"),
        (windows_entry("L/other/", WINDOWS_DIRECTORY), b""),
        (windows_entry("L/other/c.txt"), b"c\n"),
        (windows_entry("L/many/d.txt"), b"d\n"),
        (windows_entry("L/updater.exe"), b"MZ race\n"),
    ])
    slow = [(windows_entry("Letterwing Update/", WINDOWS_DIRECTORY), b""),
            (windows_entry("Letterwing Update/updater.exe"), b"MZ slow\n"),
            (windows_entry("bulk/", WINDOWS_DIRECTORY), b"")]
    slow += [(windows_entry("bulk/%04d" % i), b"x" * 512) for i in range(3000)]
    slow += [(windows_entry("Letterwing Update/letterwing.msi"), b"slow package\n")]
    write_zip(os.path.join(out, "slow.zip"), slow)

    with open(os.path.join(out, "not-a-zip.bin"), "wb") as f:
        f.write(b"This payload is signed but it is not a ZIP archive.\n" * 8)

    # Signed, empty: the reader finds no end record in it.
    open(os.path.join(out, "empty.bin"), "wb").close()

    with open(os.path.join(out, "payloads.txt"), "w") as f:
        for name in sorted(os.listdir(out)):
            if name.endswith(".zip") or name.endswith(".bin"):
                f.write(name + "\n")


if __name__ == "__main__":
    main()
