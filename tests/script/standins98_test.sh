#!/bin/bash
# The Windows 98 form of the disk stand-in, in a prefix and wineserver of
# its own: it cannot share a session with the Windows 2000/XP form.
set -u
: "${KELM_BENCH_DIR:?}" "${KELM_WIN64_BIN:?}" "${KELM_SOURCE_DIR:?}"
bench="${KELM_BENCH_DIR}98"
bash "$KELM_SOURCE_DIR/tests/bench/wine-setup.sh" "$bench" "$KELM_WIN64_BIN" >/dev/null || exit 1
trap 'bash "$KELM_SOURCE_DIR/tests/bench/wine-teardown.sh" "$bench"' EXIT
export KELM_BENCH_DIR="$bench"
. "$KELM_SOURCE_DIR/tests/bench/wine-env.sh"
# The test program runs as KelmCtl does: with the Windows 98 version.
"$WINE" reg add 'HKCU\Software\Wine\AppDefaults\standins98_test.exe' /v Version /d win98 /f >/dev/null 2>&1
cd "$bench"
timeout 540 "$WINE" "$KELM_WINBIN\\standins98_test.exe"
