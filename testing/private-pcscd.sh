# Private pcscd and simulated cards for scripts and the demo. Source it:
#
#   . testing/private-pcscd.sh
#   trap k52_stop_all EXIT
#   k52_pcscd_start                 # exports PCSCLITE_CSOCK_NAME, K52_READER, ...
#   k52_card_start 1234             # balance in cents; optional: t0|t1|both, slot 0|1
#   some-pcsc-client "$K52_READER"
#   k52_stop_all
#
# With our reader (libifd-varnel.so) for a prefix, beside or instead of vpcd:
#
#   k52_pcscd_start --varnel "$prefix" [--no-vpcd]   # also exports K52_VARNEL_READER
#
# Binaries come from K52_BUILD_DIR (default: build/dev of this checkout).
# Every wait is bounded; on failure a function prints why and returns 1.
# Safe under `set -e`.

K52_BUILD_DIR=${K52_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/dev}
K52_PCSCD_WRAPPER_PID=
K52_CARD_PIDS=
K52_STATE_DIR=

# Polls `test $1 $2` every 50 ms for at most $3 seconds while process $4 lives.
_k52_wait_for() {
  local tries=$(($3 * 20))
  while ((tries-- > 0)); do
    test "$1" "$2" && return 0
    kill -0 "$4" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# Sends SIGTERM, and SIGKILL if the process is still there after 5 s (or $2 s).
_k52_end() {
  local pid=$1 tries=$((${2:-5} * 20))
  kill -TERM "$pid" 2>/dev/null || return 0
  while ((tries-- > 0)) && kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# k52_pcscd_start [--varnel PREFIX [--no-vpcd]]
k52_pcscd_start() {
  if [[ -n $K52_PCSCD_WRAPPER_PID ]]; then
    echo "k52_pcscd_start: already running" >&2
    return 1
  fi
  K52_STATE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/k52-script.XXXXXX") || return 1
  "$K52_BUILD_DIR/testing/k52-private-pcscd" "$@" "$K52_STATE_DIR/env" \
    2>"$K52_STATE_DIR/pcscd.err" &
  K52_PCSCD_WRAPPER_PID=$!
  if ! _k52_wait_for -s "$K52_STATE_DIR/env" 40 "$K52_PCSCD_WRAPPER_PID"; then
    echo "k52_pcscd_start: private pcscd did not come up:" >&2
    cat "$K52_STATE_DIR/pcscd.err" >&2
    k52_stop_all
    return 1
  fi
  set -a
  . "$K52_STATE_DIR/env"
  set +a
}

# k52_card_start BALANCE [t0|t1|both|ATR-HEX] [SLOT]: returns once pcscd has
# powered the card up, i.e. reports it present.
k52_card_start() {
  local balance=${1:?balance in cents} atr=${2:-both} slot=${3:-0} port ready pid
  if [[ -z $K52_VPCD_PORT ]]; then
    echo "k52_card_start: run k52_pcscd_start first" >&2
    return 1
  fi
  port=$((slot == 0 ? K52_VPCD_PORT : K52_VPCD_PORT1))
  ready="$K52_STATE_DIR/card$slot.ready"
  rm -f "$ready"
  "$K52_BUILD_DIR/sim/vpcd/k52card" --port "$port" --balance "$balance" --atr "$atr" \
    --wait 10 --ready-file "$ready" &
  pid=$!
  K52_CARD_PIDS="$K52_CARD_PIDS $pid"
  if ! _k52_wait_for -e "$ready" 10 "$pid"; then
    echo "k52_card_start: the reader never powered the card" >&2
    return 1
  fi
}

# Removes every card started here.
k52_card_stop() {
  local pid
  for pid in $K52_CARD_PIDS; do _k52_end "$pid"; done
  K52_CARD_PIDS=
}

k52_stop_all() {
  k52_card_stop
  if [[ -n $K52_PCSCD_WRAPPER_PID ]]; then
    _k52_end "$K52_PCSCD_WRAPPER_PID" 30  # our reader's drivers take seconds to unload
    K52_PCSCD_WRAPPER_PID=
  fi
  if [[ -n $K52_STATE_DIR ]]; then
    rm -rf "$K52_STATE_DIR"
    K52_STATE_DIR=
  fi
  unset PCSCLITE_CSOCK_NAME K52_PCSCD_PID K52_VPCD_PORT K52_VPCD_PORT1 K52_READER K52_READER1 \
    K52_VARNEL_READER
}
