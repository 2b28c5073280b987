#!/bin/bash
# wine-run.sh PROGRAM.exe [ARGS...]: run a program of the x86_64 build in the
# bench prefix; the program's exit code is the result.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
exe=$(basename "$1"); shift
exec timeout 540 "$WINE" "$KELM_WINBIN\\$exe" "$@"
