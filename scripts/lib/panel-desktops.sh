# The desktops among the hosts of tests/desktop/host_matrix.sh, each started as its
# session would start it, on the display and the private bus panel-hosts.sh made (which
# sources this file): each panel_start_* takes PANEL_SHADE light or dark, records every
# process it starts in DESKTOP_PIDS or DESKTOP_GROUPS, and returns once a
# StatusNotifierWatcher is on the bus with a host registered and the panel is drawn.
#
#   panel_start_mate           mate-panel
#   panel_start_plasma         plasma-workspace, plasma-desktop
#   panel_start_gnome          gnome-shell, gnome-shell-extension-appindicator
#   panel_start_enlightenment  enlightenment, libeet-bin, libevas-loaders (SVG icons)

# MATE's panel with only its notification area (SNI host and XEmbed tray) along the top,
# in Breeze's colour. GSettings in a key file under HOME: no dconf service is needed,
# and the settings are there before the panel reads them.
panel_start_mate() {
  local keyfile=${XDG_CONFIG_HOME:-$HOME/.config}/glib-2.0/settings/keyfile
  export GSETTINGS_BACKEND=keyfile
  mkdir -p "${keyfile%/*}"
  cat >"$keyfile" <<EOF
[org/mate/panel/general]
toplevel-id-list=['top']
object-id-list=['tray']
[org/mate/panel/toplevels/top]
orientation='top'
expand=true
size=32
[org/mate/panel/toplevels/top/background]
type='color'
color='${PANEL_BG[$PANEL_SHADE]}'
[org/mate/panel/objects/tray]
object-type='applet'
applet-iid='NotificationAreaAppletFactory::NotificationArea'
toplevel-id='top'
position=0
locked=true
EOF
  # The applet runs out of process, started by D-Bus activation on a desktop.
  /usr/lib/mate-panel/notification-area-applet &
  DESKTOP_PIDS+=($!)
  wait_for 10 desktop_bus_has org.mate.panel.applet.NotificationAreaAppletFactory || return 1
  mate-panel &
  DESKTOP_PIDS+=($!)
  wait_for 30 panel_watcher_has_host && wait_for 30 panel_drawn
}

# Enlightenment with one shelf along the top that holds only its Systray gadget (an SNI
# watcher and host), in E's own dark palette or elementary's "light" one. Its first run
# would start a wizard: the "standard" profile Debian ships is copied in instead, its
# config decoded with eet (package libeet-bin), cut down to the systray module and
# gadget, and encoded again. Without libevas-loaders (recommended by enlightenment) E
# loads no SVG and shows nothing for an item whose IconName is one, pixmap or not.
panel_start_enlightenment() {
  local config=$HOME/.e/e/config
  mkdir -p "$config/standard"
  cp /usr/share/enlightenment/data/config/profile.cfg "$config/"
  cp /usr/share/enlightenment/data/config/standard/*.cfg "$config/standard/"
  eet -d "$config/standard/e.cfg" config "$PANEL_DIR/e.cfg.txt" || return 1
  enlightenment_cut_config <"$PANEL_DIR/e.cfg.txt" >"$PANEL_DIR/e.cfg.cut" &&
    eet -e "$config/standard/e.cfg" config "$PANEL_DIR/e.cfg.cut" 1 || return 1
  [[ $PANEL_SHADE == light ]] && export ELM_PALETTE=light
  # E would start efreetd in a session of its own, which outlives it.
  efreetd &
  DESKTOP_PIDS+=($!)
  # enlightenment_start restarts E when it crashes; E starts enlightenment_system,
  # which outlives both. All in a process group that is killed once desktop_cleanup
  # ends it, or E ends (with the display, which desktop_cleanup ends first).
  setsid bash -c 'trap "kill -KILL 0" EXIT; trap exit TERM; enlightenment_start -profile standard & wait' &
  DESKTOP_GROUPS+=($!)
  wait_for 60 panel_watcher_has_host && wait_for 30 panel_drawn || return 1
  # Where /proc/acpi exists but acpid does not listen, E opens an "ACPI Error" box some
  # 5 s after its start, in the middle of the screen: it is waited for and closed.
  if [[ -d /proc/acpi && ! -S /var/run/acpid.socket ]]; then
    wait_for 20 xdotool search --name '^ACPI Error$' || return 1
    xdotool search --name '^ACPI Error$' windowclose
    wait_for 10 eval '! xdotool search --name "^ACPI Error$"'
  fi
}

# The decoded e.cfg on standard input, on standard output without the modules and
# gadcon clients other than the systray; its shelf along the top (orient 5), 32 pixels
# high and across the screen. A struct is held back until its closing brace.
enlightenment_cut_config() {
  awk '
    held {
      buf = buf $0 "\n"
      if ($0 ~ /"name" string:/) { name = $0; sub(/.*string: "/, "", name); sub(/";.*/, "", name) }
      if ($0 ~ "^" indent "}") { if (name == "systray") printf "%s", buf; held = 0 }
      next
    }
    /group "E_Config_(Module|Gadcon_Client)" struct/ {
      held = 1; name = ""; buf = $0 "\n"; match($0, /^ */); indent = substr($0, 1, RLENGTH); next
    }
    /group "E_Config_Shelf" struct/ { shelf = 1 }
    shelf && /value "orient" int:/ { sub(/int: [0-9]+/, "int: 5") }
    shelf && /value "size" int:/ { sub(/int: [0-9]+/, "int: 32") }
    shelf && /value "fit_along" uchar:/ { sub(/uchar: [0-9]+/, "uchar: 0") }
    { print }
  '
}

# Plasma's shell with one panel along the top that holds only its system tray, in Breeze
# or Breeze Dark. kded5 (whose statusnotifierwatcher module is the watcher) and
# kactivitymanagerd are started by hand, as D-Bus activation would on a desktop. The
# tray holds no applets of its own (knownItems keeps them from being added): with any,
# such as the notifications applet (Plasma's notification server), an arrow to its popup
# shows, which moves a pixel or two when an item comes and so counts in the icon's box.
panel_start_plasma() {
  local config=${XDG_CONFIG_HOME:-$HOME/.config} scheme=BreezeLight
  [[ $PANEL_SHADE == dark ]] && scheme=BreezeDark
  mkdir -p "$config"
  # The colour scheme's file names itself ([General] ColorScheme) and holds the colours.
  cp "/usr/share/color-schemes/$scheme.colors" "$config/kdeglobals"
  printf '%s\n' '[Theme]' 'name=default' >"$config/plasmarc"
  printf '%s\n' '[PlasmaViews][Panel 1][Defaults]' 'thickness=32' >"$config/plasmashellrc"
  # A spacer puts the tray at the right end: an item it adds goes in at its left and
  # moves none of the others (its popup's arrow stays at the very right).
  printf '%s\n' '[Containments][1]' formfactor=2 immutability=1 lastScreen=0 location=3 plugin=org.kde.panel \
    '[Containments][1][Applets][2]' immutability=1 plugin=org.kde.plasma.panelspacer \
    '[Containments][1][Applets][3]' immutability=1 plugin=org.kde.plasma.systemtray \
    '[Containments][1][Applets][3][Configuration]' SystrayContainmentId=4 \
    '[Containments][1][General]' 'AppletOrder=2;3' \
    '[Containments][4]' formfactor=2 immutability=1 lastScreen=0 location=3 plugin=org.kde.plasma.private.systemtray \
    '[Containments][4][General]' extraItems= \
    "knownItems=$(cd /usr/share/plasma/plasmoids && grep -l '"X-Plasma-NotificationArea": "true"' -- */metadata.json |
      cut -d/ -f1 | paste -sd,)" >"$config/plasma-org.kde.plasma.desktop-appletsrc"
  export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 QT_QPA_PLATFORM=xcb
  "$(ls /usr/lib/*/libexec/kactivitymanagerd | head -n 1)" &
  DESKTOP_PIDS+=($!)
  kded5 &
  DESKTOP_PIDS+=($!)
  wait_for 60 desktop_bus_has org.kde.StatusNotifierWatcher || return 1
  plasmashell --no-respawn &
  DESKTOP_PIDS+=($!)
  wait_for 120 panel_watcher_has_host && wait_for 60 panel_drawn
}

# The top strip of the screen as a PNG.
panel_strip_shot() { import -window root -crop 1024x48+0+0 +repage "$1"; }

# The panel along the top is drawn (its strip is no longer of one colour, as the empty
# screen is) and has stayed the same through five screenshots in a row.
panel_drawn() {
  local last='' shot same=0 i
  panel_strip_shot "$PANEL_DIR/drawn.png" && (($(identify -format '%k' "$PANEL_DIR/drawn.png") > 1)) || return 1
  for ((i = 0; i < 50; i++)); do
    panel_strip_shot "$PANEL_DIR/drawn.png" && shot=$(identify -format '%#' "$PANEL_DIR/drawn.png")
    if [[ $shot == "$last" ]]; then ((++same >= 4)) && return 0; else same=0 last=$shot; fi
    sleep 0.2
  done
  return 1
}

# GNOME Shell 43 as the X11 window manager and compositor of our display, with Debian's
# AppIndicator extension (ubuntu-appindicators@ubuntu.com: the watcher and the host).
panel_start_gnome() {
  gnome_prepare x11 || return 1
  gnome-shell --x11 --replace &
  DESKTOP_PIDS+=($!)
  wait_for 120 panel_watcher_has_host && wait_for 60 panel_drawn
}

# gnome_prepare x11: GSettings in a key file under HOME, read before the shell
# starts; an extension of our own that leaves the overview the shell starts in and hides
# the clock (it would change the strip every minute), and for the light row gives the
# top bar Breeze's light colour, which GNOME 43 itself never has (its bar is always
# black); a system bus.
gnome_prepare() {
  local keyfile=${XDG_CONFIG_HOME:-$HOME/.config}/glib-2.0/settings/keyfile
  local ours=${XDG_DATA_HOME:-$HOME/.local/share}/gnome-shell/extensions/tallow-panel@tallowmere.test
  export GSETTINGS_BACKEND=keyfile XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=$1
  mkdir -p "${keyfile%/*}" "$ours"
  # Without banners: the shell, run as root, shows one below the bar, in the strip.
  printf '%s\n' '[org/gnome/shell]' \
    "enabled-extensions=['ubuntu-appindicators@ubuntu.com', 'tallow-panel@tallowmere.test']" \
    "welcome-dialog-last-shown-version='999'" '[org/gnome/desktop/notifications]' 'show-banners=false' \
    '[org/gnome/desktop/interface]' "color-scheme='$([[ $PANEL_SHADE == dark ]] && echo prefer-dark || echo default)'" \
    >"$keyfile"
  echo '{ "uuid": "tallow-panel@tallowmere.test", "name": "tallow panel", "description": "test", "shell-version": [ "43" ] }' \
    >"$ours/metadata.json"
  cat >"$ours/extension.js" <<'JS'
const Main = imports.ui.main;
function init() {}
function enable() {
  Main.panel.statusArea.dateMenu.container.hide();
  if (Main.layoutManager._startingUp)
    Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
  else
    Main.overview.hide();
}
function disable() {
  Main.panel.statusArea.dateMenu.container.show();
}
JS
  if [[ $PANEL_SHADE == light ]]; then
    printf '%s\n' "#panel { background-color: ${PANEL_BG[light]}; }" \
      '#panel .panel-button { color: #232629; }' >"$ours/stylesheet.css"
  fi
  # The shell asks logind on the system bus where /run/systemd/seats exists, and stops
  # if it cannot connect at all: a private, empty system bus answers instead.
  mkdir -p "$PANEL_DIR/system-bus"
  desktop_start_bus "$PANEL_DIR/system-bus" "$PANEL_DIR/system-bus" DBUS_SYSTEM_BUS_ADDRESS
}
