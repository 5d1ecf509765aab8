#!/bin/sh
# Runs the whole update cycle on the bundled sample under Wine and prints each
# step's outcome. Builds what it needs (the publisher's tool in build/host,
# updater.exe, the sample package and the signed sample pack in
# build/windows, or build/windows-x64 where no 32-bit code runs) and works
# in a Wine prefix of its own, build/<preset>/demo/prefix, created afresh on
# every run; the tests' prefix is not touched.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)

./scripts/setup.sh
echo "== Building the publisher's tool, updater.exe, the sample package and pack"
cmake --preset host >/dev/null
cmake --build --preset host --target packtool >/dev/null
. ./scripts/windows-flavour.sh
cmake --preset $PRESET >/dev/null
cmake --build --preset $PRESET --target updater sample_msi sample_pack >/dev/null
BIN=$ROOT/build/$PRESET/bin

DEMO=$ROOT/build/$PRESET/demo
export WINEPREFIX="$DEMO/prefix"
export WINEARCH=$ARCH
export HOME="$DEMO/home"
export WINEDEBUG=-all
# No Mono or Gecko prompts, and no desktop menu entries on this machine.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
rm -rf "$DEMO"
mkdir -p "$HOME"
echo "== Creating the demo's Wine prefix ($WINEPREFIX)"
wineboot -i >"$DEMO/wineboot.log" 2>&1
wineserver -w
# One wineserver for the rest of the demo: Wine treats the start of a new
# server as a restart, which would carry out pending deletions between steps.
wineserver -p

DRIVE_C=$WINEPREFIX/drive_c
RUN_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
RUNONCE_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
SESSION_KEY='HKLM\System\CurrentControlSet\Control\Session Manager'
START_MENU="$DRIVE_C/ProgramData/Microsoft/Windows/Start Menu/Programs/Letterwing/Letterwing.lnk"
DESKTOP="$DRIVE_C/users/Public/Desktop/Letterwing.lnk"

step() {
    printf '\n== %s\n' "$1"
}
value() {  # <key> <value name>: the value's data, or "(none)"
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | grep . || echo "(none)"
}
item() {  # <label> <file>
    if [ -f "$2" ]; then
        printf '  %-22s %s\n' "$1:" "$(file -b "$2" | cut -c1-60)"
    else
        printf '  %-22s %s\n' "$1:" "(none)"
    fi
}
installation() {
    item "Start-menu shortcut" "$START_MENU"
    item "desktop shortcut" "$DESKTOP"
    printf '  %-22s %s\n' "start-up value:" "$(value "$RUN_KEY" corvana_quickpost)"
    item "installed program" "$DRIVE_C/Program Files/Letterwing/letterwing.exe"
}
pending() {
    data=$(value "$SESSION_KEY" PendingFileRenameOperations)
    if [ "$data" = "(none)" ]; then
        echo "  (none)"
    else
        # REG_MULTI_SZ as source/target pairs; an empty target is a deletion.
        printf '%s\n' "$data" | awk '{
            n = split($0, part, /\\0/)
            for (i = 1; i <= n; i += 2)
                if (part[i] != "") print "  " part[i] " -> " (part[i + 1] == "" ? "(delete)" : part[i + 1])
        }'
    fi
}

cp "$BIN/updater.exe" "$DRIVE_C/updater.exe"
set +e

step "updater.exe without arguments (expected exit code 128)"
wine "$DRIVE_C/updater.exe"
echo "exit code: $?"

step "updater.exe with an unknown mode word (expected exit code 0, nothing done)"
wine "$DRIVE_C/updater.exe" PREPARE a b c
echo "exit code: $?"

step "prepare with a pack whose signature was tampered with (expected 141, nothing staged)"
mkdir -p "$DRIVE_C/staging"
cp "$BIN/letterwing-update-badsig.pack" "$DRIVE_C/tampered.pack"
(cd "$DRIVE_C/staging" && wine "$DRIVE_C/updater.exe" prepare 'C:\staging' 'C:\tampered.pack' 'Letterwing Update')
echo "exit code: $?"
echo "staging directory: $(ls -A "$DRIVE_C/staging" | tr '\n' ' ')"
echo "RunOnce value: $(value "$RUNONCE_KEY" '!letterwing_update_runonce')"
echo "pack kept: $([ -f "$DRIVE_C/tampered.pack" ] && echo yes || echo no)"

step "The installation the update finds"
# An earlier Letterwing installed its Start-menu shortcut and its start-up
# value, but no desktop shortcut. The demo stands in for it with
# placeholders: the update must replace them with its own items, and must
# not add a desktop shortcut.
mkdir -p "$(dirname "$START_MENU")"
echo "placeholder of the earlier version" >"$START_MENU"
wine reg add "$RUN_KEY" /v corvana_quickpost /t REG_SZ /d "placeholder" /f >/dev/null
installation

step "1. prepare: verify and unpack the sample pack, schedule the staged updater (expected 0)"
cp "$BIN/letterwing-update.pack" "$DRIVE_C/letterwing-update.pack"
(cd "$DRIVE_C/staging" && wine "$DRIVE_C/updater.exe" prepare 'C:\staging' 'C:\letterwing-update.pack' 'Letterwing Update')
echo "exit code: $?"
echo "RunOnce value \"!letterwing_update_runonce\": $(value "$RUNONCE_KEY" '!letterwing_update_runonce')"
echo "staged files:"
(cd "$DRIVE_C/staging" && find . -mindepth 1 | sort | sed 's/^/  /')
echo "pack deleted: $([ -f "$DRIVE_C/letterwing-update.pack" ] && echo no || echo yes)"

step "2. restart and logon (wineboot -r): Windows runs the staged updater in install mode"
wineboot -r
echo "RunOnce value afterwards: $(value "$RUNONCE_KEY" '!letterwing_update_runonce')"
echo "what the installer created:"
installation
echo "the record install mode left (HKLM\\Software\\Letterwing\\Updater\\Install):"
for name in ExitCode InstallerCode Time; do
    echo "  $name: $(value 'HKLM\Software\Letterwing\Updater\Install' "$name")"
done
echo "deletions pending until the next restart:"
pending

step "3. the next restart carries out the pending deletions"
wineboot -r
echo "staging directory now: [$(ls -A "$DRIVE_C/staging" | tr '\n' ' ')]"
echo "deletions pending: $(pending | tr -d ' ')"
set -e
wineserver -k >/dev/null 2>&1 || true
