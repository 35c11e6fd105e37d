#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a given time,
# or, with --runs, for a given number of inputs from a fixed seed, so that
# the same tree always tries the same inputs (what CI runs: a fault found
# this way is one the change at hand brought in). The harnesses run side by
# side, one on each processor.
#   fuzz/run.sh SECONDS [cartridge|tape|zx_name|hdf]...
#   fuzz/run.sh --runs COUNT [cartridge|tape|zx_name|hdf]...
# Inputs: the committed ones in tests/fuzz-inputs/<target>, fresh seeds from
# the test suite's image builders (for tapes, every block kind with each
# count and length field at its edges), fuzz/<target>.dict where there is one and, when it is beside the tree, the image
# corpus in ../shared/corpus. New findings go to build-fuzz/artifacts/<target>;
# the growing corpus stays in build-fuzz/corpus/<target>. Exits 1 if any
# target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: fuzz/run.sh SECONDS|--runs COUNT [target]..."
if [ "${1:-}" = --runs ]; then
  count=${2:?$usage}
  shift 2
  limit=(-runs="$count" -seed=1)
  what="$count runs from seed 1"
else
  seconds=${1:?$usage}
  shift
  limit=(-max_total_time="$seconds")
  what="$seconds s"
fi
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(cartridge tape zx_name hdf)
out=build-fuzz

cmake -S . -B "$out" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLKIT_FUZZ=ON -DBUILD_TESTING=ON >/dev/null
cmake --build "$out" -j "$(nproc)" --target make_fuzz_seeds "${targets[@]/#/fuzz_}" >/dev/null

# Seeds from the builders, and the corpus images prefixed as each target wants.
"$out/tests/make_fuzz_seeds" "$out/seeds"
corpus=../shared/corpus
if [ -d "$corpus" ]; then
  mkdir -p "$out/seeds/cartridge" "$out/seeds/tape"
  cp "$corpus"/mdr/* "$out/seeds/cartridge/" 2>/dev/null || true
  for image in "$corpus"/tape/*; do
    case "${image,,}" in
      *.tap) type='\x01' ;;
      *.tzx | *.cdt | *.tsx) type='\x02' ;;
      *.csw) type='\x05' ;;
      *.pzx) type='\x09' ;;
      *) type='\x00' ;;
    esac
    { printf '%b' "$type"; head -c 65536 "$image"; } > "$out/seeds/tape/$(basename "$image")"
  done
fi

# fuzz TARGET: runs one harness, with its output in $out/logs/TARGET.log and
# what there is to say of the run in $out/logs/TARGET.summary. Fails if the
# harness found a fault.
fuzz() {
  local target=$1 status=0
  # A fixed-seed run starts from the committed inputs and seeds alone.
  local corpus_dir="$out/corpus/$target"
  if [ -n "${count:-}" ]; then
    corpus_dir="$out/corpus-fixed/$target"
    rm -rf "$corpus_dir"
  fi
  mkdir -p "$corpus_dir" "$out/artifacts/$target"
  # A dictionary of the target's block IDs and field layouts, where it has one.
  local dict=()
  [ ! -f "fuzz/$target.dict" ] || dict=(-dict="fuzz/$target.dict")
  {
    echo "fuzz_$target: $what"
    if ! ASAN_OPTIONS=detect_leaks=1:suppressions=tests/asan.supp "$out/fuzz/fuzz_$target" \
        "${limit[@]}" "${dict[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$out/artifacts/$target/" \
        "$corpus_dir" "tests/fuzz-inputs/$target" "$out/seeds/$target" \
        > "$out/logs/$target.log" 2>&1; then
      echo "fuzz_$target found a fault: see $out/logs/$target.log and $out/artifacts/$target/"
      status=1
    fi
    grep -E "^stat::number_of_executed_units|^Done [0-9]+ runs" "$out/logs/$target.log" || true
  } > "$out/logs/$target.summary"
  return "$status"
}

# Each harness runs on one processor: as many side by side as there are
# processors. What each did is told in order once all are done.
mkdir -p "$out/logs"
failed=0 running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
for target in "${targets[@]}"; do
  cat "$out/logs/$target.summary"
done
exit "$failed"
