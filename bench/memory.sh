#!/usr/bin/env bash
# shellcheck disable=SC2016  # backticks in labels are Markdown code spans
# Seconds and peak memory of packdown on inputs that stress its column store, at --threads=1 and
# at the default thread count, against the bytes its values take stored (int 4 B, decimal 16 B,
# variable string its bytes plus a 4-byte end offset).
# Usage: bench/memory.sh BUILD_DIR
# Data are cached in BUILD_DIR/bench-data/memory/ (about 650 MB); the table is printed and
# written to bench/results-memory.md.
set -euo pipefail
build=${1:?usage: bench/memory.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
cache=memory
# shellcheck source=bench/lib.sh
source "$here/lib.sh"
[[ -n $gnu_time ]] || { echo "bench/memory.sh needs GNU time (/usr/bin/time)" >&2; exit 1; }

# input NAME LAYOUT COUNT VALUE_BYTES CONFIG LABEL [SHOWN]: binary records, made once; VALUE_BYTES
# are a record's, SHOWN the layout as the table gives it (default LAYOUT)
declare -a order
declare -A layouts shown stored inputs
input() {
  local name=$1 layout=$2 count=$3 bytes=$4 config=$5
  echo "$config" > "$data/$name.json"
  records() { "$gen/gendata" -n "$count" --seed 1 --config "$data/$name.json" -d "$layout" -o "$1"; }
  make_file "$data/$name.bin" records
  order+=("$6") layouts[$6]=$layout stored[$6]=$((count * bytes)) inputs[$6]=$data/$name.bin
  shown[$6]=${7:-$layout}
}
# An odd step wraps around the 32 bits without repeating: distinct values in a scrambled order.
input distinct 'V int' 25000000 4 '{"V": {"sequence": {"start": 0, "step": 2654435761}}}' \
  '25,000,000 distinct ints'
input hundred 'V int' 25000000 4 '{"V": {"range": {"min": 1, "max": 100}}}' \
  '25,000,000 ints, 100 distinct values'
# Letters and digits: 62^7 texts, so about 14 repeats among 10,000,000 draws.
input strings 'V string' 10000000 11 '{"V": {"length": {"min": 7, "max": 7}}}' \
  '10,000,000 random 7-byte strings'
input decimals 'V decimal(38)' 5000000 16 '{}' '5,000,000 random decimal(38) (80 MB)'
# A wide table whose columns (2.1 MB each) end just past a huge page.
wide=$(for i in $(seq 0 99); do printf 'F%d int; ' "$i"; done)
input wide "${wide%; }" 530000 400 '{}' '530,000 records of 100 random ints' 'F0 int; ...; F99 int'

# once KEY INPUT COMMAND...: seconds and peak memory of one run under GNU time (the runs take
# seconds: its 10 ms steps do not matter)
once() {
  local key=$1 input=$2 figures
  shift 2
  run_or_fail "$input" "$gnu_time" -f '%e %M' -o "$data/mem" "$@"
  read -r -a figures < <(tail -n 1 "$data/mem")
  secs[$key]=${figures[0]} mem[$key]=${figures[1]}
  printf '%-70s %9.2f s %8s KB\n' "$key" "${secs[$key]}" "${mem[$key]}" >&2
}
for key in "${order[@]}"; do
  cat "${inputs[$key]}" > /dev/null  # into the page cache
  once "$key|1" "${inputs[$key]}" "$bin/packdown" -d "${layouts[$key]}" --threads=1
  once "$key|d" "${inputs[$key]}" "$bin/packdown" -d "${layouts[$key]}"
done

{
  echo '# packdown memory'
  echo
  machine
  echo 'Binary records into `packdown -d LAYOUT` (QVD to /dev/null).'
  echo
  echo '| input | stored values MB | seconds, 1 thread | seconds, default | peak memory MB, 1 thread | peak memory MB, default | peak / stored, 1 thread | peak / stored, default |'
  echo '|---|---:|---:|---:|---:|---:|---:|---:|'
  for key in "${order[@]}"; do
    printf '| %s (`%s`) | %s |' "$key" "${shown[$key]}" "$(fmt_ratio "${stored[$key]}" 1e6)"
    for t in 1 d; do printf ' %s |' "$(fmt_secs "${secs[$key|$t]}")"; done
    for t in 1 d; do printf ' %s |' "$(fmt_mb "${mem[$key|$t]}")"; done
    for t in 1 d; do printf ' %s |' "$(fmt_ratio $((mem[$key|$t] * 1024)) "${stored[$key]}")"; done
    echo
  done
  echo
  echo "1 thread: \`--threads=1\`; default: no \`--threads\`, as many threads as cores. Seconds and"
  echo "peak memory (max RSS): one run under GNU time; MB = 10^6 bytes. Stored values: the bytes the"
  echo "values take in the column store (int 4 B, decimal 16 B, string its bytes plus a 4-byte end"
  echo "offset)."
} > "$here/results-memory.md"
cat "$here/results-memory.md"
