#!/usr/bin/env bash
# The tray beside the notification-area programs Debian ships, in one virtual desktop:
# Xvfb, a private session bus and xfce4-panel (the StatusNotifierWatcher and an XEmbed
# tray), with a stand-in desktop portal that serves the colour scheme. For each program:
# exec to item registered (the watcher's RegisterStatusNotifierItem call as dbus-monitor
# sees it), resident memory and threads once idle, and over IDLE seconds of idling (the
# tray's agent running, nothing changing) its wake-ups (voluntary context switches of all
# its threads) and its CPU time, both given per 60 s. Then, for the tray alone:
#   - how soon a change reaches its icon: a theme flip (the portal's SettingChanged to the
#     item's NewIcon), an agent started elsewhere and its end (to NewToolTip, the tooltip
#     then read), the Launch at Login entry removed by hand (to ItemsPropertiesUpdated,
#     the row's only change; the check mark then read);
#   - a storm of STORM picks of Stop, Start and Restart through its menu (dbusmenu's
#     Event, one pick as soon as the menu has the row): its threads at most during the
#     storm, right after the last pick, and 2 s later;
#   - its memory with its first dialog open and after it closed (GTK is loaded for it).
#
#   bench/desktop_benchmark.sh [build dir]      (default build/linux)
#   TALLOW_IDLE_SECONDS (default 60), TALLOW_STORM_PICKS (default 300)
#
# Needs xvfb, dbus, xfce4-panel, xfconf, xdotool, libglib2.0-bin (gdbus); pasystray and
# cbatticon when present (installed for this benchmark only). Prints the figures.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
BUILD=$(realpath "${1:-build/linux}")
IDLE_SECONDS=${TALLOW_IDLE_SECONDS:-60}
STORM=${TALLOW_STORM_PICKS:-300}
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
"$BUILD/bin/portal_stand_in" >"$scratch/portal.log" 2>&1 &
portal=$!
pids+=($portal)
wait_for 10 desktop_bus_has org.freedesktop.portal.Desktop

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
# utime + stime of the whole process, threads that ended included, in clock ticks.
ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat; }
# "TID switches" for every thread: voluntary context switches, each a sleep that
# something ended.
switches() {
  local task
  for task in /proc/"$1"/task/*; do
    echo "${task##*/} $(awk '/^voluntary_ctxt_switches:/ { print $2 }' "$task/status" 2>/dev/null)"
  done
}
# wake_sampler PID FILE: until FILE.stop exists, records each thread's switches every
# half second, so that a thread which ends meanwhile (a GLib pool thread after 15 s of
# idling) still counts with what it did.
wake_sampler() {
  while [[ ! -e $2.stop ]]; do switches "$1" >>"$2"; sleep 0.5; done
  switches "$1" >>"$2"
}
# wakeups_since FILE FIRST: the switches of all threads since the samples began (a
# thread's first sample is taken as its start unless it is in FIRST, the samples taken
# before).
wakeups_since() {
  awk 'NR == FNR { first[$1] = $2; next } { last[$1] = $2; if (!($1 in start)) start[$1] = ($1 in first) ? first[$1] : 0 }
    END { for (t in last) s += last[t] - start[t]; print s + 0 }' "$2" "$1"
}
# "name:switches" for each thread.
thread_wakeups() {
  local task
  for task in /proc/"$1"/task/*; do
    printf '%s:%s ' "$(cat "$task/comm" 2>/dev/null)" "$(awk '/^voluntary_ctxt_switches:/ { print $2 }' "$task/status" 2>/dev/null)"
  done
}
threads() { awk '/^Threads:/ { print $2 }' "/proc/$1/status"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
per_minute() { awk -v v="$1" -v s="$IDLE_SECONDS" -v d="${2:-0}" 'BEGIN { printf "%.*f", d, v * 60 / s }'; }

declare -A rss ns_before ticks_before threads_idle
for name in "${names[@]}"; do
  rss[$name]=$(rss_kb "${pid_of[$name]}")
  threads_idle[$name]=$(threads "${pid_of[$name]}")
  ns_before[$name]=$(cpu_ns "${pid_of[$name]}")
  ticks_before[$name]=$(ticks "${pid_of[$name]}")
  switches "${pid_of[$name]}" >"$scratch/first-$name"
  wake_sampler "${pid_of[$name]}" "$scratch/switches-$name" &
  pids+=($!)
done
tray=${pid_of[tallowmere-tray]}
tray_threads_before=$(thread_wakeups "$tray")
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
for name in "${names[@]}"; do touch "$scratch/switches-$name.stop"; done
[[ -n ${wait_perf:-} ]] && sleep 1

printf '\n%-16s %20s %9s %8s %18s %16s %14s\n' program "exec→registered (ms)" "RSS (MB)" threads \
  "wake-ups per 60 s" "CPU per 60 s (ms)" "(ticks per 60 s)"
for name in "${names[@]}"; do
  pid=${pid_of[$name]}
  ns=$(($(cpu_ns "$pid") - ns_before[$name]))
  if [[ -s $scratch/perf-$name ]]; then
    ns=$(awk -F, '/task-clock/ { printf "%d", $1 * 1e6 }' "$scratch/perf-$name")
  fi
  printf '%-16s %20s %9s %8s %18s %16s %14s\n' "$name" "${registered_ms[$name]}" \
    "$(awk -v k="${rss[$name]}" 'BEGIN { printf "%.1f", k / 1024 }')" "${threads_idle[$name]}" \
    "$(per_minute "$(wakeups_since "$scratch/switches-$name" "$scratch/first-$name")")" \
    "$(per_minute "$(awk -v n="$ns" 'BEGIN { print n / 1e6 }')" 1)" \
    "$(per_minute $(($(ticks "$pid") - ticks_before[$name])))"
done
echo "the tray's threads, name:voluntary switches, before and after idling:"
echo "  $tray_threads_before"
echo "  $(thread_wakeups "$tray")"
if [[ -n $agent ]]; then
  echo "(the tray's agent ran throughout: pid $agent, RSS $(awk -v k="$(rss_kb "$agent")" 'BEGIN { printf "%.1f", k / 1024 }') MB)"
fi

# ---------------------------------------------------------------------------
# The tray alone: its item, its menu and its signals.
# ---------------------------------------------------------------------------
item=$(desktop_bus_name_of "$tray")
dbus-monitor --session "type='signal',sender='$item'" "type='signal',interface='org.freedesktop.portal.Settings'" \
  >"$scratch/signals" 2>/dev/null &
pids+=($!)
sleep 1
layout() {
  gdbus call --session --dest "$item" --object-path /MenuBar --method com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []'
}
# row_id LABEL: the id of the row labelled LABEL in the layout on standard input.
row_id() { { grep -o "([0-9]*, {[^}]*'label': <'$1'>" || true; } | sed -E 's/^\(([0-9]+),.*/\1/' | head -n 1; }
pick() { gdbus call --session --dest "$item" --object-path /MenuBar --method com.canonical.dbusmenu.Event -- "$1" clicked '<0>' 0 >/dev/null; }
pick_row() {
  local id
  id=$(layout | row_id "$1")
  [[ -n $id ]] && pick "$id"
}
tooltip() {
  gdbus call --session --dest "$item" --object-path /StatusNotifierItem --method org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierItem ToolTip | grep -o "'tallowmered: [^']*'" | head -n 1 | tr -d "'"
}
tooltip_is() { [[ $(tooltip) == "tallowmered: $1" ]]; }
login_checked() { layout | grep -o "{[^}]*'label': <'Launch at Login'>[^}]*}" | grep -q "'toggle-state': <1>"; }
login_unchecked() { layout | grep -o "{[^}]*'label': <'Launch at Login'>[^}]*}" | grep -q "'toggle-state': <0>"; }
now() { date +%s.%N; }
# ms_to_signal SINCE MEMBER: milliseconds from SINCE to the first MEMBER signal after it.
ms_to_signal() {
  local since=$1 member=$2 at i
  for ((i = 0; i < 50; i++)); do
    at=$(sed -n "s/^signal time=\([0-9.]*\) .*member=$member\$/\1/p" "$scratch/signals" |
      awk -v t="$since" '$1 >= t { print; exit }')
    [[ -n $at ]] && break
    sleep 0.1
  done
  [[ -n $at ]] && awk -v a="$since" -v b="$at" 'BEGIN { printf "%.0f", (b - a) * 1000 }' || echo "none in 5 s"
}

flips_seen() { grep -c 'member=SettingChanged$' "$scratch/signals" || true; }
flipped_since() { (($(flips_seen) > $1)); }

echo
echo "how soon a change reaches the tray's icon:"
flips=()
for ((i = 0; i < 6; i++)); do
  before=$(flips_seen)
  kill -USR1 "$portal"
  wait_for 5 flipped_since "$before"
  flipped=$(sed -n 's/^signal time=\([0-9.]*\) .*member=SettingChanged$/\1/p' "$scratch/signals" | tail -n 1)
  flips+=("$(ms_to_signal "$flipped" NewIcon)")
  sleep 0.5
done
echo "  theme flip (SettingChanged → NewIcon), ms: ${flips[*]}"

pick_row Stop
wait_for 20 tooltip_is Stopped
sleep 0.5
started=$(now)
"$BUILD/bin/tallowmered" --state-directory="$TALLOWMERE_STATE_DIRECTORY" >"$scratch/outside-agent.log" 2>&1 &
outside=$!
pids+=($outside)
wait_for 20 tooltip_is "Running (started elsewhere)"
echo "  an agent started elsewhere (exec → NewToolTip), ms: $(ms_to_signal "$started" NewToolTip); tooltip \"$(tooltip)\""
sleep 0.5
ended=$(now)
kill "$outside"
wait "$outside" 2>/dev/null || true
wait_for 20 tooltip_is Stopped
echo "  its end (SIGTERM → NewToolTip), ms: $(ms_to_signal "$ended" NewToolTip); tooltip \"$(tooltip)\""

pick_row "Launch at Login"
wait_for 10 login_checked
entry=$XDG_CONFIG_HOME/autostart/tallowmere-tray.desktop
[[ -f $entry ]] || echo "  (no autostart entry at $entry)"
sleep 0.5
removed=$(now)
rm -f "$entry"
wait_for 10 login_unchecked
echo "  Launch at Login entry removed by hand (rm → ItemsPropertiesUpdated), ms: $(ms_to_signal "$removed" ItemsPropertiesUpdated); checked: $(login_checked && echo yes || echo no)"

pick_row Start
wait_for 20 tooltip_is Running

# ---------------------------------------------------------------------------
# The storm: Stop, Start and Restart as fast as the menu offers them.
# ---------------------------------------------------------------------------
desktop_most_threads "$tray" "$scratch/storm-most" &
sampler=$!
pids+=($sampler)
storm_started=$(now)
done_picks=0
for ((i = 0; i < STORM; i++)); do
  menu=$(layout)
  stop=$(row_id Stop <<<"$menu")
  restart=$(row_id Restart <<<"$menu")
  start_row=$(row_id Start <<<"$menu")
  if [[ -n $restart && $((i % 3)) == 2 ]]; then
    pick "$restart"
  elif [[ -n $stop ]]; then
    pick "$stop"
  elif [[ -n $start_row ]]; then
    pick "$start_row"
  else
    continue
  fi
  done_picks=$((done_picks + 1))
done
right_after=$(threads "$tray")
touch "$scratch/storm-most.over"
wait "$sampler" 2>/dev/null || true
sleep 2
echo
printf 'storm: %d picks of Stop, Start and Restart in %.1f s; the tray'"'"'s threads at most %s, right after %s, 2 s later %s (idle %s)\n' \
  "$done_picks" "$(awk -v a="$storm_started" -v b="$(now)" 'BEGIN { print b - a - 2 }')" \
  "$(cat "$scratch/storm-most" 2>/dev/null || echo '?')" "$right_after" "$(threads "$tray")" "${threads_idle[tallowmere-tray]}"

# The first dialog loads GTK into the tray; what that costs, open and after.
# The id of the row whose label is "Enroll…": "(ID, {... 'label': <'Enroll…'> ...".
enroll=$(layout | grep -o "([0-9]*, {[^}]*'Enroll" | sed -E 's/^\(([0-9]+),.*/\1/' | head -n 1)
if [[ -n $enroll ]]; then
  pick "$enroll"
  for ((i = 0; i < 100; i++)); do xdotool search --onlyvisible --name '^Enroll this computer$' >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 1
  open_rss=$(rss_kb "$tray")
  xdotool search --onlyvisible --name '^Enroll this computer$' windowfocus --sync key Escape >/dev/null 2>&1 || true
  sleep 2
  printf 'tallowmere-tray with its first dialog open: %.1f MB RSS; after it closed: %.1f MB\n' \
    "$(awk -v k="$open_rss" 'BEGIN { print k / 1024 }')" "$(awk -v k="$(rss_kb "$tray")" 'BEGIN { print k / 1024 }')"
fi
