#!/usr/bin/env python3
"""Makes the archives that the ZIP reader's tests read, with real tools.

usage: make_tool_archives.py <output directory>

A fixed tree (fixed contents, odd modification seconds, access times that
reading does not disturb) is archived by Info-ZIP's zip, Python's zipfile
and bsdtar in several ways: stored and deflated, with and without "UT"
blocks, with data descriptors, with a comment, behind a prefix. The manifest
lists, per archive in archive order, what each entry must give: its kind,
its content (a path in the tree), its Windows attributes and its write,
access and creation times as Unix seconds. The tools run with TZ=UTC, so a
DOS time taken at face value is the UTC time of the file.
"""
import io
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile

MTIME = 1700000001  # odd: a DOS time cannot hold it, a "UT" block can
ATIME = 1900000005  # in the future, so relatime leaves it alone when tools read

FILES = {
    "readme.txt": lambda rnd: "".join(
        "line %d of the readme, with some repeated words words words\n" % i
        for i in range(2500)).encode(),
    "data/noise.bin": lambda rnd: bytes(rnd.getrandbits(8) for _ in range(40000)),
    "data/zeros.bin": lambda rnd: bytes(70000),
    "data/empty.txt": lambda rnd: b"",
    "data/deep/nested/note.txt": lambda rnd: b"a note deep down\r\n",
    "locked.txt": lambda rnd: b"read-only in the tree\n",
    "with space.txt": lambda rnd: b"a name with a space\n",
}
DIRECTORIES = ["data", "data/deep", "data/deep/nested"]
READ_ONLY = {"locked.txt"}
TOP_LEVEL = ["readme.txt", "data", "locked.txt", "with space.txt"]


def make_tree(tree):
    rnd = random.Random(20240601)
    for name in sorted(FILES):
        path = os.path.join(tree, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(FILES[name](rnd))
    for i, name in enumerate(sorted(FILES) + DIRECTORIES[::-1]):
        path = os.path.join(tree, name)
        os.utime(path, (ATIME + 2 * i, MTIME + 2 * i))
        if name in READ_ONLY:
            os.chmod(path, 0o444)


def dos_seconds(t, round_up):
    # A DOS time has two-second steps.
    return t + 1 if round_up and t % 2 else t - t % 2


def run(args, cwd, **kwargs):
    subprocess.run(args, cwd=cwd, check=True, env=dict(os.environ, TZ="UTC"), **kwargs)


def attributes_for(st, windows_external=None):
    if windows_external is not None:
        a = windows_external
    else:
        a = (st.st_mode & 0xFFFF) << 16
    result = 0x80
    if a & 0x40000000 or a & 0x10:
        result |= 0x10
    if a & 0x20:
        result |= 0x20
    if a & 0x02:
        result |= 0x02
    if not a & 0x00800000 or a & 0x01:
        result |= 0x01
    if a & 0x04:
        result |= 0x04
    return result


def describe(archive, tree, times, prefix=0, windows_attrs=None):
    """Manifest lines for an archive, in its own order. `times` maps a stat
    result to (write, access, creation)."""
    lines = ["archive\t%s\t%d" % (os.path.basename(archive), prefix)]
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            name = info.filename
            rel = name[2:] if name.startswith("./") else name
            rel = rel.rstrip("/")
            st = os.stat(os.path.join(tree, rel))
            is_dir = name.endswith("/")
            external = windows_attrs.get(rel) if windows_attrs else None
            attributes = attributes_for(st, external)
            write, access, creation = times(st)
            lines.append("entry\t%s\t%s\t%s\t%08X\t%d\t%d\t%d\t%d" % (
                name, "dir" if is_dir else "file", "-" if is_dir else rel, attributes,
                write, access, creation, info.compress_type))
    return lines


def main():
    out = os.path.abspath(sys.argv[1])
    shutil.rmtree(out, ignore_errors=True)
    tree = os.path.join(out, "tree")
    os.makedirs(tree)
    make_tree(tree)
    os.environ["TZ"] = "UTC"
    time.tzset()
    manifest = []

    def mtime(st):
        return int(st.st_mtime)

    def infozip_times(st):  # local "UT": modification and access
        return mtime(st), int(st.st_atime), dos_seconds(mtime(st), True)

    def infozip_dos(st):
        t = dos_seconds(mtime(st), True)
        return t, t, t

    def python_dos(st):
        t = dos_seconds(mtime(st), False)
        return t, t, t

    def bsdtar_times(st):  # local "UT": modification, access and change
        return mtime(st), int(st.st_atime), int(st.st_ctime)

    def archive(name):
        return os.path.join(out, name)

    run(["zip", "-q", "-r", archive("infozip-deflated.zip")] + TOP_LEVEL, tree)
    manifest += describe(archive("infozip-deflated.zip"), tree, infozip_times)

    run(["zip", "-q", "-r", "-0", "-X", archive("infozip-stored-no-ut.zip")] + TOP_LEVEL, tree)
    manifest += describe(archive("infozip-stored-no-ut.zip"), tree, infozip_dos)

    # Written to a pipe, zip cannot seek back: every entry gets a data
    # descriptor.
    with open(archive("infozip-descriptor.zip"), "wb") as f:
        run(["sh", "-c", "zip -q -r - \"$@\" | cat", "zip"] + TOP_LEVEL, tree, stdout=f)
    manifest += describe(archive("infozip-descriptor.zip"), tree, infozip_times)

    shutil.copy(archive("infozip-deflated.zip"), archive("infozip-comment.zip"))
    run(["zip", "-q", "-z", archive("infozip-comment.zip")], tree,
        input=b"An archive comment that mentions PK and runs on.\n" * 20)
    manifest += describe(archive("infozip-comment.zip"), tree, infozip_times)

    stub = b"MZ" + bytes(random.Random(5).getrandbits(8) for _ in range(3070))
    with open(archive("infozip-prefixed.zip"), "wb") as f:
        f.write(stub)
        with open(archive("infozip-deflated.zip"), "rb") as z:
            f.write(z.read())
    manifest += describe(archive("infozip-prefixed.zip"), tree, infozip_times, prefix=len(stub))

    names = []
    for top in TOP_LEVEL:
        names.append(top)
        for root, dirs, files in os.walk(os.path.join(tree, top)):
            dirs.sort()
            for d in dirs:
                names.append(os.path.relpath(os.path.join(root, d), tree))
            for f in sorted(files):
                names.append(os.path.relpath(os.path.join(root, f), tree))

    with zipfile.ZipFile(archive("python-deflated.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for n in names:
            z.write(os.path.join(tree, n), n)
    manifest += describe(archive("python-deflated.zip"), tree, python_dos)

    class Unseekable(io.RawIOBase):
        def __init__(self, f):
            self.f = f

        def writable(self):
            return True

        def write(self, b):
            return self.f.write(b)

    with open(archive("python-stored-descriptor.zip"), "wb") as raw:
        with zipfile.ZipFile(Unseekable(raw), "w", zipfile.ZIP_STORED) as z:
            for n in names:
                if not os.path.isdir(os.path.join(tree, n)):
                    z.write(os.path.join(tree, n), n)
    manifest += describe(archive("python-stored-descriptor.zip"), tree, python_dos)

    # As an archiver on Windows writes them: MS-DOS attributes, no Unix bits.
    windows = {"readme.txt": 0x20, "locked.txt": 0x21, "with space.txt": 0x22, "data": 0x10}
    with zipfile.ZipFile(archive("python-windows.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for n in ["data"] + [n for n in windows if n != "data"]:
            st = os.stat(os.path.join(tree, n))
            info = zipfile.ZipInfo(n + "/" if n == "data" else n,
                                   time.gmtime(st.st_mtime)[:6])
            info.create_system = 0
            info.external_attr = windows[n]
            if n == "data":
                z.writestr(info, b"")
            else:
                with open(os.path.join(tree, n), "rb") as f:
                    z.writestr(info, f.read(), zipfile.ZIP_DEFLATED)
    manifest += describe(archive("python-windows.zip"), tree, python_dos, windows_attrs=windows)

    run(["bsdtar", "--format", "zip", "-cf", archive("bsdtar-deflated.zip")] + TOP_LEVEL, tree)
    manifest += describe(archive("bsdtar-deflated.zip"), tree, bsdtar_times)

    run(["bsdtar", "--format", "zip", "--options", "zip:compression=store", "-cf",
         archive("bsdtar-stored.zip")] + TOP_LEVEL, tree)
    manifest += describe(archive("bsdtar-stored.zip"), tree, bsdtar_times)

    with open(os.path.join(out, "manifest.txt"), "w", newline="\n") as f:
        f.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
