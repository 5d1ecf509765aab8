#!/bin/sh
# scripts/runs-32-bit-code.sh answers for loaders it is given in place of
# Wine's: one the kernel cannot execute (an ELF image for no machine it
# knows) and a missing one are "no" (1); one that runs and fails is a
# failure (2), never "no".
#   runs_32_bit_check.sh <source dir> <scratch dir>
set -u
source=$1 scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch" || exit 1
# A 64-bit ELF header whose machine field (0x9026) names no machine.
alien=$scratch/alien
{ printf '\177ELF\002\001\001\000\000\000\000\000\000\000\000\000\002\000\046\220\001\000\000\000'
  head -c 64 /dev/zero; } >"$alien" && chmod +x "$alien" || exit 1
status=0
for row in "$alien 1" "$scratch/missing 1" "/bin/false 2"; do
    set -- $row
    RUNS32_LOADER=$1 "$source/scripts/runs-32-bit-code.sh" 2>/dev/null
    answer=$?
    [ "$answer" = "$2" ] || { echo "FAIL: loader $1 gave $answer, not $2"; status=1; }
done
[ $status = 0 ] && echo "PASS: a loader the kernel cannot run and a missing one are 'no'; a failing one is not"
rm -rf "$scratch"
exit $status
