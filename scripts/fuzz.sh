#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang, ASan + UBSan) in build-fuzz and runs each for the
# given seconds (default 25): first over its kept regression inputs (tests/fuzz/<target>), then
# fuzzing from its seeds and the corpus it grew before. Fails on the first crash, leak, hang or
# broken property; the input that did it is left in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-25}"
root="$PWD"
build="$root/build-fuzz"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}"

rm -rf "$build/seeds"
"$build/MakeFuzzSeeds" "$build/seeds"
mkdir -p "$build/crashes"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for target in "$build"/*Fuzz; do
  name="$(basename "$target")"
  corpus="$build/corpus/$name"
  regressions="$root/tests/fuzz/$name"
  seeds="$build/seeds/$name"
  mkdir -p "$corpus" "$seeds"
  echo "== $name: ${seconds}s"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    if ! "$target" "$regressions"/* >"$build/crashes/$name.regressions.log" 2>&1; then
      echo "$name: a kept regression input fails again (see build-fuzz/crashes/$name.regressions.log)"
      failed+=("$name")
      continue
    fi
  fi
  dirs=("$corpus" "$seeds")
  [ -d "$regressions" ] && dirs+=("$regressions")
  if ! "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=70000 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$name-" "${dirs[@]}" \
      >"$build/crashes/$name.log" 2>&1; then
    echo "$name: FAILED (build-fuzz/crashes/$name.log; keep the input under tests/fuzz/$name/)"
    tail -30 "$build/crashes/$name.log"
    failed+=("$name")
  else
    grep -E "stat::number_of_executed_units|stat::new_units_added" "$build/crashes/$name.log" | tr '\n' ' '
    echo
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
echo "fuzzing passed"
