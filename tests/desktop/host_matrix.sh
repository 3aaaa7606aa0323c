#!/usr/bin/env bash
# The Linux tray on the notification areas Debian ships, used and judged on screenshots
# as a person would: tests/desktop/host_matrix.sh BIN_DIR [ROW...]
#
# BIN_DIR is build/linux/bin; ROW names rows of the table (all when none is named).
# Pictures go to BIN_DIR/../screenshots/hosts, each row's logs to ../test-logs/hosts.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PANEL_BIN_DIR=$(cd "${1:?usage: host_matrix.sh BIN_DIR [ROW...]}" && pwd) || exit 2
shift
source "$ROOT/scripts/lib/panel-hosts.sh"

# icon: how the icon must be shown. late: seconds with no notification area at all
# before lxqt-panel starts; 90 is past the 60 s after which an icon never shown would
# count as failed.
# also: the checks beyond "shown, contrast, a shape": menu (left click, Stop, Start),
# enroll (the dialog as a Wayland window), host-later (a host registers, the icon moves),
# flap (the host's own menu stays open while the hub connection flaps), copied (the
# programs alone in a directory of their own, nothing installed, no icon beside them).
# An icon of "none" is never shown: the tray waits, says so once, and loads no GTK.
#  name           host            icon    late shade also
ROWS=(
  "xfce4-panel     xfce4-panel     item    -    light menu"
  "xfce4-panel     xfce4-panel     item    -    dark  menu"
  "lxqt-panel      lxqt-panel      item    -    light menu,flap"
  "lxqt-panel      lxqt-panel      item    -    dark  menu,flap"
  "copied          lxqt-panel      item    -    light menu,copied"
  "copied          lxqt-panel      item    -    dark  menu,copied"
  # The desktops, with the programs as a user unpacks them.
  "mate            mate            item    -    light menu,copied"
  "mate            mate            item    -    dark  menu,copied"
  "plasma          plasma          item    -    light menu,copied"
  "plasma          plasma          item    -    dark  menu,copied"
  "gnome           gnome           item    -    light menu,copied"
  "gnome           gnome           item    -    dark  menu,copied"
  "enlightenment   enlightenment   item    -    light menu,copied"
  "enlightenment   enlightenment   item    -    dark  menu,copied"
  # A Wayland session with no notification area: no XEmbed tray can serve there either.
  "wayland-no-host sway-bare       none    -    dark  -"
  "sway-waybar     waybar          item    -    light menu,enroll"
  "sway-waybar     waybar          item    -    dark  menu,enroll"
  # swaybar (sway 1.7) draws no menu of its own, it only calls the item's ContextMenu:
  # the row is the one check that the rook is drawn as a shape there, not a square.
  "swaybar         swaybar         item    -    light -"
  "swaybar         swaybar         item    -    dark  -"
  "xembed          trayer          xembed  -    light menu"
  "xembed          trayer          xembed  -    dark  menu"
  "watcher-no-host watcher-trayer  xembed  -    light menu,host-later"
  "watcher-no-host watcher-trayer  xembed  -    dark  menu,host-later"
  "no-area         none            item    90   light menu"
  "no-area         none            item    20   dark  menu"
)

# The stopped rook's contrast at least, on every row: the host's own drawing of the
# dimmed symbolic icon at 35 %, or the dimmed pixmap. Measured on every row, the least
# was 26 (Enlightenment's light panel, which draws the pixmap's grey as it is).
DIMMED_FLOOR=24

SHOTS=$(dirname "$PANEL_BIN_DIR")/screenshots/hosts LOGS=$(dirname "$PANEL_BIN_DIR")/test-logs/hosts
mkdir -p "$SHOTS" "$LOGS"
now_ms() { date +%s%3N; }

# check NAME COMMAND...: the row's record of what passed and what failed.
check() {
  local name=$1
  shift
  if "$@" 2>/dev/null; then PASSED+=("$name"); else FAILED+=("$name"); return 1; fi
}
never() { ! "$@"; }
# A tray that died is a zombie until it is waited for: alive means running.
tray_alive() { [[ $(sed 's/.*) //' "/proc/$TRAY_PID/stat" 2>/dev/null) == [^Z]* ]]; }
tray_ended() { ! tray_alive; }

# The agent's pid from its status file while that process runs.
agent_pid() {
  local pid
  pid=$(sed -n 's/.*"pid": *\([0-9]*\).*/\1/p' "$RUN/state/status.json" 2>/dev/null)
  [[ -n $pid && $(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) == [^Z] ]] && echo "$pid"
}
agent_stopped() { [[ -z $(agent_pid) ]]; }
agent_is_not() { local pid; pid=$(agent_pid) && [[ $pid != "$1" ]]; }

# The tray's item as the watcher lists it: its bus name (before any object path, which
# GNOME writes after an "@"), owned by the tray's process. Fails with status 2 when the
# watcher cannot be asked, 1 when it lists no item of the tray's.
tray_item() {
  local items item
  items=$(gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems) || return 2
  for item in $(grep -o "'[^']*'" <<<"$items" | tr -d "'"); do
    [[ $(gdbus call --session --dest org.freedesktop.DBus --object-path / --method \
      org.freedesktop.DBus.GetConnectionUnixProcessID "${item%%[@/]*}") == "(uint32 $TRAY_PID,)" ]] &&
      echo "${item%%[@/]*}" && return 0
  done
  return 1
}
item_registered() { tray_item >/dev/null; }
# Asked, and answered: no item of the tray's. A watcher that cannot be asked says nothing.
item_not_registered() { tray_item >/dev/null; (($? == 1)); }

# Whether the tray's tooltip says TEXT, as its item serves it on the tray's own
# connection, registered with a watcher or not (an XEmbed icon has the same tooltip).
tray_says() {
  local name
  name=$(desktop_bus_name_of "$TRAY_PID") && gdbus call --session --dest "$name" --object-path /StatusNotifierItem \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ToolTip | grep -qF "'$1'"
}

# A host's click on the menu row labelled LABEL, sent over the bus: for the hosts that
# draw no menu of their own.
bus_click() {
  local item layout id
  item=$(tray_item) &&
    layout=$(gdbus call --session --dest "$item" --object-path /MenuBar --method com.canonical.dbusmenu.GetLayout \
      0 1 '[]') || return 1
  id=$(grep -o "([0-9]*, {[^}]*'label': <'$1'>" <<<"$layout" | head -n 1 | grep -o '^([0-9]*' | tr -d '(')
  [[ -n $id ]] && gdbus call --session --dest "$item" --object-path /MenuBar --method com.canonical.dbusmenu.Event \
    "$id" clicked '<0>' 0 >/dev/null
}

# changed BEFORE AFTER W H X Y: the "W H X Y" around the pixels that differ in that box.
changed() {
  local box
  box=$(convert \( "$1" -crop "$3x$4+$5+$6" +repage \) \( "$2" -crop "$3x$4+$5+$6" +repage \) \
    -compose difference -composite -colorspace gray -threshold 1% -format '%@' info:)
  # An image with no change trims to "0x0+...".
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] && ((BASH_REMATCH[1] > 1 && BASH_REMATCH[2] > 1)) &&
    echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]} $((BASH_REMATCH[3] + $5)) $((BASH_REMATCH[4] + $6))"
}

# The icon is what the tray drew on the panel since before.png: sets ICON to its box.
icon_shown() {
  panel_shot "$RUN/now.png" && ICON=$(changed "$RUN/before.png" "$RUN/now.png" $PANEL_STRIP) || return 1
  local w h
  read -r w h _ <<<"$ICON"
  ((w >= 8 && h >= 8 && w <= 96 && h <= 48))
}
icon_gone() { panel_shot "$RUN/now.png" && [[ -z $(changed "$RUN/before.png" "$RUN/now.png" $PANEL_STRIP) ]]; }
# Where the icon was, the panel shows what it showed before the tray.
icon_left_its_place() {
  local w h x y
  read -r w h x y <<<"$ICON"
  panel_shot "$RUN/now.png" && [[ -z $(changed "$RUN/before.png" "$RUN/now.png" $((w + 4)) $((h + 4)) \
    $((x > 2 ? x - 2 : 0)) $((y > 2 ? y - 2 : 0))) ]]
}

# The panel's own grey (0 to 255) in before.png: the commonest colour of the top of the
# strip, where every host draws its panel.
panel_grey() {
  convert "$RUN/before.png" -crop 1024x16+0+0 +repage -colorspace gray -format %c histogram:info: | sort -rn |
    head -n 1 | sed -E 's/^[^(]*\( *([0-9.]+).*/\1/' | cut -d. -f1
}

# settled N: screenshots into now.png until N in a row show the same pixels.
settled() {
  local last='' shot same=0 i
  for ((i = 0; i < 100; i++)); do
    panel_shot "$RUN/now.png" && shot=$(identify -format '%#' "$RUN/now.png") || return 1
    if [[ $shot == "$last" ]]; then ((++same >= $1)) && return 0; else same=0 last=$shot; fi
  done
  return 1
}

# The icon against the panel under it in before.png: CONTRAST, the largest difference in
# grey left after a 3x3 median (a stroke counts, a stray edge pixel does not), and
# COVERAGE, the share of its box that changed at all (a box drawn for the rook covers it
# all). It stands out once CONTRAST is 60 or more: until the agent has started, the
# icon is dimmed on purpose.
icon_stands_out() { measure_icon && ((CONTRAST >= 60)); }
measure_icon() {
  icon_shown || return 1
  local box
  read -r w h x y <<<"$ICON"
  box="${w}x$h+$x+$y"
  CONTRAST=$(convert \( "$RUN/before.png" -crop "$box" +repage -colorspace gray \) \
    \( "$RUN/now.png" -crop "$box" +repage -colorspace gray \) -compose difference -composite \
    -statistic median 3x3 -format '%[fx:int(maxima*255+0.5)]' info:)
  COVERAGE=$(convert \( "$RUN/before.png" -crop "$box" +repage \) \( "$RUN/now.png" -crop "$box" +repage \) \
    -compose difference -composite -colorspace gray -threshold 1% -format '%[fx:int(mean*100+0.5)]' info:)
}

# A menu is a box of at least 60x60 that the click brought up; the stretch of the
# panel around the icon, which hosts light up while their menu is open, is left out.
# Sets MENU to its box.
menu_in_shot() {
  local w h x y
  read -r w h x y <<<"$ICON"
  # GNOME lights up a pill some ten pixels wider than the icon on either side.
  x=$((x > 24 ? x - 24 : 0))
  convert "$RUN/now.png" \( "$RUN/clicked.png" -crop "$((w + 48))x48+$x+0" +repage \) -geometry "+$x+0" -composite \
    "$RUN/masked.png" && MENU=$(changed "$RUN/clicked.png" "$RUN/masked.png" 1024 768 0 0)
  read -r w h _ <<<"$MENU"
  ((${w:-0} >= 60 && ${h:-0} >= 60))
}
menu_open() { panel_shot "$RUN/now.png" && menu_in_shot; }
menu_closed() { panel_shot "$RUN/now.png" && { menu_in_shot; [[ -z $MENU ]]; }; }

# open_menu NAME [BUTTON]: a click (the left button unless BUTTON says) in the middle
# of the icon; the menu, drawn in full, saved as NAME. The pointer leaves the icon only
# once the menu is there: a tray that opens its own menu opens it at the pointer.
open_menu() {
  local w h x y
  read -r w h x y <<<"$ICON"
  panel_pointer_away
  panel_shot "$RUN/clicked.png"
  panel_click $((x + w / 2)) $((y + h / 2)) "${2:-1}"
  wait_for 5 menu_open && panel_pointer_away && settled 2 && menu_in_shot && cp "$RUN/now.png" "$SHOTS/$1.png"
}

# pick_row N: clicks the N-th row of text in the open menu. Rows are told from the
# menu's background (the commonest colour in its box) by their ink: bands at least 5
# pixels high with some ink; separators are thinner, or cross the whole menu. Only the
# menu's body counts (the stretch of its background, so a shadow or rounded corners
# around it do not read as ink on every line), inside a border.
pick_row() {
  local w h x y inner background body
  read -r w h x y <<<"$MENU"
  background=$(convert "$RUN/now.png" -crop "${w}x$h+$x+$y" +repage -format %c histogram:info: | sort -rn |
    head -n 1 | grep -o '#[0-9A-Fa-f]\{6\}')
  body=$(convert "$RUN/now.png" -crop "${w}x$h+$x+$y" +repage -fuzz 2% -fill white -opaque "$background" \
    -fill black +opaque white -format '%@' info:)
  [[ $body =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
  w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=$((x + BASH_REMATCH[3])) y=$((y + BASH_REMATCH[4]))
  inner="$((w - 12))x$((h - 4))+$((x + 6))+$((y + 2))"
  y=$(convert "$RUN/now.png" -crop "$inner" +repage -fuzz 2% -fill black -opaque "$background" -fill white \
    +opaque black -colorspace gray -scale "1x$((h - 4))!" -depth 8 txt: | awk -F '[,:() ]+' -v top=$((y + 2)) '
      function row() { if (start >= 0 && last - start >= 4) print top + int((start + last) / 2); start = -1 }
      BEGIN { start = -1 }
      /^#/ { next }
      $3 > 0.5 && $3 < 200 { if (start < 0) start = $2; last = $2; next }
      { row() }
      END { row() }' | sed -n "${1}p")
  [[ -n $y ]] && panel_click $((x + w / 3)) "$y" && panel_pointer_away
}

# The Enroll… dialog on sway: a Wayland (xdg_shell) window of tallowmere-dialog with the
# dialog's own title (not an error box), drawn below the panel. One line a container.
dialog_window() {
  swaymsg -t get_tree | tr -d '\n' | sed 's/{ *"id":/\n&/g' | grep -E '"app_id": *"tallowmere-dialog"' |
    grep -E '"name": *"Enroll this computer"' | grep -Eq '"shell": *"xdg_shell"'
}
dialog_drawn() { panel_shot "$RUN/now.png" && [[ -n $(changed "$RUN/clicked.png" "$RUN/now.png" 1024 720 0 48) ]]; }
enroll_dialog() { wait_for 10 dialog_window && wait_for 10 dialog_drawn && settled 2; }

# run_row NAME HOST ICON LATE SHADE ALSO: the row's checks, in a subshell of its own.
run_row() {
  local name=$1 host=$2 icon=$3 late=$4 shade=$5 also=$6 limit=10 shown="" first w h x y
  tag=$1-$5 PASSED=() FAILED=() TRAY_PID= ICON= CONTRAST= COVERAGE=
  RUN=$(mktemp -d "${TMPDIR:-/tmp}/host-matrix.XXXXXX")
  trap end_row EXIT
  trap 'exit 143' TERM
  exec 2>"$RUN/matrix.log"
  rm -f "$SHOTS/$tag"-*.png
  mkdir -p "$RUN/state"
  panel_start "$host" "$shade" "$RUN" >"$RUN/host.log" 2>&1 || { FAILED+=("the host did not start"); return; }
  panel_pointer_away
  settled 2 && cp "$RUN/now.png" "$RUN/before.png"
  # Not enrolled, but allowed to start: the menu is "Running", Stop, Restart, Enroll…
  echo 'TALLOWMERE_LISTEN=127.0.0.1:7420' >"$RUN/state/env"
  local bin=$PANEL_BIN_DIR
  if [[ $also == *copied* ]]; then
    # Unpacked from an archive, say: where the session looks for icons, none of ours.
    bin=$RUN/copied
    mkdir -p "$bin" "$RUN/nothing"
    cp "$PANEL_BIN_DIR"/{tallowmere-tray,tallowmere-dialog,tallowmered} "$bin/"
    export XDG_DATA_DIRS=$RUN/nothing
  fi
  TALLOWMERE_STATE_DIRECTORY=$RUN/state "$bin/tallowmere-tray" >"$RUN/tray.log" 2>&1 &
  TRAY_PID=$! started=$(now_ms)
  if [[ $icon == none ]]; then
    waits_quietly
    return
  fi
  if [[ $late != - ]]; then
    check "still running after ${late}s" never wait_for "$late" tray_ended
    check "one notification" test "$(grep -c member=Notify "$RUN/notifications")" -eq 1
    panel_start_lxqt >>"$RUN/host.log" 2>&1 || { FAILED+=("lxqt-panel did not start"); return; }
    started=$(now_ms) limit=5
    # No picture of this panel without the icon: each pixel of its strip takes the
    # colour most of its row has 150 pixels either side, the panel's and not the icon's.
    panel_shot "$RUN/late.png"
    convert "$RUN/late.png" \( +clone -crop 1024x48+0+0 +repage -statistic Mode 301x1 \) -composite "$RUN/before.png"
  fi
  # Light and dark rows judge the icon on two different panels only if the shade took.
  local grey
  grey=$(panel_grey)
  check "a $shade panel (grey ${grey:-unknown})" panel_is "$shade" "$grey"
  [[ $icon == xembed ]] && limit=5
  wait_for $((limit * 2)) icon_shown && shown=$(($(now_ms) - started))
  check "shown in ${shown:-?} ms (${limit}s at most)" test "${shown:-99999}" -le $((limit * 1000))
  [[ $icon == item ]] && check "registered with the watcher" wait_for 5 item_registered
  check "the agent starts" wait_for 20 agent_pid || return
  if [[ -n $shown ]]; then
    # The running look, not the dimmed one of "Starting…" before it, which on some
    # panels stands out almost as well.
    wait_for 10 tray_says "tallowmered: Running" && settled 3
    wait_for 10 icon_stands_out
    read -r w h x y <<<"$ICON"
    convert "$RUN/now.png" -crop "$((w + 16))x$((h + 16))+$((x - 8))+$((y - 8))" +repage -scale 800% "$SHOTS/$tag-icon.png"
    cp "$RUN/now.png" "$SHOTS/$tag-panel.png"
  fi
  check "contrast ${CONTRAST:-never measured}" test "${CONTRAST:-0}" -ge 60
  check "a shape, not a box (${COVERAGE:-?}% of it)" test "${COVERAGE:-100}" -lt 85
  if [[ -n $shown && $also == *menu* ]] && check "left click opens the menu" open_menu "$tag-menu"; then
    first=$(agent_pid)
    pick_row 2
    check "Stop stops the agent" wait_for 20 agent_stopped
    # The icon takes the stopped look before the menu opens again: lxqt-panel closes a
    # menu that is open when the icon changes. The agent stays stopped meanwhile.
    wait_for 5 menu_closed
    judge_stopped_look
    if check "it stays stopped" agent_stopped && check "the menu opens again" open_menu "$tag-menu-stopped"; then
      pick_row 2
      check "Start, in Stop's place, starts it" wait_for 20 agent_is_not "$first"
      wait_for 5 menu_closed
    fi
  fi
  if [[ -n $shown && $also != *menu* ]]; then
    # A host that draws no menu: Stop as its click would come, over the bus.
    check "Stop, sent as a host's click, stops the agent" bus_click Stop && wait_for 20 agent_stopped
    judge_stopped_look
  fi
  if [[ $also == *flap* ]]; then
    check "its own menu stays open while the hub flaps, its hub row redrawn" menu_open_through_flaps
  fi
  if [[ $also == *copied* ]]; then
    check "names no icon hosts cannot find" test "$(item_property IconName)" == "(<''>,)"
  fi
  if [[ $also == *enroll* ]]; then
    # Enroll… is the running agent's fourth row.
    wait_for 20 agent_pid && open_menu "$tag-menu-enroll" && pick_row 4
    check "Enroll… opens a Wayland window" enroll_dialog && cp "$RUN/now.png" "$SHOTS/$tag-dialog.png"
  fi
  if [[ $also == *host-later* ]]; then
    check "not registered while no host is" item_not_registered
    kill -USR1 "$PANEL_STAND_IN_PID"
    check "moves to the item when a host registers" wait_for 5 item_registered
    check "leaves the XEmbed tray" wait_for 5 icon_gone
  fi
}

# No notification area at all, on Wayland: the tray keeps running and waiting, says so
# once, and never loads GTK, whose XEmbed icon no tray could dock.
waits_quietly() {
  check "still running after 12s" never wait_for 12 tray_ended
  check "one notification" test "$(grep -c member=Notify "$RUN/notifications")" -eq 1
  check "says once there is no notification area" test "$(grep -c 'no notification area' "$RUN/tray.log")" -eq 1
  check "no GTK loaded" never grep -q libgtk-3 "/proc/$TRAY_PID/maps"
}

# A property of the tray's item, as gdbus prints it.
item_property() {
  local item
  item=$(tray_item) && gdbus call --session --dest "$item" --object-path /StatusNotifierItem --method \
    org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}

# The hub row of the tray's menu, as the bus serves it.
hub_row_says() {
  local item
  item=$(tray_item) && gdbus call --session --dest "$item" --object-path /MenuBar --method \
    com.canonical.dbusmenu.GetLayout 0 1 '[]' | grep -q "'label': <'Hub: [^']*$1'>"
}

# status.json as the agent writes it, with the hub connection CONNECTED.
write_status() {
  printf '{"pid":%s,"hub":{"connected":%s}}' "$(agent_pid)" "$1" >"$RUN/state/status.json.new" &&
    mv "$RUN/state/status.json.new" "$RUN/state/status.json"
}

# The host's own menu (the right button), open while the hub connection flaps ten times:
# each change is the hub row's alone, so the menu stays open, and it shows each one.
menu_open_through_flaps() {
  local flip connected open_shot
  # Enrolled now: the menu gains its hub row.
  echo '{"hub":{"url":"https://hub.tallowmere.test/"}}' >"$RUN/state/config.json"
  wait_for 10 hub_row_says ', connected' && open_menu "$tag-menu-flaps" 3 || return 1
  open_shot=$RUN/menu-connected.png
  cp "$RUN/now.png" "$open_shot"
  for ((flip = 1; flip <= 10; flip++)); do
    connected=$((flip % 2 == 0 ? 1 : 0))
    if ((connected)); then write_status true; else write_status false; fi
    wait_for 10 hub_row_says "$( ((connected)) && echo ', connected' || echo ', connecting…')" || return 1
    settled 2 && menu_in_shot || return 1
    # Connecting: the row reads otherwise than when the menu opened.
    if ((!connected)); then [[ -n $(changed "$open_shot" "$RUN/now.png" $MENU) ]] || return 1; fi
  done
  panel_pointer_away
  xdotool key Escape
  wait_for 5 menu_closed
}

# panel_is SHADE GREY: a light panel is light (160 or more), a dark one dark (100 at most).
panel_is() {
  [[ -n $2 ]] || return 1
  if [[ $1 == light ]]; then (($2 >= 160)); else (($2 <= 100)); fi
}

# The stopped rook is dimmed on purpose, but must still be seen: its contrast, measured
# once the picture has settled, at DIMMED_FLOOR at least.
judge_stopped_look() {
  local w h x y
  settled 5
  CONTRAST=
  measure_icon
  if [[ -n $CONTRAST ]]; then
    read -r w h x y <<<"$ICON"
    convert "$RUN/now.png" -crop "$((w + 16))x$((h + 16))+$((x - 8))+$((y - 8))" +repage -scale 800% \
      "$SHOTS/$tag-icon-stopped.png"
  fi
  check "stopped look contrast ${CONTRAST:-never measured} ($DIMMED_FLOOR at least)" test "${CONTRAST:-0}" -ge "$DIMMED_FLOOR"
}

# The tray must still run at the row's end; asked to end (it stops the agent first), it
# must within 30 s, with status 0, and take its icon off the panel. One that is killed,
# or died, leaves the agent running with its keeper, the agent's parent.
end_tray() {
  [[ -n $TRAY_PID ]] || return 0
  local status
  check "still running at the end" tray_alive
  kill -TERM "$TRAY_PID" 2>/dev/null
  wait_for 30 tray_ended || { FAILED+=("the tray ends within 30s of SIGTERM"); kill -KILL "$TRAY_PID"; }
  wait "$TRAY_PID"
  status=$?
  check "ends with status 0 on SIGTERM (status $status)" test "$status" -eq 0
  [[ -n $ICON ]] && check "its icon leaves the panel" wait_for 10 icon_left_its_place
  TRAY_PID=
  local agent parent
  agent=$(agent_pid) || return 0
  parent=$(awk '{ print $4 }' "/proc/$agent/stat")
  [[ $(cat "/proc/$parent/comm") == tallow-keeper ]] && kill -KILL "$parent"
  kill -KILL "$agent"
}

end_row() {
  local status=$?
  # A row whose script broke off (an unset variable, a failed command) still reports,
  # as failed, naming where.
  if [[ -z ${REPORTED:-} ]]; then
    FAILED+=("the row's script ended early (status $status) after: ${PASSED[*]:-nothing}")
    end_tray
    report
    status=1
  fi
  desktop_cleanup
  rm -rf "${LOGS:?}/$tag" && mkdir -p "$LOGS/$tag"
  cp "$RUN"/*.log "$LOGS/$tag/"
  rm -rf "$RUN"
  exit "$status"
}

report() {
  local result=PASS seconds=$((($(now_ms) - row_started) / 1000)) checks
  REPORTED=1
  checks="$(IFS=';'; echo "${PASSED[*]}")"
  ((${#FAILED[@]} == 0)) || result=FAIL checks="failed: $(IFS=';'; echo "${FAILED[*]}"); passed: $checks"
  printf '%-7s %-16s %-5s %3ss  %s\n' "$result" "$name" "$shade" "$seconds" "$checks"
  [[ $result == PASS ]]
}

# Every row named must be in the table: a filter that selects nothing would pass.
for wanted in "$@"; do
  printf '%s\n' "${ROWS[@]}" | awk '{ print $1 }' | grep -qx -- "$wanted" || { echo "host_matrix: no row $wanted" >&2; exit 2; }
done

started=$(now_ms) passed=0 failed=0
trap 'kill -TERM $! 2>/dev/null; wait; exit 143' TERM INT
for row in "${ROWS[@]}"; do
  read -r name host icon late shade also <<<"$row"
  (($# == 0)) || [[ " $* " == *" $name "* ]] || continue
  row_started=$(now_ms)
  (run_row "$name" "$host" "$icon" "$late" "$shade" "$also"; end_tray; report) &
  if wait $!; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "host matrix took $((($(now_ms) - started) / 1000))s; screenshots in $SHOTS"
echo "host_matrix: $passed passed, $failed failed"
((failed == 0 && passed > 0))
