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
# BEFORE=/path/to/an/older/fennick and BEFORE_CLI=/path/to/an/older/fennick-cli
# add those programs to each comparison; WARMUP (default 1) sets hyperfine's
# warm-up runs; TIGHT_FLOOR=1M adds the floor read and copied in blocks of
# that size (FLOOR_BLOCK in bench/floor.sh) to the month and daily calls.
# Three more cases are not in the default set:
#   findings         the 30-day daily dump with `fennick-cli --lookback 7 --json`
#                    (the second pass for what needs action) against its floor:
#                    the dump down to where that pass stops, and the JSON copied
#                    besides the four outputs.
#   findings-rss     peak memory of that run on the 30-day dump, on dumps of 2 and
#                    4 times the jobs per day, and on one of 60 days.
#   history          the findings run on the 30-day dump with a job history
#                    that 29 earlier nightly runs left (each on the dump as it
#                    stood that night), copied into place before each timed run,
#                    against the same floor; then the first run on no history,
#                    and the history's bytes per job. REUSE=1 keeps a dump and
#                    a history that an earlier call prepared.
#
# The dumps are generated with --now set to the present moment, and fennick
# runs with TZ=UTC-8, so that its window "one day ago to now" read in the
# report zone (UTC+8) is the last 24 hours of the dump. No faked clock: under
# faketime the font cache of the toolkit is thrown away on every run, which
# costs about 0.5 s a run and is not what a real server sees.
set -euo pipefail
unset FLOOR_BLOCK  # the plain floor is floor.sh's default; the tight one says so

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
    placePrograms "$dir"
    # The new dump's gigabyte goes to disk now, not during the first command timed.
    sync
}

# placePrograms DIR: the programs beside the dump, as an installed folder has them.
placePrograms() {
    local dir=$1
    # The window's library goes beside the program, as an installed folder has it.
    for file in "$fennick" "$cli" "$(dirname "$fennick")"/libfennick_window.so; do
        [[ -e $file ]] || continue
        ln -f "$file" "$dir/$(basename "$file")" 2>/dev/null || cp "$file" "$dir/"
    done
    if [[ -n ${BEFORE:-} ]]; then
        ln -f "$BEFORE" "$dir/fennick_before" 2>/dev/null || cp "$BEFORE" "$dir/fennick_before"
    fi
    if [[ -n ${BEFORE_CLI:-} ]]; then
        ln -f "$BEFORE_CLI" "$dir/fennick-cli_before" 2>/dev/null ||
            cp "$BEFORE_CLI" "$dir/fennick-cli_before"
    fi
}

# scanned DIR: the bytes of the dump the scan reads. It stops at the first
# job older than the window, so a daily run reads only the newest part. strace
# (following the reader's own thread) counts what the read calls returned
# between each open of the dump and its close; the largest such sum is the
# scan's (the start-up reads the first line on its own).
# scanned DIR [OPTION...]: the same for `fennick-cli --dir DIR OPTION...`; with
# the findings' options, the findings' own pass over the dump reads the most.
scanned() {
    local dir=$1 log
    shift
    log=$(mktemp)
    strace -f -qq -e trace=openat,read,close -e signal=none -o "$log" \
        env TZ=UTC-8 "$dir/fennick-cli" --dir "$dir" "$@" >/dev/null
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
    [[ -n ${BEFORE_CLI:-} ]] && commands+=("env TZ=UTC-8 $dir/fennick-cli_before --dir $dir")
    [[ -n ${TIGHT_FLOOR:-} ]] && commands+=("env FLOOR_BLOCK=$TIGHT_FLOOR $here/floor.sh $dir $bytes")
    commands+=("$here/floor.sh $dir $bytes")
    hyperfine -N --warmup "${WARMUP:-1}" --runs "$runs" \
        --export-json "$results/$name.json" --export-markdown "$results/$name.md" "${commands[@]}"
    ratios "$results/$name.json"
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

# The window of a findings run: the 24 hours up to the newest job's start,
# written as the report zone's (UTC+8) clock time for --end.
newestEnd() {
    local newest
    newest=$(head -n 1 "$1/bpdbjobs.txt" | cut -d, -f9)
    date -u -d "@$((newest + 8 * 3600))" '+%Y-%m-%d %H:%M:%S'
}

# stopsAt DIR LOOKBACK: the byte offset and number of the first line below the
# lookback (start before the window's start less LOOKBACK days, queued jobs
# with start 0 aside), where the findings' pass stops; and the streams (policy,
# schedule, client) of the lines above it.
stopsAt() {
    local dir=$1 lookback=$2 newest
    newest=$(head -n 1 "$dir/bpdbjobs.txt" | cut -d, -f9)
    LC_ALL=C awk -F, -v before=$((newest - (lookback + 1) * 86400)) '
        $9 + 0 != 0 && $9 + 0 < before { stop = NR; exit }
        { offset += length($0) + 1; streams[$5 "," $6 "," $7] = 1 }
        END { printf "stops at line %d, byte %d; %d streams above it\n", stop, offset, length(streams) }' \
        "$dir/bpdbjobs.txt"
}

# ratios FILE: each command's mean over each floor's (the commands running
# floor.sh) in a hyperfine JSON export, with the spread of the ratio as
# hyperfine gives it.
ratios() {
    python3 - "$1" <<'PY'
import json, math, sys
results = json.load(open(sys.argv[1]))["results"]
floors = [r for r in results if "floor.sh" in r["command"]]
for r in results:
    line = f'{r["mean"] * 1000:9.1f} ± {r["stddev"] * 1000:6.1f} ms '
    for floor in floors:
        ratio = r["mean"] / floor["mean"]
        spread = ratio * math.hypot(r["stddev"] / r["mean"], floor["stddev"] / floor["mean"])
        line += f' {ratio:5.2f} ± {spread:4.2f}'
    print(line + "  " + r["command"])
print("ratios over: " + "; ".join(("FLOOR_BLOCK " if "FLOOR_BLOCK" in f["command"] else "") + "floor.sh" for f in floors))
PY
}

# findings NAME LOOKBACK: hyperfine over fennick-cli with the findings
# (--lookback, --json), the same run without them, and the floor of the run
# with them; then its peak memory.
findings() {
    local name=$1 lookback=$2 dir=$cache/$1
    local end json=$dir/findings.json
    end=$(newestEnd "$dir")
    # The findings' pass alone: a fennick-cli that keeps a history by default
    # (fennick_history.db in DIR) keeps none here; the history case times it.
    local none=() noneText=""
    if [[ $("$dir/fennick-cli" --help 2>&1) == *--no-history* ]]; then
        none=(--no-history)
        noneText=" --no-history"
    fi
    local with=(--end "$end" --lookback "$lookback" --json "$json" "${none[@]}")
    echo "== $name (--end '$end' --lookback $lookback$noneText)"
    facts
    env TZ=UTC-8 "$dir/fennick-cli" --dir "$dir" "${with[@]}"  # the outputs the floor copies
    local bytes
    bytes=$(scanned "$dir" "${with[@]}")
    echo "the findings read $bytes of $(stat -c %s "$dir/bpdbjobs.txt") bytes of the dump"
    stopsAt "$dir" "$lookback"
    local commands=("env TZ=UTC-8 $dir/fennick-cli --dir $dir --end '$end' --lookback $lookback --json $json$noneText")
    commands+=("env TZ=UTC-8 $dir/fennick-cli --dir $dir --end '$end'")
    commands+=("env FLOOR_BLOCK=${TIGHT_FLOOR:-1M} $here/floor.sh $dir $bytes ${json##*/}")
    commands+=("$here/floor.sh $dir $bytes ${json##*/}")
    hyperfine -N --warmup "${WARMUP:-1}" --runs "$runs" \
        --export-json "$results/$name.json" --export-markdown "$results/$name.md" "${commands[@]}"
    ratios "$results/$name.json"
    findingsPeak "$name" "$lookback"
    ls -l "$dir"/out.txt "$dir"/report_*.html "$json"
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# nightOffsets DIR DAYS: for each k from 1 to DAYS, the byte offset in the
# dump of the first line that started no later than k days before its newest
# job ("top") and of the first that started more than k days before it
# ("below"). Lines with start 0 (queued) are placed by their neighbours.
nightOffsets() {
    local dir=$1 days=$2 newest
    newest=$(head -n 1 "$dir/bpdbjobs.txt" | cut -d, -f9)
    LC_ALL=C awk -F, -v newest="$newest" -v most="$days" '
        BEGIN { top = 1; below = 1 }
        {
            start = $9 + 0
            if (start != 0) {
                while (top <= most && start <= newest - top * 86400) tops[top++] = offset
                while (below <= most && start < newest - below * 86400) belows[below++] = offset
            }
            offset += length($0) + 1
        }
        END {
            for (; top <= most; top++) tops[top] = offset
            for (; below <= most; below++) belows[below] = offset
            for (k = 1; k <= most; k++) print k, tops[k], belows[k]
        }' "$dir/bpdbjobs.txt"
}

# endBefore DIR DAYS: --end for the night DAYS days before the dump's newest
# job, as the report zone's (UTC+8) clock time.
endBefore() {
    local newest
    newest=$(head -n 1 "$1/bpdbjobs.txt" | cut -d, -f9)
    date -u -d "@$((newest - $2 * 86400 + 8 * 3600))" '+%Y-%m-%d %H:%M:%S'
}

# prepareHistory NAME NIGHTS LOOKBACK: the history that NIGHTS earlier runs
# left, one a night. For night k (NIGHTS down to 1) the dump is the lines
# that started between k + LOOKBACK + 1 days and k days before the dump's
# newest job, newest first as the server writes them (a dump that keeps the
# lookback's days, cut to what it held then), and fennick-cli runs on it with
# --end k days before the newest job and --history DIR/history-NIGHTS.db,
# in DIR/nights/. The nights before the dump's oldest day see shorter dumps.
prepareHistory() {
    local name=$1 nights=$2 lookback=$3 dir=$cache/$1
    local saved=$dir/history-$nights.db nightDir=$dir/nights
    rm -rf "$nightDir" "$saved"
    mkdir -p "$nightDir"
    cp "$dir/policy_list.txt" "$dir/fennick_config.txt" "$nightDir/"
    local offsets
    offsets=$(mktemp)
    nightOffsets "$dir" $((nights + lookback + 1)) > "$offsets"
    echo "== preparing $saved: $nights nights of --lookback $lookback"
    local k top below started=$SECONDS
    for ((k = nights; k >= 1; k--)); do
        top=$(awk -v k="$k" '$1 == k { print $2 }' "$offsets")
        below=$(awk -v k=$((k + lookback + 1)) '$1 == k { print $3 }' "$offsets")
        dd if="$dir/bpdbjobs.txt" of="$nightDir/bpdbjobs.txt" bs=1M skip="$top" \
            count=$((below - top)) iflag=skip_bytes,count_bytes status=none
        echo "night $k: --end '$(endBefore "$dir" "$k")', dump bytes $top to $below" \
            "($(wc -l < "$nightDir/bpdbjobs.txt") lines)"
        env TZ=UTC-8 "$dir/fennick-cli" --dir "$nightDir" --end "$(endBefore "$dir" "$k")" \
            --lookback "$lookback" --json "$nightDir/findings.json" --history "$saved"
    done
    rm -f "$offsets"
    echo "prepared in $((SECONDS - started)) s: $(stat -c %s "$saved") bytes," \
        "$(sqlite3 "$saved" 'SELECT COUNT(*) FROM jobs') jobs"
    # The nights' last dump is not needed again.
    rm -f "$nightDir/bpdbjobs.txt"
    sync
}

# historySize FILE: the database's bytes, its jobs, the bytes per job, and
# what the table and each index take (SQLite's dbstat).
historySize() {
    local file=$1 bytes jobs
    bytes=$(stat -c %s "$file")
    jobs=$(sqlite3 "$file" 'SELECT COUNT(*) FROM jobs')
    echo "$file: $bytes bytes, $jobs jobs, $((bytes / (jobs > 0 ? jobs : 1))) bytes per job;" \
        "$(sqlite3 "$file" "SELECT group_concat(name || ' ' || bytes, ', ') FROM
            (SELECT name, SUM(pgsize) AS bytes FROM dbstat GROUP BY name ORDER BY bytes DESC)")"
}

# intervalsFile DIR COUNT: DIR/policy_intervals.txt of COUNT policies that
# the dump's newest lines name and the daily list does not, every 7 days.
intervalsFile() {
    head -n 200000 "$1/bpdbjobs.txt" | cut -d, -f5 | sort -u | grep -vxF -f "$1/policy_list.txt" |
        head -n "$2" | sed 's/$/=7/' > "$1/policy_intervals.txt"
    echo "policy_intervals.txt: $(wc -l < "$1/policy_intervals.txt") policies"
}

# history NAME LOOKBACK: hyperfine over fennick-cli with the findings and the
# history that 29 earlier nights left (copied into place and synced before
# each run, as every command's preparation), the same run with --no-history,
# and the findings' floors; then the first run on an empty history, and the
# history's size.
history() {
    local name=$1 lookback=$2 dir=$cache/$1
    local end json=$dir/findings.json saved=$dir/history-29.db run=$dir/run_history.db
    end=$(newestEnd "$dir")
    local with=(--end "$end" --lookback "$lookback" --json "$json")
    echo "== $name (--end '$end' --lookback $lookback, the history of 29 nights)"
    facts
    intervalsFile "$dir" 200
    historySize "$saved"
    cp "$saved" "$run"
    env TZ=UTC-8 "$dir/fennick-cli" --dir "$dir" "${with[@]}" --history "$run"
    historySize "$run"
    local bytes
    bytes=$(scanned "$dir" "${with[@]}" --no-history)
    echo "the findings read $bytes of $(stat -c %s "$dir/bpdbjobs.txt") bytes of the dump"
    stopsAt "$dir" "$lookback"
    local copy="bash -c 'cp $saved $run && sync $run'"
    local findings="env TZ=UTC-8 $dir/fennick-cli --dir $dir --end '$end' --lookback $lookback --json $json"
    local commands=("$findings --history $run" "$findings --no-history"
        "env FLOOR_BLOCK=${TIGHT_FLOOR:-1M} $here/floor.sh $dir $bytes ${json##*/}"
        "$here/floor.sh $dir $bytes ${json##*/}")
    hyperfine -N --warmup "${WARMUP:-1}" --runs "$runs" --prepare "$copy" \
        --export-json "$results/$name.json" --export-markdown "$results/$name.md" "${commands[@]}"
    ratios "$results/$name.json"
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

    # The first run: an empty history (none at the path) filled from the dump.
    local first=$dir/first_history.db
    echo "== $name: the first run, on no history"
    facts
    # One preparation per command: only the first run's removes the history.
    hyperfine -N --warmup "${WARMUP:-1}" --runs "$runs" --prepare "rm -f $first" --prepare true \
        --export-json "$results/$name-first.json" --export-markdown "$results/$name-first.md" \
        "$findings --history $first" "$findings --no-history"
    ratios "$results/$name-first.json"
    historySize "$first"
    /usr/bin/time -v env TZ=UTC-8 "$dir/fennick-cli" --dir "$dir" "${with[@]}" --history "$run" \
        2> "$results/$name.time"
    echo "$name: $(grep 'Maximum resident' "$results/$name.time") (with the history)"
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# findingsPeak NAME LOOKBACK: peak memory of one fennick-cli run with the findings.
findingsPeak() {
    local name=$1 lookback=$2 dir=$cache/$1
    local none=()
    [[ $("$dir/fennick-cli" --help 2>&1) == *--no-history* ]] && none=(--no-history)
    /usr/bin/time -v env TZ=UTC-8 "$dir/fennick-cli" --dir "$dir" --end "$(newestEnd "$dir")" \
        --lookback "$lookback" --json "$dir/findings.json" "${none[@]}" 2> "$results/$name-findings.time"
    echo "$name: $(grep 'Maximum resident' "$results/$name-findings.time"); $(stopsAt "$dir" "$lookback")"
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
case ${CASES:-} in *findings*)
    # The 30-day daily dump (the daily case's 1,000,000 jobs, about 33,000 a day).
    generate findings 1000000 --span-days 30
esac
case ${CASES:-} in *findings\ *|*findings) findings findings 7 ;; esac
case ${CASES:-} in *history*)
    # The findings' 30-day dump, with the history that 29 nights of runs on
    # it (each on the dump as it stood then) left. REUSE=1 keeps a dump and a
    # history prepared by an earlier call.
    if [[ -z ${REUSE:-} || ! -s $cache/history/history-29.db ]]; then
        generate history 1000000 --span-days 30
        prepareHistory history 29 7
    else
        placePrograms "$cache/history"
    fi
    history history 7
    ;;
esac
case ${CASES:-} in *findings-rss*)
    # The same days with 2 and 4 times the jobs a day, and twice the days.
    generate findings2x 2000000 --span-days 30
    generate findings4x 4000000 --span-days 30
    generate findings60 2000000 --span-days 60
    for name in findings findings2x findings4x findings60; do
        findingsPeak "$name" 7
    done
    ;;
esac
