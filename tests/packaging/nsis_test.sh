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
# own Xvfb. Needs trayer, xwininfo and imagemagick. Screenshots go to TALLOW_PACKAGING_OUT (default BUILD_DIR/../test-logs/packaging).
set -euo pipefail

BUILD=$(cd "${1:?usage: nsis_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/checks.sh"

shopt -s nullglob
installers=("$BUILD"/packages/tallowmere-tray-*-win64-setup.exe)
shopt -u nullglob
((${#installers[@]} == 1)) || die "expected one installer in $BUILD/packages, found ${#installers[@]}"
INSTALLER=${installers[0]}
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
PROBE=$BUILD/bin/package_probe.exe
STAND_IN=$BUILD/bin/tallowmered.exe
[[ -n $VERSION && -f $PROBE && -f $STAND_IN ]] || die "$BUILD is not a built Windows tree"
OUT=${TALLOW_PACKAGING_OUT:-$BUILD/../test-logs/packaging}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CHECK_LOG=$OUT/nsis-checks.log
: >"$CHECK_LOG"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tallow-nsis.XXXXXX")

# ---------------------------------------------------------------------------
# A display, a Wine prefix and an XEmbed tray host
# ---------------------------------------------------------------------------
OWN_XVFB= OWN_PREFIX= TRAYER_PID= TRAY_PID=
cleanup() {
  # Whatever the story left running ends with the tray: it stops its agent itself.
  if [[ -n $OWN_PREFIX ]]; then
    timeout 40 wine "$PROBE" close-tray >/dev/null 2>&1 &&
      timeout 40 wine "$PROBE" tray absent 35 >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
  fi
  [[ -n $TRAY_PID ]] && kill "$TRAY_PID" 2>/dev/null
  [[ -n $TRAYER_PID ]] && kill "$TRAYER_PID" 2>/dev/null
  [[ -n $OWN_XVFB ]] && kill "$OWN_XVFB" 2>/dev/null
  rm -rf "$WORK"
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [[ -z ${DISPLAY:-} ]]; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
  OWN_XVFB=$!
  wait_until 30 test -s "$WORK/display" || die "Xvfb did not start"
  export DISPLAY=":$(head -n 1 "$WORK/display")"
fi
# Always a Wine prefix of its own: the story installs, uninstalls and writes the user's
# state directory, which must not happen to a prefix someone uses.
OWN_PREFIX=$WORK/prefix
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} WINEPREFIX=$OWN_PREFIX
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
note "making a Wine prefix"
{ wineboot -i && wineserver -w &&
  wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f &&
  wineserver -w && wineserver -p && wine cmd.exe /c exit; } >"$WORK/wine.log" 2>&1 ||
  die "no Wine prefix: $(tail -n 5 "$WORK/wine.log")"

trayer --edge top --align right --widthtype request --height 40 --SetDockType true \
  --transparent false --expand true >"$WORK/trayer.log" 2>&1 &
TRAYER_PID=$!
wait_until 30 sh -c 'xwininfo -root -tree | grep -q "\"panel\": (\"panel\" \"trayer\")"' ||
  die "trayer did not start"

# ---------------------------------------------------------------------------
# Where things land, in Windows and Linux terms
# ---------------------------------------------------------------------------
win() { timeout 120 wine "$@"; }
probe() { win "$PROBE" "$@" 2>>"$WORK/probe.log" | tr -d '\r'; }

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

# The tray's icon in trayer's dock: Wine's notification area embeds one window there for
# each icon added. Prints the window's geometry as "WxH+X+Y".
docked_icon() {
  xwininfo -root -tree | grep -A5 '"panel": ("panel" "trayer")' | grep -m1 explorer.exe |
    sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1x\2+\3+\4/' |
    grep .
}

# Wine paints a docked icon when X asks for it. Under load an icon can be docked after
# its last change and stay blank until then; covering it for a moment with a window, as
# a user moving a window across it would, makes X ask.
expose() {
  local geometry=$1 cover
  xev -geometry "$geometry" >/dev/null 2>&1 &
  cover=$!
  sleep 0.5
  kill "$cover" 2>/dev/null
  wait "$cover" 2>/dev/null || true
  sleep 0.5
}

# Waits until the docked icon holds the white rook of a running agent (on the dark
# taskbar Wine's default theme asks for), and leaves a screenshot in $OUT/$1.png.
icon_shows_running() {
  local shot=$OUT/$1.png geometry white=0 deadline=$((SECONDS + 30))
  wait_until 60 docked_icon || { echo "no icon in the dock"; return 1; }
  geometry=$(docked_icon)
  while ((SECONDS < deadline)); do
    import -window root "$shot" || return 1
    white=$(convert "$shot" -crop "$geometry" +repage -fill black +opaque white -fill white \
      -opaque white -format '%[fx:round(mean*w*h)]' info:)
    ((white >= 30)) && return 0
    expose "$geometry"
  done
  echo "the icon at $geometry has $white white pixels"
  return 1
}

# Waits at most $2 seconds for the process $1 (a child) to end; returns its status.
exit_status_of() {
  wait_until "$2" sh -c "! kill -0 $1" || { echo timeout; return; }
  local status=0
  wait "$1" || status=$?
  echo "$status"
}

# Runs an installer silently. Its output goes to a file: a tray it starts inherits it,
# and would hold a pipe open for as long as it runs.
install_silently() { win "$1" /S >>"$WORK/installer.log" 2>&1; }

# The uninstaller copies itself away and returns at once; the copy does the work.
uninstall() {
  win "$INSTDIR_WIN\\Uninstall.exe" /S >>"$WORK/installer.log" 2>&1 || return 1
  wait_until 60 sh -c "! test -e '$INSTDIR'"
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
wine "$TRAY_WIN" >"$WORK/tray.log" 2>&1 &
TRAY_PID=$!
check "the installed tray starts: its control window exists" tray_window present 60
check "its icon is in the notification area (docked in trayer)" wait_until 60 docked_icon
expose "$(docked_icon)"
import -window root "$OUT/nsis-installed.png"

# ---------------------------------------------------------------------------
# 3. An upgrade over the running tray, now with an agent
# ---------------------------------------------------------------------------
check "installs over the running tray" install_silently "$WITH_AGENT"
check_eq "the running tray was asked to end, and ended with status 0" \
  "$(exit_status_of "$TRAY_PID" 30)" 0
TRAY_PID=
check "the agent is installed beside the tray" test -f "$INSTDIR/tallowmered.exe"
check "the silent upgrade started the tray again" tray_window present 60
check "which runs the installed agent" wait_until 60 agent_runs
check "its icon shows the running agent: $OUT/nsis-running.png" icon_shows_running nsis-running

# The agent's program file is locked while it runs: the installer must end the tray,
# which stops the agent, before it writes the file.
check "installs again over the running tray and agent" install_silently "$WITH_AGENT"
check "the tray and its agent run again" wait_until 60 agent_runs

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
check "installs again" install_silently "$INSTALLER"
win start "$SHORTCUT_WIN" >>"$WORK/tray.log" 2>&1
check "the Start menu shortcut starts the tray" tray_window present 60
elsewhere='"C:\Other Place\tallowmere-tray.exe"'
win reg add "$RUN_KEY" /v tallowmere /t REG_SZ /d "$elsewhere" /f >/dev/null
check "uninstalls again" uninstall
check "the tray has ended" tray_window absent 30
check_eq "a Run value that starts another copy is kept" "$(reg_value "$RUN_KEY" tallowmere)" "$elsewhere"
win reg delete "$RUN_KEY" /v tallowmere /f >/dev/null 2>&1 || true
check "the state directory is still kept" state_intact

finish nsis_test
