#!/usr/bin/env bash
# The Windows tray against the least program that keeps a notification-area icon at the
# same 200 ms pace (bench/minimal_tray.cpp), under Wine with trayer as the host, in one
# run:
#   - start → icon docked in the notification area (trayer), several runs each;
#   - a menu pick → its effect: the tray's "Stop" → the agent process gone; the minimal
#     program's "Stop" → its marker file written;
#   - idle CPU over BENCH_IDLE_SECONDS (default 60) with the agent running, both programs
#     side by side: time on CPU of all their threads (/proc/PID/task/*/schedstat, in ns)
#     and utime+stime of /proc/PID/stat (in clock ticks);
#   - PSS (/proc/PID/smaps_rollup);
#   - a new state → its new icon handed to the notification area (tray_latency),
#     with and without the broadcast Windows sends on a theme change;
#   - a storm of BENCH_STORM_PICKS (default 300) picks of Stop, Start and Restart through
#     the tray's menu, each as soon as the menu offers it: the tray's threads at most
#     during the storm, right after its last pick, and 2 s later, beside its idle count.
# Both programs are the stripped builds. Targets: CPU at most 1.2 × the minimal
# program's, PSS at most 4 MB above it, p99 of the state change within 200 ms.
#
# Needs the Windows build (build/windows). Uses $DISPLAY and $WINEPREFIX when both are
# set; otherwise starts its own Xvfb and a throwaway Wine prefix. Results also go to
# build/bench/win_tray_bench.txt.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
BIN=$ROOT/build/windows/bin
TRAY=$BIN/tallowmere-tray.exe
MINIMAL=$BIN/minimal_tray.exe
RUNS=${BENCH_RUNS:-5}
IDLE_SECONDS=${BENCH_IDLE_SECONDS:-60}
SAMPLES=${BENCH_LATENCY_SAMPLES:-300}
STORM=${BENCH_STORM_PICKS:-300}
for program in "$TRAY" "$MINIMAL" "$BIN/tray_latency.exe" "$BIN/notify_recorder.dll" "$BIN/tallowmered.exe"; do
  [[ -f $program ]] || { echo "build the Windows side first: $program is missing" >&2; exit 1; }
done
# shellcheck source=../scripts/lib/wine-desktop.sh
source "$ROOT/scripts/lib/wine-desktop.sh"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tallow-bench.XXXXXX")
STARTED=()
finish() {
  set +e
  local pid
  for pid in "${STARTED[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  # A tray ended by a signal under Wine leaves its agent behind.
  pid=$(agent_pid)
  [[ -n $pid ]] && kill "$pid" >/dev/null 2>&1 || true
  desktop_cleanup
  rm -rf "$WORK"
}
trap finish EXIT
mkdir -p "$ROOT/build/bench"
REPORT=$ROOT/build/bench/win_tray_bench.txt
: >"$REPORT"
say() { echo "$*" | tee -a "$REPORT"; }

if [[ -z ${DISPLAY:-} || -z ${WINEPREFIX:-} ]]; then
  desktop_start_xvfb "$WORK"
  echo "making a Wine prefix"
  desktop_make_prefix "$WORK/prefix"
fi
export WINEDEBUG=${WINEDEBUG:--all}
desktop_start_trayer

STATE=$WORK/state
mkdir -p "$STATE"
printf 'TALLOWMERE_LISTEN=127.0.0.1:7420\n' >"$STATE/env"
export TALLOWMERE_STATE_DIRECTORY
TALLOWMERE_STATE_DIRECTORY=$(winepath -w "$STATE")

now_ns() { date +%s%N; }
ms_since() { echo $((($(now_ns) - $1) / 1000000)); }
# The Linux pid of the Wine process that runs the Windows program at PATH.
linux_pid() { pgrep -f -x "$1( .*)?" | head -n 1; }
# The agent's Linux pid: Wine shows its command line as the tray composed it.
agent_pid() {
  local process
  for process in /proc/[0-9]*; do
    if tr '\0' ' ' 2>/dev/null <"$process/cmdline" |
      grep -qF -- "tallowmered.exe --state-directory=$TALLOWMERE_STATE_DIRECTORY"; then
      echo "${process#/proc/}"
      return
    fi
  done
}
has_agent() { [[ -n $(agent_pid) ]]; }
tray_menu_open() { desktop_has_window tallowmere-tray.exe 40; }
no_menu() { ! tray_menu_open && ! desktop_has_window minimal_tray.exe 40; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
max() { sort -n | tail -n 1; }
# A process has ended once it is gone or a zombie its parent has not reaped yet.
ended() {
  local state
  state=$(awk '{ print $3 }' /proc/"$1"/stat 2>/dev/null) || true
  [[ -z $state || $state == Z ]]
}

# start_program PATH [ARGS]: starts it and waits for its icon; its launcher's pid in
# LAST_PID, its docked icon's window id in LAST_ICON.
start_program() {
  local before started
  before=$(desktop_live_icon_ids)
  started=$(now_ns)
  wine "$@" >>"$WORK/programs.log" 2>&1 &
  LAST_PID=$!
  STARTED+=("$LAST_PID")
  wait_for 60 desktop_has_new_icon "$before"
  LAST_ICON_MS=$(ms_since "$started")
  LAST_ICON=$(desktop_new_icon "$before")
}
# quit_program LAUNCHER_PID PROGRAM_NAME ICON: its menu's last item is the quit.
quit_program() {
  desktop_open_menu "$2" "$3"
  xdotool key End Return
  wait "$1" || true
}

say "== start → icon docked in trayer ($RUNS runs each; polled with xwininfo, ~10 ms)"
for name in tray minimal; do
  times=()
  for ((run = 0; run < RUNS; run++)); do
    if [[ $name == tray ]]; then start_program "$TRAY"; else start_program "$MINIMAL" "$(winepath -w "$WORK/marker")"; fi
    times+=("$LAST_ICON_MS")
    if [[ $name == tray ]]; then
      wait_for 60 has_agent || true
      quit_program "$LAST_PID" tallowmere-tray.exe "$LAST_ICON"
    else
      quit_program "$LAST_PID" minimal_tray.exe "$LAST_ICON"
    fi
  done
  say "$(printf '%-8s median %4d ms  max %4d ms  (%s)' "$name" "$(printf '%s\n' "${times[@]}" | median)" \
    "$(printf '%s\n' "${times[@]}" | max)" "${times[*]}")"
done

start_program "$TRAY"
TRAY_LAUNCHER=$LAST_PID TRAY_ICON=$LAST_ICON
wait_for 60 has_agent
start_program "$MINIMAL" "$(winepath -w "$WORK/marker")"
MINIMAL_LAUNCHER=$LAST_PID MINIMAL_ICON=$LAST_ICON
say ""
say "== idle for ${IDLE_SECONDS}s, the agent running, side by side"
TRAY_PID=$(linux_pid "$TRAY")
MINIMAL_PID=$(linux_pid "$MINIMAL")
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }
ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat; }
pss_kb() { awk '/^Pss:/ { print $2 }' /proc/"$1"/smaps_rollup; }
threads() { ls /proc/"$1"/task | wc -l; }
sleep 5
tray_ns=$(cpu_ns "$TRAY_PID") minimal_ns=$(cpu_ns "$MINIMAL_PID")
tray_ticks=$(ticks "$TRAY_PID") minimal_ticks=$(ticks "$MINIMAL_PID")
sleep "$IDLE_SECONDS"
tray_ns=$(($(cpu_ns "$TRAY_PID") - tray_ns)) minimal_ns=$(($(cpu_ns "$MINIMAL_PID") - minimal_ns))
tray_ticks=$(($(ticks "$TRAY_PID") - tray_ticks)) minimal_ticks=$(($(ticks "$MINIMAL_PID") - minimal_ticks))
tray_pss=$(pss_kb "$TRAY_PID") minimal_pss=$(pss_kb "$MINIMAL_PID")
say "$(printf '%-8s CPU %7.1f ms (%3d ticks)  PSS %6d kB  threads %2d' tray "$(awk -v n="$tray_ns" 'BEGIN { print n / 1e6 }')" \
  "$tray_ticks" "$tray_pss" "$(threads "$TRAY_PID")")"
say "$(printf '%-8s CPU %7.1f ms (%3d ticks)  PSS %6d kB  threads %2d' minimal "$(awk -v n="$minimal_ns" 'BEGIN { print n / 1e6 }')" \
  "$minimal_ticks" "$minimal_pss" "$(threads "$MINIMAL_PID")")"
say "$(printf 'tray / minimal CPU %.2f (target ≤ 1.20); PSS difference %d kB (target ≤ 4096)' \
  "$(awk -v t="$tray_ns" -v m="$minimal_ns" 'BEGIN { print t / (m > 0 ? m : 1) }')" $((tray_pss - minimal_pss)))"

say ""
say "== a menu pick → its effect ($RUNS picks each; from the key press)"
picks=()
for ((run = 0; run < RUNS; run++)); do
  agent=$(agent_pid)
  desktop_open_menu tallowmere-tray.exe "$TRAY_ICON"
  TRAY_ICON=$DESKTOP_MENU_ICON
  started=$(now_ns)
  xdotool key Down Down Return # Running, Stop
  while ! ended "$agent"; do sleep 0.001; done
  picks+=("$(ms_since "$started")")
  wait_for 10 no_menu
  # The menu reads "Stopping…" until the loop's next pass, at most 200 ms after the
  # agent ended; only the "Stopped" menu has "Start" second.
  sleep 0.5
  desktop_open_menu tallowmere-tray.exe "$TRAY_ICON"
  TRAY_ICON=$DESKTOP_MENU_ICON
  xdotool key Down Down Return # Stopped, Start
  wait_for 60 has_agent
done
say "$(printf '%-8s median %4d ms  max %4d ms  (%s)  \"Stop\" → agent process gone' tray \
  "$(printf '%s\n' "${picks[@]}" | median)" "$(printf '%s\n' "${picks[@]}" | max)" "${picks[*]}")"
picks=()
for ((run = 0; run < RUNS; run++)); do
  rm -f "$WORK/marker"
  desktop_open_menu minimal_tray.exe "$MINIMAL_ICON"
  MINIMAL_ICON=$DESKTOP_MENU_ICON
  started=$(now_ns)
  xdotool key Down Return # Stop
  while [[ ! -e $WORK/marker ]]; do sleep 0.001; done
  picks+=("$(ms_since "$started")")
  wait_for 10 no_menu
done
say "$(printf '%-8s median %4d ms  max %4d ms  (%s)  \"Stop\" → marker file written' minimal \
  "$(printf '%s\n' "${picks[@]}" | median)" "$(printf '%s\n' "${picks[@]}" | max)" "${picks[*]}")"

say "$(printf 'PSS after the stops and starts: tray %d kB, minimal %d kB, difference %d kB' "$(pss_kb "$TRAY_PID")" \
  "$(pss_kb "$MINIMAL_PID")" $(($(pss_kb "$TRAY_PID") - $(pss_kb "$MINIMAL_PID"))))"
say ""
say "== a new state → its new icon handed to the notification area (theme flips)"
say "polled only:      $(wine "$BIN/tray_latency.exe" "$SAMPLES" 2>&1 | tr -d '\r')"
say "with broadcast:   $(wine "$BIN/tray_latency.exe" $((SAMPLES / 3)) --broadcast 2>&1 | tr -d '\r')"

say ""
say "== a storm of $STORM picks of Stop, Start and Restart through the tray's menu"
# The menu's rows: the status, then Stop and Restart while the agent runs, Start while it
# is stopped (the bench's state directory has no hub, so no hub row comes between).
quick_pick() {
  local keys=(Down Down Return)
  [[ $1 == Restart ]] && keys=(Down Down Down Return)
  desktop_click "$TRAY_ICON"
  if ! wait_for 3 tray_menu_open 2>/dev/null; then
    xdotool key Escape
    desktop_open_menu tallowmere-tray.exe "$TRAY_ICON" || return 1
    TRAY_ICON=$DESKTOP_MENU_ICON
  fi
  xdotool key "${keys[@]}"
}
restarted() { local now; now=$(agent_pid); [[ -n $now && $now != "$1" ]]; }
idle_threads=$(threads "$TRAY_PID")
desktop_most_threads "$TRAY_PID" "$WORK/storm-most" &
sampler=$!
storm_started=$(now_ns)
picked=0
for ((i = 0; i < STORM; i++)); do
  agent=$(agent_pid)
  if [[ -z $agent ]]; then
    kind=Start
  elif ((i % 3 == 2)); then
    kind=Restart
  else
    kind=Stop
  fi
  quick_pick "$kind" || continue
  picked=$((picked + 1))
  case $kind in
    Stop) wait_for 30 ended "$agent" || true ;;
    Start) wait_for 60 has_agent || true ;;
    Restart) wait_for 60 restarted "$agent" || true ;;
  esac
  wait_for 10 no_menu || true
  # The menu shows the new state from the loop's next pass, at most 200 ms later.
  sleep 0.3
done
right_after=$(threads "$TRAY_PID")
storm_ms=$(ms_since "$storm_started")
touch "$WORK/storm-most.over"
wait "$sampler" 2>/dev/null || true
sleep 2
say "$(printf 'tray: %d picks in %.1f s; threads at most %s, right after %s, 2 s later %s (idle %s)' "$picked" \
  "$(awk -v m="$storm_ms" 'BEGIN { print m / 1000 }')" "$(cat "$WORK/storm-most" 2>/dev/null || echo '?')" \
  "$right_after" "$(threads "$TRAY_PID")" "$idle_threads")"
wait_for 60 has_agent || { quick_pick Start; wait_for 60 has_agent || true; }

quit_program "$MINIMAL_LAUNCHER" minimal_tray.exe "$MINIMAL_ICON"
wait_for 10 no_menu
quit_program "$TRAY_LAUNCHER" tallowmere-tray.exe "$TRAY_ICON"
echo "results in $REPORT"
