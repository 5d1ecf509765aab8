#!/usr/bin/env python3
"""Generates the two benchmark payload trees from a fixed seed.

app/    an application-like tree: about 300 MB in about 2,000 files in
        nested directories; one third incompressible, one third text-like,
        one third small files of 1-64 KB
large/  a few-large-files tree: about 600 MB in 4 files, mostly compressible

Both trees hold, under the sub-directory "app", the files install mode needs
beside the updater (given with --updater and --package), so that each pack
is a real update pack.
"""

import argparse
import os
import random
import shutil

WORDS = (b"update pack payload letter wing window install shortcut desktop start menu "
         b"registry value signature archive entry directory file stream buffer version "
         b"release engineer staging restart logon elevation installer property").split()


def text_block(rng, size):
    """Text-like bytes: words, lines and some repetition, compressing about 4:1."""
    out = bytearray()
    line = []
    while len(out) < size:
        line.append(rng.choice(WORDS))
        if len(line) > rng.randint(6, 14):
            out += b" ".join(line) + b"\n"
            if rng.random() < 0.2:
                out += b"    %d %d %d\n" % (rng.getrandbits(16), rng.getrandbits(20), len(out))
            line = []
    return bytes(out[:size])


def mostly_compressible(rng, size):
    """Long runs of structured data with some noise: compresses about 10:1."""
    pattern = text_block(rng, 1 << 16)
    chunks = []
    total = 0
    while total < size:
        piece = bytearray(pattern[rng.randrange(0, 1 << 15):][: 1 << 15])
        for _ in range(8):
            piece[rng.randrange(len(piece))] = rng.getrandbits(8)
        chunks.append(bytes(piece))
        total += len(piece)
        if rng.random() < 0.05:
            noise = rng.randbytes(4096)
            chunks.append(noise)
            total += len(noise)
    return b"".join(chunks)[:size]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_app_tree(root, rng, total_bytes, files):
    per_kind = files // 3
    small_total = 0
    small_sizes = [rng.randint(1024, 64 * 1024) for _ in range(per_kind)]
    small_total = sum(small_sizes)
    big_each = (total_bytes - small_total) // (2 * per_kind)
    directories = ["app"]
    for depth1 in range(12):
        d1 = "app/module%02d" % depth1
        directories.append(d1)
        for depth2 in range(rng.randint(1, 5)):
            d2 = "%s/part%d" % (d1, depth2)
            directories.append(d2)
            if rng.random() < 0.4:
                directories.append("%s/res%d" % (d2, depth2))
    for i in range(per_kind):
        size = max(1024, int(big_each * rng.uniform(0.3, 1.7)))
        write(os.path.join(root, rng.choice(directories), "blob%04d.bin" % i), rng.randbytes(size))
        size = max(1024, int(big_each * rng.uniform(0.3, 1.7)))
        write(os.path.join(root, rng.choice(directories), "text%04d.txt" % i), text_block(rng, size))
        write(os.path.join(root, rng.choice(directories), "small%04d.dat" % i),
              text_block(rng, small_sizes[i]) if i % 2 else rng.randbytes(small_sizes[i]))


def make_large_tree(root, rng, total_bytes):
    for i in range(4):
        write(os.path.join(root, "app", "data%d.pak" % i), mostly_compressible(rng, total_bytes // 4))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--updater", required=True)
    parser.add_argument("--package", required=True)
    parser.add_argument("--scale", type=float, default=1.0, help="fraction of the full sizes")
    args = parser.parse_args()
    for name in ("app", "large"):
        shutil.rmtree(os.path.join(args.out, name), ignore_errors=True)
    make_app_tree(os.path.join(args.out, "app"), random.Random(1), int(300e6 * args.scale), 2000)
    make_large_tree(os.path.join(args.out, "large"), random.Random(2), int(600e6 * args.scale))
    for name in ("app", "large"):
        shutil.copy(args.updater, os.path.join(args.out, name, "app", "updater.exe"))
        shutil.copy(args.package, os.path.join(args.out, name, "app", "letterwing.msi"))


if __name__ == "__main__":
    main()
