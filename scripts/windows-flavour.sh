# Sourced by the scripts that run Windows programs under Wine: chooses the
# build this machine can run. The shipped 32-bit build under 32-bit Wine;
# where this machine runs no 32-bit x86 code, the 64-bit build of the same
# sources under 64-bit Wine. Sets PRESET, ARCH (the Wine prefix's) and
# LOADER, and defines wine and wineboot to use that loader.
# LOADER is a path: the wine function below would otherwise call itself.
if ./scripts/runs-32-bit-code.sh; then
    PRESET=windows ARCH=win32 LOADER=$(command -v wine)
else
    echo "this machine runs no 32-bit x86 code: using the 64-bit build under 64-bit Wine"
    PRESET=windows-x64 ARCH=win64 LOADER=/usr/lib/wine/wine64
    export WINELOADER=$LOADER
fi
wine() { "$LOADER" "$@"; }
wineboot() { wine wineboot.exe "$@"; }
