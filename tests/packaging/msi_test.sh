#!/usr/bin/env bash
# The MSI, read table by table, then installed, upgraded over a running tray, repaired
# and removed under Wine, the way an administrator would:
#
#   tests/packaging/msi_test.sh BUILD_DIR
#
# BUILD_DIR is the Windows build (build/windows) after `scripts/package msi`: its
# packages/ holds the MSI, its bin/ the probe, the stand-in agent and the closer. Other
# versions of the package are made here from the same build (packaging/windows/msi.cmake
# with VERSION and STAGE_DIR): an older and a newer one that carry a copy of the stand-in
# as their agent and a tray that differs by a few bytes at its end, and the same version
# built again. They never leave the work directory.
#
# Makes a throwaway Wine prefix of its own. Uses DISPLAY when it is set, else starts its
# own Xvfb. Needs wixl and msitools, trayer and xwininfo (scripts/lib/wine-desktop.sh).
# The installer's logs go to TALLOW_PACKAGING_OUT (default BUILD_DIR/../test-logs/packaging).
set -euo pipefail

BUILD=$(cd "${1:?usage: msi_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
MSI_CMAKE=$HERE/../../packaging/windows/msi.cmake
source "$HERE/checks.sh"
# shellcheck source=../../scripts/lib/wine-desktop.sh
source "$HERE/../../scripts/lib/wine-desktop.sh"

PROBE=$BUILD/bin/package_probe.exe
STAND_IN=$BUILD/bin/tallowmered.exe
CLOSER=$BUILD/bin/end_running_trays.exe
[[ -f $PROBE && -f $STAND_IN && -f $CLOSER ]] || die "$BUILD is not a built Windows tree"
begin_package_test "$BUILD" msi "tallowmere-tray-*-x64.msi"
SHIPPED=$PACKAGE_FILE
VENDOR=$(sed -n 's/^TALLOW_VENDOR:STRING=//p' "$BUILD/CMakeCache.txt")
IFS=. read -r major minor patch <<<"$VERSION"
NEWER_VERSION=$major.$minor.$((patch + 1))
UPGRADE_CODE='{8E2F6C1A-4B7D-4E39-A5C2-7D1E9B3F6A40}'
STARTED=$SECONDS

# ---------------------------------------------------------------------------
# 1. The tables (no Wine)
# ---------------------------------------------------------------------------
# table PACKAGE NAME: its rows, tab-separated, without the three header lines.
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
property() { table "$1" Property | sed -n "s/^$2\t//p"; }

note "tables of $(basename "$SHIPPED"), version $VERSION"
check_eq "summary: a 64-bit package" "$(msiinfo suminfo "$SHIPPED" | sed -n 's/^Template: //p')" "x64;1033"
for pair in "ProductName=tallowmere" "ProductVersion=$VERSION" "Manufacturer=$VENDOR" \
  "UpgradeCode=$UPGRADE_CODE" "ALLUSERS=1" "ARPPRODUCTICON=tallowmere.ico" "ARPNOMODIFY=1"; do
  check_eq "property ${pair%%=*}" "$(property "$SHIPPED" "${pair%%=*}")" "${pair#*=}"
done
check_eq "File rows: the tray alone, without an agent" "$(table "$SHIPPED" File | cut -f3)" tallowmere-tray.exe
check_eq "every component is 64-bit" \
  "$(table "$SHIPPED" Component | awk -F'\t' '{ print $1, int($4 / 256) % 2 }' | sort | paste -sd ' ')" \
  "InstalledDirectory 1 StartMenuShortcut 1 TrayProgram 1"
check_eq "installs into ProgramFiles64Folder\\tallowmere" \
  "$(table "$SHIPPED" Directory | awk -F'\t' '$1 == "INSTALLDIR" { print $2, $3 }')" "ProgramFiles64Folder tallowmere"
check_eq "Shortcut: tallowmered in the Start menu, the tray in its directory" \
  "$(table "$SHIPPED" Shortcut | cut -f2,3,5,12 | tr '\t' ' ')" "ProgramMenuFolder tallowmered [#TrayExe] INSTALLDIR"
check_eq "Upgrade rows: up to this version replaced, a newer one refused" \
  "$(table "$SHIPPED" Upgrade | awk -F'\t' '{ print $1, $2, $3, $5, $7 }' | sort)" \
  "$UPGRADE_CODE 0.0.0 $NEWER_VERSION 256 WIX_UPGRADE_DETECTED
$UPGRADE_CODE $NEWER_VERSION  258 WIX_DOWNGRADE_DETECTED"
check "a newer version stops the installation" \
  grep -q $'^NOT WIX_DOWNGRADE_DETECTED\tA newer version of' <(table "$SHIPPED" LaunchCondition)
check_eq "custom actions: the closer from the Binary table, checked (2) and not (66)" \
  "$(table "$SHIPPED" CustomAction | awk -F'\t' '$3 == "TrayCloser" { print $1, $2, $4 }' | sort)" \
  'EndTraysForChange 2 --remember "[INSTALLDIR]."
EndTraysForRemoval 2 "[INSTALLDIR]."
StartTrayAgain 66 --start-again "[INSTALLDIR]."'
# The order that matters: the installed directory known, the trays ended before anything
# changes, the old version removed, and the tray started once all is done.
check_eq "the sequence, in order" \
  "$(table "$SHIPPED" InstallExecuteSequence | sort -t$'\t' -k3,3n | cut -f1 |
    grep -xE 'AppSearch|LaunchConditions|RepairEveryFile|RepairOnReinstall|CostFinalize|EndTrays.*|InstallValidate|RemoveExistingProducts|InstallFiles|InstallFinalize|StartTrayAgain' |
    paste -sd ' ')" \
  "AppSearch LaunchConditions RepairEveryFile RepairOnReinstall CostFinalize EndTraysForChange EndTraysForRemoval InstallValidate RemoveExistingProducts InstallFiles InstallFinalize StartTrayAgain"
check_eq "the closer's conditions: an upgrade or a repair, and a removal of its own" \
  "$(table "$SHIPPED" InstallExecuteSequence | awk -F'\t' '$1 ~ /Tray/ { print $1 ": " $2 }' | sort)" \
  'EndTraysForChange: (WIX_UPGRADE_DETECTED OR REINSTALL) AND NOT (REMOVE="ALL")
EndTraysForRemoval: REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE
StartTrayAgain: (WIX_UPGRADE_DETECTED OR REINSTALL) AND NOT (REMOVE="ALL")'
check "Error 1722 says that tallowmered did not end" \
  grep -q $'^1722\ttallowmered is still running: it did not end within 30 seconds' <(table "$SHIPPED" Error)
mkdir -p "$WORK/content"
msiinfo extract "$SHIPPED" Binary.TrayCloser >"$WORK/content/closer.exe"
check "the Binary table holds the built closer" cmp "$WORK/content/closer.exe" "$CLOSER"
check "the package's tray is the built one, stripped" sh -c "msiextract -C '$WORK/content' '$SHIPPED' >/dev/null &&
  cmp '$WORK/content/tallowmere/tallowmere-tray.exe' '$BUILD/bin/tallowmere-tray.exe' &&
  ! x86_64-w64-mingw32-objdump -h '$BUILD/bin/tallowmere-tray.exe' | grep -q debug_info"

# The other versions, from the same build.
# pack NAME VERSION [TRAY_TAIL [agent]]: WORK/NAME/*.msi; the tray gets TRAY_TAIL appended.
pack() {
  local stage=$WORK/stage-$1
  cmake --install "$BUILD" --prefix "$stage" >"$WORK/pack-$1.log" 2>&1 || return 1
  [[ -z ${3:-} ]] || printf '%s' "$3" >>"$stage/tallowmere-tray.exe"
  [[ -z ${4:-} ]] || cp "$STAND_IN" "$stage/tallowmered.exe"
  cmake -D BUILD_DIR="$BUILD" -D OUTPUT_DIR="$WORK/$1" -D VERSION="$2" -D STAGE_DIR="$stage" \
    -P "$MSI_CMAKE" >>"$WORK/pack-$1.log" 2>&1 || return 1
  ls "$WORK/$1"/tallowmere-tray-"$2"-x64.msi
}
OLD=$(pack old 0.0.1 old-tray agent) || die "could not make the older package: $(tail -n 5 "$WORK/pack-old.log")"
NEWER=$(pack newer "$NEWER_VERSION" newer-tray agent) || die "could not make the newer package"
REBUILT=$(pack rebuilt "$VERSION") || die "could not make the package again"
check_eq "the older package carries the agent" "$(table "$OLD" File | cut -f3 | sort | paste -sd ' ')" \
  "tallowmere-tray.exe tallowmered.exe"
check_eq "a package built again is another product" \
  "$([[ $(property "$REBUILT" ProductCode) != "$(property "$SHIPPED" ProductCode)" ]] && echo differs)" differs
stand_in_refused() {
  ! cmake -D BUILD_DIR="$BUILD" -D OUTPUT_DIR="$WORK/refused" -D AGENT_EXE="$STAND_IN" -P "$MSI_CMAKE" \
    >"$WORK/refused.log" 2>&1 && grep -q "stand-in" "$WORK/refused.log" && [[ -z $(ls -A "$WORK/refused" 2>/dev/null) ]]
}
check "the stand-in agent is refused" stand_in_refused

# ---------------------------------------------------------------------------
# A display, a Wine prefix and an XEmbed tray host
# ---------------------------------------------------------------------------
STUBBORN_PID=
before_cleanup() { [[ -n $STUBBORN_PID ]] && kill "$STUBBORN_PID" >/dev/null 2>&1; }
end_with_test
enter_wine_world trayer


INSTDIR_WIN='C:\Program Files\tallowmere'
TRAY_WIN="$INSTDIR_WIN\\tallowmere-tray.exe"
INSTDIR=$(winepath -u "$INSTDIR_WIN" 2>/dev/null)
# Wine puts an all-users shortcut in the user's Start menu; Windows in ProgramData's.
SHORTCUT_WIN="$(win cmd.exe /c 'echo %APPDATA%' | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\tallowmered.lnk"
SHORTCUT=$(winepath -u "$SHORTCUT_WIN" 2>/dev/null)
STATE=$(winepath -u "$(win cmd.exe /c 'echo %LOCALAPPDATA%' | tr -d '\r')\\tallowmere" 2>/dev/null)
MARKER=$(winepath -u "$(win cmd.exe /c 'echo %TEMP%' | tr -d '\r')\\tallowmere-tray-ended" 2>/dev/null)
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
OWN_KEY='HKLM\Software\tallowmere\tallowmere-tray'
RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

# msiexec ARGUMENTS...: runs it with a verbose log in OUT; MSI_STATUS is its exit code,
# in full (wine's own exit status keeps only the low 8 bits, 1603 becoming 67) and
# MSI_SECONDS how long it took. Its output goes to a file: a tray it starts inherits it.
RUNS=0
printf '@start "" /wait msiexec %%*\r\n@echo STATUS=%%errorlevel%%\r\n' >"$WINEPREFIX/drive_c/msi.bat"
msiexec() {
  local log="$WORK/msiexec-$((++RUNS)).out" started=$SECONDS
  MSI_LOG=$OUT/msi-run-$RUNS.log
  win cmd.exe /c 'C:\msi.bat' "$@" /l*v "$(winepath -w "$MSI_LOG")" >"$log" 2>&1 || true
  MSI_STATUS=$(tr -d '\r' <"$log" | sed -n 's/^STATUS=//p' | tail -n 1)
  MSI_SECONDS=$((SECONDS - started))
  echo "msiexec $* -> ${MSI_STATUS:-?} in ${MSI_SECONDS}s (log $MSI_LOG)"
}
# check_msi NAME EXPECTED ARGUMENTS...: msiexec ends with EXPECTED ("failure": any but 0).
check_msi() {
  local name=$1 expected=$2
  shift 2
  msiexec "$@"
  if [[ $expected == failure ]]; then
    check_eq "$name (status ${MSI_STATUS:-?}, ${MSI_SECONDS}s)" "$([[ ${MSI_STATUS:-0} != 0 ]] && echo failure)" failure
  else
    check_eq "$name (${MSI_SECONDS}s)" "status ${MSI_STATUS:-?}" "status $expected"
  fi
}

reg_value() {
  win reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
key_missing() { ! win reg query "$1" >/dev/null 2>&1; }
# The Apps entries of the product, one "DisplayVersion Publisher" a line; apps_codes
# their keys, the product codes.
apps_list() {
  win reg query "$UNINSTALL_KEY" /s 2>/dev/null | tr -d '\r' | awk -v what="$1" '
    function out() { if (name == "tallowmere") print (what == "codes" ? key : version " " publisher) }
    /^HKEY/ { out(); key = $0; sub(/.*\\/, "", key); name = version = publisher = "" }
    $1 == "DisplayName" { name = $3 } $1 == "DisplayVersion" { version = $3 } $1 == "Publisher" { publisher = $3 }
    END { out() }'
}
apps_entries() { apps_list entries; }
apps_codes() { apps_list codes; }
tray_window() { win "$PROBE" tray "$1" "$2" >/dev/null 2>>"$WORK/probe.log"; }
# The programs running from the installation directory, seen from Linux.
runs_from_install() { pgrep -f "Program Files\\\\tallowmere\\\\$1" >/dev/null; }
tray_runs_again() { tray_window present 60 && runs_from_install 'tallowmere-tray\.exe'; }
agent_runs() { runs_from_install 'tallowmered\.exe'; }
agent_ended() { ! agent_runs; }
installed() { (cd "$INSTDIR" 2>/dev/null && LC_ALL=C ls | paste -sd ' '); }
tray_is() { cmp -s "$INSTDIR/tallowmere-tray.exe" "$1"; }
# The tray as each package carries it.
OLD_TRAY=$WORK/stage-old/tallowmere-tray.exe
NEWER_TRAY=$WORK/stage-newer/tallowmere-tray.exe
SHIPPED_TRAY=$WORK/content/tallowmere/tallowmere-tray.exe
start_tray() {
  wine "$TRAY_WIN" >>"$WORK/tray.log" 2>&1 &
  TRAY_PID=$!
}

# The state directory and Launch at Login belong to the user, before and after.
mkdir -p "$STATE"
printf 'TALLOWMERE_LISTEN=127.0.0.1:7420\n' >"$STATE/env"
printf 'kept\n' >"$STATE/tallowmered.log"
state_intact() { [[ $(cat "$STATE/env" 2>/dev/null) == TALLOWMERE_LISTEN=127.0.0.1:7420 &&
  $(head -n 1 "$STATE/tallowmered.log" 2>/dev/null) == kept ]]; }

# ---------------------------------------------------------------------------
# 2. A fresh silent install (the older version, with an agent)
# ---------------------------------------------------------------------------
note "Wine prefix $WINEPREFIX"
check_msi "installs silently" 0 /i "$(winepath -w "$OLD")" /qn
check_eq "installs the tray and the agent" "$(installed)" "tallowmere-tray.exe tallowmered.exe"
check "the tray is the package's" tray_is "$OLD_TRAY"
check_eq "Start menu shortcut starts the tray in its directory" \
  "$(probe shortcut "$SHORTCUT_WIN" | grep -E '^(Target|WorkingDirectory)=')" \
  "Target=$TRAY_WIN
WorkingDirectory=$INSTDIR_WIN\\"
check_eq "one Apps entry: version and publisher" "$(apps_entries)" "0.0.1 $VENDOR"
check_eq "remembers where it is installed" "$(reg_value "$OWN_KEY" InstallDir)" "$INSTDIR_WIN\\"
check "a silent install starts nothing" tray_window absent 0
check "and no agent" agent_ended

# ---------------------------------------------------------------------------
# 3. An upgrade over the running tray and its agent
# ---------------------------------------------------------------------------
start_tray
check "the installed tray starts" tray_window present 60
check "and runs the installed agent" wait_for 60 agent_runs
check_msi "upgrades over the running tray and agent" 0 /i "$(winepath -w "$SHIPPED")" /qn
check_exit "the running tray was asked to end, and ended with status 0" "$TRAY_PID" 30 0
TRAY_PID=
check "the old agent has ended" agent_ended
check_eq "the new programs are in place, the old agent gone" "$(installed)" tallowmere-tray.exe
check "the tray is the new one" tray_is "$SHIPPED_TRAY"
check_eq "one Apps entry, of the new version" "$(apps_entries)" "$VERSION $VENDOR"
check "the tray it ended runs again, from the installation" tray_runs_again
check "the note that it ended one is gone" test ! -e "$MARKER"

# ---------------------------------------------------------------------------
# 4. A downgrade is refused and touches nothing
# ---------------------------------------------------------------------------
check_msi "refuses the older version" failure /i "$(winepath -w "$OLD")" /qn
check "the installed tray is untouched" tray_is "$SHIPPED_TRAY"
check_eq "one Apps entry, still of the newer version" "$(apps_entries)" "$VERSION $VENDOR"
check "the running tray was left alone" tray_window present 0

# ---------------------------------------------------------------------------
# 5. The same version again repairs
# ---------------------------------------------------------------------------
rm -f "$INSTDIR/tallowmere-tray.exe"
check_msi "installs the same package again" 0 /i "$(winepath -w "$SHIPPED")" /qn
check "the deleted tray is back" tray_is "$SHIPPED_TRAY"
check_eq "one Apps entry" "$(apps_entries)" "$VERSION $VENDOR"
check "the tray runs again" tray_runs_again
code_before=$(apps_codes)
check_msi "installs the same version built again" 0 /i "$(winepath -w "$REBUILT")" /qn
check_eq "one Apps entry, not two side by side" "$(apps_entries)" "$VERSION $VENDOR"
check_eq "the entry is the new build's" "$(apps_codes)" "$(property "$REBUILT" ProductCode)"
check_eq "before, the entry was the first build's" "$code_before" "$(property "$SHIPPED" ProductCode)"
check "the tray runs again" tray_runs_again

# ---------------------------------------------------------------------------
# 6. A tray that will not end fails the upgrade, with nothing replaced
# ---------------------------------------------------------------------------
win "$PROBE" close-tray >/dev/null 2>&1 || true
check "the tray ends when asked" tray_window absent 35
# A control window in a program of the installation that ignores WM_CLOSE.
cp "$PROBE" "$INSTDIR/stubborn_probe.exe"
wine "$INSTDIR_WIN\\stubborn_probe.exe" stubborn-tray 300 >>"$WORK/tray.log" 2>&1 &
STUBBORN_PID=$!
check "a tray that ignores WM_CLOSE runs" tray_window present 60
check_msi "the upgrade fails" failure /i "$(winepath -w "$NEWER")" /qn
check "after waiting the full 30 seconds" test "$MSI_SECONDS" -ge 30
check "nothing was replaced" tray_is "$SHIPPED_TRAY"
check_eq "nor added" "$(installed)" "stubborn_probe.exe tallowmere-tray.exe"
check_eq "one Apps entry, of the installed version" "$(apps_entries)" "$VERSION $VENDOR"
kill "$STUBBORN_PID" 2>/dev/null
wait "$STUBBORN_PID" 2>/dev/null || true
STUBBORN_PID=
check "the stubborn window is gone" tray_window absent 30
rm -f "$INSTDIR/stubborn_probe.exe"

# ---------------------------------------------------------------------------
# 7. An upgrade with no tray running starts none
# ---------------------------------------------------------------------------
check_msi "upgrades with no tray running" 0 /i "$(winepath -w "$NEWER")" /qn
check "the newer programs are in place" tray_is "$NEWER_TRAY"
check_eq "with its agent" "$(installed)" "tallowmere-tray.exe tallowmered.exe"
check_eq "one Apps entry, of the newer version" "$(apps_entries)" "$NEWER_VERSION $VENDOR"
check "it started no tray" tray_window absent 0

# ---------------------------------------------------------------------------
# 8. Uninstall over the running tray: all of the installation goes, nothing of the user's
# ---------------------------------------------------------------------------
start_tray
check "the tray starts" tray_window present 60
check "and runs its agent" wait_for 60 agent_runs
launch_at_login="\"$TRAY_WIN\""
win reg add "$RUN_KEY" /v tallowmere /t REG_SZ /d "$launch_at_login" /f >/dev/null
check_msi "uninstalls silently over the running tray" 0 /x "$(winepath -w "$NEWER")" /qn
check_exit "the tray was asked to end, and ended with status 0" "$TRAY_PID" 30 0
TRAY_PID=
check "the agent has ended" agent_ended
check "no file is left" test ! -e "$INSTDIR"
check "the Start menu shortcut is gone" test ! -e "$SHORTCUT"
check_eq "no Apps entry is left" "$(apps_entries)" ""
check "its own registry key is gone" key_missing "$OWN_KEY"
check "it started no tray" tray_window absent 0
check_eq "the Launch at Login value is the user's, and kept" "$(reg_value "$RUN_KEY" tallowmere)" "$launch_at_login"
check "the state directory is kept as it was" state_intact
win reg delete "$RUN_KEY" /v tallowmere /f >/dev/null 2>&1 || true

# ---------------------------------------------------------------------------
# 9. Elsewhere: removed from where it was put
# ---------------------------------------------------------------------------
ELSEWHERE=$(winepath -u 'C:\Other Place' 2>/dev/null)
check_msi "installs into another directory" 0 /i "$(winepath -w "$SHIPPED")" /qn 'INSTALLDIR=C:\Other Place\'
check_eq "the programs are there" "$(cd "$ELSEWHERE" 2>/dev/null && ls)" tallowmere-tray.exe
check "and not in the default place" test ! -e "$INSTDIR"
check_msi "uninstalls it" 0 /x "$(winepath -w "$SHIPPED")" /qn
check "no file is left there" test ! -e "$ELSEWHERE"
check_eq "no Apps entry is left" "$(apps_entries)" ""

note "msi_test took $((SECONDS - STARTED))s"
finish msi_test
