#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ with clang-14, warnings as
# errors, replays the saved reproducers, then fuzzes every target for SECONDS
# (default 30) on a copy of its committed corpus, so the repository's corpus
# never grows here.
# Exits non-zero on any finding: crash, sanitizer report, leak, broken
# expectation, or an input that runs longer than 10 s.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
targets=(numbers retention_labels extraction daily_table report_page process)

# The targets write their files in one scratch directory each; memory-backed
# when the machine has one, which makes every target noticeably faster.
if [[ -z "${TMPDIR:-}" && -d /dev/shm && -w /dev/shm ]]; then
    export TMPDIR=/dev/shm
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Quiet unless the build fails.
if ! { CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DFENNICK_FUZZ=ON \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DFENNICK_BUILD_APP=OFF -DFENNICK_BUILD_BENCH=OFF \
    -DBUILD_TESTING=OFF &&
    cmake --build build-fuzz -j2; } >"$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log"
    echo "the fuzz build failed"
    exit 1
fi
findings="build-fuzz/findings"
mkdir -p "$findings"
failed=()

for target in "${targets[@]}"; do
    binary="build-fuzz/fuzz/fuzz_$target"
    regressions="fuzz/regressions/$target"
    if [[ -d "$regressions" ]] && compgen -G "$regressions/*" >/dev/null; then
        echo "== $target: replaying $regressions"
        if ! "$binary" -timeout=10 "$regressions"/* >"$work/$target.replay.log" 2>&1; then
            tail -n 40 "$work/$target.replay.log"
            failed+=("$target (reproducer)")
            continue
        fi
    fi
    echo "== $target: fuzzing for ${seconds}s"
    mkdir -p "$work/$target" "$findings/$target"
    cp fuzz/corpus/"$target"/* "$work/$target/"
    if "$binary" "$work/$target" -dict=fuzz/fennick.dict -max_total_time="$seconds" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/$target/" \
        >"$work/$target.log" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units)' "$work/$target.log" || true
        grep -E '^#[0-9]+.*(pulse|NEW|REDUCE|DONE)' "$work/$target.log" | tail -n 1 || true
    else
        tail -n 60 "$work/$target.log"
        echo "finding kept under $findings/$target/"
        failed+=("$target")
    fi
done

if ((${#failed[@]})); then
    echo "fuzzing found problems in: ${failed[*]}"
    exit 1
fi
echo "fuzzing found nothing in ${#targets[@]} targets"
