#!/usr/bin/env bash
# The tray beside the notification-area programs Debian ships, in one virtual desktop:
# Xvfb, a private session bus and xfce4-panel (the StatusNotifierWatcher and an XEmbed
# tray). For each program: exec to item registered (the watcher's
# RegisterStatusNotifierItem call as dbus-monitor sees it), resident memory once idle,
# and CPU time over 60 s of idling. Then the tray's memory with its first dialog open and
# after it closed (GTK is loaded for it).
#
#   bench/desktop_benchmark.sh [build dir]      (default build/linux)
#
# Needs xvfb, dbus, xfce4-panel, xfconf, xdotool; pasystray and cbatticon when present
# (installed for this benchmark only). Prints one table.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
BUILD=$(realpath "${1:-build/linux}")
IDLE_SECONDS=${TALLOW_IDLE_SECONDS:-60}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallow-desktop-bench.XXXXXX")
# shellcheck source=../scripts/lib/wine-desktop.sh
source "$ROOT/scripts/lib/wine-desktop.sh"
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
  desktop_cleanup
  rm -rf "$scratch"
}
trap cleanup EXIT
[[ -n ${TALLOW_BENCH_DEBUG:-} ]] && set -x

desktop_start_xvfb "$scratch"
desktop_start_session_panel "$scratch" || exit 1

dbus-monitor --session "type='method_call',interface='org.kde.StatusNotifierWatcher',member='RegisterStatusNotifierItem'" \
  >"$scratch/monitor" 2>/dev/null &
pids+=($!)
sleep 1

export TALLOWMERE_STATE_DIRECTORY=$scratch/state TALLOWMERE_LISTEN=127.0.0.1:7431
mkdir -p "$TALLOWMERE_STATE_DIRECTORY"

names=()
declare -A pid_of registered_ms
# start NAME PROGRAM...: records the exec time, starts it and waits for its registration.
start() {
  local name=$1 before after t0 t1
  shift
  command -v "$1" >/dev/null || { echo "($name not installed: skipped)" >&2; return 0; }
  before=$(grep -c '^method call' "$scratch/monitor" || true)
  # The launcher notes the time at the very last moment before exec.
  bash -c 'date +%s.%N >"$0"; exec "$@"' "$scratch/t0-$name" "$@" >/dev/null 2>&1 &
  pid_of[$name]=$!
  pids+=($!)
  names+=("$name")
  registered_ms[$name]=none
  for ((i = 0; i < 100; i++)); do
    after=$(grep -c '^method call' "$scratch/monitor" || true)
    ((after > before)) && break
    sleep 0.05
  done
  if ((after > before)); then
    t0=$(cat "$scratch/t0-$name")
    t1=$(grep '^method call' "$scratch/monitor" | sed -n "$((before + 1))p" | sed -E 's/.*time=([0-9.]+).*/\1/')
    registered_ms[$name]=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) * 1000 }')
  fi
  sleep 1
}

start tallowmere-tray "$BUILD/bin/tallowmere-tray"
start pasystray pasystray
start cbatticon cbatticon

# The agent confirms itself within a few seconds; idling starts once everything settled.
sleep 5
# CPU time of every thread of the process, in nanoseconds (the scheduler's own count,
# finer than the 10 ms ticks of /proc/PID/stat).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%d", sum }'; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
declare -A rss ticks_before
for name in "${names[@]}"; do
  rss[$name]=$(rss_kb "${pid_of[$name]}")
  ticks_before[$name]=$(cpu_ns "${pid_of[$name]}")
done
agent=$(pgrep -f "tallowmered --state-directory=$TALLOWMERE_STATE_DIRECTORY" | head -n 1 || true)
# perf counts every thread, including those that end meanwhile; without it, the
# scheduler's per-thread totals serve.
if command -v perf >/dev/null; then
  for name in "${names[@]}"; do
    perf stat -x, -e task-clock -p "${pid_of[$name]}" -o "$scratch/perf-$name" -- sleep "$IDLE_SECONDS" &
  done
  wait_perf=1
fi
sleep "$IDLE_SECONDS"
[[ -n ${wait_perf:-} ]] && sleep 1

printf '\n%-18s %22s %14s %22s\n' program "exec→registered (ms)" "idle RSS (MB)" "CPU per ${IDLE_SECONDS} s (ms)"
for name in "${names[@]}"; do
  ns=$(($(cpu_ns "${pid_of[$name]}") - ticks_before[$name]))
  if [[ -s $scratch/perf-$name ]]; then
    ns=$(awk -F, '/task-clock/ { printf "%d", $1 * 1e6 }' "$scratch/perf-$name")
  fi
  printf '%-18s %22s %14s %22s\n' "$name" "${registered_ms[$name]}" \
    "$(awk -v k="${rss[$name]}" 'BEGIN { printf "%.1f", k / 1024 }')" "$(awk -v n="$ns" 'BEGIN { printf "%.1f", n / 1e6 }')"
done
if [[ -n $agent ]]; then
  echo "(the tray's agent ran throughout: pid $agent, RSS $(awk -v k="$(rss_kb "$agent")" 'BEGIN { printf "%.1f", k / 1024 }') MB)"
fi

# The first dialog loads GTK into the tray; what that costs, open and after.
tray=${pid_of[tallowmere-tray]}
item=$(desktop_bus_name_of "$tray")
gdbus call --session --dest "$item" --object-path /MenuBar \
  --method com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []' >"$scratch/layout" 2>"$scratch/layout.err" || cat "$scratch/layout.err" >&2
# The id of the row whose label is "Enroll…": "(ID, {... 'label': <'Enroll…'> ...".
enroll=$(grep -o "([0-9]*, {[^}]*'Enroll" "$scratch/layout" | sed -E 's/^\(([0-9]+),.*/\1/' | head -n 1)
if [[ -n $enroll ]]; then
  gdbus call --session --dest "$item" --object-path /MenuBar \
    --method com.canonical.dbusmenu.Event "$enroll" clicked '<0>' 0 >/dev/null
  for ((i = 0; i < 100; i++)); do xdotool search --onlyvisible --name '^Enroll this computer$' >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 1
  open_rss=$(rss_kb "$tray")
  xdotool search --onlyvisible --name '^Enroll this computer$' windowfocus --sync key Escape >/dev/null 2>&1 || true
  sleep 2
  printf 'tallowmere-tray with its first dialog open: %.1f MB RSS; after it closed: %.1f MB\n' \
    "$(awk -v k="$open_rss" 'BEGIN { print k / 1024 }')" "$(awk -v k="$(rss_kb "$tray")" 'BEGIN { print k / 1024 }')"
fi
