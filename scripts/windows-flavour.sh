# Sourced by the scripts that run Windows programs under Wine: chooses the
# build this machine can run. The shipped 32-bit build under 32-bit Wine;
# where this machine runs no 32-bit x86 code, or where
# UPDATER_WINDOWS_FLAVOUR=x64 asks for it, the 64-bit build of the same
# sources under 64-bit Wine. Sets PRESET, ARCH (the Wine prefix's) and
# LOADER, and defines wine and wineboot to use that loader.
# LOADER is a path: the wine function below would otherwise call itself.
runs32=0
case ${UPDATER_WINDOWS_FLAVOUR:-} in
    "") ./scripts/runs-32-bit-code.sh || runs32=$? ;;
    x64) runs32=forced ;;
    *)
        echo "UPDATER_WINDOWS_FLAVOUR may be x64 or unset, not '$UPDATER_WINDOWS_FLAVOUR'" >&2
        exit 1
        ;;
esac
case $runs32 in
    0)
        PRESET=windows ARCH=win32 LOADER=$(command -v wine)
        ;;
    1|forced)
        if [ $runs32 = forced ]; then
            echo "UPDATER_WINDOWS_FLAVOUR=x64: using the 64-bit build under 64-bit Wine"
        else
            echo "this machine runs no 32-bit x86 code: using the 64-bit build under 64-bit Wine"
        fi
        PRESET=windows-x64 ARCH=win64 LOADER=/usr/lib/wine/wine64
        export WINELOADER=$LOADER
        ;;
    *)
        echo "cannot tell whether this machine runs 32-bit x86 code (see above)" >&2
        exit 1
        ;;
esac
wine() { "$LOADER" "$@"; }
wineboot() { wine wineboot.exe "$@"; }
