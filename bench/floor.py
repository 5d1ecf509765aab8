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
    outputs = []
    t3 = time.perf_counter()
    for info, start in entries:
        raw = payload[start:start + info.compress_size]
        if info.compress_type == zipfile.ZIP_DEFLATED:
            out = zlib.decompressobj(-15).decompress(raw)
        else:
            out = bytes(raw)
        zlib.crc32(out)
        outputs.append((info, out))
    t4 = time.perf_counter()

    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    t5 = time.perf_counter()
    for info, out in outputs:
        path = os.path.join(scratch, info.filename)
        if info.is_dir():
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(out)
    t6 = time.perf_counter()
    print("%.4f %.4f %.4f %.4f" % (t1 - t0, t2 - t1, t4 - t3, t6 - t5))


if __name__ == "__main__":
    main()
