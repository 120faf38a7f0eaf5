#!/usr/bin/env bash
# balview on a virtual screen against libctbridge.so and a simulated
# Geldkarte in a private pcscd: the text mode prints the balance; the window
# opens the version dialog at start (libctbridge.so knows no version object),
# and "Test" shows the balance. Both windows are kept as screenshots.
#
#   balview_gui_test.sh BUILD_DIR SCREENSHOT_DIR
#
# Exit status 77 (skipped) when Xvfb is not installed.
set -euo pipefail
build=$(cd "$1" && pwd)
shots=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

if ! command -v Xvfb >/dev/null; then
  echo "Xvfb is not installed; skipping"
  exit 77
fi
for tool in xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/lib/deps.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/balview-gui.XXXXXX")
xvfb_pid= wm_pid= app_pid=
export K52_BUILD_DIR=$build
. "$source_dir/testing/private-pcscd.sh"
stop() {
  local pid
  for pid in $app_pid $wm_pid $xvfb_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    timeout 5 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
  done
  k52_stop_all
  rm -rf "$work"
}
trap stop EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -f "$work/balview.log" ] && { echo "--- balview's output:"; cat "$work/balview.log"; } >&2
  exit 1
}

# Polls "$@" every 100 ms for at most $1 seconds.
wait_until() {
  local tries=$(($1 * 10))
  shift
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The virtual screen, and a window manager for the frames when there is one.
exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec {display_fd}>&-
wait_until 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -1 "$work/display")
if command -v openbox >/dev/null; then
  openbox --sm-disable >"$work/wm.log" 2>&1 &
  wm_pid=$!
  wait_until 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' ||
    fail "the window manager did not start"
fi

# The card and its reader; terminal 1 of libctbridge.so is that reader, and
# balview reads it through libctstatus.so.
k52_pcscd_start
k52_card_start 1234 both
prefix=$work/prefix
"$build/tools/k52reg/k52reg" --prefix "$prefix" set 'HKCU\CTAPIDLL.INI\OPT' ReaderName1 "$K52_READER"
"$build/tools/k52reg/k52reg" --prefix "$prefix" set 'HKLM\Software\Morvex\Settings' 'CTAPI DLL' ctstatus.dll
export K52_LIBRARY_PATH=$build/tools/purse:$build/ctapi/pcsc
# GTK and its libraries keep what they allocate until the end.
export ASAN_OPTIONS=detect_leaks=0
balview=$build/tools/purse/balview

text=$(timeout 30 "$balview" --prefix "$prefix" --text) || fail "balview --text: status $?, '$text'"
[ "$text" = " 12.34 DM" ] || fail "balview --text printed '$text'"
versions=$(timeout 30 "$balview" --prefix "$prefix" --text --version-info) && fail "versions read"
[ "$(echo "$versions" | grep -c ': Konnte nicht ermittelt werden...$')" = 3 ] ||
  fail "balview --text --version-info printed '$versions'"
echo "text mode: '$text'"

"$balview" --prefix "$prefix" >"$work/balview.log" 2>&1 &
app_pid=$!
find_window() { timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -1; }
shot() { import -frame -window "$1" "$work/shot.png" && convert "$work/shot.png" -strip "$2"; }
mkdir -p "$shots"

dialog=$(find_window '^Versionsinformationen\.\.\.$') || fail "no version dialog at start"
sleep 0.5  # its first paint
shot "$dialog" "$shots/balview-version.png"
timeout 10 xdotool windowactivate --sync "$dialog" key Return
wait_until 10 sh -c "! xdotool search --onlyvisible --name '^Versionsinformationen' >/dev/null" ||
  fail "OK did not close the version dialog"

window=$(find_window '^balview$') || fail "no main window"
eval "$(xdotool getwindowgeometry --shell "$window")"
menu=$((HEIGHT - 241))  # the client area is 241 pixels high, the menu bar above it
timeout 10 xdotool mousemove --window "$window" 62 $((menu + 200)) click 1

# The balance is painted in RGB (64, 64, 64), which nothing else in the
# window uses; wait for it in the text rectangle.
balance_shown() {
  import -window "$window" "$work/now.png" 2>/dev/null &&
    convert "$work/now.png" -crop "255x65+120+$((menu + 175))" -format %c histogram:info:- |
    grep -qi '#404040'
}
wait_until 30 balance_shown || fail "no balance in the window after Test"
sleep 0.3
shot "$window" "$shots/balview-balance.png"

# Datei > Beenden ends the program.
timeout 10 xdotool windowactivate --sync "$window" key alt+d
sleep 0.5
timeout 10 xdotool key b
timeout 10 tail --pid="$app_pid" -f /dev/null || fail "Beenden did not end balview"
wait "$app_pid" || fail "balview ended with status $?"
app_pid=
echo "screenshots: $shots/balview-balance.png $shots/balview-version.png"
