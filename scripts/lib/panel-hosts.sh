# Shell functions that start a real notification-area host in isolation, show where
# the tray's icon is drawn on it, click it, read the screen and end the host again:
# xfce4-panel, lxqt-panel, waybar's and swaybar's trays on a headless sway, trayer and
# tint2 (XEmbed), a StatusNotifierWatcher that no host has registered with, or no
# notification area at all. Used by tests/desktop/host_matrix.sh; sources
# wine-desktop.sh for its Xvfb, its waiting and its clean-up.
#
# Every host gets a display of its own (Xvfb, or a headless sway on its own Wayland
# socket), a private session bus on which nothing can be started by D-Bus activation
# (so no desktop portal answers, as on a desktop without one, and nothing starts
# behind the test's back), and XDG directories under its scratch directory. Every
# process is recorded in DESKTOP_PIDS and ended by panel_stop, only those.
#
#   panel_start HOST SHADE DIR   HOST: xfce4-panel lxqt-panel waybar swaybar trayer tint2
#                                watcher-trayer none; SHADE: light or dark. Exports
#                                DISPLAY or WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS...
#   panel_shot FILE              the whole screen as a PNG
#   panel_click X Y [BUTTON]     a click with the pointer (1 left, 2 middle, 3 right)
#   panel_keys KEY...            key presses (X keysym names: Down, Return, Escape)
#   panel_stop                   ends what panel_start started
#
# Panels run along the top edge; PANEL_STRIP is the "W H X Y" of the part of the screen
# they draw in, so icons are looked for there and menus below it.

# shellcheck source=wine-desktop.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-desktop.sh"

PANEL_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PANEL_SOURCE_DIR=$(cd "$PANEL_LIB_DIR/../.." && pwd)
PANEL_SCREEN_W=1024
PANEL_SCREEN_H=768
PANEL_STRIP="1024 48 0 0"
PANEL_HEIGHT=32
# Colours of the light and the dark panel where the host takes one: those of Breeze,
# KDE's default, as near as a panel of each kind gets.
PANEL_LIGHT_BG='#eff0f1'
PANEL_LIGHT_FG='#232629'
PANEL_DARK_BG='#31363b'
PANEL_DARK_FG='#eff0f1'

PANEL_HOST=
PANEL_DIR=
PANEL_WAYLAND=0
PANEL_STAND_IN_PID=
PANEL_STAND_IN_LOG=

# panel_wait_for SECONDS COMMAND...: runs COMMAND until it succeeds, for at most
# SECONDS of wall-clock time (wait_for counts tries, and a screenshot takes a while).
panel_wait_for() {
  local limit=$(($1 * 1000)) started
  shift
  started=$(date +%s%3N)
  while :; do
    "$@" >/dev/null 2>&1 && return 0
    (($(date +%s%3N) - started >= limit)) && break
    sleep 0.1
  done
  echo "gave up after $((limit / 1000))s waiting for: $*" >&2
  return 1
}

# panel_tool PROGRAM: the path of a helper built with the tests (session_stand_in),
# from PANEL_BIN_DIR.
panel_tool() {
  local path=${PANEL_BIN_DIR:?set PANEL_BIN_DIR to the bin directory of the build}/$1
  [[ -x $path ]] || { echo "$path is missing: build the tests first" >&2; return 1; }
  printf '%s\n' "$path"
}

# panel_session DIR: the private session bus and XDG directories, and a dbus-monitor
# writing everything said on the bus to DIR/bus.log.
panel_session() {
  local dir=$1
  mkdir -p "$dir"/{config,cache,data,state-home,run,services}
  chmod 700 "$dir/run"
  # A bus like the session's, but with only an empty service directory: nothing is
  # started on demand, not the desktop portal, not a notification daemon.
  cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:dir=$dir/run</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$dir/services</servicedir>
  <policy context="default">
    <!-- sway and its bar run as nobody when the test runs as root. -->
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  : >"$dir/bus"
  dbus-daemon --config-file="$dir/bus.conf" --nofork --print-address=3 3>"$dir/bus" >"$dir/dbus.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 10 test -s "$dir/bus" || { echo "dbus-daemon did not start; see $dir/dbus.log" >&2; return 1; }
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$dir/bus")
  export DBUS_SESSION_BUS_ADDRESS
  export XDG_CONFIG_HOME=$dir/config XDG_CACHE_HOME=$dir/cache XDG_DATA_HOME=$dir/data
  export XDG_STATE_HOME=$dir/state-home XDG_RUNTIME_DIR=$dir/run HOME=$dir
  # GTK programs would start the accessibility bus and a settings backend on demand.
  export NO_AT_BRIDGE=1 GTK_A11Y=none GSETTINGS_BACKEND=memory
  unset DISPLAY WAYLAND_DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP XDG_SESSION_TYPE
  dbus-monitor --session >"$dir/bus.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  # The monitor must be listening before anything it should see is said.
  wait_for 10 grep -q NameAcquired "$dir/bus.log"
}

# panel_bus_get SERVICE PATH INTERFACE PROPERTY: a property, as gdbus prints it.
panel_bus_get() {
  gdbus call --session --dest "$1" --object-path "$2" --method org.freedesktop.DBus.Properties.Get "$3" "$4" \
    2>/dev/null
}

# Whether a StatusNotifierWatcher runs and says a host has registered with it.
panel_watcher_has_host() {
  panel_bus_get org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.kde.StatusNotifierWatcher \
    IsStatusNotifierHostRegistered | grep -q true
}

# The items the watcher has registered, one a line.
panel_watcher_items() {
  panel_bus_get org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.kde.StatusNotifierWatcher \
    RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'"
}

# panel_colours SHADE: sets PANEL_BG and PANEL_FG for the shade.
panel_colours() {
  case $1 in
    light) PANEL_BG=$PANEL_LIGHT_BG PANEL_FG=$PANEL_LIGHT_FG ;;
    dark) PANEL_BG=$PANEL_DARK_BG PANEL_FG=$PANEL_DARK_FG ;;
    *) echo "panel shade must be light or dark, not '$1'" >&2; return 1 ;;
  esac
}

# panel_start HOST SHADE DIR
panel_start() {
  local host=$1 shade=$2 dir=$3
  PANEL_HOST=$host PANEL_DIR=$dir PANEL_WAYLAND=0
  mkdir -p "$dir"
  panel_colours "$shade" || return 1
  panel_session "$dir" || return 1
  case $host in
    waybar | swaybar) panel_start_sway "$host" "$dir" ;;
    *)
      desktop_start_xvfb "$dir" || return 1
      case $host in
        xfce4-panel) panel_start_xfce "$shade" "$dir" ;;
        lxqt-panel) panel_start_lxqt "$dir" ;;
        trayer) panel_start_trayer ;;
        tint2) panel_start_tint2 "$dir" ;;
        watcher-trayer) panel_start_stand_in "$dir" --watcher && panel_start_trayer ;;
        none) panel_start_stand_in "$dir" "--notifications=$dir/notifications" ;;
        *) echo "no such host: $host" >&2; return 1 ;;
      esac
      ;;
  esac
}

# The session's notification server (and watcher, with --watcher); see session_stand_in.
panel_start_stand_in() {
  local dir=$1 program
  shift
  program=$(panel_tool session_stand_in) || return 1
  PANEL_STAND_IN_LOG=$dir/stand-in.log
  "$program" "$@" >"$PANEL_STAND_IN_LOG" 2>&1 &
  PANEL_STAND_IN_PID=$!
  DESKTOP_PIDS+=($!)
  wait_for 10 grep -qx ready "$PANEL_STAND_IN_LOG"
}

# A host that registers with the stand-in's watcher now, as a panel started late does.
panel_stand_in_host_arrives() { kill -USR1 "$PANEL_STAND_IN_PID"; }

# --- X hosts ---------------------------------------------------------------------------

# xfce4-panel with one panel along the top holding only its notification area (which
# hosts StatusNotifierItems and XEmbed icons alike), in the light or the dark variant
# of its GTK theme: the panel's own "dark mode" switch.
panel_start_xfce() {
  local shade=$1 dir=$2 xfconfd dark=false
  [[ $shade == dark ]] && dark=true
  mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
  sed "s|<property name=\"dark-mode\" type=\"bool\" value=\"[a-z]*\"/>|<property name=\"dark-mode\" type=\"bool\" value=\"$dark\"/>|" \
    "$PANEL_SOURCE_DIR/tests/desktop/xfce4-panel.xml" >"$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"
  xfconfd=$(ls /usr/lib/*/xfce4/xfconf/xfconfd 2>/dev/null | head -n 1)
  [[ -n $xfconfd ]] || { echo "xfconfd is missing (package xfconf)" >&2; return 1; }
  # xfconfd is started by D-Bus activation on a desktop; this bus activates nothing.
  "$xfconfd" >"$dir/xfconfd.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 10 desktop_bus_has org.xfce.Xfconf || { echo "xfconfd did not start" >&2; return 1; }
  xfce4-panel >"$dir/panel.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 30 panel_watcher_has_host || { echo "xfce4-panel did not start; see $dir/panel.log" >&2; return 1; }
}

# lxqt-panel along the top with the plugins of its notification area: "statusnotifier"
# (the StatusNotifierWatcher and host) and "tray" (XEmbed icons), in a panel colour
# the user may pick in its settings.
panel_start_lxqt() {
  local dir=$1
  mkdir -p "$XDG_CONFIG_HOME/lxqt"
  cat >"$XDG_CONFIG_HOME/lxqt/panel.conf" <<EOF
[General]
__userfile__=true

[panel1]
plugins=statusnotifier, tray
position=Top
desktop=0
panelSize=$PANEL_HEIGHT
iconSize=22
lineCount=1
alignment=-1
width=100
width-percent=true
background-color=$PANEL_BG
font-color=$PANEL_FG
opacity=100
hidable=false

[statusnotifier]
alignment=Right
type=statusnotifier

[tray]
alignment=Right
type=tray
EOF
  lxqt-panel >"$dir/panel.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 30 panel_watcher_has_host || { echo "lxqt-panel did not start; see $dir/panel.log" >&2; return 1; }
}

# trayer along the top, XEmbed only, in the panel colour.
panel_start_trayer() {
  local before
  before=$(desktop_panels)
  trayer --edge top --align right --widthtype percent --width 100 --height "$PANEL_HEIGHT" --SetDockType true \
    --transparent true --alpha 0 --tint "0x${PANEL_BG#\#}" --expand true >"$PANEL_DIR/panel.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 30 desktop_new_panel "$before" || { echo "trayer did not start" >&2; return 1; }
}

# tint2 along the top with only its system tray (XEmbed only), in the panel colour.
panel_start_tint2() {
  local dir=$1
  cat >"$dir/tint2rc" <<EOF
rounded = 0
border_width = 0
background_color = $PANEL_BG 100
border_color = $PANEL_BG 0

panel_items = S
panel_size = 100% $PANEL_HEIGHT
panel_margin = 0 0
panel_padding = 4 0 4
panel_background_id = 1
panel_position = top center horizontal
panel_layer = top
panel_dock = 0
wm_menu = 0
strut_policy = follow_size
font_shadow = 0

systray_padding = 0 4 4
systray_background_id = 0
systray_sort = ascending
systray_icon_size = 22
systray_icon_asb = 100 0 0
systray_monitor = 1
EOF
  tint2 -c "$dir/tint2rc" >"$dir/panel.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 30 panel_has_x_window tint2 || { echo "tint2 did not start; see $dir/panel.log" >&2; return 1; }
}

# panel_has_x_window NAME: whether a top-level window NAME is mapped.
panel_has_x_window() { xwininfo -root -children 2>/dev/null | grep -q "\"$1\": "; }

# --- sway ------------------------------------------------------------------------------

# A headless sway with one 1024x768 output and no Xwayland, and on it waybar's tray
# (waybar) or sway's own bar with its tray (swaybar). sway refuses to run as root, so
# under root it runs as nobody; its clients may still be root.
panel_start_sway() {
  local host=$1 dir=$2 runner=() pointer
  PANEL_WAYLAND=1
  pointer=$(panel_build_seat_pointer "$dir") || return 1
  if ((EUID == 0)); then
    chown nobody "$XDG_RUNTIME_DIR"
    runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  {
    echo "xwayland disable"
    echo "output HEADLESS-1 resolution ${PANEL_SCREEN_W}x${PANEL_SCREEN_H} position 0 0 bg #336699 solid_color"
    echo "focus_follows_mouse no"
    if [[ $host == swaybar ]]; then
      # sway's own bar, only its tray: swaybar is its StatusNotifierWatcher and host.
      cat <<EOF
bar {
  position top
  height $PANEL_HEIGHT
  workspace_buttons no
  tray_output *
  tray_padding 4
  colors {
    background $PANEL_BG
    statusline $PANEL_FG
  }
}
EOF
    fi
  } >"$dir/sway.conf"
  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    "${runner[@]}" sway --config "$dir/sway.conf" >"$dir/sway.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 30 panel_sway_socket_ready || { echo "sway did not start; see $dir/sway.log" >&2; return 1; }
  WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-? | head -n 1)")
  SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -n 1)
  export WAYLAND_DISPLAY SWAYSOCK
  "$pointer" >"$dir/seat-pointer.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 10 grep -qx ready "$dir/seat-pointer.log" ||
    { echo "no pointer on sway's seat; see $dir/seat-pointer.log" >&2; return 1; }
  if [[ $host == waybar ]]; then
    cat >"$dir/waybar.json" <<EOF
{ "layer": "top", "position": "top", "height": $PANEL_HEIGHT, "modules-right": ["tray"],
  "tray": { "icon-size": 22, "spacing": 6 } }
EOF
    cat >"$dir/waybar.css" <<EOF
* { font-family: sans-serif; font-size: 12px; min-height: 0; }
window#waybar { background: $PANEL_BG; color: $PANEL_FG; }
#tray { padding: 0 8px; }
EOF
    waybar --config "$dir/waybar.json" --style "$dir/waybar.css" >"$dir/panel.log" 2>&1 &
    DESKTOP_PIDS+=($!)
  fi
  wait_for 30 panel_watcher_has_host || { echo "$host did not start its tray; see $dir" >&2; return 1; }
}

panel_sway_socket_ready() {
  compgen -G "$XDG_RUNTIME_DIR/wayland-?" >/dev/null && compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" >/dev/null &&
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -n 1) swaymsg -t get_version >/dev/null 2>&1
}

# panel_build_seat_pointer DIR: builds tests/desktop/wayland/seat_pointer.c into DIR
# (once per DIR's parent) and prints its path.
panel_build_seat_pointer() {
  local out=${PANEL_TOOL_DIR:-$1/..}/seat_pointer source=$PANEL_SOURCE_DIR/tests/desktop/wayland
  if [[ ! -x $out ]]; then
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/seat-pointer.XXXXXX")
    wayland-scanner client-header "$source/virtual-pointer.xml" "$work/virtual-pointer-client.h" &&
      wayland-scanner private-code "$source/virtual-pointer.xml" "$work/virtual-pointer.c" &&
      cc -O1 -I"$work" -o "$out" "$source/seat_pointer.c" "$work/virtual-pointer.c" -lwayland-client ||
      { rm -rf "$work"; echo "cannot build seat_pointer (libwayland-dev, libwayland-bin)" >&2; return 1; }
    rm -rf "$work"
  fi
  printf '%s\n' "$out"
}

# --- looking and clicking ---------------------------------------------------------------

# panel_shot FILE: the whole screen.
panel_shot() {
  if ((PANEL_WAYLAND)); then
    grim "$1"
  else
    import -window root "$1"
  fi
}

# panel_click X Y [BUTTON]
panel_click() {
  local x=$1 y=$2 button=${3:-1}
  if ((PANEL_WAYLAND)); then
    swaymsg -q seat - cursor set "$x" "$y" && swaymsg -q seat - cursor press "button$button" &&
      swaymsg -q seat - cursor release "button$button"
  else
    xdotool mousemove "$x" "$y" click "$button"
  fi
}

# panel_pointer_away: the pointer on an empty stretch of the panel, where it opens no
# tooltip and covers nothing below the panel (a headless sway draws the pointer into
# its screenshots).
panel_pointer_away() {
  if ((PANEL_WAYLAND)); then
    swaymsg -q seat - cursor set $((PANEL_SCREEN_W / 2)) 2
  else
    xdotool mousemove $((PANEL_SCREEN_W / 2)) 2
  fi
}

# panel_keys KEY...: each key pressed and released, to whatever has the keyboard.
panel_keys() {
  local key
  if ((PANEL_WAYLAND)); then
    for key in "$@"; do wtype -k "$key"; done
  else
    xdotool key --delay 60 "$@"
  fi
}

# panel_difference BEFORE AFTER W H X Y: the "W H X Y" box, in screen coordinates,
# around the pixels that changed within that part of the screen; nothing when none did.
panel_difference() {
  local before=$1 after=$2 w=$3 h=$4 x=$5 y=$6 box
  box=$(convert \( "$before" -crop "${w}x${h}+${x}+${y}" +repage \) \( "$after" -crop "${w}x${h}+${x}+${y}" +repage \) \
    -compose difference -composite -colorspace gray -threshold 1% -format '%@' info: 2>/dev/null) || return 0
  # "WxH+X+Y"; an image with no change trims to "0x0+W+H".
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 0
  ((BASH_REMATCH[1] > 1 && BASH_REMATCH[2] > 1)) || return 0
  echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]} $((BASH_REMATCH[3] + x)) $((BASH_REMATCH[4] + y))"
}

# panel_coverage BEFORE AFTER W H X Y: the share (0-100) of the box's pixels that
# changed: a shape drawn on the panel leaves part of its box as it was, a box does not.
panel_coverage() {
  local geometry="${3}x${4}+${5}+${6}"
  convert \( "$1" -crop "$geometry" +repage \) \( "$2" -crop "$geometry" +repage \) \
    -compose difference -composite -colorspace gray -threshold 1% -format '%[fx:int(mean*100+0.5)]' info:
}

# panel_without_icons SHOT OUT: SHOT with the panel's strip as it would be without its
# icons, for when there was no picture of the panel before the icon came: each pixel
# takes the colour most of its row has within 150 pixels to either side, which a
# panel's background has and a 16-48 pixel icon has not.
panel_without_icons() {
  local w h x y
  read -r w h x y <<<"$PANEL_STRIP"
  convert "$1" \( +clone -crop "${w}x${h}+${x}+${y}" +repage -statistic Mode 301x1 \) -geometry "+${x}+${y}" \
    -composite "$2"
}

# panel_contrast BEFORE AFTER W H X Y: how far, in grey levels (0-255), the icon in that
# box stands out from the panel drawn there before it: the largest difference left
# after a 3x3 median, so that a stray edge pixel does not count, a stroke does.
panel_contrast() {
  local before=$1 after=$2 geometry="${3}x${4}+${5}+${6}"
  convert \( "$before" -crop "$geometry" +repage -colorspace gray \) \( "$after" -crop "$geometry" +repage -colorspace gray \) \
    -compose difference -composite -statistic median 3x3 -format '%[fx:int(maxima*255+0.5)]' info:
}

# panel_menu_rows FILE W H X Y: for the menu drawn in that box of the screenshot, the
# screen "X Y" of the middle of each row of text, top first, one a line. Rows are told
# from the menu's background by their ink: a band of at least 5 pixel lines with some
# pixels off the background colour; separators are thinner, or cross the whole menu.
panel_menu_rows() {
  local file=$1 w=$2 h=$3 x=$4 y=$5 inner background
  # Inside the menu's border and shadow.
  inner="$((w - 12))x$((h - 4))+$((x + 6))+$((y + 2))"
  background=$(convert "$file" -crop "$inner" +repage -format %c histogram:info:- | sort -rn | head -n 1 |
    grep -o '#[0-9A-Fa-f]\{6\}')
  [[ -n $background ]] || return 1
  convert "$file" -crop "$inner" +repage -fuzz 2% -fill black -opaque "$background" -fill white +opaque black \
    -colorspace gray -scale "1x$((h - 4))!" -depth 8 txt:- | sed -n 's/^0,\([0-9]*\): *(\([0-9.]*\).*/\1 \2/p' |
    awk -v top=$((y + 2)) -v middle=$((x + w / 3)) '
      BEGIN { start = -1 }
      {
        if ($2 > 0.5 && $2 < 200) { if (start < 0) start = $1; last = $1 }
        else if (start >= 0) { if (last - start >= 4) print middle, top + int((start + last) / 2); start = -1 }
      }
      END { if (start >= 0 && last - start >= 4) print middle, top + int((start + last) / 2) }'
}

# panel_colour_at FILE X Y: the colour of one pixel, "#rrggbb".
panel_colour_at() {
  convert "$1" -crop "1x1+$2+$3" +repage -format '#%[hex:u.p{0,0}]' info: | cut -c1-7 | tr 'A-F' 'a-f'
}

# panel_stop: ends everything panel_start started (and anything else in DESKTOP_PIDS).
panel_stop() {
  desktop_cleanup
  PANEL_STAND_IN_PID=
}
