#!/bin/bash
# The shipped i686 programs and libraries load on Windows 98, 2000 and XP:
# none imports a system function that only later Windows versions have
# (the kind a toolchain's runtime pulls in unasked).
set -uo pipefail
bin=${KELM_WIN32_BIN:?}
newer='GetTickCount64|AddVectoredExceptionHandler|RemoveVectoredExceptionHandler|GetHandleInformation|InitializeConditionVariable|InitOnceExecuteOnce|AcquireSRWLock|CreateSymbolicLink|GetFinalPathNameByHandle|CancelIoEx'
fails=0
checked=0
for f in KelmCfg.exe kelmsvc.exe KelmCtl.exe kelmhkey.dll kelmsh.dll setup.exe kelmuinst.exe; do
  [ -f "$bin/$f" ] || continue
  checked=$((checked + 1))
  found=$(i686-w64-mingw32-objdump -p "$bin/$f" | grep -oE "\b($newer)\b" | sort -u | tr '\n' ' ')
  if [ -n "$found" ]; then
    echo "FAIL: $f imports $found"
    fails=$((fails + 1))
  else
    echo "ok: $f"
  fi
done
[ "$checked" -gt 0 ] || { echo "FAIL: no shipped file in $bin"; exit 1; }
exit $((fails > 0))
