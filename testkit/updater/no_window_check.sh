#!/bin/sh
# Runs the trace table (every way a run of updater.exe can end) with Wine's
# diagnostics on, and fails when any of its programs tried to create a
# window: with no display, Wine reports that as nodrv_CreateWindow. A probe
# that does open a message box runs first, so the check is known to see one.
#   no_window_check.sh <wine-env.sh> <bin directory>
set -u
. "$1"
bin=$2
export WINEDEBUG=err+winediag
log="$WINE_ROOT/no-window-check.log"

wine "$bin/abnormal_end_probe.exe" window >"$log" 2>&1
if ! grep -q nodrv_CreateWindow "$log"; then
    cat "$log"
    echo "no_window_check: Wine reported no window for the probe's message box; nothing could be seen"
    exit 1
fi
wine "$bin/updater_cli_test.exe" --gtest_filter='*UpdaterTraceTest*' --gtest_color=no >"$log" 2>&1
status=$?
cat "$log"
if grep -q nodrv_CreateWindow "$log"; then
    echo "no_window_check: a run tried to create a window"
    exit 1
fi
exit $status
