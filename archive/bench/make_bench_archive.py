#!/usr/bin/env python3
"""Writes a large ZIP archive for the read benchmark, the same every time.

usage: make_bench_archive.py <archive> [megabytes]

Many entries of mixed content from a fixed seed: log-like text, noise that
does not compress, long runs, and bytes from a small alphabet; most
deflated, some stored, with directory entries between them.
"""
import random
import sys
import zipfile


def text(rnd, size):
    words = ["update", "pack", "entry", "stream", "payload", "staging", "install", "error",
             "ok", "checksum", "directory", "registry", "value", "handle", "offset"]
    lines = []
    total = 0
    n = 0
    while total < size:
        line = "%08d %s %s=%d %s\n" % (n, rnd.choice(words), rnd.choice(words),
                                        rnd.randrange(100000), " ".join(rnd.choices(words, k=6)))
        lines.append(line)
        total += len(line)
        n += 1
    return "".join(lines).encode()[:size]


def noise(rnd, size):
    return rnd.randbytes(size)


def runs(rnd, size):
    out = bytearray()
    while len(out) < size:
        out += bytes([rnd.randrange(256)]) * rnd.randrange(1, 5000)
    return bytes(out[:size])


def small_alphabet(rnd, size):
    return bytes(rnd.choices(b"ACGT", k=size))


def main():
    path = sys.argv[1]
    target = (int(sys.argv[2]) if len(sys.argv) > 2 else 300) * 1000 * 1000
    rnd = random.Random(4242)
    kinds = [text, text, noise, runs, small_alphabet]
    total = 0
    index = 0
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        while total < target:
            if index % 50 == 0:
                z.writestr("dir%04d/" % (index // 50), b"")
            kind = rnd.choice(kinds)
            size = int(rnd.lognormvariate(11, 1.5)) % (4 << 20)
            data = kind(rnd, size)
            method = zipfile.ZIP_STORED if kind is noise and index % 2 else zipfile.ZIP_DEFLATED
            z.writestr("dir%04d/%s-%05d.bin" % (index // 50, kind.__name__, index), data,
                       compress_type=method)
            total += size
            index += 1
    print("%s: %d files, %.1f MB uncompressed" % (path, index, total / 1e6))


if __name__ == "__main__":
    main()
