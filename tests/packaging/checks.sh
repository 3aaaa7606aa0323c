# Shared by the package tests: named checks, counted.
# Source it; end the test with `finish NAME`.

CHECKS_PASSED=0
CHECKS_FAILED=0
CHECK_LOG=${CHECK_LOG:-/dev/null}

note() { printf '\n--- %s\n' "$*"; }

# Under `set -e` a command that fails outside a check ends the test; say where.
trap 'printf "FAIL  stopped at line %s: %s\n" "$LINENO" "$BASH_COMMAND"' ERR

# begin_package_test BUILD_DIR NAME PATTERN: the one package in BUILD_DIR/packages that
# matches PATTERN (PACKAGE_FILE) and the project version of that build (VERSION); where
# screenshots and logs go (OUT, with CHECK_LOG as NAME-checks.log) and a scratch
# directory (WORK). Ends the test when there is not exactly one such package.
begin_package_test() {
  local found
  shopt -s nullglob
  found=("$1"/packages/$3)
  shopt -u nullglob
  ((${#found[@]} == 1)) || die "expected one package $3 in $1/packages, found ${#found[@]}"
  PACKAGE_FILE=${found[0]}
  VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
  [[ -n $VERSION ]] || die "$1 is not a configured build"
  OUT=${TALLOW_PACKAGING_OUT:-$1/../test-logs/packaging}
  mkdir -p "$OUT"
  OUT=$(cd "$OUT" && pwd)
  CHECK_LOG=$OUT/$2-checks.log
  : >"$CHECK_LOG"
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/tallow-$2.XXXXXX")
}

# The test cannot go on: counts as one more failure and ends it.
die() {
  printf 'FAIL  %s\n' "$*"
  CHECKS_FAILED=$((CHECKS_FAILED + 1))
  finish "${0##*/}"
}

pass() { printf 'ok    %s\n' "$1"; CHECKS_PASSED=$((CHECKS_PASSED + 1)); }
fail() { printf 'FAIL  %s\n' "$1"; CHECKS_FAILED=$((CHECKS_FAILED + 1)); }

# check NAME COMMAND...: passes when the command succeeds. Its output goes to the log,
# and to the screen when it fails. The command runs in this shell, not a subshell, so
# what it changes stays changed (a notification area docked anew, a process started),
# and a program it leaves running cannot hold the check open by its output.
check() {
  local name=$1 output=$WORK/check-output status=0
  shift
  "$@" >"$output" 2>&1 || status=$?
  cat "$output" >>"$CHECK_LOG"
  if ((status == 0)); then
    pass "$name"
  else
    fail "$name (status $status)"
    head -n 20 "$output" | sed 's/^/      /'
  fi
  return 0
}

# check_eq NAME ACTUAL EXPECTED
check_eq() {
  if [[ $2 == "$3" ]]; then
    pass "$1"
  else
    fail "$1"
    printf '      expected: %s\n      actual:   %s\n' "${3//$'\n'/$'\n'                }" \
      "${2//$'\n'/$'\n'                }"
  fi
  return 0
}

# check_exit NAME PID SECONDS STATUS: the child PID ends within SECONDS, with STATUS.
# Waited for by this shell: a subshell cannot wait for its parent's children. Uses
# wait_for (scripts/lib/wine-desktop.sh).
check_exit() {
  local status=0
  if ! wait_for "$3" sh -c "! kill -0 $2" 2>/dev/null; then
    fail "$1 (still running after $3 s)"
    return 0
  fi
  wait "$2" || status=$?
  check_eq "$1" "status $status" "status $4"
}

# The number of the failed and passed checks, and an exit status for them.
finish() {
  printf '%s: %d checks passed, %d failed\n' "$1" "$CHECKS_PASSED" "$CHECKS_FAILED"
  ((CHECKS_FAILED == 0)) && exit 0
  exit 1
}

# ---------------------------------------------------------------------------
# The Windows package tests' world, under Wine (with scripts/lib/wine-desktop.sh sourced)
# ---------------------------------------------------------------------------
# end_with_test: whatever the test made ends with it, whichever way it ends: a tray that
# PROBE can reach is asked to close first (it stops its agent itself), then TRAY_PID, then
# the display, the prefix and WORK. A test with more of its own defines before_cleanup.
TRAY_PID=
end_with_test() {
  trap leave_wine_world EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
leave_wine_world() {
  set +e
  declare -F before_cleanup >/dev/null && before_cleanup
  if [[ -n ${PROBE:-} && -n ${DESKTOP_PREFIX_MADE:-} ]]; then
    timeout 40 wine "$PROBE" close-tray >/dev/null 2>&1 &&
      timeout 40 wine "$PROBE" tray absent 35 >/dev/null 2>&1
  fi
  [[ -n $TRAY_PID ]] && kill "$TRAY_PID" >/dev/null 2>&1
  desktop_cleanup
  rm -rf "$WORK"
  return 0
}

# enter_wine_world [trayer]: a display (DISPLAY, or an Xvfb of its own), a throwaway Wine
# prefix of its own with one server for the whole test (installers and uninstallers write
# to it, which must not happen to a prefix someone uses), and trayer as the notification
# area when asked.
enter_wine_world() {
  [[ -n ${DISPLAY:-} ]] || desktop_start_xvfb "$WORK" || die "Xvfb did not start"
  note "making a Wine prefix"
  desktop_make_prefix "$WORK/prefix" || die "no Wine prefix: $(tail -n 5 "$WORK/prefix.log")"
  { wineserver -p && wine cmd.exe /c exit; } >>"$WORK/prefix.log" 2>&1
  [[ ${1:-} != trayer ]] || desktop_start_trayer || die "trayer did not start"
}

win() { timeout 120 wine "$@"; }
probe() { win "$PROBE" "$@" 2>>"$WORK/probe.log" | tr -d '\r'; }
