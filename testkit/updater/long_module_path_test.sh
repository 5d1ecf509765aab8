#!/bin/sh
# install mode started from a path longer than its 260-character buffer:
# exit code 164, no installer, nothing scheduled for deletion. Windows
# programs under Wine cannot start a program from such a path, so the copy
# is started by Wine's loader from the Unix side.
# usage: long_module_path_test.sh <wine-run> <updater.exe> <scratch directory>
set -eu
wine_run=$1
updater=$2
scratch=$3

rm -rf "$scratch"
deep=$scratch
while [ ${#deep} -lt 320 ]; do deep=$deep/a-directory-name-of-some-length; done
mkdir -p "$deep"
cp "$updater" "$deep/updater.exe"

pending() {
    "$wine_run" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' || true
}
before=$(pending)
set +e
"$wine_run" "$deep/updater.exe" action
code=$?
set -e
after=$(pending)
rm -rf "$scratch"

status=0
if [ "$code" != 164 ]; then
    echo "FAIL: exit code $code from a module path of ${#deep} characters, expected 164"
    status=1
fi
if [ "$before" != "$after" ]; then
    echo "FAIL: the pending-deletion list changed:"
    echo "$after"
    status=1
fi
[ $status = 0 ] && echo "PASS: exit code 164 from a module path of ${#deep} characters, nothing scheduled"
exit $status
