#!/bin/bash
# kelmstore.exe under Wine writes what the configuration program's slot save
# writes, refuses what the store could not hold (nothing written), and
# deletes a user with its image protection list. Values checked with reg.
set -uo pipefail
. "$KELM_SOURCE_DIR/tests/bench/wine-env.sh"
cd "$KELM_BENCH_DIR" || exit 1
root='HKLM\SOFTWARE\kelm'
buildin='HKLM\SOFTWARE\keskbuildin'
U=9917 V=9918
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
KS() { timeout 120 "$WINE" "$KELM_WINBIN\\kelmstore.exe" "$@" 2>"$KELM_BENCH_DIR/kelmstore.err" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
regq() { timeout 60 "$WINE" reg query "$@" 2>/dev/null | tr -d '\r'; }
# "TYPE DATA" of one value, empty when it is missing.
val() { regq "$1" /v "$2" | awk -v n="$2" '$1 == n { $1 = ""; sub(/^ +/, ""); print; exit }'; }
exists() { timeout 60 "$WINE" reg query "$1" >/dev/null 2>&1; }
expect() {  # expect WHAT ACTUAL WANTED
  [ "$2" == "$3" ] || fail "$1: got '$2', want '$3'"
}
rc_of() { "$@" >/dev/null; echo $?; }

# Leave the prefix as found: keys this test creates go at the end.
made=()
for k in "$root" "$buildin" 'HKLM\SOFTWARE\kesk'; do exists "$k" || made+=("$k"); done
cleanup() {
  for u in $U $V; do
    "$WINE" reg delete "$root\\$u" /f >/dev/null 2>&1
    "$WINE" reg delete "$buildin\\$u" /f >/dev/null 2>&1
  done
  for k in "${made[@]}"; do "$WINE" reg delete "$k" /f >/dev/null 2>&1; done
}
trap cleanup EXIT

# A user with a delay, then two slots; the delay survives the slot saves.
expect "user" "$(rc_of KS user $U 7)" 0
expect "slot 2" "$(rc_of KS slot $U 2 'C:\kelmst\disk two.img' 40 secret12 auto)" 0
expect "slot 1" "$(rc_of KS slot $U 1 'C:\kelmst\one.img' 33 '' ro)" 0
K="$root\\$U"
expect delay "$(val "$K" delay)" "REG_SZ 7"
expect DiskNum "$(val "$K" DiskNum)" "REG_DWORD 0x4"
expect Valid2 "$(val "$K" Valid2)" "REG_SZ yes"
expect ImageFile2 "$(val "$K" ImageFile2)" 'REG_SZ C:\kelmst\disk two.img'
expect ImageFileSize2 "$(val "$K" ImageFileSize2)" "REG_DWORD 0x28"
expect AutoMount2 "$(val "$K" AutoMount2)" "REG_SZ yes"
expect ReadOnly2 "$(val "$K" ReadOnly2)" "REG_SZ no"
pass2=$(val "$K" pass2)
plain=$(printf 'secret12' | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
case "$pass2" in
  "REG_BINARY "*) hex=${pass2#REG_BINARY };;
  *) hex=""; fail "pass2 is not binary: '$pass2'";;
esac
[ "${#hex}" -eq 40 ] || fail "pass2 is not 20 bytes: $hex"
[ "${hex:32}" == "00000000" ] || fail "pass2 bytes 16-19 not zero: $hex"
[ "${hex:0:16}" != "$plain" ] || fail "pass2 is stored in clear"
[ "${hex:0:32}" != "00000000000000000000000000000000" ] || fail "pass2 not enciphered: $hex"
expect Valid1 "$(val "$K" Valid1)" "REG_SZ yes"
expect AutoMount1 "$(val "$K" AutoMount1)" "REG_SZ no"
expect ReadOnly1 "$(val "$K" ReadOnly1)" "REG_SZ yes"
expect pass1 "$(val "$K" pass1)" "REG_BINARY 0000000000000000000000000000000000000000"
expect Valid0 "$(val "$K" Valid0)" ""
expect fileNum "$(val "$buildin\\$U" fileNum)" "REG_SZ 2"
expect filename0 "$(val "$buildin\\$U" filename0)" "REG_SZ one.img"
expect filename1 "$(val "$buildin\\$U" filename1)" "REG_SZ disk two.img"

# Refusals write nothing: a path of 150 characters (149 is the most that
# reads back), a 10-character password, slot 4.
p149='C:\'$(printf 'p%.0s' $(seq 142))'.img'
p150="${p149%.img}q.img"
[ "${#p149}" -eq 149 ] && [ "${#p150}" -eq 150 ] || fail "test paths have the wrong length"
expect "150-character path" "$(rc_of KS slot $U 3 "$p150" 40 pw)" 1
grep -q "path refused: 150 characters" "$KELM_BENCH_DIR/kelmstore.err" || fail "no path message: $(cat "$KELM_BENCH_DIR/kelmstore.err")"
expect "Valid3 after refusal" "$(val "$K" Valid3)" ""
expect "ImageFile3 after refusal" "$(val "$K" ImageFile3)" ""
expect "10-character password" "$(rc_of KS slot $U 3 'C:\x.img' 40 0123456789)" 1
expect "Valid3 after password refusal" "$(val "$K" Valid3)" ""
expect "slot 4" "$(rc_of KS slot $U 4 'C:\x.img' 40 pw)" 1
expect "149-character path" "$(rc_of KS slot $U 3 "$p149" 40 pw)" 0
expect "ImageFile3 of 149" "$(val "$K" ImageFile3)" "REG_SZ $p149"

# A first slot save without "user" makes the user with the default delay.
expect "new user's slot" "$(rc_of KS slot $V 0 'C:\v.img' 50 '')" 0
expect "new user's delay" "$(val "$root\\$V" delay)" "REG_SZ 15"
listed=$(KS list)
grep -qx "$U" <<<"$listed" && grep -qx "$V" <<<"$listed" || fail "list lacks the users: $listed"

# Usage errors.
for args in "user" "user $U 1234567890" "user $U 1x" "slot $U x C:\\a.img 40 pw" \
  "slot $U 0 C:\\a.img 40 pw fast" "slot $U 0 C:\\a.img -1 pw" "delete" "list more" "frob"; do
  # shellcheck disable=SC2086
  expect "usage '$args'" "$(rc_of KS $args)" 2
done

# Delete: the user and its image protection list go; a second delete fails.
expect "delete" "$(rc_of KS delete $U)" 0
exists "$K" && fail "user key still there after delete"
exists "$buildin\\$U" && fail "image protection list still there after delete"
exists "$root\\$V" || fail "delete took the other user too"
expect "second delete" "$(rc_of KS delete $U)" 1
KS list | grep -qx "$U" && fail "deleted user still listed"

if [ "$fails" -ne 0 ]; then echo "$fails failure(s)"; exit 1; fi
echo "kelmstore writes, refuses and deletes as the store requires"
