#!/bin/sh
# Exits 0 when this machine can run 32-bit x86 Linux programs (Wine's 32-bit
# loader among them), non-zero when the kernel refuses them.
[ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
