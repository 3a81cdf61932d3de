#!/usr/bin/env bash
# Reader throughput on a generated file: cat to /dev/null, then drawoff to binary and to text.
# Usage: bench/drawoff.sh BUILD_DIR [ROWS]
set -euo pipefail
build=${1:-build}
rows=${2:-10000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
qvd=$work/bench.qvd
"$build/bench/gen_qvd" "$rows" "$qvd"
layout='Id int; Amount double; Name string; Day date; Stamp datetime; Qty int'
export ORV_LOG_LEVEL=fail
seconds() { local s=$(date +%s.%N); "$@" > /dev/null; echo "$(date +%s.%N) - $s" | bc; }
report() {
  printf '%-28s %8.3f s  %12.0f rows/s  %12.0f values/s\n' "$1" "$2" \
    "$(echo "$rows / $2" | bc -l)" "$(echo "$rows * 6 / $2" | bc -l)"
}
echo "file: $(stat -c %s "$qvd") bytes, $rows rows, 6 fields"
cat "$qvd" > /dev/null  # warm the page cache
report "cat > /dev/null" "$(seconds cat "$qvd")"
report "drawoff binary" "$(seconds "$build/bin/drawoff" -i "$qvd" -d "$layout")"
report "drawoff text" "$(seconds "$build/bin/drawoff" -i "$qvd" -y -d "$layout")"
report "drawoff binary --low-memory" "$(seconds "$build/bin/drawoff" --low-memory -i "$qvd" -d "$layout")"
