#!/usr/bin/env bash
# Long fuzzing: builds every fuzz target (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, as test.sh does), runs each for SECONDS
# (default 1200) with as many at once as there are cores (VT_FUZZ_JOBS sets
# another number), merges what the
# runs found back into fuzz/corpus/<target>/ (minimised: only inputs that
# add coverage are kept), and prints per target the runs, the coverage and
# any crash, leak, timeout or out-of-memory input.
#
#   fuzz/run-long.sh [SECONDS]
#
# Findings are kept in build-fuzz/fuzz-long/<target>/ (log, new corpus,
# crash-*/leak-*/timeout-*/oom-* inputs). A crash is reproduced with
#   build-fuzz/fuzz-bin/<target> build-fuzz/fuzz-long/<target>/crash-<hash>
# The exit status is 1 when any target found something, else 0.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-1200}
case $seconds in
  ''|*[!0-9]*) echo "usage: fuzz/run-long.sh [SECONDS]" >&2; exit 2 ;;
esac
cores=${VT_FUZZ_JOBS:-$(nproc)}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DVT_BUILD_TESTS=ON -DVT_BUILD_FUZZERS=ON -DVT_SANITIZE=address,undefined >/dev/null
cmake --build build-fuzz -j"$cores" --target vt_fuzzers

work=build-fuzz/fuzz-long
mkdir -p "$work"
mapfile -t targets < <(find build-fuzz/fuzz-bin -maxdepth 1 -type f -perm -u+x -printf '%f\n' | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets built" >&2
  exit 2
fi

# One target: a fresh corpus of its own next to the stored one (read only
# during the run), findings in its folder.
run_one() {
  local t=$1 dir=$work/$1
  rm -rf "$dir"
  mkdir -p "$dir/new" "fuzz/corpus/$t"
  ASAN_OPTIONS=detect_leaks=1 "build-fuzz/fuzz-bin/$t" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/" \
      "$dir/new" "fuzz/corpus/$t" >"$dir/log" 2>&1 || true
}

running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$cores" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

found=0
printf '%-24s %12s %8s %8s  %s\n' target runs cov ft findings
for t in "${targets[@]}"; do
  dir=$work/$t
  # Keep what adds coverage to the stored corpus, minimised.
  if [ -n "$(ls -A "$dir/new" 2>/dev/null)" ]; then
    "build-fuzz/fuzz-bin/$t" -merge=1 -timeout=10 -rss_limit_mb=2048 "fuzz/corpus/$t" "$dir/new" \
        >"$dir/merge.log" 2>&1 || true
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
  stats=$(grep -E '^#[0-9]+.*cov: ' "$dir/log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$stats")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$stats")
  findings=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o \
               -name 'timeout-*' -o -name 'oom-*' \) -printf '%f ' | sort)
  if [ -n "$findings" ]; then
    found=1
  else
    findings=none
  fi
  printf '%-24s %12s %8s %8s  %s\n' "$t" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$findings"
done
exit "$found"
