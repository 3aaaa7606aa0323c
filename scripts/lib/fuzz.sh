# The libFuzzer harnesses (tests/fuzz/libfuzzer): building them, and running one for a
# time over its committed corpus (tests/fuzz/corpus/HARNESS). Sourced by scripts/test
# and scripts/fuzz-long; needs clang and its libFuzzer runtime (libclang-rt-14-dev).

FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# fuzz_build DIR LOG: configures and builds every harness into DIR with clang.
fuzz_build() {
  local dir=$1 log=$2
  if [[ -f $dir/CMakeCache.txt ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  cmake -S "$ROOT/tests/fuzz/libfuzzer" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >"$log" 2>&1 &&
    cmake --build "$dir" --parallel "$(nproc)" >>"$log" 2>&1 || { tail -n 40 "$log"; return 1; }
}

# fuzz_run DIR HARNESS SECONDS OUT: runs the harness for SECONDS. New inputs go to
# OUT/HARNESS (the committed corpus is only read), the log to OUT/HARNESS.log, and an
# input that breaks a property, crashes, leaks or runs too long to OUT/HARNESS-crash-*
# (-leak-*, -timeout-*). Prints one line:
# executions, executions per second, edges covered of those instrumented; fails on a
# finding.
fuzz_run() {
  local dir=$1 harness=$2 seconds=$3 out=$4 status
  local log=$out/$harness.log corpus=$out/$harness
  mkdir -p "$corpus"
  set +e
  # -timeout: one input running longer than this is a finding (the readers are linear).
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$dir/fuzz_$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/$harness-" "$corpus" "$ROOT/tests/fuzz/corpus/$harness" >"$log" 2>&1
  status=$?
  set -e
  local edges execs rate cov
  edges=$(sed -n 's/.*Loaded 1 modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -n 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
  printf '%s: %s execs, %s exec/s, %s of %s edges\n' "$harness" "${execs:-?}" "${rate:-?}" "${cov:-cov: ?}" "${edges:-?}"
  if ((status != 0)); then
    # The sanitizer's or the property's report, and where the input is.
    grep -E -A 30 'ERROR: |property failed|runtime error|deadly signal|Test unit written' "$log" | head -n 60
    return 1
  fi
}
