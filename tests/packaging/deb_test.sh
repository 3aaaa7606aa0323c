#!/usr/bin/env bash
# The Debian package, looked at, installed, used and removed on this machine:
#
#   tests/packaging/deb_test.sh BUILD_DIR
#
# BUILD_DIR is the Linux build (build/linux) after `scripts/package deb`. Needs root:
# it installs the package with dpkg, and removes it again at the end, also on failure.
# It ends with the package not installed, whatever the state it found.
#
# The installed tray is started on an X display with trayer as its notification area:
# DISPLAY when it is set, else an Xvfb of its own. Needs trayer, xdotool, xwininfo and
# imagemagick (scripts/lib/wine-desktop.sh). Screenshots go to TALLOW_PACKAGING_OUT
# (default BUILD_DIR/../test-logs/packaging).
set -euo pipefail

BUILD=$(cd "${1:?usage: deb_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/checks.sh"
# shellcheck source=../../scripts/lib/wine-desktop.sh
source "$HERE/../../scripts/lib/wine-desktop.sh"

PACKAGE=tallowmere-tray
((EUID == 0)) || die "dpkg -i needs root"
begin_package_test "$BUILD" deb "${PACKAGE}_*.deb"
DEB=$PACKAGE_FILE

installed() { dpkg-query -W -f='${db:Status-Status}' "$PACKAGE" 2>/dev/null | grep -qv '^not-installed$'; }
cleanup() {
  desktop_cleanup
  installed && dpkg -P "$PACKAGE" >/dev/null 2>&1
  rm -rf "$WORK"
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if installed; then
  note "$PACKAGE is installed already; purging it first"
  dpkg -P "$PACKAGE" >/dev/null
fi
note "$(basename "$DEB"), version $VERSION"

# ---------------------------------------------------------------------------
# 1. The package as a file
# ---------------------------------------------------------------------------
field() { dpkg-deb -f "$DEB" "$1"; }
check_eq "control: package, version, architecture, section" \
  "$(field Package) $(field Version) $(field Architecture) $(field Section)" \
  "$PACKAGE $VERSION $(dpkg --print-architecture) net"
# Read from the programs: the tray's GIO and libdbusmenu, the dialog's GTK (which the
# tray also loads for its XEmbed icon).
depends=$(field Depends)
for library in 'libc6 (>=' 'libstdc++6' 'libglib2.0-0 (>=' 'libdbusmenu-glib4' 'libgtk-3-0 (>='; do
  check "control: dependencies read from the programs: $library" grep -qF "$library" <<<"$depends"
done

# Exactly these files: no stand-in agent, no test program, nothing else.
expected_files="/usr/bin/tallowmere-tray
/usr/bin/tallowmere-dialog
/usr/share/applications/tallowmere-tray.desktop
/usr/share/doc/tallowmere-tray/changelog.gz
/usr/share/doc/tallowmere-tray/copyright"
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256; do
  expected_files+=$'\n'"/usr/share/icons/hicolor/$size/apps/tallowmere-tray.png"
done
expected_files+=$'\n'"/usr/share/icons/hicolor/scalable/apps/tallowmere-tray.svg"
# The icons the tray names: the symbolic ones in both places a theme looks, the failed one.
for icon in tallowmere-tray-symbolic tallowmere-tray-dimmed-symbolic; do
  expected_files+=$'\n'"/usr/share/icons/hicolor/scalable/apps/$icon.svg"
  expected_files+=$'\n'"/usr/share/icons/hicolor/symbolic/apps/$icon.svg"
done
expected_files+=$'\n'"/usr/share/icons/hicolor/scalable/apps/tallowmere-tray-failed.svg"
expected_files+=$'\n'"/usr/share/man/man1/tallowmere-tray.1.gz"
expected_files+=$'\n'"/usr/share/man/man1/tallowmere-dialog.1.gz"
package_files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | LC_ALL=C sort; }
check_eq "holds the tray, its dialog program, desktop entry, icons, manual pages, copyright and changelog" \
  "$(package_files "$DEB")" "$(LC_ALL=C sort <<<"$expected_files")"

dpkg-deb -x "$DEB" "$WORK/root"
for program in tallowmere-tray tallowmere-dialog; do
  check "$program is stripped" \
    sh -c "! readelf -S '$WORK/root/usr/bin/$program' | grep -qE '\\.(symtab|debug_|comment)'"
done
check "the desktop entry passes desktop-file-validate" \
  desktop-file-validate "$WORK/root/usr/share/applications/tallowmere-tray.desktop"
check_eq "the changelog's latest entry is this version" \
  "$(zcat "$WORK/root/usr/share/doc/tallowmere-tray/changelog.gz" | head -n 1 | sed -E 's/^[^ ]+ \(([^)]+)\).*/\1/')" \
  "$VERSION"
check "the copyright file is machine-readable" \
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$WORK/root/usr/share/doc/tallowmere-tray/copyright"

# lintian: no error. Its warnings and notes are shown, for a person to judge.
lintian --display-info --tag-display-limit 0 "$DEB" >"$WORK/lintian.txt" 2>&1 || true
grep -v '^running with root privileges' "$WORK/lintian.txt" | sed 's/^/      lintian: /' || true
check "lintian reports no error" sh -c "! grep -q '^E: ' '$WORK/lintian.txt'"

# An agent goes in only when one is named, and never the tests' stand-in.
agent_copy=$WORK/agent/tallowmered
mkdir -p "$WORK/agent" "$WORK/with-agent" "$WORK/refused"
cp "$BUILD/bin/tallowmered" "$agent_copy"
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/with-agent" \
  -D CPACK_TALLOW_AGENT_EXE="$agent_copy" >"$WORK/cpack.log" 2>&1 || true
with_agent=("$WORK"/with-agent/*.deb)
check_eq "a named agent lands in /usr/bin, beside the tray" \
  "$(package_files "${with_agent[0]}" 2>/dev/null | grep '^/usr/bin/')" \
  $'/usr/bin/tallowmere-dialog\n/usr/bin/tallowmere-tray\n/usr/bin/tallowmered'
refuse_stand_in() {
  ! cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/refused" \
    -D CPACK_TALLOW_AGENT_EXE="$BUILD/bin/tallowmered" >"$WORK/refused.log" 2>&1 &&
    grep -q "stand-in" "$WORK/refused.log"
}
check "the stand-in agent is refused" refuse_stand_in

# ---------------------------------------------------------------------------
# 2. Installed
# ---------------------------------------------------------------------------
# Every file and directory where a package can put one, apart from dpkg's own records
# and the caches other packages' triggers rebuild (man-db, the icon theme's cache).
file_list() {
  find /usr /etc /opt /var/lib -xdev \
    \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/lib/lintian -o -path /var/cache \
       -o -path /var/lib/systemd -o -path /var/lib/ucf \) -prune -o \
    \( -name icon-theme.cache -o -name mimeinfo.cache \) -prune -o -print 2>/dev/null |
    LC_ALL=C sort
}
file_list >"$WORK/before"

install_package() {
  dpkg -i "$DEB" && return 0
  # Dependencies dpkg could not find are apt's to bring.
  DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q
}
check "installs with dpkg -i" install_package
check "is installed" installed
check_eq "tallowmere-tray --version prints the version" \
  "$(cd / && timeout 10 tallowmere-tray --version 2>&1; echo "status $?")" \
  "tallowmere-tray $VERSION
status 0"
check_eq "the installed program is /usr/bin/tallowmere-tray" "$(command -v tallowmere-tray)" \
  /usr/bin/tallowmere-tray
check "the installed desktop entry passes desktop-file-validate" \
  desktop-file-validate /usr/share/applications/tallowmere-tray.desktop
check_eq "dpkg knows each installed file" \
  "$(dpkg -L "$PACKAGE" | while read -r path; do [[ -d $path ]] || echo "$path"; done | LC_ALL=C sort)" \
  "$(LC_ALL=C sort <<<"$expected_files")"
man_page_warnings() { man --warnings -l "$WORK/root/usr/share/man/man1/$1.1.gz" 2>&1 >/dev/null; }
for program in tallowmere-tray tallowmere-dialog; do
  check_eq "the manual page of $program reads without warnings" "$(man_page_warnings $program)" ""
done

# ---------------------------------------------------------------------------
# 3. The installed tray on a desktop: its icon in an XEmbed notification area (no
#    session bus), and a second tray's message box, shown by the installed
#    tallowmere-dialog it finds beside itself
# ---------------------------------------------------------------------------
[[ -n ${DISPLAY:-} ]] || desktop_start_xvfb "$WORK" || die "Xvfb did not start"
desktop_start_trayer || die "trayer did not start"
mkdir -p "$WORK/home/runtime" "$WORK/home/state"
chmod 700 "$WORK/home/runtime"
# Without enrollment, the env file lets the tray start the agent, which the package lacks.
printf 'TALLOWMERE_LISTEN=127.0.0.1:7420\n' >"$WORK/home/state/env"
# A session of its own: the lock, the state and GTK's settings stay in the work directory.
tray_env=(env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$WORK/home/runtime"
  XDG_CONFIG_HOME="$WORK/home/config" XDG_CACHE_HOME="$WORK/home/cache"
  XDG_STATE_HOME="$WORK/home/state-home" TALLOWMERE_STATE_DIRECTORY="$WORK/home/state"
  NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory)
(cd / && exec "${tray_env[@]}" tallowmere-tray) >"$WORK/tray.log" 2>&1 &
TRAY_PID=$!
DESKTOP_PIDS+=("$TRAY_PID")
# GTK's status icon docks a plug window named after the program.
icon_window() { xwininfo -id "$DESKTOP_PANEL" -tree | sed -n 's/^ *\(0x[0-9a-f]*\) .*"tallowmere-tray".*/\1/p' | head -n 1; }
icon_docked() { [[ -n $(icon_window) ]]; }
check "the installed tray docks its icon in the notification area" wait_for 60 icon_docked
# Looked up each time: the docked window may be made anew while the tray starts.
icon_amber() {
  local geometry
  geometry=$(desktop_geometry_of "$(icon_window)") && [[ $(desktop_icon_look $geometry) == amber ]]
}
check "its icon shows that the agent could not start, in amber: $OUT/deb-installed.png" wait_for 60 icon_amber
desktop_shot "$OUT/deb-installed.png"
(cd / && exec "${tray_env[@]}" tallowmere-tray) >"$WORK/second-tray.log" 2>&1 &
SECOND_PID=$!
DESKTOP_PIDS+=("$SECOND_PID")
# The dialog program's window: it shows nothing else.
message_box() { xdotool search --onlyvisible --classname '^tallowmere-dialog$' 2>/dev/null | head -n 1; }
has_message_box() { [[ -n $(message_box) ]]; }
check "a second tray shows a message box" wait_for 60 has_message_box
box=$(message_box || true)
check_eq "captioned \"tallowmered\"" "$(xdotool getwindowname "$box" 2>&1)" tallowmered
box_program() { readlink "/proc/$(xdotool getwindowpid "$box")/exe"; }
check_eq "shown by the installed tallowmere-dialog" "$(box_program 2>/dev/null)" /usr/bin/tallowmere-dialog
desktop_shot "$OUT/deb-second-tray.png"
[[ -n $box ]] && xdotool windowfocus --sync "$box" key Return
check_exit "once it is dismissed, the second tray ends with status 0" "$SECOND_PID" 30 0
check "the first tray still runs" kill -0 "$TRAY_PID"
kill -TERM "$TRAY_PID"
check_exit "SIGTERM ends the tray with status 0" "$TRAY_PID" 30 0

# ---------------------------------------------------------------------------
# 4. Removed, then purged: nothing is left behind
# ---------------------------------------------------------------------------
check "removes with dpkg -r" dpkg -r "$PACKAGE"
file_list >"$WORK/after-remove"
check "dpkg -r leaves no file behind" diff "$WORK/before" "$WORK/after-remove"
check "both programs are gone" test ! -e /usr/bin/tallowmere-tray -a ! -e /usr/bin/tallowmere-dialog
check "purges with dpkg -P" dpkg -P "$PACKAGE"
not_installed() { ! installed; }
check "is not installed any more" not_installed
dpkg_records() { ls /var/lib/dpkg/info/"$PACKAGE".* 2>/dev/null; }
check_eq "dpkg keeps no record of it" "$(dpkg_records)" ""
file_list >"$WORK/after-purge"
check "dpkg -P leaves no file behind" diff "$WORK/before" "$WORK/after-purge"

finish deb_test
