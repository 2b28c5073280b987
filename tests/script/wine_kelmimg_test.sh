#!/bin/bash
# kelmimg.exe (Win32 file layer) under Wine and the native kelmimg make the
# same image, byte for byte apart from the volume serial number; the Windows
# build's check and exit codes agree.
set -euo pipefail
. "$KELM_SOURCE_DIR/tests/bench/wine-env.sh"
K="$KELM_NATIVE_BIN/kelmimg"
drive_c="$WINEPREFIX/drive_c"
work=$(mktemp -d "${TMPDIR:-/tmp}/wine_kelmimg_test.XXXXXX")
trap 'rm -rf "$work" "$drive_c/kelmimg_w.img"' EXIT
W() { timeout 300 "$WINE" "$KELM_WINBIN\\kelmimg.exe" "$@"; }
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

for size in 40 600; do
  rm -f "$drive_c/kelmimg_w.img" "$work"/*
  W create --size "$size" --password "pw$size" 'C:\kelmimg_w.img' >/dev/null || fail "$size: wine create"
  "$K" create --size "$size" --password "pw$size" "$work/n.img" >/dev/null
  "$K" decipher --password "pw$size" "$drive_c/kelmimg_w.img" "$work/pw.img" >/dev/null
  "$K" decipher --password "pw$size" "$work/n.img" "$work/pn.img" >/dev/null
  # The serial stands in the boot sector (and, on FAT32, in its backup at 6).
  offsets=$([ "$size" -le 512 ] && echo $((0x27)) || echo "$((0x43)) $((6 * 512 + 0x43))")
  for f in "$work/pw.img" "$work/pn.img"; do
    for off in $offsets; do
      printf '\0\0\0\0' | dd of="$f" bs=1 seek="$off" conv=notrunc status=none
    done
  done
  cmp -s "$work/pw.img" "$work/pn.img" || fail "$size: images differ beyond the serial number"
  rc=0; W check --password "pw$size" 'C:\kelmimg_w.img' >/dev/null || rc=$?
  [ "$rc" -eq 0 ] || fail "$size: wine check with the password: exit $rc"
  rc=0; W check --password wrong 'C:\kelmimg_w.img' >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 1 ] || fail "$size: wine check with a wrong password: exit $rc"
done
rc=0; W create --size 4095 'C:\kelmimg_x.img' >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 2 ] || fail "wine create 4095: exit $rc"
[ ! -e "$drive_c/kelmimg_x.img" ] || fail "refused create left a file"
if [ "$fails" -ne 0 ]; then echo "$fails failure(s)"; exit 1; fi
echo "Windows and native kelmimg agree"
