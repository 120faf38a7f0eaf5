#!/bin/bash
# The script helpers end to end: daemon, card, a client reading the balance,
# removal, and nothing left running afterwards; then a daemon with our
# reader (libifd-varnel.so) beside vpcd, on the serial terminal k52serial.
set -euo pipefail
. "$(dirname "$0")/private-pcscd.sh"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/k52-script-test.XXXXXX")
terminal=
cleanup() {
  k52_stop_all
  [[ -n $terminal ]] && _k52_end "$terminal"
  rm -rf "$prefix"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

k52_pcscd_start
daemon=$K52_PCSCD_PID
k52_card_start 1234 t1

answers=$("$K52_BUILD_DIR/testing/k52-pcsc-transmit" "$K52_READER" \
  "00 A4 04 0C 09 D2 76 00 00 25 45 50 01 00" "00 B2 01 C4 00")
[[ $answers == $'9000\n001234020000020000''9000' ]] || fail "unexpected answers: $answers"

k52_card_stop
if "$K52_BUILD_DIR/testing/k52-pcsc-transmit" --wait 1 "$K52_READER" "00 B2 01 C4 00" \
  2>/dev/null; then
  fail "the removed card still answers"
fi

socket=$PCSCLITE_CSOCK_NAME
k52_stop_all
kill -0 "$daemon" 2>/dev/null && fail "pcscd $daemon still running"
[[ ! -e $socket ]] || fail "$socket left behind"

"$K52_BUILD_DIR/sim/k52fw/k52serial" --purse 1234 >"$prefix/tty" &
terminal=$!
_k52_wait_for -s "$prefix/tty" 10 "$terminal" || fail "k52serial did not start"
reg="$K52_BUILD_DIR/tools/k52reg/k52reg"
"$reg" --prefix "$prefix" set 'HKLM\Software\k52kit\Ports' COM1 "$(head -1 "$prefix/tty")"
"$reg" --prefix "$prefix" set 'HKLM\System\CurrentControlSet\Services\varnel\Reader0' Port COM1
k52_pcscd_start --varnel "$prefix"
[[ $K52_VARNEL_READER == "K52 Varnel 00 00" && -n $K52_READER ]] || fail "readers: $K52_VARNEL_READER, $K52_READER"
answers=$("$K52_BUILD_DIR/testing/k52-pcsc-transmit" "$K52_VARNEL_READER" \
  "00 A4 04 0C 09 D2 76 00 00 25 45 50 01 00" "00 B2 01 C4 00")
[[ $answers == $'9000\n001234020000020000''9000' ]] || fail "unexpected answers: $answers"
daemon=$K52_PCSCD_PID
k52_stop_all
kill -0 "$daemon" 2>/dev/null && fail "pcscd $daemon still running"
echo "private-pcscd.sh: 2 passed, 0 failed"
