#!/bin/sh
# How often ombrix reaches each model's known optimum (within 1e-4 relative, every constraint met
# within the default tolerance) in 10 seconds, over 5 seeds. Each run is the model the workbook
# saved, with the seed and a run size given as flags: a population of 100 for 4,000 generations,
# which takes about 5 s here, so that the local search that follows the generations of a
# constrained run is reached; the time limit stops anything longer. Prints a Markdown table with
# the median seconds of a run.
# A third argument names the strategy (the saved model's engine, classic, otherwise).
#
#   bench/constrained/run.sh [path/to/ombrix] [SECONDS] [STRATEGY]
set -eu
here=$(dirname "$0")
ombrix=${1:-$here/../../build/app/ombrix}
seconds=${2:-10}
strategy=${3:+--strategy $3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "| Model | What | Optimum | Reached | Median s | Best found per seed (seeds 1-5) |"
echo "|---|---|---|---|---|---|"
tail -n +2 "$here/optima.tsv" | while IFS="$(printf '\t')" read -r model goal optimum what; do
    reached=0
    found=""
    times=""
    for seed in 1 2 3 4 5; do
        if "$ombrix" solve "$here/$model.xlsx" --seed "$seed" --population 100 --generations 4000 --trials 1 $strategy \
            --time-limit "$seconds" --quiet --json -o "$out/$model.xlsx" >"$out/run.json" 2>"$out/err"; then
            value=$(sed 's/.*"objective": {"[^"]*": \([^}]*\)}.*/\1/' "$out/run.json")
            hit=$(awk -v v="$value" -v o="$optimum" 'BEGIN { d = v - o; if (d < 0) d = -d;
                m = o < 0 ? -o : o; if (m < 1) m = 1; print (d <= 1e-4 * m) ? 1 : 0 }')
            reached=$((reached + hit))
            times="$times $(sed 's/.*"seconds": \([^,}]*\).*/\1/' "$out/run.json")"
            found="$found $(printf '%.6g' "$value")"
        else
            found="$found infeasible"
        fi
    done
    median=$(echo $times | tr ' ' '\n' | sort -g | awk '{ t[NR] = $1 } END { printf "%.2f", NR ? t[int((NR + 1) / 2)] : 0 }')
    echo "| $model | $what | $optimum | $reached of 5 | $median |$found |"
done
