#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (leak detection on), and runs each for SECONDS.
#   scripts/fuzz.sh SECONDS [BUILD_DIR]
#   scripts/fuzz.sh --build-only [BUILD_DIR]
# Findings and the corpus stay in BUILD_DIR/fuzz-work/<target>/. Exit 0 when every
# target ran its time without a finding. Each corpus starts from the seeds and
# from the target's earlier findings in tests/fuzz/regressions/<target>/ (which
# the build's CTest replays, label fuzz).
set -u
seconds=${1:?usage: fuzz.sh SECONDS|--build-only [BUILD_DIR]}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-fuzz}
targets=(fuzz_request fuzz_vornel fuzz_layout_reader fuzz_layout_paint)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DPLENWICK_FUZZ=ON -DPLENWICK_TESTS=OFF \
  -DPLENWICK_SANITIZE="address,undefined" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
# The build-time image tool runs under LeakSanitizer too.
cmake --build "$build" -j4 --target "${targets[@]}" gavrune_image_files >"$build/fuzz-build.log" 2>&1 ||
  { tail -40 "$build/fuzz-build.log"; echo "fuzz: build failed"; exit 1; }
[ "$seconds" = --build-only ] && exit 0

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
# Without it Qt makes /tmp/runtime-<user> for the layout targets and leaves it.
export XDG_RUNTIME_DIR=$build/fuzz-work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR" || exit 1
failed=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  mkdir -p "$work/corpus"
  # Seeds: the sample requests and layouts of the repository.
  case $t in
    fuzz_request) printf 'GET /v1/print/status?callback=cb HTTP/1.1\r\n\r\n' >"$work/corpus/seed" ;;
    fuzz_vornel) for f in "$root"/resources/samples/*.xml; do
                   { printf '\0'; cat "$f"; } >"$work/corpus/$(basename "$f")"; done ;;
    *) cp "$root"/tests/printengine/data/*.xml "$work/corpus/" 2>/dev/null ;;
  esac
  cp "$root/tests/fuzz/regressions/$t"/* "$work/corpus/" 2>/dev/null
  if (cd "$work" && "$build/fuzz/$t" -max_total_time="$seconds" -max_len=65536 -timeout=30 \
        -rss_limit_mb=4096 -print_final_stats=1 corpus >"$work/run.log" 2>&1); then
    echo "fuzz: $t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/run.log" |
         grep -o '[0-9]*$') runs, no finding"
  else
    failed=1
    echo "fuzz: $t: FINDING (see $work/run.log)"
    grep -m5 -E 'ERROR|SUMMARY|runtime error' "$work/run.log"
  fi
done
exit $failed
