#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, then every fuzz target for a short fixed time (scripts/fuzz.sh). Fails when
# either fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The Debian package is made from a Release tree of the program alone, for /usr; the package
# test runs cpack in it.
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELORIN_SANITIZE=OFF \
  -DPELORIN_TESTS=OFF -DPELORIN_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORIN_SANITIZE=ON \
  -DPELORIN_TESTS=ON -DPELORIN_BENCH=OFF -DPELORIN_PACKAGE_TREE="$PWD/build-package" >/dev/null
cmake --build build-test
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
(cd build-test && ctest --output-on-failure -j2 --timeout 600)
# 20 s a target: with 15 targets the stage stays near its earlier length.
scripts/fuzz.sh 20
