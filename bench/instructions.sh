#!/bin/sh
# Instructions per iteration of one benchmark, counted by callgrind over its timed loop only
# (the machine is shared and its timings noisy; instruction counts are not):
#   bench/instructions.sh build/bench/bench_lookup BM_PriceListRoundTrip [MIN_TIME]
# With MIN_TIME (seconds, under callgrind) it runs more iterations, so that first-time work
# (the evaluation order, an index built) weighs less.
set -eu
binary=$1
name=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out/callgrind.out" \
    "$binary" --benchmark_filter="^$name\$" --benchmark_min_time="${3:-0}" --benchmark_format=json \
    >"$out/result.json" 2>"$out/valgrind.log"
python3 - "$out" "$name" <<'PY'
import json, sys
out, name = sys.argv[1], sys.argv[2]
total = 0
for line in open(f"{out}/callgrind.out"):
    if line.startswith("summary:") or line.startswith("totals:"):
        total = int(line.split()[1])
runs = [b for b in json.load(open(f"{out}/result.json"))["benchmarks"] if b.get("run_type") == "iteration"]
iterations = sum(b["iterations"] for b in runs)
print(f"{name}: {total / iterations:,.0f} instructions per iteration ({iterations} iterations)")
PY
