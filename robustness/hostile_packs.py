#!/usr/bin/env python3
"""Generates a corpus of hostile and damaged update packs, with the outcome
each one must have when updater.exe prepares it.

Every pack is made from a fixed seed. Unless a case is about the signature,
its payload is signed with the given private key, so that the damage reaches
the archive reader. The expected outcome of each pack comes from a small,
independent model of what a complete unpack means (the central directory,
the local headers, the data and its CRC), not from the program itself.

manifest.tsv, one line per pack:
    case  pack-file  expectation  tree
expectation is one of
    unpack   the program must report 0 and leave exactly `tree`
    refuse   the program must report 141 (no RunOnce value, pack kept)
    either   0 with exactly `tree`, or 141 (the outcome depends on the
             platform, e.g. on how it treats paths past MAX_PATH)
tree lists "path/" for directories and "path:size:crc32hex" for files,
separated by "|", sorted, with "/" separators, relative to the staging
directory.
"""

import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

DOS_TIME = (3 << 11) | (4 << 5) | (6 // 2)
DOS_DATE = ((2024 - 1980) << 9) | (1 << 5) | 2
UNIX_FILE = 0x81A40000  # regular file, mode 644: no read-only bit
UNIX_DIR = 0x41ED0010   # directory, mode 755, plus the MS-DOS directory bit


class Entry:
    def __init__(self, name, data=b"", method=8, directory=False, external=None, raw=None):
        self.name = name if isinstance(name, bytes) else name.encode("ascii")
        self.data = data
        self.method = 0 if directory else method
        self.directory = directory
        self.external = external if external is not None else (UNIX_DIR if directory else UNIX_FILE)
        self.raw = raw  # stored as the compressed bytes instead of the data's own


def deflate(data):
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def build_zip(entries, comment=b"", prefix=b"", tweak=None):
    """Writes a ZIP archive. `tweak(kind, index, fields)` may change the
    fields of a local header ("local"), a central record ("central") or the
    end record ("end") before they are packed. Returns the bytes and the
    offsets of every structure."""
    out = bytearray(prefix)
    layout = {"local": [], "data": [], "central": [], "end": None}
    records = []
    for index, entry in enumerate(entries):
        stored = entry.raw if entry.raw is not None else (
            entry.data if entry.method == 0 else deflate(entry.data))
        fields = {
            "signature": 0x04034B50, "version": 20, "flags": 0, "method": entry.method,
            "time": DOS_TIME, "date": DOS_DATE, "crc": zlib.crc32(entry.data) & 0xFFFFFFFF,
            "csize": len(stored), "usize": len(entry.data), "name": entry.name, "extra": b"",
            "namelen": None, "extralen": None,
        }
        if tweak:
            tweak("local", index, fields)
        offset = len(out) - len(prefix)
        layout["local"].append(len(out))
        out += struct.pack("<IHHHHHIIIHH", fields["signature"], fields["version"], fields["flags"],
                           fields["method"], fields["time"], fields["date"], fields["crc"],
                           fields["csize"], fields["usize"],
                           len(fields["name"]) if fields["namelen"] is None else fields["namelen"],
                           len(fields["extra"]) if fields["extralen"] is None else fields["extralen"])
        out += fields["name"] + fields["extra"]
        layout["data"].append(len(out))
        out += fields.get("stored", stored)
        records.append((entry, stored, offset))
    central_start = len(out)
    for index, (entry, stored, offset) in enumerate(records):
        fields = {
            "signature": 0x02014B50, "made": 0x031E, "version": 20, "flags": 0,
            "method": entry.method, "time": DOS_TIME, "date": DOS_DATE,
            "crc": zlib.crc32(entry.data) & 0xFFFFFFFF, "csize": len(stored),
            "usize": len(entry.data), "name": entry.name, "extra": b"", "comment": b"",
            "disk": 0, "internal": 0, "external": entry.external, "offset": offset,
            "namelen": None,
        }
        if tweak:
            tweak("central", index, fields)
        layout["central"].append(len(out))
        out += struct.pack("<IHHHHHHIIIHHHHHII", fields["signature"], fields["made"],
                           fields["version"], fields["flags"], fields["method"], fields["time"],
                           fields["date"], fields["crc"], fields["csize"], fields["usize"],
                           len(fields["name"]) if fields["namelen"] is None else fields["namelen"],
                           len(fields["extra"]), len(fields["comment"]), fields["disk"],
                           fields["internal"], fields["external"], fields["offset"])
        out += fields["name"] + fields["extra"] + fields["comment"]
    central_size = len(out) - central_start
    fields = {"signature": 0x06054B50, "disk": 0, "cddisk": 0, "count": len(entries),
              "total": len(entries), "cdsize": central_size,
              "cdoffset": central_start - len(prefix), "comment": comment}
    if tweak:
        tweak("end", 0, fields)
    layout["end"] = len(out)
    out += struct.pack("<IHHHHIIH", fields["signature"], fields["disk"], fields["cddisk"],
                       fields["count"], fields["total"], fields["cdsize"], fields["cdoffset"],
                       len(fields["comment"]))
    out += fields["comment"]
    return bytes(out), layout


class Refused(Exception):
    pass


# The file prepare mode schedules, relative to the staging directory.
STAGED_UPDATER = "app/updater.exe"


def unsafe_name(name):
    """Names that would lead out of the staging directory, name a device or
    hold a character Windows cannot store."""
    text = name.decode("latin-1")
    if ":" in text or text.startswith("/") or text.startswith("\\"):
        return True
    if any(ord(c) < 0x20 or c in '<>"|?*' for c in text):
        return True
    parts = text.replace("\\", "/").split("/")
    if any(part.strip(". ") == "" and ".." in part for part in parts):
        return True
    devices = {"CON", "PRN", "AUX", "NUL"} | {"COM%d" % i for i in range(10)} | {"LPT%d" % i for i in range(10)}
    return any(part.split(".")[0].rstrip(" ").upper() in devices for part in parts)


def model_unpack(payload):
    """What a complete unpack of `payload` leaves in the staging directory,
    or Refused when no complete unpack is possible. Fields read past the end
    of the payload read as zero, as in the program."""

    def u(offset, size):
        raw = payload[offset:offset + size] if 0 <= offset <= len(payload) else b""
        raw = raw + b"\0" * (size - len(raw))
        return int.from_bytes(raw, "little")

    size = len(payload)
    search = min(size, 65535)
    position = 0
    for candidate in range(size - 4, size - search - 1, -1):
        if candidate >= 0 and payload[candidate:candidate + 4] == b"PK\x05\x06":
            position = candidate
            break
    if position == 0:
        raise Refused("no end record")
    if position + 22 > size:
        raise Refused("end record cut short")
    disk, cddisk, count, total = u(position + 4, 2), u(position + 6, 2), u(position + 8, 2), u(position + 10, 2)
    cdsize, cdoffset = u(position + 12, 4), u(position + 16, 4)
    if total != count or disk or cddisk:
        raise Refused("multi-disk")
    if position < cdoffset + cdsize:
        raise Refused("central directory past the end record")
    before = position - cdsize - cdoffset
    tree = {}
    directories = {""}
    files = set()  # the places of the files, case folded
    entries = []
    cursor = cdoffset
    for _ in range(count):
        at = before + cursor
        if u(at, 4) != 0x02014B50:
            raise Refused("central signature")
        flags, method = u(at + 8, 2), u(at + 10, 2)
        crc, csize, usize = u(at + 16, 4), u(at + 20, 4), u(at + 24, 4)
        namelen, extralen, commentlen = u(at + 28, 2), u(at + 30, 2), u(at + 32, 2)
        external, local = u(at + 38, 4), u(at + 42, 4)
        name = payload[at + 46:at + 46 + min(namelen, 260)]
        if len(name) < min(namelen, 260) or b"\0" in name:
            raise Refused("name cut short")
        if len(name) >= 259:
            raise Refused("name too long")
        lat = before + local
        if u(lat, 4) != 0x04034B50:
            raise Refused("local signature")
        lflags, lmethod = u(lat + 6, 2), u(lat + 8, 2)
        if lmethod != method or method not in (0, 8):
            raise Refused("method")
        if not (lflags & 8) and (u(lat + 14, 4), u(lat + 18, 4), u(lat + 22, 4)) != (crc, csize, usize):
            raise Refused("local sizes")
        if u(lat + 26, 2) != namelen:
            raise Refused("local name length")
        lextra = u(lat + 28, 2)
        if lat + 30 + namelen + lextra > size:
            raise Refused("extra field")
        text = name.decode("latin-1")
        if any(ord(c) > 127 for c in text):
            raise Refused("non-ASCII name (outcome depends on the code page)")
        if unsafe_name(name):
            raise Refused("unsafe name")
        is_dir = bool(external & 0x40000010)
        # Every entry is judged, names and places, before any is written.
        parts = [p for p in text.replace("\\", "/").split("/") if p and p != "."]
        folded = [p.lower() for p in parts]
        for i in range(1, len(parts)):
            if "/".join(folded[:i]) in files:
                raise Refused("a level is a file")
        key = "/".join(folded)
        if is_dir:
            if key in files:
                raise Refused("a file and a directory at one place")
            for i in range(1, len(parts) + 1):
                directories.add("/".join(folded[:i]))
                tree["/".join(parts[:i]) + "/"] = None
        else:
            if not parts or key in directories or text.replace("\\", "/").endswith("/"):
                raise Refused("a file and a directory at one place")
            if key in files:
                raise Refused("two files at one place")
            if "/".join(folded[:-1]) not in directories:
                raise Refused("parent directory missing")
            files.add(key)
            entries.append((lat, namelen, method, crc, csize, usize, "/".join(parts)))
        cursor += 46 + namelen + extralen + commentlen
    # Then the data of every file.
    for lat, namelen, method, crc, csize, usize, path in entries:
        start = lat + 30 + namelen + u(lat + 28, 2)
        data = payload[start:start + csize]
        if len(data) < csize:
            raise Refused("data cut short")
        if method == 0:
            if csize < usize:
                raise Refused("stored data shorter than its size")
            out = data[:usize]
        else:
            d = zlib.decompressobj(-15)
            try:
                out = d.decompress(data, usize)
                # The stream must end right at the stated size, giving no
                # byte more.
                if len(out) == usize and not d.eof and d.decompress(d.unconsumed_tail, 1):
                    raise Refused("the stream gives more than its stated size")
            except zlib.error:
                raise Refused("inflate error")
            if len(out) < usize:
                raise Refused("inflate ended early")
            if not d.eof:
                raise Refused("the stream does not end at its stated size")
        if zlib.crc32(out) & 0xFFFFFFFF != crc:
            raise Refused("crc")
        tree[path] = out
    # The updater that would be scheduled must be among the files unpacked.
    files = {path.lower() for path, data in tree.items() if data is not None}
    if STAGED_UPDATER.lower() not in files:
        raise Refused("no staged updater")
    return tree


def describe(tree):
    items = []
    for path, data in tree.items():
        if data is None:
            items.append(path)
        else:
            items.append("%s:%d:%08x" % (path, len(data), zlib.crc32(data) & 0xFFFFFFFF))
    return "|".join(sorted(items))


def sign(payload, key):
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(payload)
        name = f.name
    try:
        signature = subprocess.run(["openssl", "dgst", "-sha1", "-sign", key, name],
                                   check=True, stdout=subprocess.PIPE).stdout
    finally:
        os.unlink(name)
    return signature[::-1]  # stored least significant byte first


def pack_bytes(payload, signature, version=0, reserved=0, length=None):
    header = struct.pack("<4sIII", b"CVPK", version, reserved,
                         len(signature) if length is None else length)
    return header + signature + payload


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--key", required=True, help="private key (PEM) that signs the payloads")
    parser.add_argument("--out", required=True, help="directory for the packs and manifest.tsv")
    parser.add_argument("--sub", default="app", help="sub-directory of the sample tree")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(20261208)
    sub = args.sub
    global STAGED_UPDATER
    STAGED_UPDATER = sub + "/updater.exe"
    lines = []

    def emit(case, data, expectation, tree=None):
        file_name = "%03d-%s.pack" % (len(lines), case)
        with open(os.path.join(args.out, file_name), "wb") as f:
            f.write(data)
        lines.append("\t".join([case, file_name, expectation, describe(tree) if tree else ""]))

    def judged(case, payload, signature=None, **header):
        """A pack whose outcome the model decides."""
        signature = sign(payload, args.key) if signature is None else signature
        try:
            tree = model_unpack(payload)
            emit(case, pack_bytes(payload, signature, **header), "unpack", tree)
        except Refused:
            emit(case, pack_bytes(payload, signature, **header), "refuse")

    binary = bytes(rng.getrandbits(8) for _ in range(3000))
    text = ("\n".join("line %d of the release notes: %s" % (i, "abc" * (i % 7))
                      for i in range(200))).encode()
    base_entries = [
        Entry(sub + "/", directory=True),
        Entry(sub + "/updater.exe", binary, method=8),
        Entry(sub + "/letterwing.msi", text, method=8),
        Entry("readme.txt", b"read me\r\n", method=0),
        Entry(sub + "/empty.dat", b"", method=0),
    ]
    base, layout = build_zip(base_entries)
    base_signature = sign(base, args.key)
    base_pack = pack_bytes(base, base_signature)

    judged("baseline", base, base_signature)
    judged("reserved-any", base, base_signature, reserved=0xDEADBEEF)

    # Truncations of the signed pack at every structural boundary: the
    # payload no longer matches its signature.
    points = sorted({0, 1, 4, 8, 12, 15, 16, 17, 16 + 128, 271, 272, 273, len(base_pack) - 1,
                     *(272 + p for p in layout["local"]), *(272 + p + 30 for p in layout["local"]),
                     *(272 + p for p in layout["data"]), *(272 + p for p in layout["central"]),
                     272 + layout["end"], 272 + layout["end"] + 10})
    for point in points:
        if point < len(base_pack):
            emit("pack-cut-%d" % point, base_pack[:point], "refuse")

    # Truncations of the payload, signed again: damage the reader must find.
    for point in sorted({1, 4, 30, *layout["local"], *layout["data"], *layout["central"],
                         layout["end"], layout["end"] + 4, layout["end"] + 21}):
        judged("payload-cut-%d" % point, base[:point])

    # Single-bit flips in the header (first and last bit of each byte).
    for byte in range(16):
        for bit in (0, 7):
            damaged = bytearray(base_pack)
            damaged[byte] ^= 1 << bit
            expectation = "unpack" if 8 <= byte < 12 else "refuse"
            emit("header-flip-%d-%d" % (byte, bit), bytes(damaged), expectation,
                 model_unpack(base) if expectation == "unpack" else None)

    # Single-bit flips in the signature.
    for byte in (0, 1, 64, 128, 200, 254, 255):
        damaged = bytearray(base_pack)
        damaged[16 + byte] ^= 1 << (byte % 8)
        emit("signature-flip-%d" % byte, bytes(damaged), "refuse")
    emit("signature-msb-first", pack_bytes(base, base_signature[::-1]), "refuse")
    emit("signature-missing", pack_bytes(base, b""), "refuse")
    emit("signature-length-past-end", pack_bytes(base, base_signature, length=len(base) + 257), "refuse")
    emit("signature-length-wraps", pack_bytes(base, base_signature, length=0xFFFFFFF8), "refuse")
    emit("version-1", pack_bytes(base, base_signature, version=1), "refuse")

    # Single-bit flips in the payload's structures, signed again.
    def flips(name, start, length, step=1):
        for offset in range(start, start + length, step):
            damaged = bytearray(base)
            bit = (offset * 5) % 8
            damaged[offset] ^= 1 << bit
            judged("%s-flip-%d" % (name, offset), bytes(damaged))

    for index, start in enumerate(layout["local"][:3]):
        flips("local%d" % index, start, 30, 1)
    for index, start in enumerate(layout["central"][:2]):
        flips("central%d" % index, start, 46, 2)
    flips("end", layout["end"], 22, 1)
    flips("data1", layout["data"][1], 40, 8)

    # Declared sizes far larger than the data: a bomb by declared size.
    def bomb(kind, index, fields):
        if index == 1 and kind in ("local", "central"):
            fields["usize"] = 0xFFFFFF00
    judged("bomb-declared-size", build_zip(base_entries, tweak=bomb)[0])
    zeros = Entry(sub + "/zeros.bin", b"\0" * (8 << 20), method=8)
    updater = Entry(sub + "/updater.exe", binary, method=8)
    judged("bomb-real-8mib", build_zip([Entry(sub + "/", directory=True), updater, zeros])[0])
    def big_csize(kind, index, fields):
        if index == 1 and kind in ("local", "central"):
            fields["csize"] = 0x7FFFFFF0
    judged("compressed-size-past-end", build_zip(base_entries, tweak=big_csize)[0])

    # Duplicate names, names that differ only in case, a file and a
    # directory at one place, a level that is a file, a "." level, and
    # overlapping entries.
    judged("duplicate-names", build_zip(base_entries + [Entry("readme.txt", b"second", method=8)])[0])
    judged("case-duplicate-updater",
           build_zip(base_entries + [Entry(sub.upper() + "/UPDATER.EXE", b"not a program")])[0])
    judged("file-then-directory", build_zip(base_entries + [Entry("readme.txt/", directory=True)])[0])
    judged("directory-then-file", build_zip(base_entries + [Entry("clash/", directory=True),
                                                              Entry("CLASH", b"x")])[0])
    judged("file-as-directory", build_zip(base_entries + [Entry("readme.txt/inner.txt", b"x")])[0])
    judged("dot-level", build_zip(base_entries + [Entry(sub + "/./dot.txt", b"dot")])[0])
    def overlap(kind, index, fields):
        if kind == "central" and index == 2:
            fields["offset"] = 0
    judged("overlapping-entries", build_zip(base_entries, tweak=overlap)[0])

    # Names that lead out of the staging directory.
    for case, name in [("dotdot", "../escape-dotdot.txt"),
                       ("dotdot-backslash", "..\\escape-dotdot-backslash.txt"),
                       ("dotdot-inner", sub + "/../../escape-inner.txt"),
                       ("absolute-slash", "/escape-absolute.txt"),
                       ("absolute-backslash", "\\escape-absolute-backslash.txt"),
                       ("drive-letter", "C:/escape-drive.txt"),
                       ("drive-relative", "C:escape-drive-relative.txt"),
                       ("stream", "readme.txt:escape-stream"),
                       ("dotdot-directory", "../escape-directory/"),
                       ("dots-and-blank", ".. /escape-dots-blank.txt"),
                       ("device-nul", sub + "/nul.txt"),
                       ("device-com1", "COM1"),
                       ("device-com0", "com0.txt"),
                       ("device-lpt0", sub + "/LPT0"),
                       ("device-com-superscript-1", b"COM\xb9"),
                       ("device-lpt-superscript-3", b"lpt\xb3.log"),
                       ("char-question", sub + "/what?.txt"),
                       ("char-star", "star*.txt"),
                       ("char-control", "bell\x07.txt")]:
        directory = (name if isinstance(name, str) else name.decode("latin-1")).endswith("/")
        entries = base_entries + [Entry(name, b"escaped", method=8, directory=directory)]
        judged("name-" + case, build_zip(entries)[0])

    # Long names.
    # Staging directory plus a 258-byte name passes MAX_PATH: whether the
    # platform creates such a file is its own affair.
    for length in (200, 258, 259, 260, 300):
        name = (sub + "/" + "n" * length)[:length]
        payload = build_zip(base_entries + [Entry(name, b"long", method=0)])[0]
        if length == 258:
            emit("name-258-bytes", pack_bytes(payload, sign(payload, args.key)), "either",
                 model_unpack(payload))
        else:
            judged("name-%d-bytes" % length, payload)

    # A directory entry without the directory bit, and a file under a
    # directory that has no entry of its own.
    judged("directory-without-bit", build_zip(base_entries + [Entry("plain/", b"", method=0)])[0])
    judged("file-before-its-directory", build_zip([Entry("late/x.txt", b"x"), Entry("late/", directory=True)])[0])

    # Deeply nested trees, past MAX_PATH from the staging directory.
    nested = []
    path = ""
    for level in range(30):
        path += "level%02d/" % level
        nested.append(Entry(path, directory=True))
    nested.append(Entry(path + "deep.txt", b"deep", method=8))
    payload = build_zip(nested)[0]
    try:
        emit("nested-past-max-path", pack_bytes(payload, sign(payload, args.key)), "either",
             model_unpack(payload))
    except Refused:
        judged("nested-past-max-path", payload)

    # Not a ZIP at all, and nothing at all.
    judged("not-a-zip", bytes(rng.getrandbits(8) for _ in range(5000)))
    judged("zero-length-payload", b"")
    judged("empty-end-record-only", build_zip([])[0])
    judged("empty-archive-with-prefix", build_zip([], prefix=b"stub")[0])
    judged("multi-disk", build_zip(base_entries, tweak=lambda k, i, f: f.update(disk=1) if k == "end" else None)[0])
    judged("method-12", build_zip(base_entries, tweak=lambda k, i, f: f.update(method=12) if i == 1 and k in ("local", "central") else None)[0])
    judged("crc-mismatch", build_zip(base_entries, tweak=lambda k, i, f: f.update(crc=f["crc"] ^ 1) if i == 2 and k in ("local", "central") else None)[0])
    # DEFLATE streams that do not end at the stated size, CRC-32 and sizes
    # those of the data: one cut before its final block, one with more.
    flushed = zlib.compressobj(6, zlib.DEFLATED, -15)
    without_end = flushed.compress(text) + flushed.flush(zlib.Z_SYNC_FLUSH)
    judged("deflate-without-end",
           build_zip(base_entries + [Entry(sub + "/notes.txt", text, raw=without_end)])[0])
    judged("deflate-with-more",
           build_zip(base_entries + [Entry(sub + "/notes.txt", text, raw=deflate(text + b"more"))])[0])
    judged("prefix-before-archive", build_zip(base_entries, prefix=b"MZ" + b"\0" * 998)[0])
    judged("comment-with-signature", build_zip(base_entries, comment=b"PK\x05\x06 not a record")[0])

    # 65,535 entries: every one a small file in one of 64 directories.
    many = [Entry(sub + "/", directory=True), updater] + [Entry("m%02d/" % d, directory=True) for d in range(64)]
    while len(many) < 65535:
        i = len(many)
        many.append(Entry("m%02d/%05d" % (i % 64, i), b"", method=0))
    judged("entries-65535", build_zip(many)[0])

    # Sound packs larger than the small drive of the fault tests, and large
    # enough that a reader spends a while on them.
    for case, size in (("large-4mib", 4 << 20), ("large-32mib", 32 << 20)):
        entries = [Entry(sub + "/", directory=True), updater,
                   Entry(sub + "/big.bin", rng.randbytes(size), method=0)]
        judged(case, build_zip(entries)[0])

    # The 32 MiB pack as an archiver on Windows makes it: every file entry
    # read-only, which a file left by a killed prepare must not keep.
    def made_on_windows(kind, index, fields):
        if kind == "central":
            fields["made"] = 0x0014
            fields["external"] = 0x10 if index == 0 else 0x21
    judged("large-32mib-made-on-windows", build_zip(entries, tweak=made_on_windows)[0])

    with open(os.path.join(args.out, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("%d packs written to %s" % (len(lines), args.out))


if __name__ == "__main__":
    sys.exit(main())
