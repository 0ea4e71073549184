#!/usr/bin/env bash
# Whole unattended runs (`fennick -q` and `fennick-cli`) against the I/O floor
# of the same work (bench/floor.sh), timed together by hyperfine, plus peak
# memory from /usr/bin/time -v.
#
#   bench/run_hyperfine.sh [BUILD_DIR] [CACHE_DIR] [RUNS]
#
# BUILD_DIR (default build-perf) must hold fennick, fennick-cli and bench/fennick_gendump
# (a Release build with -DFENNICK_BUILD_APP=ON). The dumps, about 1.2 GB per
# million jobs, go to CACHE_DIR (default /work/cache), outside the repository.
# Results go to CACHE_DIR/results/. CASES="month daily memory" picks the cases;
# BEFORE=/path/to/an/older/fennick adds that program to each comparison.
#
# The dumps are generated with --now set to the present moment, and fennick
# runs with TZ=UTC-8, so that its window "one day ago to now" read in the
# report zone (UTC+8) is the last 24 hours of the dump. No faked clock: under
# faketime the font cache of the toolkit is thrown away on every run, which
# costs about 0.5 s a run and is not what a real server sees.
set -euo pipefail

build=${1:-build-perf}
cache=${2:-/work/cache}
runs=${3:-5}
results=$cache/results
mkdir -p "$results"

fennick=$build/fennick
[[ -x $fennick ]] || fennick=$build/src/app/fennick
cli=$build/fennick-cli
gendump=$build/bench/fennick_gendump
here=$(cd "$(dirname "$0")" && pwd)
for tool in "$fennick" "$cli" "$gendump"; do
    [[ -x $tool ]] || { echo "missing $tool" >&2; exit 1; }
done

# A big server: lines of 600 to 4000 bytes with 60 to 400 fields, a pool of
# 2000 policies, 1000 of them listed as daily and 50 listed ones that never run.
shape=(--big-server --policies 2000 --daily-policies 1000 --absent-policies 50 --seed 5)

facts() {
    echo "date: $(date -u '+%Y-%m-%d %H:%M:%S UTC')"
    echo "nproc: $(nproc)"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
    echo "memory: $(free -m | awk '/^Mem:/ {print $2 " MiB"}')"
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# generate NAME JOBS SPAN_OPTION...: a fresh AppDir with the program beside the dump.
generate() {
    local name=$1 jobs=$2
    shift 2
    local dir=$cache/$name
    rm -rf "$dir"
    "$gendump" "$dir" --jobs "$jobs" --now "$(date +%s)" "$@" "${shape[@]}"
    # The window's library goes beside the program, as an installed folder has it.
    for file in "$fennick" "$cli" "$(dirname "$fennick")"/libfennick_window.so; do
        [[ -e $file ]] || continue
        ln -f "$file" "$dir/$(basename "$file")" 2>/dev/null || cp "$file" "$dir/"
    done
    if [[ -n ${BEFORE:-} ]]; then
        ln -f "$BEFORE" "$dir/fennick_before" 2>/dev/null || cp "$BEFORE" "$dir/fennick_before"
    fi
    # The new dump's gigabyte goes to disk now, not during the first command timed.
    sync
}

# scanned DIR: the bytes of the dump the scan reads. It stops at the first
# job older than the window, so a daily run reads only the newest part. strace
# (following the reader's own thread) counts what the read calls returned
# between each open of the dump and its close; the largest such sum is the
# scan's (the start-up reads the first line on its own).
scanned() {
    local dir=$1 log
    log=$(mktemp)
    strace -f -qq -e trace=openat,read,close -e signal=none -o "$log" \
        env TZ=UTC-8 "$dir/fennick-cli" --dir "$dir" >/dev/null
    awk 'function result(line, parts) { split(line, parts, "= "); return parts[2] + 0 }
         function fdOf(line, parts) { split(line, parts, /read\(/); return parts[2] + 0 }
         /openat\(/ && /bpdbjobs\.txt/ { fd = result($0); sum = 0; next }
         fd == "" { next }
         / read\(/ && /unfinished/ { pending[$1] = fdOf($0); next }
         /<\.\.\. read resumed>/ { if (pending[$1] == fd) sum += result($0); next }
         / read\(/ { if (fdOf($0) == fd) sum += result($0); next }
         $0 ~ " close\\(" fd "\\)" { if (sum > most) most = sum; fd = "" }
         END { if (sum > most) most = sum; print most + 0 }' "$log"
    rm -f "$log"
}

# compare NAME: hyperfine over fennick -q, fennick-cli and the floor, then one
# run under /usr/bin/time -v for the peak memory and the line counts of the outputs.
compare() {
    local name=$1 dir=$cache/$1
    echo "== $name"
    facts
    env TZ=UTC-8 "$dir/fennick" -q  # the outputs the floor copies
    local bytes
    bytes=$(scanned "$dir")
    echo "the scan reads $bytes of $(stat -c %s "$dir/bpdbjobs.txt") bytes of the dump"
    local commands=("env TZ=UTC-8 $dir/fennick -q")
    [[ -n ${BEFORE:-} ]] && commands+=("env TZ=UTC-8 $dir/fennick_before -q")
    commands+=("env TZ=UTC-8 $dir/fennick-cli --dir $dir")
    commands+=("$here/floor.sh $dir $bytes")
    hyperfine -N --warmup 1 --runs "$runs" \
        --export-json "$results/$name.json" --export-markdown "$results/$name.md" "${commands[@]}"
    /usr/bin/time -v env TZ=UTC-8 "$dir/fennick" -q 2> "$results/$name.time"
    grep -E 'Maximum resident|Elapsed' "$results/$name.time"
    wc -l "$dir"/out.txt "$dir"/out2.txt "$dir"/out1.txt
    ls -l "$dir"/out.txt "$dir"/report_*.html
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# peak NAME: peak memory of one whole run, nothing else.
peak() {
    local name=$1 dir=$cache/$1
    /usr/bin/time -v env TZ=UTC-8 "$dir/fennick" -q 2> "$results/$name.time"
    echo "$name: $(grep 'Maximum resident' "$results/$name.time"), out.txt $(wc -l < "$dir/out.txt") lines"
}

case ${CASES:-month daily memory} in *month*)
    # Case 1: a month's worth of jobs (1,000,000) all inside the 24-hour window.
    generate month 1000000 --span-hours 23
    compare month
    ;;
esac
case ${CASES:-month daily memory} in *daily*)
    # Case 2: the same number of jobs over 30 days; the window is the newest day.
    generate daily 1000000 --span-days 30
    compare daily
    ;;
esac
case ${CASES:-month daily memory} in *memory*)
    # Case 4: four times the dump at the same job rate, same window.
    generate daily4 4000000 --span-days 120
    generate daily 1000000 --span-days 30
    peak daily
    peak daily4
    ;;
esac
