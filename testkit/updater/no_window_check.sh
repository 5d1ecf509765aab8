#!/bin/sh
# Runs the trace table of updater_cli_test (every way a run of updater.exe
# can end, each checked for the story its trace tells) with Wine's
# diagnostics on, and fails when a row fails, when the table passed or
# skipped fewer rows than it lists (a filter that selects nothing passes nothing), or when any
# of its programs tried to create a window: with no display, Wine reports
# that as nodrv_CreateWindow. A probe that does open a message box runs
# first, so the check is known to see one.
#   no_window_check.sh <wine-env.sh> <bin directory>
set -u
. "$1"
bin=$2
export WINEDEBUG=err+winediag
log="$WINE_ROOT/no-window-check.log"
table='Outcomes/UpdaterTraceTest.*'

fail() {
    echo "no_window_check: $*"
    exit 1
}

wine "$bin/abnormal_end_probe.exe" window >"$log" 2>&1
if ! grep -q nodrv_CreateWindow "$log"; then
    cat "$log"
    fail "Wine reported no window for the probe's message box; nothing could be seen"
fi
rows=$(wine "$bin/updater_cli_test.exe" --gtest_list_tests --gtest_filter="$table" 2>/dev/null |
       tr -d '\r' | grep -c '^  ')
[ "$rows" -gt 0 ] || fail "the filter $table selects no test"
wine "$bin/updater_cli_test.exe" --gtest_filter="$table" --gtest_color=no >"$log" 2>&1
status=$?
cat "$log"
[ $status = 0 ] || fail "the trace table failed"
# A row may skip where this system cannot show its way of ending (it says
# why); every other row must pass.
count() { tr -d '\r' <"$log" | sed -n "s/^\[  $1 *\] \([0-9]*\) tests\{0,1\}[.,].*/\1/p" | head -n 1; }
passed=$(count PASSED) skipped=$(count SKIPPED)
[ $((${passed:-0} + ${skipped:-0})) = "$rows" ] ||
    fail "the trace table did not pass all of its $rows rows (${passed:-0} passed, ${skipped:-0} skipped)"
if grep -q nodrv_CreateWindow "$log"; then
    fail "a run tried to create a window"
fi
echo "no_window_check: ${passed:-0} of $rows rows passed, ${skipped:-0} skipped, and no run tried to create a window"
