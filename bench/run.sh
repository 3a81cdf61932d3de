#!/usr/bin/env bash
# shellcheck disable=SC2016  # backticks in labels are Markdown code spans
# Throughput and peak memory of the four programs on generated data, at --threads=1 and at the
# default thread count, against `cat` of the same bytes and the memory floor of random reads.
# Usage: bench/run.sh BUILD_DIR [--large]
# Data are cached in BUILD_DIR/bench-data/ROWS/ (delete it to regenerate); the table is printed
# and written to bench/results.md.
set -euo pipefail
build=${1:?usage: bench/run.sh BUILD_DIR [--large]}
case ${2:-} in
  '') rows=2000000 ;;
  --large) rows=20000000 ;;
  *) echo "usage: bench/run.sh BUILD_DIR [--large]" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
cache=$rows
# shellcheck source=bench/lib.sh
source "$here/lib.sh"
runs=${BENCH_RUNS:-7}  # timed runs a figure (the median is kept), each thread count

# --- Data, made once ---------------------------------------------------------------------------
# The random file: six fields of random values, as binary and text records, CSV and a QVD.
layout='Id int; Amount decimal(12,2); Ratio double; Name string; Day date; Stamp datetime'
names=$(seq -f '"Customer %03g"' 1 500 | paste -sd, -)
# Id: a large range; Amount 1.00..5000.00; Ratio [0, 1); Name 500 values; Day 2015-01-01 plus
# 3,000 days (day numbers from 0000-01-01); Stamp 2020..2023 in seconds since 1970.
cat > "$data/config.json" << EOF
{"Id": {"range": {"min": 1, "max": 1000000000}}, "Amount": {"range": {"min": 100, "max": 500000}},
 "Ratio": {"range": {"min": 0, "max": 1}}, "Name": {"values": [$names]},
 "Day": {"range": {"min": 735964, "max": 738963}},
 "Stamp": {"range": {"min": 1577836800, "max": 1704067199}}}
EOF
# The realistic file: unique ids in order, an amount (5% null), 50,000 customers, three years of
# days, 8 categories (5% null). Customer names: two syllables, a blank, three syllables.
sales_layout='Id int; Amount double nullable; Customer string; Day date; Category string nullable'
customers=$(awk 'BEGIN { split("ka lo mi ra te su na vo el an is or be di gu ne", s, " ")
  for (n = 0; n < 50000; n++) {
    d[0] = n % 16; d[1] = int(n / 16) % 16; d[2] = int(n / 256) % 16; d[3] = int(n / 4096)
    printf "%s\"%s%s %s%s%s\"", n ? "," : "", toupper(substr(s[d[0] + 1], 1, 1)),
      substr(s[d[0] + 1], 2) s[d[1] + 1], toupper(substr(s[d[2] + 1], 1, 1)),
      substr(s[d[2] + 1], 2) s[d[3] + 1], s[(d[0] + d[3]) % 16 + 1] }}')
cat > "$data/sales.json" << EOF
{"Id": {"sequence": {"start": 1, "step": 1}}, "Amount": {"range": {"min": 1, "max": 10000},
 "null": 0.05}, "Customer": {"values": [$customers]},
 "Day": {"range": {"min": 738156, "max": 739250}}, "Category": {"values": ["Books", "Clothing",
 "Electronics", "Garden", "Grocery", "Health", "Sports", "Toys"], "null": 0.05}}
EOF

# make_data NAME LAYOUT CONFIG HEADER: NAME.bin, NAME.txt, NAME.csv (text under HEADER) and
# NAME.qvd (by packdown, so made again on every run, as is drawoff's output NAME.out).
make_data() {
  local name=$1 fields=$2 config=$3 header=$4
  local gendata=("$gen/gendata" -n "$rows" --seed 1 --config "$config" -d "$fields")
  binary_records() { "${gendata[@]}" -o "$1"; }
  text_records() { "${gendata[@]}" --text -o "$1"; }
  csv_records() { { echo "$header"; cat "$data/$name.txt"; } > "$1"; }
  records_qvd() { "$bin/packdown" -i "$data/$name.bin" -o "$1" -d "$fields"; }
  drawoff_output() { "$bin/drawoff" -i "$data/$name.qvd" -o "$1" -d "$fields"; }
  make_file "$data/$name.bin" binary_records
  make_file "$data/$name.txt" text_records
  make_file "$data/$name.csv" csv_records
  rm -f "$data/$name.qvd" "$data/$name.out"
  make_file "$data/$name.qvd" records_qvd
  make_file "$data/$name.out" drawoff_output
}
make_data records "$layout" "$data/config.json" 'Id,Amount,Ratio,Name,Day,Stamp'
make_data sales "$sales_layout" "$data/sales.json" 'Id,Amount,Customer,Day,Category'
few_symbol_qvd() { "$gen/gen_qvd" "$rows" "$1" > /dev/null; }
make_file "$data/few.qvd" few_symbol_qvd
few_layout='Id int; Amount double; Name string; Day date; Stamp datetime; Qty int'

# --- Floors: `cat` of each input, random reads of each QVD's symbol tables ---------------------
declare -a floors order
declare -A inbytes nfields base memory_floor
cat_floor() {  # cat_floor LABEL FILE
  measure "$1" "$runs" "$2" cat
  floors+=("$1") inbytes[$1]=$(stat -c %s "$2")
}
# random_floor LABEL QVD WIDTH...: one random read a field a row from tables of the QVD's symbol
# counts and drawoff's binary output widths (the loop's own seconds, without start-up).
random_floor() {
  local label=$1 qvd=$2 i times='' tables=() counts
  shift 2
  mapfile -t counts < <("$bin/tablepeek" "$qvd" 2> /dev/null |
    sed -n 's:.*<NoOfSymbols>\([0-9]*\)</NoOfSymbols>.*:\1:p')
  for ((i = 1; i <= $#; i++)); do tables+=("${counts[i - 1]}:${!i}"); done
  for ((i = 0; i < runs; i++)); do times+="$("$gen/random_reads" "$rows" "${tables[@]}") "; done
  secs[$label]=$(tr ' ' '\n' <<< "${times% }" | median)
  mem[$label]=-
  floors+=("$label") inbytes[$label]=$(awk -v r="$rows" -v w="$*" 'BEGIN {
    n = split(w, a, " "); for (i = 1; i <= n; i++) s += a[i]; print r * s }')
  printf '%-70s %9.4f s\n' "$label" "${secs[$label]}" >&2
}
for f in records.{qvd,out,bin,txt,csv} sales.{qvd,out,bin,txt,csv} few.qvd; do
  cat "$data/$f" > /dev/null  # into the page cache
done
cat_floor '`cat` random QVD' "$data/records.qvd"
cat_floor '`cat` drawoff binary output of the random QVD' "$data/records.out"
cat_floor '`cat` random binary records' "$data/records.bin"
cat_floor '`cat` random text records' "$data/records.txt"
cat_floor '`cat` random CSV' "$data/records.csv"
cat_floor '`cat` few-symbol QVD' "$data/few.qvd"
cat_floor '`cat` realistic QVD' "$data/sales.qvd"
cat_floor '`cat` drawoff binary output of the realistic QVD' "$data/sales.out"
cat_floor '`cat` realistic binary records' "$data/sales.bin"
cat_floor '`cat` realistic text records' "$data/sales.txt"
cat_floor '`cat` realistic CSV' "$data/sales.csv"
# Output widths: int 4, decimal(12,2) 8, double 8, string 8 + its bytes, date 4, datetime 8, and
# a flag byte for a nullable field. Names: 12 bytes ("Customer 123"), 14 ("customer name 12"),
# 11 (customers); categories 7 on average. Ids in record order are read in order.
random_floor 'random reads of the random QVD'"'"'s symbol tables' "$data/records.qvd" 4 8 8 20 4 8
random_floor 'random reads of the few-symbol QVD'"'"'s symbol tables' "$data/few.qvd" 4:inorder \
  8 22 4 8 4
random_floor 'random reads of the realistic QVD'"'"'s symbol tables' "$data/sales.qvd" 4:inorder \
  9 19 4 16

# --- Programs ----------------------------------------------------------------------------------
# program LABEL INPUT FIELDS BASELINE [MEMORY_FLOOR] -- COMMAND...: a row of the table
program() {
  local label=$1 input=$2 fields=$3 baseline=$4 floor=
  shift 4
  [[ $1 == -- ]] || { floor=$1; shift; }
  shift
  measure_threads "$label" "$runs" "$input" "$@"
  order+=("$label") nfields[$label]=$fields base[$label]=$baseline memory_floor[$label]=$floor
  [[ -z $floor ]] || row_loop "$label|rows" "$runs" "$input" "$@"
}
for file in records sales; do
  if [[ $file == records ]]; then
    fields=6 kind=random lay=$layout
  else
    fields=5 kind=realistic lay=$sales_layout
  fi
  qvd=$data/$file.qvd bin_rec=$data/$file.bin txt=$data/$file.txt csv=$data/$file.csv
  program "\`drawoff\` $kind QVD → binary" "$qvd" $fields "\`cat\` drawoff binary output of \
the $kind QVD" "random reads of the $kind QVD's symbol tables" -- "$bin/drawoff" -i "$qvd" -d "$lay"
  program "\`drawoff\` $kind QVD → text (-y)" "$qvd" $fields "\`cat\` $kind QVD" -- \
    "$bin/drawoff" -i "$qvd" -y -d "$lay"
  program "\`drawoff\` $kind QVD → CSV (--csv)" "$qvd" $fields "\`cat\` $kind QVD" -- \
    "$bin/drawoff" -i "$qvd" --csv -d "$lay"
  if [[ $file == records ]]; then
    program '`drawoff` random QVD → CSV (--csv), layout from the header' "$qvd" 6 \
      '`cat` random QVD' -- "$bin/drawoff" -i "$qvd" --csv
    program '`drawoff --low-memory` random QVD → binary' "$qvd" 6 '`cat` random QVD' -- \
      "$bin/drawoff" --low-memory -i "$qvd" -d "$lay"
    program '`drawoff` random QVD from a pipe → binary' "$qvd" 6 '`cat` random QVD' -- \
      bash -c 'cat "$0" | "$@"' "$qvd" "$bin/drawoff" -d "$lay"
    few=$data/few.qvd
    program '`drawoff` few-symbol QVD → binary' "$few" 6 '`cat` few-symbol QVD' \
      "random reads of the few-symbol QVD's symbol tables" -- \
      "$bin/drawoff" -i "$few" -d "$few_layout"
    program '`drawoff` few-symbol QVD → text (-y)' "$few" 6 '`cat` few-symbol QVD' -- \
      "$bin/drawoff" -i "$few" -y -d "$few_layout"
    program '`drawoff --low-memory` few-symbol QVD → binary' "$few" 6 '`cat` few-symbol QVD' -- \
      "$bin/drawoff" --low-memory -i "$few" -d "$few_layout"
  fi
  for p in packdown:QVD feedout:QVX; do
    program "\`${p%:*}\` $kind binary → ${p#*:}" "$bin_rec" $fields "\`cat\` $kind binary records" \
      -- "$bin/${p%:*}" -d "$lay"
    program "\`${p%:*}\` $kind text (-x) → ${p#*:}" "$txt" $fields "\`cat\` $kind text records" \
      -- "$bin/${p%:*}" -x -d "$lay"
    program "\`${p%:*} --csv\` $kind CSV → ${p#*:}" "$csv" $fields "\`cat\` $kind CSV" -- \
      "$bin/${p%:*}" --csv -d "$lay"
  done
done
# tablepeek has no threads: one measurement, shown in both columns.
header=$("$bin/tablepeek" "$data/records.qvd" 2> /dev/null | wc -c)
peek="\`tablepeek --no-of-records\` (reads the ${header}-byte header; no threads)"
measure "$peek|1" "$runs" "$data/records.qvd" "$bin/tablepeek" "$data/records.qvd" --no-of-records
secs["$peek|d"]=${secs["$peek|1"]} mem["$peek|d"]=${mem["$peek|1"]}
order+=("$peek") nfields[$peek]=- base[$peek]='`cat` random QVD' memory_floor[$peek]=

# --- Report ------------------------------------------------------------------------------------
program_row() {  # program_row LABEL: the label, then each figure at --threads=1 and the default
  local l=$1 t cells=()
  for t in 1 d; do cells+=("$(fmt_secs "${secs[$l|$t]}")"); done
  if [[ -n ${speedup[$l]-} ]]; then cells+=("$(fmt_ratio "${speedup[$l]}" 1)"); else cells+=(–); fi
  if [[ -n ${copies[$l]-} ]]; then cells+=("$(fmt_ratio "${copies[$l]}" 1)"); else cells+=(–); fi
  for t in 1 d; do
    if [[ ${nfields[$l]} == - ]]; then cells+=(–); else cells+=("$(fmt_rate "$rows" "${secs[$l|$t]}")"); fi
  done
  for t in 1 d; do
    if [[ ${nfields[$l]} == - ]]; then
      cells+=(–)
    else
      cells+=("$(fmt_rate $((rows * nfields[$l])) "${secs[$l|$t]}")")
    fi
  done
  for t in 1 d; do cells+=("$(fmt_mb "${mem[$l|$t]}")"); done
  for t in 1 d; do cells+=("$(fmt_ratio "${secs[$l|$t]}" "${secs[${base[$l]}]}")"); done
  printf '| %s |' "$l"
  printf ' %s |' "${cells[@]}"
  echo
}
same() { cmp -s "$data/$1.bin" "$data/$1.out" && echo yes || echo no; }
{
  echo "# Benchmark results"
  echo
  machine
  echo "$rows rows in each file; files in the page cache, output to /dev/null. Sizes in bytes:"
  echo
  echo "- random: \`$layout\`, random values; QVD $(stat -c %s "$data/records.qvd"), binary" \
    "$(stat -c %s "$data/records.bin"), text $(stat -c %s "$data/records.txt")"
  echo "- realistic: \`$sales_layout\`; ids 1, 2, 3, ..., amounts 1 to 10,000 with 5% nulls," \
    "50,000 customers, 3 years of days, 8 categories with 5% nulls; QVD" \
    "$(stat -c %s "$data/sales.qvd"), binary $(stat -c %s "$data/sales.bin"), text" \
    "$(stat -c %s "$data/sales.txt")"
  echo "- few-symbol (gen_qvd): \`$few_layout\`, at most 20,000 symbols a field but Id; QVD" \
    "$(stat -c %s "$data/few.qvd")"
  echo
  echo '| program and mode | seconds, 1 thread | seconds, default | speed-up | copies at once | rows/s, 1 thread | rows/s, default | values/s, 1 thread | values/s, default | peak memory MB, 1 thread | peak memory MB, default | ratio to `cat`, 1 thread | ratio to `cat`, default |'
  echo '|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|'
  for key in "${order[@]}"; do program_row "$key"; done
  echo
  echo '| floor | seconds | MB/s | peak memory MB |'
  echo '|---|---:|---:|---:|'
  for key in "${floors[@]}"; do
    echo "| $key | $(fmt_secs "${secs[$key]}") | $(awk -v b="${inbytes[$key]}" \
      -v s="${secs[$key]}" 'BEGIN { printf "%.0f", b / s / 1e6 }') | $(fmt_mb "${mem[$key]}") |"
  done
  echo
  echo "1 thread: \`--threads=1\`; default: no \`--threads\`, as many threads as cores. Seconds:"
  echo "median of $runs runs, wall time of the bare command, the two thread counts in turn; speed-up:"
  echo "the median of each pair's ratio, one thread's seconds over the default's; copies at once:"
  echo "$(nproc) copies at \`--threads=1\` run at once in each round, the median of $(nproc) times one"
  echo "copy's seconds over theirs, what the cores give work that shares nothing (the most that"
  echo "threads could gain on this machine); peak memory: max RSS from one more run"
  echo "under GNU time; MB = 10^6 bytes; MB/s: input bytes per second (output bytes for random"
  echo "reads). Ratio to \`cat\`: seconds over \`cat\` of the same input (for \`drawoff\` to binary:"
  echo "of its output). drawoff binary output identical to the generated records: random"
  echo "$(same records), realistic $(same sales)."
  echo
  echo '| `drawoff` → binary over its memory floor | 1 thread | default | row loop alone, 1 thread |'
  echo '|---|---:|---:|---:|'
  for key in "${order[@]}"; do
    [[ -n ${memory_floor[$key]} ]] || continue
    echo "| $key | $(fmt_ratio "${secs[$key|1]}" "${secs[${memory_floor[$key]}]}") |" \
      "$(fmt_ratio "${secs[$key|d]}" "${secs[${memory_floor[$key]}]}") |" \
      "$(fmt_ratio "${secs[$key|rows]}" "${secs[${memory_floor[$key]}]}") |"
  done
  echo
  echo "Memory floor: random reads of the same symbol tables (the loop alone, without start-up)."
  echo "Row loop alone: from the debug log of $runs more runs at one thread, the seconds from the last"
  echo "symbol table's outputs made to the last count of records (the median), over the floor."
} > "$here/results.md"
cat "$here/results.md"
