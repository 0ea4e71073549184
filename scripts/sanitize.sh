#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/, warnings as errors, and runs every test there; then the
# core's tests with ThreadSanitizer in build-tsan/, for the parts that work on
# a second thread. Both with clang 14, which builds them in half the time
# g++ takes and so also builds every test with clang; line tables are all
# the debug information a sanitizer's report needs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh clang-14 libclang-rt-14-dev
export CC=clang-14 CXX=clang++-14
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
  -DFENNICK_SANITIZE=ON -DFENNICK_BUILD_APP=ON -DFENNICK_BUILD_BENCH=OFF
cmake --build build-asan -j"$(nproc)"
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

# Every reader reads ahead on a thread (src/files/read_ahead.h), so every
# core test that reads a file exercises it.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
  -DFENNICK_BUILD_APP=OFF -DFENNICK_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
cmake --build build-tsan -j"$(nproc)" --target common_tests files_tests programs_tests \
  pipeline_tests report_tests run_tests
# An address-space cap leaves no room for ThreadSanitizer's shadow memory.
for tests in common files programs pipeline report run; do
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "build-tsan/tests/${tests}_tests" \
    --gtest_filter='-*DeathTest*' --gtest_brief=1
done
