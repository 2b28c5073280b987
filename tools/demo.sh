#!/bin/bash
# The suite's main job: build it, then show it working under Wine. The
# stand-ins for the outside drivers and the mount service kelmsvc are
# installed in a fresh prefix, two users get enciphered disks, and a real
# cycle is narrated: the RF key is heard and the disks mount, the key goes
# away and the connected tray-side client is told, it answers, the disks go;
# without a client a loss dismounts by itself; a software installation logs
# a user in and out. After every step the service's CHECKMOUNT answers and
# the disk stand-in's own account ("kelmsim status") are compared.
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
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${client:-}" ] && kill "$client" 2>/dev/null || true
  bash "$bench/wine-teardown.sh" "$KELM_BENCH_DIR" >/dev/null 2>&1 || true
}
trap cleanup EXIT
say() { printf '\n=== %s\n' "$*"; }
note() { printf '    (%s)\n' "$*"; }
say "Creating a fresh Wine prefix in $KELM_BENCH_DIR/prefix (Windows XP)"
bash "$bench/wine-setup.sh" "$KELM_BENCH_DIR" "$build/win64/bin" >/dev/null
. "$bench/wine-env.sh"
cd "$KELM_BENCH_DIR"   # a folder Wine can see as a working directory
win() { "$WINE" "$@" 2>/dev/null | tr -d '\r'; }
bin='C:\kelmtest\bin'
sim="$bin\\kelmsim.exe"
store="$bin\\kelmstore.exe"
img="$bin\\kelmimg.exe"

# --- CHECKMOUNT against the stand-in ----------------------------------------
# Slot:letter pairs of the mounted slots, "-" when none.
checkmount_pairs() {  # reads "< CMD:V:9" lines
  local pairs="" v
  while read -r v; do
    [ $((v / 256)) -eq 0 ] && continue
    pairs+=" $((v % 256)):$(printf "\\$(printf %o $((v / 256)))")"
  done < <(grep -o 'CMD:[0-9]*:9' | tail -4 | cut -d: -f2)
  echo "${pairs:- -}"
}
status_pairs() {
  local pairs
  pairs=$(win "$sim" status | awk '/^attached/ {printf " %s:%s", $2, substr($3, 1, 1)}')
  echo "${pairs:- -}"
}
# Asks CHECKMOUNT (through the connected client when there is one) and
# compares the letters with what the disk stand-in has attached.
agree() {
  local service
  if [ -n "${client:-}" ]; then
    local before
    before=$(client_out | wc -l)
    echo "CMD:32776" >&3
    for _ in $(seq 30); do
      [ "$(client_out | tail -n +"$((before + 1))" | grep -c ':9$')" -ge 4 ] && break
      sleep 0.1
    done
    service=$(client_out | tail -n +"$((before + 1))" | checkmount_pairs)
  else
    service=$(win "$bin\\kelmpipe.exe" CMD:32776 | checkmount_pairs)
  fi
  local standin
  standin=$(status_pairs)
  echo "    CHECKMOUNT:    slot:letter$service"
  echo "    kelmsim status: slot:letter$standin"
  if [ "$service" != "$standin" ]; then
    echo "!!! the service and the disk stand-in disagree" >&2
    exit 1
  fi
}
# Waits until the stand-in has N slots attached (at most S seconds).
wait_attached() {
  local n=$1 s=${2:-10} t0=$SECONDS
  for _ in $(seq $((s * 10))); do
    [ "$(win "$sim" status | grep -c '^attached')" -eq "$n" ] && {
      note "$n attached after $((SECONDS - t0)) s"
      return 0
    }
    sleep 0.1
  done
  echo "!!! expected $n attached slots" >&2
  exit 1
}
# Waits until the client's output has COUNT lines "< WHAT" (at most S seconds).
wait_client() {
  local what=$1 count=$2 s=${3:-10} t0=$SECONDS
  for _ in $(seq $((s * 10))); do
    [ "$(client_out | grep -cx -- "< $what")" -ge "$count" ] && {
      note "arrived after $((SECONDS - t0)) s"
      return 0
    }
    sleep 0.1
  done
  echo "!!! no '$what' from the service" >&2
  exit 1
}
client_out() { tr -d '\r' <client.raw; }
show_client() {  # the client's lines since the last call
  sleep 0.3
  # CHECKMOUNT exchanges are shown decoded by agree.
  client_out | tail -n +"$((shown + 1))" | grep -v -e '^> CMD:32776$' -e '^< CMD:[0-9]*:9$' |
    sed 's/^/    client /' || true
  shown=$(client_out | wc -l)
}
start_client() {
  rm -f client.in client.raw
  mkfifo client.in
  exec 3<>client.in
  : >client.raw
  # The client must not hold the writing end itself, or it never sees the end.
  "$WINE" "$bin\\kelmpipe.exe" --stdin <client.in >>client.raw 2>/dev/null 3>&- &
  client=$!
  shown=0
  for _ in $(seq 50); do client_out | grep -q connected && break; sleep 0.1; done
  show_client
}
stop_client() {
  exec 3>&-
  wait "$client" 2>/dev/null || true
  sleep 0.3
  show_client
  client=""
  rm -f client.in
}

# --- The cycle ------------------------------------------------------------------
say "Installing the stand-ins for the outside drivers (test equipment): kelmsim install"
win "$sim" install
win "$sim" status | sed 's/^/    /'

say "Two users and their enciphered disks"
mkdir -p "$WINEPREFIX/drive_c/kelmdisks"
win "$img" create --size 40 --password alpha1 --no-sync 'C:\kelmdisks\u1234-0.img'
win "$img" create --size 34 --password beta22 --no-sync 'C:\kelmdisks\u1234-1.img'
win "$img" create --size 36 --password gamma3 --no-sync 'C:\kelmdisks\u5678-0.img'
note "an image is a FAT volume whose sectors are enciphered under the slot password"
win "$img" info --password alpha1 'C:\kelmdisks\u1234-0.img' | sed 's/^/    /'
"$build/bin/kelmimg" decipher --password alpha1 "$WINEPREFIX/drive_c/kelmdisks/u1234-0.img" plain.img
echo "    [fsck.fat -n on the deciphered copy]"
fsck.fat -n plain.img | sed 's/^/    /'
rm -f plain.img
win "$store" user 1234 3
win "$store" slot 1234 0 'C:\kelmdisks\u1234-0.img' 40 alpha1 auto
win "$store" slot 1234 1 'C:\kelmdisks\u1234-1.img' 34 beta22 auto ro
win "$store" user 5678 3
win "$store" slot 5678 0 'C:\kelmdisks\u5678-0.img' 36 gamma3 auto
note "user 1234: key-loss delay 3 s, two auto-mount slots (slot 1 read-only); user 5678: one slot"
win reg query 'HKLM\SOFTWARE\kelm\1234' | grep -E 'delay|Valid0|ImageFile0|ImageFileSize0|AutoMount0|pass0' |
  sed 's/^ */    /'
note "pass0 holds the slot password enciphered, never the password itself"

say "Installing and starting the mount service"
kelmdir="$WINEPREFIX/drive_c/windows/system32/kelm"
mkdir -p "$kelmdir"
cp "$build/win64/bin/kelmsvc.exe" "$kelmdir/"
svc='C:\windows\system32\kelm\kelmsvc.exe'
win "$svc" -install | sed 's/^/    /'
win sc start KelmSvr >/dev/null
for _ in $(seq 50); do win sc query KelmSvr | grep -q RUNNING && break; sleep 0.1; done
win sc query KelmSvr | grep STATE | sed 's/^ */    /'

say "A tray-side client connects and stays connected (kelmpipe --stdin)"
start_client
echo "CMD:32774" >&3
show_client
note "state 3: nothing mounted"
agree

say "The RF key of user 1234 is heard: kelmsim key 1234"
win "$sim" key 1234
wait_attached 2
echo "CMD:32774" >&3
echo "CMD:32775" >&3
show_client
note "state 5 = the user's disks are mounted, key 1234"
agree
win "$sim" status | sed 's/^/    /'

say "The key goes away: kelmsim key none"
win "$sim" key none
wait_client 'CMD:1234:1' 1 10
show_client
note "KEYLOST (code 1) after the 3-step delay; the disks stay until the tray side decides"
agree

say "The tray side answers KEYBACK (the user confirmed): the disks stay"
echo "CMD:32773" >&3
show_client
agree
note "the key is still away, so after the delay it is reported again"
wait_client 'CMD:1234:1' 2 10
show_client

say "This time the tray side answers KEYTIMEOUT: the disks are dismounted"
echo "CMD:32772" >&3
wait_attached 0
echo "CMD:32774" >&3
show_client
agree

say "The client disconnects; the key comes back and the disks mount again"
stop_client
win "$sim" key 1234
wait_attached 2
agree
say "With no client connected, a loss dismounts by itself after the delay"
win "$sim" key none
wait_attached 0 10
agree

say "Another user's key: kelmsim key 5678"
win "$sim" key 5678
wait_attached 1
agree
win "$sim" status | grep '^attached' | sed 's/^/    /'
say "The receiver is unplugged: the mount ends at once, without the delay"
win "$sim" receiver unplug
wait_attached 0 3
agree
win "$sim" receiver plug
win "$sim" key none
sleep 1.5

say "The disk driver refuses the image (kelmsim fail open-file): the attach is undone"
win "$sim" fail open-file
win "$sim" key 1234
sleep 2.5
agree
note "no letter, link or DOS device definition is left behind; the log says why:"
iconv -f gbk -t utf-8 -c "$WINEPREFIX/drive_c/kelmlog.txt" | tr -d '\r' | grep -a 'IOCTL_FILE_DISK_OPEN_FILE' |
  tail -n 1 | sed 's/^/    /'
win "$sim" fail none
win "$sim" key none

say "A software installation: INSTALLTYPE SOFTWARE, the service restarted"
win sc stop KelmSvr >/dev/null
for _ in $(seq 50); do win sc query KelmSvr | grep -q STOPPED && break; sleep 0.1; done
win reg add 'HKLM\SOFTWARE\kelm' /v INSTALLTYPE /d SOFTWARE /f >/dev/null
win sc start KelmSvr >/dev/null
for _ in $(seq 50); do win sc query KelmSvr | grep -q RUNNING && break; sleep 0.1; done
start_client
note "user 1234 logs in (SETUSER 34816 with the UserId); the next once-a-second step mounts"
echo "CMD:34816:1234" >&3
show_client
wait_attached 2
agree
note "another user cannot log in meanwhile"
echo "CMD:34816:5678" >&3
sleep 1.5
echo "CMD:32775" >&3
show_client
agree
note "log-out (SETUSER 0)"
echo "CMD:34816:0" >&3
show_client
wait_attached 0
agree
note "and in again"
echo "CMD:34816:1234" >&3
show_client
wait_attached 2
agree

say "Removing the service while the disks are mounted: they are dismounted first"
stop_client
win "$svc" -remove | sed 's/^/    /'
agree_after_stop=$(status_pairs)
echo "    kelmsim status: slot:letter$agree_after_stop"
[ "$agree_after_stop" = " -" ] || { echo "!!! something is still attached" >&2; exit 1; }

say "The service log c:\\kelmlog.txt (last entries; GBK texts shown as UTF-8)"
note "under Wine the volume dismount request always reports failure, so each dismount logs DismountVolume ERROR and goes on"
grep -av 'CMD:3277[46]' "$WINEPREFIX/drive_c/kelmlog.txt" | iconv -f gbk -t utf-8 -c | tr -d '\r' |
  grep -v '^$' | tail -n 15 | sed 's/^/    /'

win "$sim" uninstall
say "Done; ending the wineserver"
