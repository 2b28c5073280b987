#!/bin/bash
# bench-shellext.sh: the shell extension's figures side by side in one run,
# in the bench prefix (wine-setup.sh first), with the x86_64 build.
#   library load with 50 users of 511 entries (GetRawConfig) against a
#   plain enumeration of the same values; QueryContextMenu with that chain
#   against an empty one; a 1 GB copy to a virtual-disk letter against
#   CopyFileA of the same file, with the peak memory of each.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
run() { timeout 900 "$WINE" 'C:\shxhost\shhost.exe' "$@" 2>/dev/null | tr -d '\r'; }
# Registration and the host in its own folder, as the Wine test leaves them.
bash "$here/wine-run.sh" shellext_test.exe --gtest_filter=Shell.ObjectInterfacesAndUnload >/dev/null 2>&1 ||
  { echo "registration test failed"; exit 1; }
"$WINE" reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1
c="$WINEPREFIX/drive_c"
echo x > "$c/shxbench.txt"

run bench fill 50 511
"$WINE" reg add 'HKLM\Software\kesk\1234' /v lockfile /d yes /f >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\kesk\1234' /v fileNum /d 0 /f >/dev/null 2>&1
echo "== load: 50 users x 511 entries"
run bench load 9
echo "== QueryContextMenu, full chain (25550 entries, item not protected)"
run bench menu 300 'C:\shxbench.txt'
"$WINE" reg delete 'HKLM\Software\kesk' /f >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\kesk\1234' /v lockfile /d yes /f >/dev/null 2>&1
echo "== QueryContextMenu, empty chain"
run bench menu 300 'C:\shxbench.txt'

echo "== 1 GB copy"
vdisk="$KELM_BENCH_DIR/shxbenchdisk"
mkdir -p "$vdisk"
ln -sfn "$vdisk" "$WINEPREFIX/dosdevices/m:"
head -c $((1024*1024*1024)) /dev/urandom > "$c/shxbig.bin"
run bench copy 'C:\shxbig.bin' M
cmp -s "$c/shxbig.bin" "$vdisk/shxbig.bin" && echo "kelmsh copy identical" || echo "kelmsh copy DIFFERS"
rm -f "$vdisk/shxbig.bin"
run bench copyfile 'C:\shxbig.bin' 'M:\shxbig2.bin'
cmp -s "$c/shxbig.bin" "$vdisk/shxbig2.bin" && echo "CopyFileA copy identical" || echo "CopyFileA copy DIFFERS"
rm -f "$WINEPREFIX/dosdevices/m:" "$c/shxbig.bin" "$c/shxbench.txt"
rm -rf "$vdisk"
"$WINE" reg delete 'HKLM\Software\kesk' /f >/dev/null 2>&1
"$WINE" cmd /c 'echo [kelmkey]' >/dev/null 2>&1
