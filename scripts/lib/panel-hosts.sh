# The notification-area hosts of tests/desktop/host_matrix.sh, each started on a
# display and a private session bus of its own, and the screen they draw on. Built on
# wine-desktop.sh: every process goes into DESKTOP_PIDS, which desktop_cleanup ends.
#
#   panel_start HOST SHADE DIR   HOST: xfce4-panel lxqt-panel waybar swaybar trayer
#                                watcher-trayer none sway-bare, and the desktops of
#                                panel-desktops.sh: mate plasma gnome enlightenment;
#                                SHADE: light or dark
#   panel_shot FILE, panel_click X Y [BUTTON], panel_pointer_away
#
# Panels run along the top; PANEL_STRIP is the "W H X Y" of the screen they draw in.

# shellcheck source=wine-desktop.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-desktop.sh"
# shellcheck source=panel-desktops.sh
source "$(dirname "${BASH_SOURCE[0]}")/panel-desktops.sh"

PANEL_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PANEL_STRIP="1024 48 0 0"
# KDE Breeze's light and dark panels, for the hosts that take a colour.
declare -A PANEL_BG=([light]='#eff0f1' [dark]='#31363b')
PANEL_WAYLAND=0

panel_start() {
  local host=$1 shade=$2 dir=$3
  PANEL_DIR=$dir PANEL_SHADE=$shade PANEL_WAYLAND=0
  panel_session || return 1
  case $host in
    waybar | swaybar | sway-bare) panel_start_sway "$host" ;;
    *)
      desktop_start_xvfb "$dir" || return 1
      case $host in
        xfce4-panel) panel_start_xfce ;;
        lxqt-panel) panel_start_lxqt ;;
        trayer) panel_start_trayer ;;
        watcher-trayer)
          "$PANEL_BIN_DIR/session_stand_in" &
          PANEL_STAND_IN_PID=$!
          DESKTOP_PIDS+=($!)
          wait_for 10 desktop_bus_has org.kde.StatusNotifierWatcher && panel_start_trayer
          ;;
        none) panel_record_notifications ;;
        mate | plasma | gnome | enlightenment) "panel_start_$host" ;;
      esac
      ;;
  esac
}

# A bus on which nothing is started on demand (no desktop portal, no notification
# server) and that sway's clients may use when sway runs as nobody; HOME and the XDG
# runtime directory in the row's own directory.
panel_session() {
  mkdir -m 700 "$PANEL_DIR/run"
  desktop_start_bus "$PANEL_DIR" "$PANEL_DIR/run" || return 1
  unset "${!XDG_@}" DISPLAY WAYLAND_DISPLAY SWAYSOCK
  export HOME=$PANEL_DIR XDG_RUNTIME_DIR=$PANEL_DIR/run
  # GTK would ask the bus for the accessibility bus and a settings service.
  export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
}

# Each notification sent, as the bus carries it: no server is there to answer.
panel_record_notifications() {
  dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'" >"$PANEL_DIR/notifications" &
  DESKTOP_PIDS+=($!)
}

panel_watcher_has_host() {
  gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher --method \
    org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered | grep -q true
}

# xfce4-panel's notification area in its light or dark variant of the GTK theme.
panel_start_xfce() {
  local channels=$HOME/.config/xfce4/xfconf/xfce-perchannel-xml dark=false
  [[ $PANEL_SHADE == dark ]] && dark=true
  mkdir -p "$channels"
  sed "/dark-mode/s/value=\"[a-z]*\"/value=\"$dark\"/" "$PANEL_SOURCE_DIR/tests/desktop/xfce4-panel.xml" \
    >"$channels/xfce4-panel.xml"
  # Started by D-Bus activation on a desktop; this bus starts nothing.
  "$(ls /usr/lib/*/xfce4/xfconf/xfconfd | head -n 1)" &
  DESKTOP_PIDS+=($!)
  wait_for 10 desktop_bus_has org.xfce.Xfconf || return 1
  xfce4-panel &
  DESKTOP_PIDS+=($!)
  wait_for 30 panel_watcher_has_host
}

# lxqt-panel with its StatusNotifierItem host and its XEmbed tray, in Breeze's colour.
panel_start_lxqt() {
  mkdir -p "$HOME/.config/lxqt"
  printf '%s\n' '[panel1]' 'plugins=statusnotifier, tray' position=Top "background-color=${PANEL_BG[$PANEL_SHADE]}" \
    '[statusnotifier]' type=statusnotifier '[tray]' type=tray >"$HOME/.config/lxqt/panel.conf"
  lxqt-panel &
  DESKTOP_PIDS+=($!)
  wait_for 30 panel_watcher_has_host
}

# trayer (XEmbed only) in Breeze's colour.
panel_start_trayer() {
  local before
  before=$(desktop_panels)
  trayer --edge top --align right --widthtype percent --width 100 --height 32 --SetDockType true \
    --transparent true --alpha 0 --tint "0x${PANEL_BG[$PANEL_SHADE]#\#}" --expand true &
  DESKTOP_PIDS+=($!)
  wait_for 30 desktop_new_panel "$before"
}

# A headless sway with waybar's tray or swaybar's own. sway refuses to run as root, so
# under root it runs as nobody, and reads its configuration from the row's directory.
panel_start_sway() {
  local runner=()
  PANEL_WAYLAND=1
  if ((EUID == 0)); then
    chmod 755 "$PANEL_DIR"
    chown nobody "$XDG_RUNTIME_DIR"
    runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  printf '%s\n' 'xwayland disable' 'output HEADLESS-1 resolution 1024x768 bg #336699 solid_color' >"$PANEL_DIR/sway.conf"
  [[ $1 == swaybar ]] && printf '%s\n' 'bar {' 'position top' 'height 32' 'workspace_buttons no' 'colors {' \
    "background ${PANEL_BG[$PANEL_SHADE]}" '}' '}' >>"$PANEL_DIR/sway.conf"
  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 "${runner[@]}" sway -c "$PANEL_DIR/sway.conf" &
  DESKTOP_PIDS+=($!)
  wait_for 30 compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" || return 1
  export SWAYSOCK WAYLAND_DISPLAY
  SWAYSOCK=$(echo "$XDG_RUNTIME_DIR"/sway-ipc.*.sock) WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && echo wayland-?)
  "$PANEL_BIN_DIR/seat_pointer" >"$PANEL_DIR/seat-pointer" &
  DESKTOP_PIDS+=($!)
  wait_for 10 grep -qx ready "$PANEL_DIR/seat-pointer" || return 1
  if [[ $1 == waybar ]]; then
    echo '{ "position": "top", "height": 32, "modules-right": ["tray"], "tray": { "icon-size": 22 } }' >"$PANEL_DIR/waybar.json"
    echo "window#waybar { background: ${PANEL_BG[$PANEL_SHADE]}; }" >"$PANEL_DIR/waybar.css"
    waybar -c "$PANEL_DIR/waybar.json" -s "$PANEL_DIR/waybar.css" &
    DESKTOP_PIDS+=($!)
  fi
  # Without a bar there is no notification area at all.
  [[ $1 == sway-bare ]] && panel_record_notifications && return 0
  wait_for 30 panel_watcher_has_host
}

panel_shot() {
  if ((PANEL_WAYLAND)); then grim "$1"; else import -window root "$1"; fi
}

# A headless sway draws the pointer into its screenshots: it leaves at once.
panel_click() {
  local button=${3:-1}
  if ((PANEL_WAYLAND)); then
    swaymsg -q seat - cursor set "$1" "$2" && swaymsg -q seat - cursor press "button$button" &&
      swaymsg -q seat - cursor release "button$button" && panel_pointer_away
  else
    xdotool mousemove "$1" "$2" click "$button"
  fi
}

# The pointer on an empty stretch of the panel, where it opens no tooltip.
panel_pointer_away() {
  if ((PANEL_WAYLAND)); then swaymsg -q seat - cursor set 512 2; else xdotool mousemove 512 2; fi
}
