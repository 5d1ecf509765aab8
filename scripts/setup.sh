#!/bin/sh
# Installs, from Debian packages only, everything the build, the tests and the
# demo need. Run as root on Debian 12. Returns at once when all is present.
set -eu

PACKAGES="
cmake ninja-build make pkg-config
g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
libz-mingw-w64-dev
wine wine32:i386 wine64
libboost-dev googletest
msitools wixl
libssl-dev libzip-dev zlib1g-dev
clang libclang-rt-14-dev
gcc-multilib g++-multilib qemu-user zlib1g-dev:i386 libssl-dev:i386 libzip-dev:i386
zip unzip libarchive-tools python3 file time
openssl osslsigncode
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages:$missing; run this script as root" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index now and then; what the other
# lists hold is enough to install from, and the install itself fails loudly
# when a package cannot be had.
apt-get update -q || echo "setup: not every package list could be refreshed; installing from those present" >&2
# Without recommends: qemu-user would bring qemu-user-binfmt, which registers
# the emulator with the kernel for the whole machine.
# shellcheck disable=SC2086
if ! apt-get install -y -q --no-install-recommends $missing; then
    # A 32-bit library must match its 64-bit twin's version exactly. When one
    # architecture's security index could not be refreshed, the newest twins
    # are known for one side only and nothing resolves; the release's own
    # versions exist for both, so prefer them (a twin may step back to its
    # release version) and try once more.
    . /etc/os-release
    pin=$(mktemp)
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n' "$VERSION_CODENAME" > "$pin"
    echo "setup: retrying with the $VERSION_CODENAME release's versions preferred" >&2
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends --allow-downgrades -o Dir::Etc::Preferences="$pin" $missing
    rm -f "$pin"
fi
