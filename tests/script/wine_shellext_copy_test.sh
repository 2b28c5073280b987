#!/bin/bash
# The shell extension's copy to a virtual disk under Wine: a mounted letter
# has no file system there, so M: is linked to a folder of the prefix and
# N: to an 8 MB tmpfs (for the free-space refusal) while the copy suite runs.
set -u
here=$(cd "$(dirname "$0")/../bench" && pwd)
. "$here/wine-env.sh"
big="$KELM_BENCH_DIR/shxvdisk" small="$KELM_BENCH_DIR/shxsmall"
mkdir -p "$big" "$small"
mounted=0
if mount -t tmpfs -o size=8m tmpfs "$small" 2>/dev/null; then mounted=1; fi
ln -sfn "$big" "$WINEPREFIX/dosdevices/m:"
ln -sfn "$small" "$WINEPREFIX/dosdevices/n:"
out=$(bash "$here/wine-run.sh" "$KELM_WIN64_BIN/shellext_test.exe" --gtest_filter='ShellCopy.*' 2>&1)
rc=$?
echo "$out"
rm -f "$WINEPREFIX/dosdevices/m:" "$WINEPREFIX/dosdevices/n:"
[ $mounted = 1 ] && umount "$small"
rm -rf "$big" "$small"
[ $mounted = 1 ] || { echo "no tmpfs for N: (mount needs root)"; exit 1; }
if echo "$out" | grep -q SKIPPED; then echo "copy suite skipped"; exit 1; fi
exit $rc
