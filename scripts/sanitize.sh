#!/usr/bin/env bash
# The sanitizer step of CI, also run by hand: builds the libFuzzer harnesses
# (clang, build-fuzz/) and runs each for a fixed number of inputs over its
# corpus in fuzz/corpus/, then builds the engine, expression, SQL and
# component-layer tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (g++, build-sanitize/) and runs them; the output ends with CTest's summary. Any
# sanitizer report, crash, hang or oversized allocation fails the step.
#
#   sanitize.sh [--runs N] [--fuzz-only | --tests-only]
#
# --runs N: inputs per harness (default 20000).
#
# Build directories: $VANTOR_ASAN_DIR (build-sanitize) and $VANTOR_FUZZ_DIR
# (build-fuzz). Expects the packages of install-deps.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
asan=${VANTOR_ASAN_DIR:-$root/build-sanitize}
fuzz=${VANTOR_FUZZ_DIR:-$root/build-fuzz}
runs=20000
do_fuzz=yes
do_tests=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --runs=*) runs=${1#--runs=}; shift ;;
    --fuzz-only) do_tests=no; shift ;;
    --tests-only) do_fuzz=no; shift ;;
    *) echo "sanitize.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
jobs=$(nproc)

# ---- fuzz harnesses ----
if [ "$do_fuzz" = yes ]; then
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVANTOR_WERROR=ON -DVANTOR_SANITIZE=ON -DVANTOR_FUZZ=ON \
  -DVANTOR_BUILD_TESTS=OFF -DVANTOR_BUILD_BENCH=OFF >/dev/null
harnesses=(table_fuzzer filter_fuzzer sql_fuzzer ini_fuzzer rtf_fuzzer)
fuzz_targets=()
for h in "${harnesses[@]}"; do fuzz_targets+=(--target "$h"); done
cmake --build "$fuzz" --parallel "$jobs" "${fuzz_targets[@]}"
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp
for h in "${harnesses[@]}"; do
  corpus=$root/fuzz/corpus/$h
  scratch=$(mktemp -d)
  dict=()
  [ -f "$root/fuzz/$h.dict" ] && dict=(-dict="$root/fuzz/$h.dict")
  echo "sanitize: $h, $runs inputs"
  # New inputs go to a scratch directory; the corpus in the repository is
  # only read. Findings are written to $fuzz/artifacts/.
  mkdir -p "$fuzz/artifacts"
  if ! "$fuzz/fuzz/$h" -runs="$runs" -seed=1 -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=20 \
      -print_final_stats=1 -artifact_prefix="$fuzz/artifacts/$h-" "${dict[@]}" "$scratch" "$corpus" \
      >"$fuzz/$h.log" 2>&1; then
    tail -n 60 "$fuzz/$h.log" >&2
    rm -rf "$scratch"
    echo "sanitize: $h failed (input in $fuzz/artifacts/)" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$fuzz/$h.log" || true
  rm -rf "$scratch"
done
echo "sanitize: all harnesses passed"
fi

# ---- unit tests under ASan and UBSan ----
[ "$do_tests" = yes ] || exit 0
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTOR_WERROR=ON \
  -DVANTOR_SANITIZE=ON -DVANTOR_BUILD_GUI=OFF -DVANTOR_BUILD_BENCH=OFF >/dev/null
# The test programs of these labels that exist so far.
labels='^(engine-.*|expr|sql|dbcomp|tools|reliability)$'
targets=()
# Read the target list whole: grep -q stopping early would break the pipe.
help=$(cmake --build "$asan" --target help)
for t in engine_base engine_files engine_table engine_index engine_blob engine_session engine_cursor \
         expr sql dbcomp tools reliability; do
  if grep -q "^${t}_tests:" <<<"$help"; then
    targets+=(--target "${t}_tests")
  fi
done
cmake --build "$asan" --parallel "$jobs" "${targets[@]}"
(
  cd "$asan"
  export TARN_INDEX_MODEL_SCALE=25
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --output-on-failure --parallel "$jobs" --timeout 900 -L "$labels" </dev/null
)
