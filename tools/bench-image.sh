#!/bin/bash
# bench-image.sh [DIR] [RUNS]: creating a 1000 MB enciphered image with
# kelmimg against dd writing the same 1003 MB of zeros to the same disk, each
# without and with a final sync, measured side by side in one run (median
# of RUNS, default 5). Goal: kelmimg within 1.10 x dd.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
K="${KELM_NATIVE_BIN:-$root/build/bin}/kelmimg"
[ -x "$K" ] || { echo "build first: $K missing"; exit 1; }
dir=${1:-$root/build/bench-image}
runs=${2:-5}
mkdir -p "$dir"
work=$(mktemp -d "$dir/run.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
# time_one LABEL command...: seconds of one run, the file removed and the
# disk settled before the next.
time_one() {
  sync
  local t0 t1
  shift
  t0=$(now)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  t1=$(now)
  rm -f "$work/out.img"
  sync
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

declare -A results
cases=(
  "kelmimg_nosync|$K create --size 1000 --password bench123 --no-sync $work/out.img"
  "dd_nosync|dd if=/dev/zero of=$work/out.img bs=1M count=1003"
  "kelmimg_sync|$K create --size 1000 --password bench123 $work/out.img"
  "dd_sync|dd if=/dev/zero of=$work/out.img bs=1M count=1003 conv=fsync"
)
for ((r = 1; r <= runs; r++)); do
  # Interleaved, so that both sides see the same state of the disk.
  for c in "${cases[@]}"; do
    name=${c%%|*}
    # shellcheck disable=SC2086
    results[$name]+=" $(time_one $name ${c#*|})"
  done
done

echo "disk: $(df -P "$dir" | awk 'NR == 2 { print $1 " (" $6 ")" }'), $runs runs each, median seconds"
printf '%-12s %12s %12s %8s\n' "final sync" "kelmimg" "dd" "ratio"
for mode in nosync sync; do
  # shellcheck disable=SC2086
  k=$(median ${results[kelmimg_$mode]})
  # shellcheck disable=SC2086
  d=$(median ${results[dd_$mode]})
  printf '%-12s %12.3f %12.3f %8.3f\n' "$([ $mode = sync ] && echo yes || echo no)" "$k" "$d" "$(awk -v k="$k" -v d="$d" 'BEGIN { print k / d }')"
done
echo "(kelmimg: 1000 MB volume + 3 MB tail, enciphered, formatted; dd: 1003 MB of zeros; goal ratio <= 1.10)"
