#!/bin/bash
# Builds all three configurations (native, x86_64 and i686 MinGW) and runs
# every test: native under ASan/UBSan, fuzzers, and the Windows programs
# under Wine with Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/deps.sh"
build="$root/build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j2 "$@"
