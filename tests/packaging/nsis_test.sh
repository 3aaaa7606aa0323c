#!/usr/bin/env bash
# The Windows installer, installed, used and removed under Wine the way a user would:
#
#   tests/packaging/nsis_test.sh BUILD_DIR
#
# BUILD_DIR is the Windows build (build/windows) after `scripts/package windows`: its
# packages/ holds the installer, its bin/ the probe and the stand-in agent. A second
# installer that carries a copy of the stand-in as its agent is made here, for the
# stories with a running agent; it never leaves the work directory.
#
# Makes a throwaway Wine prefix of its own. Uses DISPLAY when it is set, else starts its
# own Xvfb. Needs trayer, xdotool, xwininfo and imagemagick (scripts/lib/wine-desktop.sh). Screenshots go to TALLOW_PACKAGING_OUT (default BUILD_DIR/../test-logs/packaging).
set -euo pipefail

BUILD=$(cd "${1:?usage: nsis_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/checks.sh"
# shellcheck source=../../scripts/lib/wine-desktop.sh
source "$HERE/../../scripts/lib/wine-desktop.sh"

PROBE=$BUILD/bin/package_probe.exe
STAND_IN=$BUILD/bin/tallowmered.exe
[[ -f $PROBE && -f $STAND_IN ]] || die "$BUILD is not a built Windows tree"
begin_package_test "$BUILD" nsis "tallowmere-tray-*-win64-setup.exe"
INSTALLER=$PACKAGE_FILE

# ---------------------------------------------------------------------------
# A display, a Wine prefix and an XEmbed tray host
# ---------------------------------------------------------------------------
end_with_test
enter_wine_world trayer

# ---------------------------------------------------------------------------
# Where things land, in Windows and Linux terms
# ---------------------------------------------------------------------------
LOCAL_WIN=$(win cmd.exe /c 'echo %LOCALAPPDATA%' | tr -d '\r')
ROAMING_WIN=$(win cmd.exe /c 'echo %APPDATA%' | tr -d '\r')
INSTDIR_WIN="$LOCAL_WIN\\Programs\\tallowmere"
TRAY_WIN="$INSTDIR_WIN\\tallowmere-tray.exe"
SHORTCUT_WIN="$ROAMING_WIN\\Microsoft\\Windows\\Start Menu\\Programs\\tallowmered.lnk"
INSTDIR=$(winepath -u "$INSTDIR_WIN" 2>/dev/null)
SHORTCUT=$(winepath -u "$SHORTCUT_WIN" 2>/dev/null)
STATE=$(winepath -u "$LOCAL_WIN\\tallowmere" 2>/dev/null)
UNINSTALL_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tallowmere'
RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

# A registry value's data, or nothing when it is missing.
reg_value() {
  win reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
key_missing() { ! win reg query "$1" >/dev/null 2>&1; }
tray_window() { win "$PROBE" tray "$1" "$2" >/dev/null 2>>"$WORK/probe.log"; }
# The agent started from the installation directory, seen from Linux.
agent_runs() { pgrep -f 'Programs\\tallowmere\\tallowmered\.exe' >/dev/null; }
agent_ended() { ! agent_runs; }

# The tray's icon in trayer's dock, where Wine's notification area docks one window for
# each icon: the one that was not there before the tray started.
ICONS_BEFORE=
note_icons() { ICONS_BEFORE=$(desktop_live_icon_ids); }
icon_looks() { [[ $(desktop_icon_look $(desktop_geometry_of "$ICON")) == "$1" ]]; }

# icon_takes_look LOOK SHOT: waits until the tray's icon looks so ("amber" once the agent
# has failed, "bright" while it runs, on trayer's grey panel), and leaves a screenshot in
# $OUT/SHOT.png. Wine now and then leaves a docked icon undrawn; docked anew, it is drawn.
icon_takes_look() {
  wait_for 60 desktop_has_new_icon "$ICONS_BEFORE" || { echo "no new icon in the dock"; return 1; }
  ICON=$(desktop_new_icon "$ICONS_BEFORE")
  if ! wait_for 20 icon_looks "$1"; then
    desktop_redock
    ICON=$(desktop_icon_ids | head -n 1)
    wait_for 40 icon_looks "$1" ||
      { echo "the icon looks $(desktop_icon_look $(desktop_geometry_of "$ICON")), not $1"; return 1; }
  fi
  desktop_shot "$OUT/$2.png"
}

# Runs an installer silently. Its output goes to a file: a tray it starts inherits it,
# and would hold a pipe open for as long as it runs.
install_silently() { win "$1" /S >>"$WORK/installer.log" 2>&1; }

# The uninstaller copies itself away and returns at once; the copy does the work.
uninstall() {
  win "$INSTDIR_WIN\\Uninstall.exe" /S >>"$WORK/installer.log" 2>&1 || return 1
  # The uninstaller runs on from a copy of itself; its last step removes the entry.
  wait_for 60 key_missing "$UNINSTALL_KEY"
}

note "installer $(basename "$INSTALLER"), version $VERSION, Wine prefix $WINEPREFIX"

# The state directory belongs to the user, before and after: an enrollment, a log and
# the env file that lets the agent start without a hub.
mkdir -p "$STATE"
printf 'TALLOWMERE_LISTEN=127.0.0.1:7420\n' >"$STATE/env"
printf 'kept\n' >"$STATE/tallowmered.log"
state_intact() { [[ $(cat "$STATE/env" 2>/dev/null) == TALLOWMERE_LISTEN=127.0.0.1:7420 &&
  $(head -n 1 "$STATE/tallowmered.log" 2>/dev/null) == kept ]]; }

# An installer like the shipped one that also carries an agent: a copy of the stand-in.
mkdir -p "$WORK/agent" "$WORK/with-agent"
cp "$STAND_IN" "$WORK/agent/tallowmered.exe"
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/with-agent" \
  -D CPACK_TALLOW_AGENT_EXE="$WORK/agent/tallowmered.exe" >"$WORK/cpack.log" 2>&1 ||
  die "could not make the installer with an agent: $(tail -n 5 "$WORK/cpack.log")"
WITH_AGENT=$(ls "$WORK"/with-agent/tallowmere-tray-*-win64-setup.exe)

# ---------------------------------------------------------------------------
# 1. A fresh silent install
# ---------------------------------------------------------------------------
check "installs silently without administrator rights" install_silently "$INSTALLER"
check_eq "installs the tray and the uninstaller, and no agent" \
  "$(cd "$INSTDIR" && LC_ALL=C ls | paste -sd ' ')" "Uninstall.exe tallowmere-tray.exe"
check "the installed tray is stripped" \
  sh -c "! x86_64-w64-mingw32-objdump -h '$INSTDIR/tallowmere-tray.exe' | grep -q debug_info"
version_info=$(probe version "$TRAY_WIN")
check_eq "version resource" "$(grep -E '^(Fixed)?(File|Product)Version=|^(Product|Internal|Original)' <<<"$version_info" | paste -sd ' ')" \
  "FixedFileVersion=$VERSION.0 FixedProductVersion=$VERSION.0 FileVersion=$VERSION InternalName=tallowmere-tray OriginalFilename=tallowmere-tray.exe ProductName=tallowmere ProductVersion=$VERSION"
check "version resource names the company, the copyright and what the program is" \
  grep -q -e '^CompanyName=.' -e '^LegalCopyright=.' <<<"$version_info"
check_eq "version resource: description" "$(sed -n 's/^FileDescription=//p' <<<"$version_info")" \
  "tallowmered notification-area companion"
check_eq "--version prints the version" "$(win "$TRAY_WIN" --version | tr -d '\r')" \
  "tallowmere-tray $VERSION"
check "--version starts no tray" tray_window absent 0
check_eq "Start menu shortcut starts the tray in its directory" "$(probe shortcut "$SHORTCUT_WIN" | grep -E '^(Target|Arguments|WorkingDirectory)=')" \
  "Target=$TRAY_WIN
Arguments=
WorkingDirectory=$INSTDIR_WIN"
uninstaller="\"$INSTDIR_WIN\\Uninstall.exe\""
for pair in "DisplayName=tallowmere" "DisplayVersion=$VERSION" "DisplayIcon=$TRAY_WIN,0" \
  "Publisher=$(sed -n 's/^CompanyName=//p' <<<"$version_info")" "InstallLocation=$INSTDIR_WIN" \
  "UninstallString=$uninstaller" "QuietUninstallString=$uninstaller /S" \
  "NoModify=0x1" "NoRepair=0x1"; do
  check_eq "uninstall entry: ${pair%%=*}" "$(reg_value "$UNINSTALL_KEY" "${pair%%=*}")" "${pair#*=}"
done
size_kib=$(($(du -sk "$INSTDIR" | cut -f1)))
estimated=$(($(reg_value "$UNINSTALL_KEY" EstimatedSize)))
check "uninstall entry: EstimatedSize ($estimated KiB) is the installation's ($size_kib KiB on disk)" \
  test "$estimated" -gt $((size_kib * 3 / 4)) -a "$estimated" -le $((size_kib + 64))
check "the state directory is untouched" state_intact

# ---------------------------------------------------------------------------
# 2. The installed tray starts and shows its icon
# ---------------------------------------------------------------------------
note_icons
wine "$TRAY_WIN" >"$WORK/tray.log" 2>&1 &
TRAY_PID=$!
check "the installed tray starts: its control window exists" tray_window present 60
check "its icon shows the agent missing, in amber: $OUT/nsis-installed.png" \
  icon_takes_look amber nsis-installed

# ---------------------------------------------------------------------------
# 3. An upgrade over the running tray, now with an agent
# ---------------------------------------------------------------------------
note_icons
check "installs over the running tray" install_silently "$WITH_AGENT"
check_exit "the running tray was asked to end, and ended with status 0" "$TRAY_PID" 30 0
TRAY_PID=
check "the agent is installed beside the tray" test -f "$INSTDIR/tallowmered.exe"
check_eq "records the agent it carries, for the uninstaller" "$(reg_value "$UNINSTALL_KEY" AgentInstalled)" 0x1
check "the silent upgrade started the tray again" tray_window present 60
check "which runs the installed agent" wait_for 60 agent_runs
check "its icon shows the agent running: $OUT/nsis-running.png" icon_takes_look bright nsis-running

# The agent's program file is locked while it runs: the installer must end the tray,
# which stops the agent, before it writes the file.
check "installs again over the running tray and agent" install_silently "$WITH_AGENT"
check "the tray and its agent run again" wait_for 60 agent_runs

# ---------------------------------------------------------------------------
# 4. Uninstall: Launch at Login pointing here goes, the state directory stays
# ---------------------------------------------------------------------------
# The tray writes its own quoted path; Windows paths ignore case.
win reg add "$RUN_KEY" /v tallowmere /t REG_SZ /d "\"${TRAY_WIN^^}\"" /f >/dev/null
check "uninstalls silently, ending the tray and its agent" uninstall
check "the tray has ended" tray_window absent 30
check "the agent has ended" agent_ended
check "no file is left" test ! -e "$INSTDIR"
check "the Start menu shortcut is gone" test ! -e "$SHORTCUT"
check "the uninstall entry is gone" key_missing "$UNINSTALL_KEY"
check_eq "the Run value that started this installation is gone" "$(reg_value "$RUN_KEY" tallowmere)" ""
check "the state directory is kept as it was" state_intact

# ---------------------------------------------------------------------------
# 5. Again, started from the Start menu, with a Run value that starts another copy
# ---------------------------------------------------------------------------
# An agent the user put beside the tray by hand is theirs, not the package's.
mkdir -p "$INSTDIR"
printf 'placed by hand\n' >"$INSTDIR/tallowmered.exe"
check "installs again, beside an agent placed by hand" install_silently "$INSTALLER"
check_eq "records that it carries no agent" "$(reg_value "$UNINSTALL_KEY" AgentInstalled)" ""
win start "$SHORTCUT_WIN" >>"$WORK/tray.log" 2>&1
check "the Start menu shortcut starts the tray" tray_window present 60
elsewhere='"C:\Other Place\tallowmere-tray.exe"'
win reg add "$RUN_KEY" /v tallowmere /t REG_SZ /d "$elsewhere" /f >/dev/null
check "uninstalls again" uninstall
check "the tray has ended" tray_window absent 30
check_eq "a Run value that starts another copy is kept" "$(reg_value "$RUN_KEY" tallowmere)" "$elsewhere"
check_eq "the agent placed by hand is kept, and nothing else" "$(ls "$INSTDIR")" tallowmered.exe
rm -rf "$INSTDIR"
win reg delete "$RUN_KEY" /v tallowmere /f >/dev/null 2>&1 || true
check "the state directory is still kept" state_intact

finish nsis_test
