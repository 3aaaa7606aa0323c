# Shell functions for running the tray on an X display with a notification-area host,
# and for looking at it: the Windows tray under Wine in trayer, the Linux tray in
# trayer or, on a private session bus, in xfce4-panel. Sourced by scripts/run,
# scripts/tray-screenshots, the package tests and the benchmarks; needs Xvfb, trayer,
# xdotool, x11-utils and imagemagick (dbus, xfconf and xfce4-panel for the panel).
#
# Every function that starts something records its pid in DESKTOP_PIDS, which
# desktop_cleanup ends (only those, in reverse order); a session bus is a process group
# in DESKTOP_GROUPS, ended with whatever it started.

DESKTOP_PIDS=()
DESKTOP_GROUPS=()
DESKTOP_PREFIX_MADE=

desktop_cleanup() {
  set +e
  local i
  if [[ -n $DESKTOP_PREFIX_MADE ]]; then
    WINEPREFIX=$DESKTOP_PREFIX_MADE wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$DESKTOP_PREFIX_MADE wineserver -w >/dev/null 2>&1 || true
    rm -rf "$DESKTOP_PREFIX_MADE"
    DESKTOP_PREFIX_MADE=
  fi
  for ((i = ${#DESKTOP_PIDS[@]} - 1; i >= 0; i--)); do
    kill "${DESKTOP_PIDS[i]}" >/dev/null 2>&1 || true
    wait "${DESKTOP_PIDS[i]}" >/dev/null 2>&1 || true
  done
  DESKTOP_PIDS=()
  for i in "${DESKTOP_GROUPS[@]}"; do
    kill -TERM -- "-$i" >/dev/null 2>&1 || true
    wait "$i" >/dev/null 2>&1 || true
  done
  DESKTOP_GROUPS=()
}

# desktop_start_bus DIR LISTEN_DIR [VARIABLE]: a bus of our own, listening in LISTEN_DIR;
# exports its address as VARIABLE (DBUS_SESSION_BUS_ADDRESS unless it says another, as
# DBUS_SYSTEM_BUS_ADDRESS for an empty system bus). Its only service directory is DIR/bus-services,
# empty unless the caller fills it: the standard session configuration would start any
# portal, keyring or notification daemon installed on the machine, which outlive the
# bus. It runs in a process group of its own, which the services it starts join and
# desktop_cleanup ends. Anyone may own names and eavesdrop (dbus-monitor).
desktop_start_bus() {
  local dir=$1 listen=$2 variable=${3:-DBUS_SESSION_BUS_ADDRESS}
  mkdir -p "$dir/bus-services"
  printf '%s\n' "<busconfig><type>session</type><listen>unix:dir=$listen</listen><auth>EXTERNAL</auth>" \
    "<servicedir>$dir/bus-services</servicedir><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>" \
    '<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>' >"$dir/bus.conf"
  : >"$dir/bus"
  setsid dbus-daemon --config-file="$dir/bus.conf" --nofork --print-address=3 3>"$dir/bus" >"$dir/dbus.log" 2>&1 &
  DESKTOP_GROUPS+=($!)
  wait_for 10 test -s "$dir/bus" || return 1
  export "$variable=$(head -n 1 "$dir/bus")"
}

# desktop_most_threads PID FILE: until FILE.over exists, the most threads process PID has
# had, written to FILE as it grows; for the benchmarks' storms.
desktop_most_threads() {
  local most=0 n
  while [[ ! -e $2.over ]] && kill -0 "$1" 2>/dev/null; do
    n=$(awk '/^Threads:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0)
    ((n > most)) && most=$n && echo "$most" >"$2"
    sleep 0.01
  done
}

# wait_for SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds.
wait_for() {
  local limit=$1 i
  shift
  for ((i = 0; i < limit * 10; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "gave up after ${limit}s waiting for: $*" >&2
  return 1
}

# desktop_start_xvfb DIR: a private Xvfb; exports DISPLAY. It never resets, which it
# would do whenever its last client leaves, refusing any client that came meanwhile.
desktop_start_xvfb() {
  local dir=$1
  : >"$dir/display"
  Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  wait_for 30 test -s "$dir/display"
  export DISPLAY=":$(head -n 1 "$dir/display")"
}

# desktop_start_session_panel DIR: a private session bus and xfce4-panel with only its
# notification area (the StatusNotifierWatcher), as a Linux desktop has them; exports
# DBUS_SESSION_BUS_ADDRESS and XDG directories under DIR. Needs DISPLAY.
desktop_start_session_panel() {
  local dir=$1 xfconfd
  desktop_start_bus "$dir" "$dir" || return 1
  export XDG_CONFIG_HOME=$dir/config XDG_RUNTIME_DIR=$dir/run XDG_CACHE_HOME=$dir/cache NO_AT_BRIDGE=1
  mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  # One panel with only the notification area; xfconfd must hold it before the panel asks.
  cp "$(dirname "${BASH_SOURCE[0]}")/../../tests/desktop/xfce4-panel.xml" \
    "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/"
  xfconfd=$(ls /usr/lib/*/xfce4/xfconf/xfconfd 2>/dev/null | head -n 1)
  [[ -n $xfconfd ]] || { echo "xfconfd is missing (package xfconf)" >&2; return 1; }
  "$xfconfd" >"$dir/xfconfd.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  xfce4-panel >"$dir/panel.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  # The panel first waits for a window manager, then gives up waiting.
  wait_for 30 desktop_bus_has org.kde.StatusNotifierWatcher ||
    { echo "xfce4-panel did not start; see $dir/panel.log" >&2; return 1; }
}

# desktop_bus_has NAME: whether NAME has an owner on the session bus.
desktop_bus_has() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# desktop_bus_name_of PID: the unique name of the session-bus connection of process PID
# (the tray's notification item is served under it); fails while it has none.
desktop_bus_name_of() {
  local name
  for name in $(dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames \
    2>/dev/null | grep -o '":[^"]*"' | tr -d '"'); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
      "string:$name" 2>/dev/null | grep -qx "   uint32 $1" && { echo "$name"; return 0; }
  done
  return 1
}

# desktop_make_prefix DIR: a throwaway Wine prefix in DIR, as scripts/test makes one.
desktop_make_prefix() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  DESKTOP_PREFIX_MADE=$WINEPREFIX
  mkdir -p "$WINEPREFIX"
  {
    wineboot -i && wineserver -w &&
      wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f &&
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f && wineserver -w
  } >"$WINEPREFIX.log" 2>&1
}

# desktop_start_trayer: trayer docked at the top right on a mid-grey panel, on which
# a white, a black and an amber icon all stand out.
# Its panel's window id is DESKTOP_PANEL.
desktop_start_trayer() {
  local before
  before=$(desktop_panels)
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent true --alpha 0 --tint 0x808080 --expand true >/dev/null 2>&1 &
  DESKTOP_TRAYER_PID=$!
  DESKTOP_PIDS+=($!)
  wait_for 30 desktop_new_panel "$before"
  DESKTOP_PANEL=$(comm -13 <(echo "$before") <(desktop_panels) | head -n 1)
  # Wine's explorer docks every icon it knows into a new host, also those of programs
  # that were killed, a moment after the host appears; those go once the pointer
  # passes over them. Then the panel holds only live icons, and a new one is the
  # program's that was started.
  desktop_settle_icons
  desktop_live_icon_ids >/dev/null
  desktop_settle_icons
}

# A new trayer in place of ours. Wine's docking now and then leaves an icon that is
# neither drawn nor clickable (seen with Wine 8 when the icon changes soon after it was
# docked); docked anew, it is both. Icon ids change.
desktop_redock() {
  kill "$DESKTOP_TRAYER_PID" >/dev/null 2>&1 || true
  wait "$DESKTOP_TRAYER_PID" >/dev/null 2>&1 || true
  echo "re-docking the notification icons in a new trayer" >&2
  desktop_start_trayer
}

# Waits until the docked icons stay the same for half a second.
desktop_settle_icons() {
  local last now i
  last=$(desktop_icon_ids)
  for ((i = 0; i < 40; i++)); do
    sleep 0.5
    now=$(desktop_icon_ids)
    [[ $now == "$last" ]] && return 0
    last=$now
  done
}
desktop_panels() { xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) "panel": ("panel" "trayer").*/\1/p' | sort; }
desktop_new_panel() { [[ -n $(comm -13 <(echo "$1") <(desktop_panels)) ]]; }

# The window ids of the icons docked in our trayer, sorted, one a line. Wine's
# explorer may dock icons of programs that have ended too, until it notices.
desktop_icon_ids() {
  xwininfo -id "$DESKTOP_PANEL" -tree | sed -n 's/^ *\(0x[0-9a-f]*\) .*("explorer.exe" "explorer.exe").*/\1/p' | sort
}
# Passes the pointer over every docked icon: Wine's explorer drops an icon whose program
# has ended once it fails to tell it about the pointer. Returns the ids left.
desktop_live_icon_ids() {
  local id x y w h
  for id in $(desktop_icon_ids); do
    read -r x y w h <<<"$(desktop_geometry_of "$id")"
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) mousemove $((x + w / 2)) $((y + h + 60)) 2>/dev/null || true
  done
  desktop_settle_icons
  desktop_icon_ids
}
# desktop_new_icon BEFORE: an icon docked since BEFORE (a desktop_icon_ids list) was
# taken; nothing while there is none.
desktop_new_icon() { comm -13 <(echo "$1") <(desktop_icon_ids) | head -n 1; }
desktop_has_new_icon() { [[ -n $(desktop_new_icon "$1") ]]; }
# The absolute "X Y W H" of the window with id ID. Without an id, xwininfo would wait
# for a click on some window.
desktop_geometry_of() {
  [[ -n $1 ]] || return 1
  xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'
}
# desktop_click ID: a left click in the middle of window ID.
desktop_click() {
  local x y w h
  read -r x y w h <<<"$(desktop_geometry_of "$1")"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}

# desktop_open_menu PROGRAM [ICON]: clicks the docked icon ICON, or else every docked
# icon in turn, until PROGRAM shows its menu; a menu of another program is closed
# again. When no icon answers, the icons are docked anew once. Then waits for the
# menu's first paint; sets MX MY MW MH to its geometry and DESKTOP_MENU_ICON to the
# icon that opened it.
desktop_open_menu() {
  local round id candidates
  for ((round = 0; round < 4; round++)); do
    ((round == 2)) && desktop_redock
    candidates=$(desktop_icon_ids)
    [[ -n ${2:-} && $round == 0 ]] && candidates=$2
    for id in $candidates; do
      desktop_click "$id"
      if wait_for 3 desktop_has_window "$1" 40 2>/dev/null; then
        read -r MX MY MW MH <<<"$(desktop_window_geometry "$1" 40)"
        wait_for 30 desktop_painted "$MX" "$MY" "$MW" "$MH"
        DESKTOP_MENU_ICON=$id
        return 0
      fi
      xdotool key Escape # whatever else opened
    done
  done
  echo "no menu of $1 opened" >&2
  return 1
}

# The absolute "X Y W H" of the largest visible window of PROGRAM (a menu, a dialog or a
# message box), or nothing when it shows none larger than MIN_WIDTH pixels.
desktop_window_geometry() {
  local program=$1 min_width=${2:-40}
  xwininfo -root -tree | grep "(\"$program\" \"$program\")" |
    sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3 \4 \1 \2/' |
    awk -v min="$min_width" '$3 > min { print $3 * $4, $0 }' | sort -rn | head -n 1 | cut -d' ' -f2-
}

# desktop_has_window PROGRAM MIN_WIDTH: true while PROGRAM shows such a window.
desktop_has_window() { [[ -n $(desktop_window_geometry "$@") ]]; }

# desktop_shot FILE [X Y W H]: the screen, or a part of it, as a PNG.
desktop_shot() {
  local file=$1
  shift
  if (($# == 4)); then
    import -window root -crop "$3x$4+$1+$2" +repage "$file"
  else
    import -window root "$file"
  fi
}

# desktop_painted X Y W H: true once that part of the screen is more than one flat colour.
desktop_painted() {
  local spread
  spread=$(import -window root -crop "$3x$4+$1+$2" +repage png:- | convert - -colorspace gray -format '%[fx:int(standard_deviation*1000)]' info:)
  ((spread > 0))
}

# desktop_icon_look X Y W H: how the docked icon looks now: "amber" when amber pixels
# show, else "bright", "dark" or "dim" from the extreme grey levels against the panel.
desktop_icon_look() {
  local picture amber range
  picture=$(mktemp --suffix=.png)
  import -window root -crop "$3x$4+$1+$2" +repage "$picture"
  amber=$(convert "$picture" -fuzz 8% -fill '#ff00ff' -opaque 'rgb(245,158,11)' txt:- | grep -ci 'FF00FF' || true)
  range=$(convert "$picture" -colorspace gray -format '%[fx:int(minima*255)] %[fx:int(maxima*255)]' info:)
  rm -f "$picture"
  local low=${range% *} high=${range#* }
  if ((amber > 4)); then
    echo amber
  elif ((high > 240)); then
    echo bright
  elif ((low < 40)); then
    echo dark
  else
    echo dim
  fi
}
