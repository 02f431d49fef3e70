#!/usr/bin/env bash
# Builds the fuzz targets with clang, ASan and UBSan and runs each on its
# seed corpus for the given seconds; fails when any target finds a crash,
# a hang, a leak or runs out of memory.
#   fuzz/run.sh [seconds-per-target] [target ...]
# Installs clang and the build's packages when missing (scripts/packages.txt).
# The build goes to build/fuzz in the tree, or to $PDSI_FUZZ_BUILD. New
# inputs are kept there; the seed corpus in fuzz/corpus/ is only read.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${PDSI_FUZZ_BUILD:-$root/build/fuzz}
mkdir -p "$build"

"$root/scripts/packages.sh" build fuzz
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o "$build/probe" - 2>/dev/null ||
  { echo "fuzz: clang cannot link libFuzzer" >&2; exit 1; }

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS=-g -DPDSI_FUZZ=ON -DBUILD_TESTING=OFF >"$build/configure.log" ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 --target fuzzers

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=(formatted_read free_read layout grid_reader qc_files qc_stage program command run_files dap_constraint serve_router)
fi

# The targets' scratch directories (a grid file, the stage's files) go to
# memory where there is a tmpfs: files written per input are most of the
# cost on a disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm/pdsi-fuzz-$$
else
  export TMPDIR="$build/tmp-$$"
fi
mkdir -p "$TMPDIR"
trap 'rm -rf "$TMPDIR"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
passed=0
failed=()
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work" "$build/artifacts"
  log="$build/$t.log"
  opts=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$build/artifacts/$t-")
  [ -f "$root/fuzz/dict/$t.dict" ] && opts+=(-dict="$root/fuzz/dict/$t.dict")
  if "$build/fuzz/fuzz_$t" "${opts[@]}" "$work" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
    result=clean
    passed=$((passed + 1))
  else
    result=FAILED
    failed+=("$t")
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  printf 'fuzz %-15s %s: %ss, %s runs, corpus %s new + %s seeds\n' "$t" "$result" "$seconds" "${runs:-?}" \
    "$(ls "$work" | wc -l)" "$(ls "$root/fuzz/corpus/$t" | wc -l)"
done

for t in "${failed[@]}"; do
  echo "---- $t ($build/$t.log, inputs in $build/artifacts/)"
  tail -n 60 "$build/$t.log"
done
echo "fuzz: $passed passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
