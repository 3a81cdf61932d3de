#!/usr/bin/env bash
# shellcheck disable=SC2016  # backticks in labels are Markdown code spans
# Throughput and peak memory of the four programs on generated data, against `cat` floors.
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
bin=$build/bin
gen=$build/bench
for p in "$bin"/{drawoff,packdown,feedout,tablepeek} "$gen"/{gendata,gen_qvd,random_reads}; do
  [[ -x $p ]] || { echo "missing $p: build with -DORV_BENCH=ON first" >&2; exit 1; }
done
export ORV_LOG_LEVEL=fail
layout='Id int; Amount decimal(12,2); Ratio double; Name string; Day date; Stamp datetime'
data=$build/bench-data/$rows
mkdir -p "$data"
log=$data/last.log

# --- Data, made once: records (binary and text), a QVD of them, a QVD of few symbols ----------
make_file() {  # make_file FILE STEP: runs STEP with a temporary output path unless FILE exists
  [[ -s $1 ]] && return 0
  echo "generating $1" >&2
  "$2" "$1.tmp" 2> "$log" || { cat "$log" >&2; exit 1; }
  mv "$1.tmp" "$1"
}
names=$(seq -f '"Customer %03g"' 1 500 | paste -sd, -)
# Id: a large range; Amount 1.00..5000.00; Ratio [0, 1); Name 500 values; Day 2015-01-01 plus
# 3,000 days (day numbers from 0000-01-01); Stamp 2020..2023 in seconds since 1970.
cat > "$data/config.json" << EOF
{"Id": {"range": {"min": 1, "max": 1000000000}}, "Amount": {"range": {"min": 100, "max": 500000}},
 "Ratio": {"range": {"min": 0, "max": 1}}, "Name": {"values": [$names]},
 "Day": {"range": {"min": 735964, "max": 738963}},
 "Stamp": {"range": {"min": 1577836800, "max": 1704067199}}}
EOF
gendata=("$gen/gendata" -n "$rows" --seed 1 --config "$data/config.json" -d "$layout")
binary_records() { "${gendata[@]}" -o "$1"; }
text_records() { "${gendata[@]}" --text -o "$1"; }
records_qvd() { "$bin/packdown" -i "$data/records.bin" -o "$1" -d "$layout"; }
drawoff_output() { "$bin/drawoff" -i "$data/records.qvd" -o "$1" -d "$layout"; }
few_symbol_qvd() { "$gen/gen_qvd" "$rows" "$1" > /dev/null; }
# The text records under a header line: CSV (no value needs quotes).
csv_records() { { echo 'Id,Amount,Ratio,Name,Day,Stamp'; cat "$data/records.txt"; } > "$1"; }
make_file "$data/records.bin" binary_records
make_file "$data/records.txt" text_records
make_file "$data/records.csv" csv_records
# The QVD and drawoff's output come from the programs under test: made again on every run.
rm -f "$data/records.qvd" "$data/drawoff.bin"
make_file "$data/records.qvd" records_qvd
make_file "$data/drawoff.bin" drawoff_output
make_file "$data/few.qvd" few_symbol_qvd
few_layout='Id int; Amount double; Name string; Day date; Stamp datetime; Qty int'

# --- Measuring ---------------------------------------------------------------------------------
# Wall time from bash's EPOCHREALTIME around the bare command (GNU time would add its own start-up
# and round to 10 ms), the median of RUNS; peak memory (max RSS) from one more run under GNU time.
gnu_time=
if [[ -x /usr/bin/time ]] && /usr/bin/time -f %M -o /dev/null true 2> /dev/null; then
  gnu_time=/usr/bin/time
else
  echo "GNU time not found: no peak memory" >&2
fi
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
declare -a order
declare -A secs mem inbytes nrows base
measure() {  # measure KEY RUNS INPUT ROWS BASELINE COMMAND...: stdin from INPUT, stdout discarded
  local key=$1 runs=$2 input=$3 n=$4 baseline=$5 i start times=
  shift 5
  for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    "$@" < "$input" > /dev/null 2> "$log" || { cat "$log" >&2; exit 1; }
    times+="$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }') "
  done
  secs[$key]=$(tr ' ' '\n' <<< "${times% }" | median)
  mem[$key]=-
  if [[ -n $gnu_time ]]; then
    "$gnu_time" -f %M -o "$data/mem" "$@" < "$input" > /dev/null 2> "$log" ||
      { cat "$log" >&2; exit 1; }
    mem[$key]=$(tail -n 1 "$data/mem")
  fi
  inbytes[$key]=$(stat -c %s "$input")
  nrows[$key]=$n base[$key]=$baseline
  order+=("$key")
  printf '%-58s %9.4f s\n' "$key" "${secs[$key]}" >&2
}

qvd=$data/records.qvd bin_rec=$data/records.bin txt_rec=$data/records.txt csv=$data/records.csv
cat_qvd='`cat` QVD (floor)'
cat_out='`cat` file of drawoff binary size (floor)'
cat_bin='`cat` binary records (floor)'
cat_txt='`cat` text records (floor)'
cat_few='`cat` few-symbol QVD (floor)'
cat_csv='`cat` CSV records (floor)'
cat "$qvd" "$bin_rec" "$txt_rec" "$csv" "$data/few.qvd" "$data/drawoff.bin" > /dev/null  # page cache
measure "$cat_qvd" 5 "$qvd" - "$cat_qvd" cat
measure "$cat_out" 5 "$data/drawoff.bin" - "$cat_out" cat
measure "$cat_bin" 5 "$bin_rec" - "$cat_bin" cat
measure "$cat_txt" 5 "$txt_rec" - "$cat_txt" cat
measure "$cat_csv" 5 "$csv" - "$cat_csv" cat
measure "$cat_few" 5 "$data/few.qvd" - "$cat_few" cat
drawoff_binary='`drawoff` QVD → binary'
measure "$drawoff_binary" 3 "$qvd" "$rows" "$cat_out" "$bin/drawoff" -i "$qvd" -d "$layout"
measure '`drawoff` QVD → text (-y)' 3 "$qvd" "$rows" "$cat_qvd" \
  "$bin/drawoff" -i "$qvd" -y -d "$layout"
measure '`drawoff` QVD → CSV (--csv)' 3 "$qvd" "$rows" "$cat_qvd" \
  "$bin/drawoff" -i "$qvd" --csv -d "$layout"
measure '`drawoff` QVD → CSV (--csv), layout from the header' 3 "$qvd" "$rows" "$cat_qvd" \
  "$bin/drawoff" -i "$qvd" --csv
measure '`drawoff` few-symbol QVD (gen_qvd) → binary' 3 "$data/few.qvd" "$rows" "$cat_few" \
  "$bin/drawoff" -i "$data/few.qvd" -d "$few_layout"
measure '`drawoff` few-symbol QVD → text (-y)' 3 "$data/few.qvd" "$rows" "$cat_few" \
  "$bin/drawoff" -i "$data/few.qvd" -y -d "$few_layout"
measure '`drawoff --low-memory` QVD → binary' 3 "$qvd" "$rows" "$cat_out" \
  "$bin/drawoff" --low-memory -i "$qvd" -d "$layout"
measure '`drawoff --low-memory` few-symbol QVD → binary' 3 "$data/few.qvd" "$rows" "$cat_few" \
  "$bin/drawoff" --low-memory -i "$data/few.qvd" -d "$few_layout"
measure '`packdown` binary → QVD' 3 "$bin_rec" "$rows" "$cat_bin" "$bin/packdown" -d "$layout"
measure '`packdown` text (-x) → QVD' 3 "$txt_rec" "$rows" "$cat_txt" \
  "$bin/packdown" -x -d "$layout"
measure '`packdown --csv` CSV → QVD' 3 "$csv" "$rows" "$cat_csv" \
  "$bin/packdown" --csv -d "$layout"
measure '`feedout` binary → QVX' 3 "$bin_rec" "$rows" "$cat_bin" "$bin/feedout" -d "$layout"
measure '`feedout` text (-x) → QVX' 3 "$txt_rec" "$rows" "$cat_txt" "$bin/feedout" -x -d "$layout"
measure '`feedout --csv` CSV → QVX' 3 "$csv" "$rows" "$cat_csv" "$bin/feedout" --csv -d "$layout"
# The memory floor of the random file: one random read a field a row from tables of its symbol
# counts and drawoff's binary output widths (the loop's own seconds, median of 3).
widths=(4 8 8 16 4 8)
mapfile -t counts < <("$bin/tablepeek" "$qvd" 2> /dev/null |
  sed -n 's:.*<NoOfSymbols>\([0-9]*\)</NoOfSymbols>.*:\1:p')
tables=()
for i in "${!widths[@]}"; do tables+=("${counts[$i]}:${widths[$i]}"); done
floor='random reads of the same symbol tables (memory floor)'
times=
for i in 1 2 3; do times+="$("$gen/random_reads" "$rows" "${tables[@]}") "; done
secs[$floor]=$(tr ' ' '\n' <<< "${times% }" | median)
mem[$floor]=- inbytes[$floor]=$(stat -c %s "$data/drawoff.bin") nrows[$floor]=$rows
base[$floor]=$floor
order+=("$floor")
printf '%-58s %9.4f s\n' "$floor" "${secs[$floor]}" >&2
header=$("$bin/tablepeek" "$qvd" 2> /dev/null | wc -c)
peek="\`tablepeek --no-of-records\` (reads the ${header}-byte header)"
measure "$peek" 5 "$qvd" header "$cat_qvd" "$bin/tablepeek" "$qvd" --no-of-records

# --- Report ------------------------------------------------------------------------------------
same=no
cmp -s "$bin_rec" "$data/drawoff.bin" && same=yes
{
  echo "# Benchmark results"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores, $(grep -m 1 'model name' /proc/cpuinfo |
    cut -d: -f2- | sed 's/^ *//'); $rows rows of 6 fields (\`$layout\`)."
  echo "Inputs: QVD $(stat -c %s "$qvd") bytes, binary records $(stat -c %s "$bin_rec") bytes," \
    "text records $(stat -c %s "$txt_rec") bytes; files in the page cache, output to /dev/null."
  echo
  echo '| program and mode | seconds | rows/s | values/s | MB/s | peak memory MB | ratio to `cat` |'
  echo '|---|---:|---:|---:|---:|---:|---:|'
  for key in "${order[@]}"; do
    awk -v k="$key" -v s="${secs[$key]}" -v n="${nrows[$key]}" -v b="${inbytes[$key]}" \
      -v m="${mem[$key]}" -v c="${secs[${base[$key]}]}" 'BEGIN {
        t = s < 0.1 ? sprintf("%.4f (%.1f ms)", s, s * 1000) : sprintf("%.3f", s)
        r = n ~ /^[0-9]+$/ ? sprintf("%.2f M", n / s / 1e6) : "–"
        v = n ~ /^[0-9]+$/ ? sprintf("%.2f M", n * 6 / s / 1e6) : "–"
        mb = n == "header" ? "–" : sprintf("%.0f", b / s / 1e6)
        mm = m == "-" ? "–" : sprintf("%.1f", m * 1024 / 1e6)
        printf "| %s | %s | %s | %s | %s | %s | %.2f |\n", k, t, r, v, mb, mm, s / c }'
  done
  echo
  echo "Seconds: median of 3 runs (5 for \`cat\` and \`tablepeek\`), wall time of the bare command;"
  echo "peak memory: max RSS from one more run under GNU time; MB = 10^6 bytes; MB/s: input bytes"
  echo "per second. Ratio: seconds over \`cat\` of the same input (for \`drawoff\` binary: of a"
  echo "file as large as its output). drawoff binary output identical to the generated records: $same."
  awk -v d="${secs[$drawoff_binary]}" -v f="${secs[$floor]}" 'BEGIN {
    printf "`drawoff` QVD → binary takes %.2f times the memory floor (random reads: the loop", d / f
    print " alone, without start-up or symbol tables; MB/s there is output bytes per second)." }'
} > "$here/results.md"
cat "$here/results.md"
