# shellcheck shell=bash
# shellcheck disable=SC2154  # build and cache come from the script that sources this one
# What bench/run.sh and bench/memory.sh share: the checks, the data cache and the measuring.
# Sourced with `build` (the build directory) and `cache` (a name for the data) set; sets `bin`,
# `gen`, `data` (BUILD/bench-data/CACHE), `log`.
bin=$build/bin
gen=$build/bench
for p in "$bin"/{drawoff,packdown,feedout,tablepeek} "$gen"/{gendata,gen_qvd,random_reads}; do
  [[ -x $p ]] || { echo "missing $p: build with -DORV_BENCH=ON first" >&2; exit 1; }
done
export ORV_LOG_LEVEL=fail
data=$build/bench-data/$cache
mkdir -p "$data"
log=$data/last.log

make_file() {  # make_file FILE STEP: runs STEP with a temporary output path unless FILE exists
  [[ -s $1 ]] && return 0
  echo "generating $1" >&2
  "$2" "$1.tmp" 2> "$log" || { cat "$log" >&2; exit 1; }
  mv "$1.tmp" "$1"
}

# Wall time from bash's EPOCHREALTIME around the bare command (GNU time would add its own start-up
# and round to 10 ms), the median of the runs; peak memory (max RSS) from one more run under GNU
# time.
gnu_time=
if [[ -x /usr/bin/time ]] && /usr/bin/time -f %M -o /dev/null true 2> /dev/null; then
  gnu_time=/usr/bin/time
else
  echo "GNU time not found: no peak memory" >&2
fi
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
declare -A secs mem speedup copies
run_or_fail() {  # run_or_fail INPUT COMMAND...: stdin from INPUT, stdout discarded
  local input=$1
  shift
  "$@" < "$input" > /dev/null 2> "$log" || { cat "$log" >&2; exit 1; }
}
elapsed() {  # elapsed INPUT COMMAND...: sets took, the command's wall seconds
  local start=$EPOCHREALTIME
  run_or_fail "$@"
  took=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
}
elapsed_copies() {  # elapsed_copies N INPUT COMMAND...: sets took, the wall seconds of N copies at once
  local n=$1 input=$2 start=$EPOCHREALTIME i pids=()
  shift 2
  for ((i = 0; i < n; i++)); do
    "$@" < "$input" > /dev/null 2> "$log.$i" &
    pids+=($!)
  done
  for ((i = 0; i < n; i++)); do
    wait "${pids[i]}" || { cat "$log.$i" >&2; exit 1; }
  done
  took=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
}
peak() {  # peak KEY INPUT COMMAND...: sets mem[KEY], the max RSS in KB (or -) of one run
  local key=$1
  shift
  mem[$key]=-
  if [[ -n $gnu_time ]]; then
    run_or_fail "$1" "$gnu_time" -f %M -o "$data/mem" "${@:2}"
    mem[$key]=$(tail -n 1 "$data/mem")
  fi
}
report() { printf '%-70s %9.4f s %8s KB\n' "$1" "${secs[$1]}" "${mem[$1]}" >&2; }
measure() {  # measure KEY RUNS INPUT COMMAND...: sets secs[KEY] (median) and mem[KEY] (KB or -)
  local key=$1 runs=$2 input=$3 i times=
  shift 3
  for ((i = 0; i < runs; i++)); do
    elapsed "$input" "$@"
    times+="$took "
  done
  secs[$key]=$(tr ' ' '\n' <<< "${times% }" | median)
  peak "$key" "$input" "$@"
  report "$key"
}
# measure_threads KEY RUNS INPUT COMMAND...: measure at --threads=1 (KEY|1) and at the default
# thread count, the cores this process may use (KEY|d), in alternating runs, so that a machine
# that slows down or speeds up meanwhile bears on both alike; speedup[KEY] is the median of each
# pair's ratio (one thread's seconds over the default's). Each round also runs as many copies at
# --threads=1 at once as there are cores: copies[KEY], the median of each round's cores times one
# copy's seconds over theirs, is what the cores give work that shares nothing, the most that
# threads could.
cores=$(nproc)
measure_threads() {
  local key=$1 runs=$2 input=$3 i one all ones= alls= ratios= gains=
  shift 3
  for ((i = 0; i < runs; i++)); do
    elapsed "$input" "$@" --threads=1
    one=$took
    elapsed "$input" "$@"
    all=$took
    ones+="$one " alls+="$all "
    ratios+="$(awk -v a="$one" -v b="$all" 'BEGIN { print a / b }') "
    if ((cores > 1)); then
      elapsed_copies "$cores" "$input" "$@" --threads=1
      gains+="$(awk -v a="$one" -v b="$took" -v n="$cores" 'BEGIN { print n * a / b }') "
    fi
  done
  secs[$key|1]=$(tr ' ' '\n' <<< "${ones% }" | median)
  secs[$key|d]=$(tr ' ' '\n' <<< "${alls% }" | median)
  speedup[$key]=$(tr ' ' '\n' <<< "${ratios% }" | median)
  [[ -z $gains ]] || copies[$key]=$(tr ' ' '\n' <<< "${gains% }" | median)
  peak "$key|1" "$input" "$@" --threads=1
  peak "$key|d" "$input" "$@"
  report "$key|1"
  report "$key|d"
}
# row_loop KEY RUNS INPUT COMMAND...: sets secs[KEY], the median seconds of drawoff's row loop at
# --threads=1, from its debug log: the last symbol table's outputs made to the last count of
# records (the log's times are to the millisecond).
row_loop() {
  local key=$1 runs=$2 input=$3 i times=
  shift 3
  for ((i = 0; i < runs; i++)); do
    ORV_LOG_LEVEL=debug run_or_fail "$input" "$@" --threads=1
    times+="$(awk -F'|' '
      function seconds(t) {
        split(substr(t, 12, 12), c, ":")
        return (c[1] * 60 + c[2]) * 60 + c[3]
      }
      $4 == "symbol outputs made" { made = seconds($2) }
      $4 == "records" { done = seconds($2) }
      END { d = done - made; print d < 0 ? d + 86400 : d }' "$log") "
  done
  secs[$key]=$(tr ' ' '\n' <<< "${times% }" | median) mem[$key]=-
  report "$key"
}

# Number formats of the tables: seconds (ms below 0.1 s), a rate in millions, KB as MB (10^6 B).
fmt_secs() { awk -v s="$1" 'BEGIN { printf(s < 0.1 ? "%.4f" : "%.3f", s) }'; }
fmt_rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.2f M", n / s / 1e6 }'; }
fmt_mb() { awk -v k="$1" 'BEGIN { if (k == "-") printf "–"; else printf "%.1f", k * 1024 / 1e6 }'; }
fmt_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
machine() {  # the first line of a results file: date, cores, processor
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores (the default thread count), $(grep -m 1 \
    'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')."
}
