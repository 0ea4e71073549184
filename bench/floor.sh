#!/usr/bin/env bash
# The I/O floor of one run: the bytes of the dump the scan reads, read to
# /dev/null, and each file the run writes copied onto an existing copy of
# itself (a run must replace its outputs). Timed beside `fennick -q` by
# bench/run_hyperfine.sh; a run cannot do less I/O than this.
#
#   bench/floor.sh DIR BYTES [FILE...]    BYTES: what the scan reads, or "all"
#   FLOOR_BLOCK=1M bench/floor.sh DIR BYTES [FILE...]
#
# DIR must hold the outputs of an earlier run; the copies go to DIR/floor/.
# Each FILE (a name in DIR, such as the JSON findings) is one more output of
# the run, copied the same way.
#
# By default the dump is read with `head -c`, which reads 8 KiB a call
# (coreutils 9.1), and the outputs are copied with `cat`, which copies inside
# the kernel (copy_file_range) where it can. With FLOOR_BLOCK set, `dd` does
# both with blocks of that size through user space (read and write calls),
# as the run does: fewer calls for the read, real copies for the outputs.
# Builtins only besides head/cat/dd, so that starting programs costs the
# floor little more than a run's own start.
set -euo pipefail

dir=$1
bytes=$2
shift 2
block=${FLOOR_BLOCK:-}
if [[ -n $block ]]; then
    if [[ $bytes == all ]]; then
        dd if="$dir/bpdbjobs.txt" of=/dev/null bs="$block" status=none
    else
        dd if="$dir/bpdbjobs.txt" of=/dev/null bs="$block" count="$bytes" iflag=count_bytes \
            status=none
    fi
elif [[ $bytes == all ]]; then
    cat "$dir/bpdbjobs.txt" >/dev/null
else
    head -c "$bytes" "$dir/bpdbjobs.txt" >/dev/null
fi
[[ -d $dir/floor ]] || mkdir "$dir/floor"
extra=()
for name in "$@"; do
    extra+=("$dir/$name")
done
for file in "$dir/out.txt" "$dir/out2.txt" "$dir/out1.txt" "$dir"/report_*.html "${extra[@]}"; do
    if [[ -n $block ]]; then
        # dd opens the copy with O_TRUNC, as cat's redirection does.
        dd if="$file" of="$dir/floor/${file##*/}" bs="$block" status=none
    else
        cat "$file" >"$dir/floor/${file##*/}"
    fi
done
