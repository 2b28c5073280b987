#!/bin/bash
# kelmhkey.dll of both builds exports exactly HookHotKey and UnHookHotKey by
# plain name; a caller compiled against hotkey/kelmhkey.h links with the
# import library and imports those names (on i686 the __stdcall decoration
# stays inside the import library). The shipped i686 DLL is only inspected:
# nothing 32-bit runs here.
set -uo pipefail
src=${KELM_SOURCE_DIR:?}
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
work=$(mktemp -d "${TMPDIR:-/tmp}/hotkey_exports_test.XXXXXX")
trap 'rm -rf "$work"' EXIT

exports() { # the export name table of a DLL, one name a line
  "$1-objdump" -p "$2" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\t\[ *[0-9]*\] //p'
}
imports_from() { # the names an executable imports from one DLL
  "$1-objdump" -p "$2" | awk -v dll="$3" '
    /DLL Name:/ { on = (tolower($3) == dll); next }
    on && /^$/ { on = 0 }
    on && /^\t[0-9a-f]+\t/ { print $NF }'
}

for arch in i686:win32 x86_64:win64; do
  triple=${arch%%:*}-w64-mingw32
  build=${arch#*:}
  case $build in
    win32) bin=${KELM_WIN32_BIN:?} ;;
    win64) bin=${KELM_WIN64_BIN:?} ;;
  esac
  dll=$bin/kelmhkey.dll
  lib=$bin/../hotkey/libkelmhkey.dll.a
  [ -f "$dll" ] || { fail "$build: no $dll"; continue; }
  [ -f "$lib" ] || { fail "$build: no $lib"; continue; }
  names=$(exports "$triple" "$dll" | sort | tr '\n' ' ')
  [ "$names" == "HookHotKey UnHookHotKey " ] || fail "$build: exports are '$names'"

  cat >"$work/caller.cpp" <<'EOF'
#include "hotkey/kelmhkey.h"
int main() { return HookHotKey(0, 13410, 113) + UnHookHotKey(); }
EOF
  if "$triple-g++-posix" -I"$src" "$work/caller.cpp" "$lib" -o "$work/caller-$build.exe" 2>"$work/link.txt"; then
    got=$(imports_from "$triple" "$work/caller-$build.exe" kelmhkey.dll | sort | tr '\n' ' ')
    [ "$got" == "HookHotKey UnHookHotKey " ] || fail "$build: a caller imports '$got' from kelmhkey.dll"
  else
    fail "$build: a caller does not link: $(cat "$work/link.txt")"
  fi
done

# i686: __stdcall on both sides, the decorated symbols only in the import library.
syms=$(i686-w64-mingw32-nm "${KELM_WIN32_BIN}/../hotkey/libkelmhkey.dll.a" 2>/dev/null | awk '$2 == "I" && $3 ~ /^__imp_/ { print $3 }' |
  sort | tr '\n' ' ')
[ "$syms" == "__imp__HookHotKey@12 __imp__UnHookHotKey@0 " ] || fail "i686 import library symbols: '$syms'"

[ "$fails" -eq 0 ] && echo "kelmhkey exports: all checks passed"
exit $((fails > 0))
