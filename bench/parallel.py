#!/usr/bin/python3
"""Parallel evaluation: the same solve with --jobs 1 and --jobs N on a model of many formulas.

    bench/parallel.py [--formulas 100000] [--jobs 2] [--repeat 3] [--calibrate] [--constraint C]...
                      [--population 50] [--generations 5] [--trials 1] [build/app/ombrix]

The model (written as .csv in a temporary folder) has ten variables in B1:K1 with their
bounds in B2:K3, a column of formulas each reading all ten, and their sum as the objective in
A4. Each run is a differential evolution solve (the classic run uses the batch as well) whose
trace must be byte for byte the same for every --jobs; the script prints the wall-clock time
of each (best of --repeat) and the speed-up, with the CPU time each took (user and system), the
seconds the solve itself took (its --json "seconds": the run, without opening and saving the
book) and the load average after. The time includes opening the copies, which happens while the
book itself is opened. --calibrate
times a plain loop alone and two at once before and after each strategy, to tell whether the
machine really gave the run two cores. --constraint makes every run a constrained one (its
generations go to the copies with the constraint's cells; the local search after them goes one
candidate at a time).
"""

import argparse
import filecmp
import json
import os
import resource
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COLUMNS = "BCDEFGHIJK"


def model_csv(formulas):
    rows = [["Vars"] + ["1"] * 10, ["Min"] + ["-5"] * 10, ["Max"] + ["5"] * 10,
            ["=SUM(A5:A%d)" % (4 + formulas)]]
    for i in range(formulas):
        a, b = COLUMNS[i % 10], COLUMNS[(i * 7 + 3) % 10]
        rows.append([f"=(${a}$1-{i % 9 - 4})^2+SIN(${b}$1*{1 + i % 5})*{(i % 13) / 10}"])
    return "".join(",".join(r) + "\n" for r in rows)


def solve(ombrix, book, jobs, strategy, folder, settings, constraints=()):
    """The wall time, the CPU time and the solve's own seconds of one run, and its trace."""
    trace = os.path.join(folder, f"trace-{strategy}-{jobs}.csv")
    out = os.path.join(folder, f"out-{strategy}-{jobs}.xlsx")
    start = time.monotonic()
    cpu = resource.getrusage(resource.RUSAGE_CHILDREN)
    run = subprocess.run([ombrix, "solve", book, "--var", "B1:K1", "--min", "B2:K2", "--max", "B3:K3", "--objective",
                          "A4", "--goal", "minimise", "--strategy", strategy, "--population", str(settings.population),
                          "--generations", str(settings.generations), "--trials", str(settings.trials), "--jobs",
                          str(jobs), "--trace", trace, "-o", out, "--quiet", "--json"] +
                         [flag for c in constraints for flag in ("--constraint", c)],
                         check=True, stdout=subprocess.PIPE, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    used = after.ru_utime + after.ru_stime - cpu.ru_utime - cpu.ru_stime
    return wall, used, json.loads(run.stdout)["seconds"], trace


LOOP = "n = 0\nfor i in range(15000000):\n    n += i\n"


def calibrate():
    """Cores this machine gives now: one plain loop (no memory, no locks) alone, then two at once.

    Two at once take as long as one alone when two cores are free, twice as long when one is."""
    def loops(n):
        start = time.monotonic()
        procs = [subprocess.Popen(["python3", "-c", LOOP]) for _ in range(n)]
        for proc in procs:
            proc.wait()
        return time.monotonic() - start
    one, two = loops(1), loops(2)
    return one, two, 2 * one / two


def main():
    p = argparse.ArgumentParser()
    p.add_argument("ombrix", nargs="?", default=os.path.join(HERE, "..", "build", "app", "ombrix"))
    p.add_argument("--formulas", type=int, default=100000)
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--population", type=int, default=50)
    p.add_argument("--generations", type=int, default=5)
    p.add_argument("--trials", type=int, default=1)
    p.add_argument("--constraint", action="append", default=[],
                   help="a constraint for every run (repeatable), e.g. \"A5 <= 20\"")
    p.add_argument("--calibrate", action="store_true", help="measure the cores free before and after each strategy")
    args = p.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        book = os.path.join(folder, "model.csv")
        with open(book, "w") as f:
            f.write(model_csv(args.formulas))
        start = time.monotonic()
        subprocess.run([args.ombrix, "calc", book], check=True, stdout=subprocess.DEVNULL)
        print(f"{args.formulas} formulas; open and recalculate: {time.monotonic() - start:.2f} s")
        for strategy in ("de", "classic"):
            if args.calibrate:
                print("calibration: one loop %.2f s, two at once %.2f s: %.2f cores free" % calibrate())
            best = {}
            cpu = {}
            own = {}
            traces = {}
            for _ in range(args.repeat):
                for jobs in (1, args.jobs):
                    seconds, used, solving, traces[jobs] = solve(args.ombrix, book, jobs, strategy, folder, args,
                                                                 args.constraint)
                    if seconds < best.get(jobs, float("inf")):
                        best[jobs], cpu[jobs], own[jobs] = seconds, used, solving
            same = filecmp.cmp(traces[1], traces[args.jobs], shallow=False)
            # A constrained run's local search after the generations adds its own, one at a time.
            evaluations = sum(1 for line in open(traces[1])) - 1
            print(f"{strategy}: {evaluations} evaluations; --jobs 1 {best[1]:.2f} s ({cpu[1]:.2f} s CPU, solve "
                  f"{own[1]:.2f} s), --jobs {args.jobs} {best[args.jobs]:.2f} s ({cpu[args.jobs]:.2f} s CPU, solve "
                  f"{own[args.jobs]:.2f} s): {best[1] / best[args.jobs]:.2f}x (solve {own[1] / own[args.jobs]:.2f}x); "
                  f"traces the same: {same}; load average "
                  f"{os.getloadavg()[0]:.1f}")
        if args.calibrate:
            print("calibration: one loop %.2f s, two at once %.2f s: %.2f cores free" % calibrate())


if __name__ == "__main__":
    main()
