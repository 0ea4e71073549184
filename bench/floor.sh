#!/usr/bin/env bash
# The I/O floor of one run: the bytes of the dump the scan reads, read to
# /dev/null, and each file the run writes copied onto an existing copy of
# itself (a run must replace its outputs). Timed beside `fennick -q` by
# bench/run_hyperfine.sh; a run cannot do less I/O than this.
#
#   bench/floor.sh DIR BYTES    BYTES: what the scan reads, or "all"
#
# DIR must hold the outputs of an earlier run; the copies go to DIR/floor/.
# Builtins only besides head/cat, so that starting programs costs the floor
# little more than a run's own start.
set -euo pipefail

dir=$1
bytes=$2
if [[ $bytes == all ]]; then
    cat "$dir/bpdbjobs.txt" >/dev/null
else
    head -c "$bytes" "$dir/bpdbjobs.txt" >/dev/null
fi
[[ -d $dir/floor ]] || mkdir "$dir/floor"
# Through user space, as the run writes them: cat, not cp (which may copy
# inside the kernel or share the blocks).
for file in "$dir/out.txt" "$dir/out2.txt" "$dir/out1.txt" "$dir"/report_*.html; do
    cat "$file" >"$dir/floor/${file##*/}"
done
