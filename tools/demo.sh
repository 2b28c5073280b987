#!/bin/bash
# The suite's main job: build it, then show it working under Wine. For now:
# the mount service kelmsvc installed into a fresh Wine prefix, started as
# KelmSvr, and talked to over "\\.\PIPE\kelmpip" with kelmpipe.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/deps.sh"
build="$root/build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "built: $build/win32/bin (shipping) and $build/win64/bin"

# Its own prefix, wineserver and Xvfb, ended on the way out.
export KELM_BENCH_DIR="$build/demo"
bench="$root/tests/bench"
trap 'bash "$bench/wine-teardown.sh" "$KELM_BENCH_DIR" >/dev/null 2>&1 || true' EXIT
say() { printf '\n=== %s\n' "$*"; }
say "Creating a fresh Wine prefix in $KELM_BENCH_DIR/prefix (Windows XP)"
bash "$bench/wine-setup.sh" "$KELM_BENCH_DIR" "$build/win64/bin" >/dev/null
. "$bench/wine-env.sh"
cd "$KELM_BENCH_DIR"   # a folder Wine can see as a working directory
win() { "$WINE" "$@" 2>/dev/null | tr -d '\r'; }

# 64-bit programs run here; the installer puts kelmsvc in system32\kelm.
kelmdir="$WINEPREFIX/drive_c/windows/system32/kelm"
mkdir -p "$kelmdir"
cp "$build/win64/bin/kelmsvc.exe" "$build/win64/bin/kelmpipe.exe" "$kelmdir/"
svc='C:\windows\system32\kelm\kelmsvc.exe'
pipe='C:\windows\system32\kelm\kelmpipe.exe'

say "Installing the service: kelmsvc.exe -install"
win "$svc" -install
say "Its registration (HKLM\\System\\CurrentControlSet\\Services\\KelmSvr)"
echo "(Type 0x110 = own process + interactive, Start 2 = automatic, ErrorControl 1 = normal)"
win reg query 'HKLM\System\CurrentControlSet\Services\KelmSvr' |
  grep -E 'Type|Start|ErrorControl|ImagePath|DisplayName|ObjectName' || true

say "Starting it: sc start KelmSvr"
win sc start KelmSvr >/dev/null
for _ in $(seq 50); do
  win sc query KelmSvr | grep -q RUNNING && break
  sleep 0.1
done
win sc query KelmSvr | grep -E 'STATE|CHECKPOINT'

say "A client asks for the state, the key and the four drive letters"
echo "(GETSTATE 32774 -> state code 3 = nothing mounted, kind 7;"
echo " GETKEY 32775 -> key 0 = none, kind 8; CHECKMOUNT 32776 -> slot + 256 x letter, kind 9)"
win "$pipe" CMD:32774 CMD:32775 CMD:32776

say "Lower case is accepted, CMX is ignored, empty fields vanish"
win "$pipe" cmd:32774 CMX:32774 CMD::32774

say "One instance at a time: while a first client holds the pipe, a second finds it busy"
win "$pipe" --hold 2500 CMD:32774 > first-client.txt &
holder=$!
sleep 1.2
echo "[second client]"
set +e
win "$pipe" CMD:32775
echo "(exit code ${PIPESTATUS[0]}; 2 = ERROR_PIPE_BUSY)"
set -e
wait "$holder"
echo "[first client]"
cat first-client.txt
say "... and connects once the first has left"
win "$pipe" --wait 3000 CMD:32775

say "The service log c:\\kelmlog.txt (CR shown as <CR>; entries end in CR CR LF)"
sed 's/\r/<CR>/g' "$WINEPREFIX/drive_c/kelmlog.txt"

say "Removing the running service: kelmsvc.exe -remove"
win "$svc" -remove
say "Removing it again"
win "$svc" -remove

say "Image files: kelmimg makes an enciphered 64 MB FAT16 disk (the image core the suite uses)"
img="$KELM_BENCH_DIR/demo.img"
"$build/bin/kelmimg" create --size 64 --password secret1 --no-sync "$img"
"$build/bin/kelmimg" info "$img" --password secret1
set +e
"$build/bin/kelmimg" check --password secret2 "$img"
echo "(check with another password: exit code $?; 1 = wrong password)"
set -e
"$build/bin/kelmimg" decipher --password secret1 "$img" "$img.plain"
echo "[fsck.fat -n on the deciphered volume]"
fsck.fat -n "$img.plain"
rm -f "$img" "$img.plain"

say "The stand-ins for the outside drivers (test equipment): install, a key is heard, status"
sim='C:\kelmtest\bin\kelmsim.exe'
win "$sim" install
win "$sim" key 1234
win "$sim" status
win "$sim" uninstall

say "Done; ending the wineserver"
