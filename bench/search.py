#!/usr/bin/python3
"""How close each search strategy gets to the known optimum of the benchmark models.

Runs `ombrix solve` on each model with each strategy and five seeds: at a budget of 10,000 and
of 50,000 evaluations (population 50, one trial), and for a fixed time (10 s). Prints, per
model and strategy, the median and best distance from the known optimum (0 is the optimum;
below 1e-6 counts as reached) and how many seeds reached it; then, for the strategies given
with --race, the seconds each seed took to come within 1e-6 (--target, the run ending there).

    bench/search.py [--ombrix build/app/ombrix] [--strategies classic,real,de,shade]
                    [--seeds 5] [--seconds 10] [--race de,shade] [--skip-time]

The models: bench/models/*.xlsx (made by bench/make_models.py) and the three examples. The
machine is shared, so seconds vary with its load; evaluations and distances do not.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TEN = "--var B3:K3 --min B4:K4 --max B5:K5 --objective B8 --goal minimise"
THREE = "--var B3:D3 --min B4:D4 --max B5:D5"
REACHED = 1e-6

# name, workbook, flags, maximise, known optimum
MODELS = [
    ("Ackley 10-D", "bench/models/ackley10.xlsx", TEN, False, 0.0),
    ("Rosenbrock 10-D", "bench/models/rosenbrock10.xlsx", TEN, False, 0.0),
    ("Rastrigin 10-D", "bench/models/rastrigin10.xlsx", TEN, False, 0.0),
    ("Rastrigin 3-D", "examples/rastrigin.xlsx", THREE + " --objective B8 --goal minimise", False, 0.0),
    # 418.9829 x 10 less ten times the largest x sin(sqrt(x)), at x = 420.968746...
    ("Schwefel 10-D", "bench/models/schwefel10.xlsx", TEN, False, 4189.829 - 10 * 418.98288727243369),
    # The best any run found; published as 2351.9699 and 0.03873867.
    ("production", "examples/production.xlsx", THREE + " --objective B16 --goal maximise", True,
     2351.9699117904665),
    ("portfolio", "examples/portfolio.xlsx", "--var B3:E3 --min B4:E4 --max B5:E5 --objective B17 --goal maximise",
     True, 0.03873867412375352),
]


def solve(ombrix, book, flags, extra, out):
    command = [ombrix, "solve", os.path.join(ROOT, book)] + flags.split() + extra.split() + [
        "--json", "--quiet", "-o", out]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)}\n{done.stderr}")
    return json.loads(done.stdout)


def distance(result, maximise, optimum):
    value = list(result["objective"].values())[0]
    return optimum - value if maximise else value - optimum


def cell(distances):
    reached = sum(1 for d in distances if abs(d) < REACHED)
    return f"{statistics.median(distances):.3g} / {min(distances, key=abs):.3g} ({reached}/{len(distances)})"


def table(title, strategies, rows):
    print(f"\n### {title}\n")
    print("| model | " + " | ".join(strategies) + " |")
    print("|---|" + "---|" * len(strategies))
    for name, cells in rows:
        print(f"| {name} | " + " | ".join(cells) + " |")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--ombrix", default=os.path.join(ROOT, "build", "app", "ombrix"))
    parser.add_argument("--strategies", default="classic,real,de,shade")
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--race", default="de,shade")
    parser.add_argument("--skip-time", action="store_true", help="only the budgets of evaluations and the race")
    args = parser.parse_args()
    strategies = args.strategies.split(",")
    seeds = range(1, args.seeds + 1)
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xlsx")
        runs = [(f"{b:,} evaluations", f"--population 50 --generations {b // 50} --trials 1") for b in (10000, 50000)]
        if not args.skip_time:
            runs.append((f"{args.seconds:g} s", f"--population 50 --generations 2147483647 --trials 1 "
                                                f"--time-limit {args.seconds:g}"))
        print("Median / best distance from the known optimum over "
              f"{args.seeds} seeds (seeds within {REACHED:g} of it)")
        for title, budget in runs:
            rows = []
            for name, book, flags, maximise, optimum in MODELS:
                cells = []
                for s in strategies:
                    found = [distance(solve(args.ombrix, book, flags, f"{budget} --strategy {s} --seed {seed}", out),
                                      maximise, optimum) for seed in seeds]
                    cells.append(cell(found))
                rows.append((name, cells))
            table(title, strategies, rows)
        race = [s for s in args.race.split(",") if s]
        if race:
            rows = []
            for name, book, flags, maximise, optimum in MODELS:
                target = optimum - REACHED / 2 if maximise else optimum + REACHED / 2
                cells = []
                for s in race:
                    times, evaluations, reached = [], [], 0
                    for seed in seeds:
                        r = solve(args.ombrix, book, flags,
                                  f"--population 50 --generations 2147483647 --trials 1 --time-limit "
                                  f"{args.seconds:g} --target {target!r} --strategy {s} --seed {seed}", out)
                        times.append(r["seconds"])
                        evaluations.append(r["evaluations"])
                        reached += abs(distance(r, maximise, optimum)) < REACHED
                    cells.append(f"{statistics.median(times):.2f} s, {statistics.median(evaluations):,.0f} ev. "
                                 f"(max {max(times):.2f} s; {reached}/{len(times)})")
                rows.append((name, cells))
            table(f"Time to come within {REACHED:g} (median, evaluations, slowest seed; seeds that did)", race, rows)


if __name__ == "__main__":
    main()
