#!/usr/bin/env python3
"""The floor under prepare mode for one pack: the work it cannot avoid, each
part timed alone. Prints: read sha1 inflate write (seconds)."""

import hashlib
import io
import os
import shutil
import struct
import sys
import time
import zipfile
import zlib

CHUNK = 1 << 20


def main():
    pack, scratch = sys.argv[1], sys.argv[2]
    t0 = time.perf_counter()
    with open(pack, "rb") as f:
        data = f.read()
    t1 = time.perf_counter()
    signature_length = struct.unpack_from("<I", data, 12)[0]
    payload = memoryview(data)[16 + signature_length:]
    hashlib.sha1(payload).digest()
    t2 = time.perf_counter()

    entries = []
    for info in zipfile.ZipFile(io.BytesIO(payload)).infolist():
        header = payload[info.header_offset:info.header_offset + 30]
        name_length, extra_length = struct.unpack_from("<HH", header, 26)
        start = info.header_offset + 30 + name_length + extra_length
        entries.append((info, start))
    # Inflate alone: every entry through zlib with its CRC-32, the output
    # dropped.
    t3 = time.perf_counter()
    for info, start in entries:
        raw = payload[start:start + info.compress_size]
        crc = 0
        if info.compress_type == zipfile.ZIP_DEFLATED:
            # Input in 64 KiB pieces: each piece's output is bounded by the
            # deflate ratio, and nothing is copied twice.
            inflater = zlib.decompressobj(-15)
            for offset in range(0, len(raw), 1 << 16):
                crc = zlib.crc32(inflater.decompress(raw[offset:offset + (1 << 16)]), crc)
        else:
            crc = zlib.crc32(raw)
    t4 = time.perf_counter()

    # Writing the files: the same directories and file sizes, from a buffer
    # in memory, in 1 MiB writes.
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    block = os.urandom(CHUNK)
    t5 = time.perf_counter()
    for info, _ in entries:
        path = os.path.join(scratch, info.filename)
        if info.is_dir():
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            left = info.file_size
            while left > 0:
                left -= f.write(block[:min(left, CHUNK)])
    t6 = time.perf_counter()
    print("%.4f %.4f %.4f %.4f" % (t1 - t0, t2 - t1, t4 - t3, t6 - t5))


if __name__ == "__main__":
    main()
