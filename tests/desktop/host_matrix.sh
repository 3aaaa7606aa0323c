#!/usr/bin/env bash
# The tray on the real notification areas Debian ships, each on a light and on a dark
# panel, checked as a person sees and uses it:
#
#   tests/desktop/host_matrix.sh BIN_DIR [ROW...]
#
# BIN_DIR holds the built tallowmere-tray, the stand-in agent tallowmered beside it and
# the test helper session_stand_in (build/linux/bin). ROW picks rows of the table below
# by name (all when none is named); TALLOW_HOST_SHADES="light" runs one shade only.
#
# For each row and shade: the host starts on a display and a session bus of its own
# (scripts/lib/panel-hosts.sh), with no desktop portal; the tray starts with the
# stand-in agent and a throwaway state directory. Then, each a check:
#   shown     the icon is drawn on the panel (told from a screenshot taken before),
#             within the row's limit; as a StatusNotifierItem that the watcher
#             registered, or docked as an XEmbed icon, as the row expects
#   contrast  its pixels differ from the panel's under them by at least 60 grey levels
#   menu      a left click on it opens a menu
#   stop      in that menu, the first item that can be picked ("Stop", clicked) stops
#             the agent, and the tray says so
#   start     the menu opened again offers "Start" in its place, which starts it again
#   shape     the icon is drawn as a shape, not as a filled box (alpha ignored)
# and the row's own checks (the Wayland dialog, the move to a host that comes later,
# waiting for a notification area). Screenshots go to BIN_DIR/../screenshots/hosts,
# logs (bus traffic included) to BIN_DIR/../test-logs/hosts. One line per row and
# shade says what passed; the last line is "host_matrix: N passed, M failed", counting
# rows; the exit status is non-zero when any row failed.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BIN_DIR=$(cd "${1:?usage: host_matrix.sh BIN_DIR [ROW...]}" && pwd) || exit 2
shift
export PANEL_BIN_DIR=$BIN_DIR
# shellcheck source=../../scripts/lib/panel-hosts.sh
source "$ROOT/scripts/lib/panel-hosts.sh"

# name            host            how the icon must show
ROWS=(
  "xfce4-panel     xfce4-panel     item"
  "lxqt-panel      lxqt-panel      item"
  "sway-waybar     waybar          item"
  # swaybar (sway 1.7) draws no menu of its own, it only calls the item's ContextMenu:
  # the row is for the icon, its contrast, and the rook drawn as a shape, not a square.
  "swaybar         swaybar         item-without-menu"
  "xembed          trayer          xembed"
  "watcher-no-host watcher-trayer  xembed-then-item"
  "no-area         none            late-host"
)
SHADES=(${TALLOW_HOST_SHADES:-light dark})
MIN_CONTRAST=60
# A host that comes after the tray: the tray must be waiting for it this long first.
LATE_HOST_AFTER=20

SHOTS=$BIN_DIR/../screenshots/hosts
LOGS=$BIN_DIR/../test-logs/hosts
mkdir -p "$SHOTS" "$LOGS"
SHOTS=$(cd "$SHOTS" && pwd) LOGS=$(cd "$LOGS" && pwd)
for program in tallowmere-tray tallowmered session_stand_in; do
  [[ -x $BIN_DIR/$program ]] || { echo "host_matrix: $BIN_DIR/$program is missing" >&2; exit 2; }
done
# Built once for all sway rows.
PANEL_TOOL_DIR=$(mktemp -d "${TMPDIR:-/tmp}/host-matrix-tools.XXXXXX")
export PANEL_TOOL_DIR
chmod 755 "$PANEL_TOOL_DIR"

TRAY_PID=
RUN=        # scratch directory of the row being run
finish_row() {
  if [[ -n $TRAY_PID ]]; then
    kill -TERM "$TRAY_PID" 2>/dev/null
    # It stops the agent first; a tray that hangs is ended all the same.
    if ! panel_wait_for 30 tray_ended; then
      FAILED+=("the tray did not end within 30s of SIGTERM")
      kill -KILL "$TRAY_PID" 2>/dev/null
    fi
    wait "$TRAY_PID" 2>/dev/null
    TRAY_PID=
  fi
  end_leftovers
  panel_stop
}

# A tray that was killed leaves its keeper (a forked copy of the tray) and the agent
# running, as it should when it crashes: the row's agent is told by the state directory
# on its command line, its keeper by being its parent.
end_leftovers() {
  [[ -n $RUN ]] || return 0
  local dir pid parent
  for dir in /proc/[0-9]*; do
    { tr '\0' '\n' <"$dir/cmdline" | grep -qx -- "--state-directory=$RUN/state"; } 2>/dev/null || continue
    pid=${dir#/proc/}
    parent=$(awk '{ print $4 }' "$dir/stat" 2>/dev/null)
    note "ending the agent the tray left behind ($pid)"
    kill -KILL "$pid" 2>/dev/null
    if [[ -n $parent && $(cat "/proc/$parent/comm" 2>/dev/null) == tallowmere-tray ]]; then
      note "ending its keeper ($parent)"
      kill -KILL "$parent" 2>/dev/null
    fi
  done
}

cleanup() {
  finish_row
  [[ -n $RUN ]] && rm -rf "$RUN"
  rm -rf "$PANEL_TOOL_DIR"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

tray_ended() { ! kill -0 "$TRAY_PID" 2>/dev/null; }
tray_alive() { kill -0 "$TRAY_PID" 2>/dev/null; }
now_ms() { date +%s%3N; }

# The agent's pid from status.json while that process runs (and is not a zombie).
agent_pid() {
  local pid state
  pid=$(sed -n 's/.*"pid": *\([0-9][0-9]*\).*/\1/p' "$RUN/state/status.json" 2>/dev/null)
  [[ -n $pid ]] || return 1
  state=$(sed -n 's/^[0-9]* (.*) \([A-Z]\) .*/\1/p' "/proc/$pid/stat" 2>/dev/null)
  [[ -n $state && $state != Z ]] || return 1
  echo "$pid"
}
agent_running() { agent_pid >/dev/null; }
agent_stopped() { ! agent_pid >/dev/null; }
agent_is_not() { local pid; pid=$(agent_pid) && [[ $pid != "$1" ]]; }

# Our item among the watcher's registrations: its bus name starts with the tray's pid.
item_registered() { panel_watcher_items | grep -q "^org.kde.StatusNotifierItem-$TRAY_PID-"; }

# icon_box: sets ICON to the "W H X Y" of what the tray drew on the panel since BEFORE.
ICON=
icon_shown() {
  panel_shot "$RUN/now.png" || return 1
  ICON=$(panel_difference "$RUN/before.png" "$RUN/now.png" $PANEL_STRIP)
  [[ -n $ICON ]] || return 1
  local w h
  read -r w h _ <<<"$ICON"
  ((w >= 8 && h >= 8 && w <= 96 && h <= 48))
}
icon_gone() { panel_shot "$RUN/now.png" && [[ -z $(panel_difference "$RUN/before.png" "$RUN/now.png" $PANEL_STRIP) ]]; }
# The icon drawn the same for STEADY_SHOTS screenshots in a row (a second or two): it has taken
# its look.
LAST_ICON_SHOT= STEADY_COUNT=0 STEADY_SHOTS=6
icon_steady() {
  icon_shown || { STEADY_COUNT=0; return 1; }
  local w h x y shot
  read -r w h x y <<<"$ICON"
  shot=$(convert "$RUN/now.png" -crop "${w}x${h}+${x}+${y}" +repage -format '%#' info:)
  if [[ $shot == "$LAST_ICON_SHOT" ]]; then
    STEADY_COUNT=$((STEADY_COUNT + 1))
  else
    LAST_ICON_SHOT=$shot STEADY_COUNT=0
  fi
  ((STEADY_COUNT >= STEADY_SHOTS))
}
# ITEM_NAME and ITEM_PATH of the tray's item, from its registration: a watcher lists a
# bus name, or a bus name and an object path.
item_address() {
  local item
  item=$(panel_watcher_items | grep "^org.kde.StatusNotifierItem-$TRAY_PID-" | head -n 1)
  [[ -n $item ]] || return 1
  ITEM_NAME=${item%%/*} ITEM_PATH=/StatusNotifierItem
  [[ $item == */* ]] && ITEM_PATH=/${item#*/}
  return 0
}
# What the tray's item says in its tooltip, when it is one.
item_tooltip() {
  item_address || return 1
  panel_bus_get "$ITEM_NAME" "$ITEM_PATH" org.kde.StatusNotifierItem ToolTip
}
tray_says_running() { item_tooltip | grep -q 'Running'; }
# The labels of the item's menu, as the tray exports it, one a line.
item_menu_labels() {
  local menu
  item_address || return 1
  menu=$(panel_bus_get "$ITEM_NAME" "$ITEM_PATH" org.kde.StatusNotifierItem Menu | grep -o "'/[^']*'" | tr -d "'")
  gdbus call --session --dest "$ITEM_NAME" --object-path "$menu" --method com.canonical.dbusmenu.GetLayout 0 1 '[]' \
    2>/dev/null | grep -o "'label': <'[^']*'>" | sed "s/'label': <'\(.*\)'>/\1/"
}
# The agent stopped, and the tray knows it: its item's menu begins with "Stopped" (an
# XEmbed icon's menu cannot be read from outside: there the agent stays gone for 2 s).
agent_stopped_for_good() {
  agent_stopped || return 1
  if item_registered; then
    [[ $(item_menu_labels | head -n 1) == Stopped ]]
  else
    local i
    for ((i = 0; i < 20; i++)); do agent_stopped || return 1; sleep 0.1; done
  fi
}

# A menu is a box of at least 60x60 that was not there before the click. The icon's
# own stretch of the panel, which a host highlights while its menu is open, is left
# out; a menu may open over the panel, as waybar's does.
MENU=
menu_changes() {
  panel_shot "$RUN/now.png" || return 1
  local w h x y strip_h
  read -r w h x y <<<"$ICON"
  read -r _ strip_h _ <<<"$PANEL_STRIP"
  convert "$RUN/now.png" \( "$RUN/clicked.png" -crop "$((w + 16))x${strip_h}+$((x - 8))+0" +repage \) \
    -geometry "+$((x - 8))+0" -composite "$RUN/masked.png"
  panel_difference "$RUN/clicked.png" "$RUN/masked.png" "$PANEL_SCREEN_W" "$PANEL_SCREEN_H" 0 0
}
menu_open() {
  MENU=$(menu_changes) || return 1
  [[ -n $MENU ]] || return 1
  local w h
  read -r w h _ <<<"$MENU"
  ((w >= 60 && h >= 60))
}
menu_closed() { [[ -z $(menu_changes) ]]; }

# open_menu NAME: a click in the middle of the icon (with MENU_BUTTON, the left one
# unless it opened nothing), then the menu's picture.
MENU_BUTTON=1
open_menu() {
  local w h x y
  read -r w h x y <<<"$ICON"
  panel_pointer_away
  panel_shot "$RUN/clicked.png" || return 1
  panel_click $((x + w / 2)) $((y + h / 2)) "$MENU_BUTTON"
  # Back where it was: a headless sway draws the pointer into its screenshots.
  panel_pointer_away
  panel_wait_for 5 menu_open || return 1
  # Painted in full: the same picture twice.
  local last='' shot
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    shot=$(convert "$RUN/now.png" -format '%#' info:)
    [[ $shot == "$last" ]] && break
    last=$shot
    sleep 0.2
    menu_open || return 1
  done
  cp "$RUN/now.png" "$SHOTS/$1.png"
}

# pick_row N: clicks the N-th row of text of the menu open now (the first is the
# agent's state, which cannot be picked).
pick_row() {
  local rows x y
  rows=$(panel_menu_rows "$RUN/now.png" $MENU)
  note "menu rows: $(echo $rows)"
  read -r x y <<<"$(sed -n "${1}p" <<<"$rows")"
  [[ -n $y ]] || return 1
  panel_click "$x" "$y" 1
  panel_pointer_away
}

# The Enroll… dialog on sway: a Wayland (xdg_shell) window of tallowmere-dialog.
dialog_window() {
  swaymsg -t get_tree | tr -d ' \n' | grep -Eq '"app_id":"tallowmere-dialog"[^}]*"shell":"xdg_shell"|"shell":"xdg_shell"[^}]*"app_id":"tallowmere-dialog"'
}
no_dialog_window() { ! swaymsg -t get_tree | grep -q '"app_id": "tallowmere-dialog"'; }

# --- one row ---------------------------------------------------------------------------

PASSED=() FAILED=()
RESULT=
check() {
  local name=$1
  shift
  if "$@"; then
    PASSED+=("$name")
    note "ok    $name"
    return 0
  fi
  FAILED+=("$name")
  note "FAIL  $name"
  return 1
}
note() { printf '%6s ms  %s\n' "$(($(now_ms) - ROW_STARTED))" "$*" >>"$RUN/row.log"; }

run_row() {
  local name=$1 host=$2 expect=$3 shade=$4 tag="$1-$4" started shown_after=
  PASSED=() FAILED=() RESULT=
  ROW_STARTED=$(now_ms)
  RUN=$(mktemp -d "${TMPDIR:-/tmp}/host-matrix.XXXXXX")
  chmod 755 "$RUN"  # sway runs as nobody when we are root: it reads its config here
  mkdir -p "$RUN/state"
  rm -f "$SHOTS/$tag"-*.png
  started=$(now_ms)
  if ! panel_start "$host" "$shade" "$RUN" >>"$RUN/row.log" 2>&1; then
    FAILED+=("host did not start")
    return
  fi
  note "host up in $(($(now_ms) - started)) ms"
  panel_pointer_away
  panel_shot "$RUN/before.png"
  # Not enrolled, but allowed to start: the menu is "Running", Stop, Restart, Enroll…
  printf 'TALLOWMERE_LISTEN=127.0.0.1:7420\n' >"$RUN/state/env"
  started=$(now_ms)
  TALLOWMERE_STATE_DIRECTORY=$RUN/state "$BIN_DIR/tallowmere-tray" >"$RUN/tray.log" 2>&1 &
  TRAY_PID=$!

  if [[ $expect == late-host ]]; then
    # Nothing to show the icon in: the tray keeps waiting, and says so once.
    local i
    for ((i = 0; i < LATE_HOST_AFTER * 10; i++)); do
      tray_alive || break
      sleep 0.1
    done
    check "still running after ${LATE_HOST_AFTER}s" tray_alive
    local told=0
    [[ -f $RUN/notifications ]] && told=$(wc -l <"$RUN/notifications")
    note "notifications: $told"
    check "one notification (sent $told)" test "$told" -eq 1
    panel_start_xfce "$shade" "$RUN" >>"$RUN/row.log" 2>&1 || { FAILED+=("late xfce4-panel did not start"); return; }
    started=$(now_ms)
    # No picture of this panel without the icon: the tray may be on it already.
    panel_shot "$RUN/late.png"
    panel_without_icons "$RUN/late.png" "$RUN/before.png"
  fi

  local limit=10
  [[ $expect == xembed* || $expect == late-host ]] && limit=5
  if panel_wait_for "$limit" icon_shown 2>/dev/null; then
    shown_after=$(($(now_ms) - started))
    PASSED+=("shown in ${shown_after}ms")
  else
    FAILED+=("not shown within ${limit}s")
    panel_shot "$SHOTS/$tag-not-shown.png"
  fi
  if item_registered; then
    note "registered with the watcher as $(panel_watcher_items | grep "^org.kde.StatusNotifierItem-$TRAY_PID-")"
    [[ $expect == xembed* ]] && FAILED+=("registered with a watcher that has no host")
  elif [[ $expect == item* ]]; then
    FAILED+=("not registered with the watcher")
  fi
  panel_wait_for 20 agent_running 2>/dev/null || { FAILED+=("the agent did not start"); return; }
  if [[ -z $shown_after ]]; then
    [[ $expect == xembed-then-item ]] && check_host_arrives
    return
  fi
  # The icon takes the agent's look once the tray has seen the agent confirm itself.
  item_registered && panel_wait_for 10 tray_says_running 2>/dev/null
  LAST_ICON_SHOT= STEADY_COUNT=0
  panel_wait_for 10 icon_steady 2>/dev/null
  local w h x y contrast
  read -r w h x y <<<"$ICON"
  note "icon at ${w}x${h}+${x}+${y}"
  contrast=$(panel_contrast "$RUN/before.png" "$RUN/now.png" "$w" "$h" "$x" "$y")
  local panel_colour
  panel_colour=$(panel_colour_at "$RUN/before.png" "$x" "$y")
  convert \( "$RUN/now.png" -crop "$((w + 16))x$((h + 16))+$((x - 8))+$((y - 8))" +repage -filter point -resize 800% \) \
    "$SHOTS/$tag-icon.png"
  cp "$RUN/now.png" "$SHOTS/$tag-panel.png"
  check "contrast $contrast on $panel_colour" test "$contrast" -ge "$MIN_CONTRAST"
  # A host that takes the pixmap's colour without its alpha draws a box, not a rook.
  local coverage
  coverage=$(panel_coverage "$RUN/before.png" "$RUN/now.png" "$w" "$h" "$x" "$y")
  check "a shape, not a box (covers ${coverage}% of its box)" test "$coverage" -lt 85

  [[ $expect == item-without-menu ]] && return
  # Left click, "Stop" (the menu's second row); left click again, "Start" in its place.
  local first
  first=$(agent_pid)
  MENU_BUTTON=1
  if ! check "left click opens the menu" open_menu "$tag-menu"; then
    panel_shot "$SHOTS/$tag-no-menu.png"
    panel_keys Escape
    # The rest of the row with the right button, to see whether all else works there.
    MENU_BUTTON=3
    panel_wait_for 5 menu_closed 2>/dev/null
    check "right click opens the menu" open_menu "$tag-menu-right" || MENU_BUTTON=
  fi
  if [[ -n $MENU_BUTTON ]]; then
    pick_row 2
    check "Stop stops the agent" panel_wait_for 20 agent_stopped_for_good 2>/dev/null
    panel_wait_for 5 menu_closed 2>/dev/null
    # The icon takes the stopped look: some hosts close a menu that is open when the
    # item's icon changes (lxqt-panel).
    LAST_ICON_SHOT= STEADY_COUNT=0
    panel_wait_for 10 icon_steady 2>/dev/null
    if agent_stopped && check "the menu opens again" open_menu "$tag-menu-stopped"; then
      pick_row 2
      check "Start (in Stop's place) starts it again" panel_wait_for 20 agent_is_not "$first" 2>/dev/null
      panel_wait_for 5 menu_closed 2>/dev/null
    fi
  fi

  if [[ $host == waybar ]] && agent_running; then
    # Enroll… is the fourth row of the running agent's menu; its dialog is a Wayland window.
    if open_menu "$tag-menu-enroll"; then
      pick_row 4
      if check "Enroll… opens a Wayland window" panel_wait_for 10 dialog_window 2>/dev/null; then
        # Drawn in full: the same picture twice.
        local last='' shot
        for _ in 1 2 3 4 5 6 7 8 9 10; do
          panel_shot "$RUN/now.png"
          shot=$(convert "$RUN/now.png" -format '%#' info:)
          [[ $shot == "$last" ]] && break
          last=$shot
          sleep 0.3
        done
        cp "$RUN/now.png" "$SHOTS/$tag-dialog.png"
        # Closed as with its title bar's close button.
        swaymsg -q '[app_id="tallowmere-dialog"] kill'
        panel_wait_for 10 no_dialog_window 2>/dev/null
        note "dialog closed: $(no_dialog_window && echo yes || echo no)"
      fi
    else
      FAILED+=("no menu for Enroll…")
    fi
  fi

  [[ $expect == xembed-then-item ]] && check_host_arrives
}

# A panel with a notification area that starts later: the icon moves to the item.
check_host_arrives() {
  panel_stand_in_host_arrives
  check "moves to the item when a host registers" panel_wait_for 5 item_registered 2>/dev/null
  check "leaves the XEmbed tray" panel_wait_for 5 icon_gone 2>/dev/null
}

# --- the table -------------------------------------------------------------------------

wanted() {
  (($# == 0)) && return 0
  local row=$1 want
  shift
  for want in "${PICKED[@]}"; do [[ $want == "$row" ]] && return 0; done
  return 1
}
PICKED=("$@")

total_started=$(now_ms)
ROWS_PASSED=0 ROWS_FAILED=0
for row in "${ROWS[@]}"; do
  read -r name host expect <<<"$row"
  ((${#PICKED[@]} == 0)) || wanted "$name" "${PICKED[@]}" || continue
  for shade in "${SHADES[@]}"; do
    row_started=$(now_ms)
    run_row "$name" "$host" "$expect" "$shade"
    note "row done; ending the tray and the host"
    finish_row
    note "ended"
    # The row's logs, bus traffic included, for whoever reads a failure.
    mkdir -p "$LOGS/$name-$shade"
    cp "$RUN"/*.log "$RUN"/*.conf "$RUN/notifications" "$LOGS/$name-$shade/" 2>/dev/null
    rm -rf "$RUN"
    RUN=
    seconds=$(((($(now_ms) - row_started) + 500) / 1000))
    if ((${#FAILED[@]} == 0)); then
      ROWS_PASSED=$((ROWS_PASSED + 1))
      printf '%-7s %-16s %-5s %3ss  %s\n' PASS "$name" "$shade" "$seconds" "$(IFS=';'; echo "${PASSED[*]}")"
    else
      ROWS_FAILED=$((ROWS_FAILED + 1))
      printf '%-7s %-16s %-5s %3ss  failed: %s; passed: %s\n' FAIL "$name" "$shade" "$seconds" \
        "$(IFS=';'; echo "${FAILED[*]}")" "$(IFS=';'; echo "${PASSED[*]}")"
    fi
  done
done
echo "host matrix took $(((($(now_ms) - total_started) + 500) / 1000))s; screenshots in $SHOTS, logs in $LOGS"
echo "host_matrix: $ROWS_PASSED passed, $ROWS_FAILED failed"
((ROWS_FAILED == 0))
