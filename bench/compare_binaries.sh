#!/usr/bin/env bash
# Several builds of fennick and `wc -l`, timed together by one hyperfine call
# on a dump that already exists (bench/run_hyperfine.sh generates them).
#
#   bench/compare_binaries.sh DIR NAME=BINARY...        time whole `fennick -q` runs
#   NOW=EPOCH CHECK=1 bench/compare_binaries.sh DIR NAME=BINARY...  cmp the outputs instead
#
# Each binary is linked into DIR as fennick-NAME, since the program works on
# the files beside itself. Runs use TZ=UTC-8, so the window "one day ago to
# now" in the report zone is the last 24 hours of the dump.
#
# NOW=EPOCH runs every binary under a fixed clock (libfaketime, started at
# EPOCH and running on from there): the window then stays where it was when
# the dump was generated, however late the comparison is run. Without NOW the
# machine's clock is used. RUNS (default 10) and WARMUP (default 1) go to
# hyperfine; OUT (default DIR/compare) receives the exported results; TAG
# names them; FAKETIME_ALSO=NAME adds that binary once more without the
# fixed clock, to see what the clock costs.
set -euo pipefail

dir=$1
shift
runs=${RUNS:-10}
warmup=${WARMUP:-1}
out=${OUT:-$dir/compare}
tag=${TAG:-$(date -u +%H%M%S)}
mkdir -p "$out"

faketime_lib=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
clock=()
clocktext=""
if [[ -n ${NOW:-} ]]; then
    [[ -r $faketime_lib ]] || { echo "missing $faketime_lib (apt-get install faketime)" >&2; exit 1; }
    # libfaketime reads an absolute start in the zone of TZ.
    start=$(TZ=UTC-8 date -d "@$NOW" '+%Y-%m-%d %H:%M:%S')
    clock=(LD_PRELOAD=$faketime_lib "FAKETIME=@$start")
    clocktext="LD_PRELOAD=$faketime_lib 'FAKETIME=@$start' "  # hyperfine splits words
fi

names=()
for pair in "$@"; do
    name=${pair%%=*}
    binary=${pair#*=}
    [[ -x $binary ]] || { echo "missing $binary" >&2; exit 1; }
    ln -f "$binary" "$dir/fennick-$name" 2>/dev/null || cp "$binary" "$dir/fennick-$name"
    names+=("$name")
done

facts() {
    echo "date: $(date -u '+%Y-%m-%d %H:%M:%S UTC')  load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}

if [[ -n ${CHECK:-} ]]; then
    # The page's window line holds the second of the run: only a fixed
    # clock makes two runs' pages comparable.
    [[ -n ${NOW:-} ]] || { echo "CHECK needs NOW=EPOCH" >&2; exit 1; }
    # One run per binary; its four outputs are kept and compared with those
    # of the first binary.
    first=${names[0]}
    status=0
    for name in "${names[@]}"; do
        rm -f "$dir"/out.txt "$dir"/out2.txt "$dir"/out1.txt "$dir"/report_*.html
        env "${clock[@]}" TZ=UTC-8 "$dir/fennick-$name" -q
        rm -rf "$out/outputs-$name"
        mkdir -p "$out/outputs-$name"
        mv "$dir"/out.txt "$dir"/out2.txt "$dir"/out1.txt "$dir"/report_*.html "$out/outputs-$name/"
        echo "$name: $(wc -l < "$out/outputs-$name/out.txt") out.txt lines," \
            "$(wc -l < "$out/outputs-$name/out2.txt") out2.txt lines," \
            "$(wc -l < "$out/outputs-$name/out1.txt") out1.txt lines," \
            "$(cd "$out/outputs-$name" && ls report_*.html)"
        [[ $name == "$first" ]] && continue
        for file in "$out/outputs-$first"/*; do
            if cmp "$file" "$out/outputs-$name/$(basename "$file")"; then
                echo "  $(basename "$file"): same as $first"
            else
                status=1
            fi
        done
    done
    exit $status
fi

commands=()
for name in "${names[@]}"; do
    commands+=("env ${clocktext}TZ=UTC-8 $dir/fennick-$name -q")
done
if [[ -n ${FAKETIME_ALSO:-} ]]; then
    commands+=("env TZ=UTC-8 $dir/fennick-$FAKETIME_ALSO -q")
fi
commands+=("wc -l $dir/bpdbjobs.txt")

facts
hyperfine -N --warmup "$warmup" --runs "$runs" \
    --export-json "$out/$tag.json" --export-markdown "$out/$tag.md" "${commands[@]}"
facts
