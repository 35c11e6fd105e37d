#!/usr/bin/env bash
# Times blankide's zero-fill mode against dd writing the same bytes, and
# shows that sparse images take the same time and no data blocks whatever
# their size. Usage: bench/blankide_bench.sh [path/to/blankide] [scratch dir]
set -euo pipefail
blankide=${1:-build/blankide/blankide}
scratch=${2:-$(mktemp -d)}
trap 'rm -f "$scratch"/bench-*.hdf "$scratch"/bench-dd.bin' EXIT

now() { date +%s.%N; }
elapsed() {  # elapsed START END
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

# 2048 cylinders x 16 heads x 64 sectors x 512 bytes = 1 GiB of data.
cylinders=2048 heads=16 sectors=64
bytes=$((cylinders * heads * sectors * 512))
mib=$((bytes / 1048576))

best_blankide=999999 best_dd=999999
for _ in 1 2 3; do
  start=$(now)
  "$blankide" -s "$cylinders" "$heads" "$sectors" "$scratch/bench-fill.hdf"
  sync "$scratch/bench-fill.hdf"
  t=$(elapsed "$start" "$(now)")
  best_blankide=$(smaller "$t" "$best_blankide")
  rm -f "$scratch/bench-fill.hdf"

  start=$(now)
  dd if=/dev/zero of="$scratch/bench-dd.bin" bs=1M count="$mib" status=none
  sync "$scratch/bench-dd.bin"
  t=$(elapsed "$start" "$(now)")
  best_dd=$(smaller "$t" "$best_dd")
  rm -f "$scratch/bench-dd.bin"
done
printf 'zero-fill %d MiB: blankide -s %.3f s, dd %.3f s, ratio %.3f (goal <= 1.1)\n' \
  "$mib" "$best_blankide" "$best_dd" "$(awk -v a="$best_blankide" -v b="$best_dd" 'BEGIN { print a / b }')"

for size in 1 100; do
  c=$((cylinders * size))
  start=$(now)
  "$blankide" "$c" "$heads" "$sectors" "$scratch/bench-sparse.hdf"
  t=$(elapsed "$start" "$(now)")
  printf 'sparse %3d GiB: %.4f s, %s\n' "$size" "$t" \
    "$(stat -c 'size %s bytes, %b blocks of %B bytes' "$scratch/bench-sparse.hdf")"
  rm -f "$scratch/bench-sparse.hdf"
done
