#!/bin/sh
# scripts/release.sh run twice, as a release engineer would, with a key pair
# and a self-signed certificate made here: the signature verifies, the
# embedded key is the one given, two runs give the same unsigned bytes, the
# sums check, the signed program still prepares a pack under Wine, and the
# committed test key is refused.
#   release_check.sh <source dir> <packtool> <wine-env.sh> <scratch dir>
set -u
source=$1 packtool=$2 wineenv=$3 scratch=$4
status=0
fail() {
    echo "FAIL: $*"
    status=1
}
rm -rf "$scratch" && mkdir -p "$scratch" || exit 1
cd "$scratch" || exit 1
"$packtool" keygen release.pem release.blob >/dev/null || exit 1
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -out cert.pem -days 2 \
    -subj "/CN=Letterwing release check" >/dev/null 2>&1 || exit 1

for run in a b; do
    "$source/scripts/release.sh" --key release.blob --cert cert.pem --cert-key cert.key \
        --allow-dirty --build-dir "$scratch/$run" --dist "$scratch/$run/dist" >"$run.log" 2>&1 ||
        { cat "$run.log"; fail "release run $run failed"; exit 1; }
done
cat a.log
cmp -s a/bin/updater.exe b/bin/updater.exe || fail "two runs gave different unsigned images"
osslsigncode verify -CAfile cert.pem -in a/dist/updater.exe >verify.log 2>&1 ||
    { cat verify.log; fail "the signature does not verify"; }
(cd a/dist && sha256sum -c SHA256SUMS >/dev/null) || fail "SHA256SUMS does not match"
python3 - a/bin/updater.exe release.blob "$source/keys/test-signing-key.pub.blob" <<'PY' ||
import sys
image, key, test = (open(p, "rb").read() for p in sys.argv[1:4])
sys.exit(0 if key in image and test not in image else 1)
PY
    fail "the image does not embed the key given (or embeds the test key)"
if "$source/scripts/release.sh" --key "$source/keys/test-signing-key.pub.blob" --allow-dirty \
    --build-dir "$scratch/t" --dist "$scratch/t/dist" >t.log 2>&1 || ! grep -q "TEST key" t.log; then
    cat t.log
    fail "the test key was not refused"
fi

# The signed program, in a payload signed with the release key, prepares.
. "$wineenv"
if [ "$WINEARCH" = win32 ]; then
    mkdir -p payload/app stage
    cp a/dist/updater.exe payload/app/updater.exe
    echo "package" >payload/app/letterwing.msi
    "$packtool" build --sub app payload release.pem update.pack >/dev/null ||
        fail "the release's own pack check refused the signed program"
    cp a/dist/updater.exe updater.exe
    winpath() { printf 'Z:%s' "$scratch/$1" | tr '/' '\\'; }
    wine "$scratch/updater.exe" prepare "$(winpath stage)" "$(winpath update.pack)" app
    code=$?
    runonce=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' \
              /v '!letterwing_update_runonce' 2>/dev/null | tr -d '\r')
    wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' \
        /v '!letterwing_update_runonce' /f >/dev/null 2>&1
    [ "$code" = 0 ] || fail "the signed program's prepare ended with $code"
    case $runonce in *app\\updater.exe*) ;; *) fail "the signed program scheduled nothing" ;; esac
else
    echo "SKIP: the prepare run needs 32-bit Wine; this build's tests run under $WINEARCH"
fi
[ $status = 0 ] && echo "PASS: signed, verified, reproducible, the given key embedded, prepares"
rm -rf "$scratch"
exit $status
