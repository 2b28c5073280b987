#!/bin/bash
# bench-cipher.sh [BUILD_DIR]: DesVariant sector throughput beside OpenSSL's
# DES-ECB on 512-byte blocks, one core each, in the same run.
set -eu
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
secs=${BENCH_SECONDS:-3}
desbench=$build/bin/desbench
[ -x "$desbench" ] || { echo "build first: cmake --build $build --target desbench"; exit 1; }

echo "== DesVariant (kelmcore_plain, -O2)"
"$desbench" "$secs"

echo "== OpenSSL $(openssl version | cut -d' ' -f2) DES-ECB, 512-byte blocks"
out=$(openssl speed -elapsed -seconds "$secs" -bytes 512 -evp des-ecb -provider legacy -provider default 2>/dev/null) ||
  out=$(openssl speed -elapsed -seconds "$secs" -bytes 512 des 2>/dev/null) || { echo "openssl speed failed"; exit 1; }
# The result row gives thousands of bytes per second.
echo "$out" | awk 'tolower($1) ~ /^des/ { v=$NF; sub(/k$/, "", v); printf "openssl %s 512-byte blocks: %.1f MB/s\n", $1, v/1000 }'
