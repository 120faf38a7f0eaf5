#!/bin/bash
# The script helpers end to end: daemon, card, a client reading the balance,
# removal, and nothing left running afterwards.
set -euo pipefail
. "$(dirname "$0")/private-pcscd.sh"
trap k52_stop_all EXIT

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
echo "private-pcscd.sh: 1 passed, 0 failed"
