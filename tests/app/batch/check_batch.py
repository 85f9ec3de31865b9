#!/usr/bin/python3
"""`ombrix batch` as a cluster runs it: the rows of a manifest run by GNU parallel (each task
finds its row in PARALLEL_SEQ), then one row each as a Kubernetes indexed job and a Slurm job
array would run it, then every row in one command. Every row's answer must be the answer of
`ombrix solve` run alone with the same flags, bit for bit; a failing row is recorded and the
others still run.

    check_batch.py OMBRIX SOURCE_DIR
"""
import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile

OMBRIX, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
MODEL = ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "maximise"]
# name, workbook, seed, extra flags, inputs
ROWS = [
    ("first", "models/production.xlsx", "1", "--population 10 --generations 5 --trials 1", ""),
    ("bounded", "models/production.xlsx", "2", "--population 12 --generations 4", "D5=5;A20=note"),
    ("broken", "models/missing.xlsx", "3", "", ""),
    ("tilted", "models/production.xlsx", "4", "--population 10 --generations 6 --crossover 0.5", ""),
]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(args, cwd, env=None, stdin=None):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, input=stdin,
                          env=dict(os.environ, **(env or {})))


def alone(work, row):
    """The row's answer from `ombrix solve` itself: variables and objective."""
    name, book, seed, flags, inputs = row
    sets = [a for item in inputs.split(";") if item for a in ("--set", item)]
    r = run([OMBRIX, "solve", os.path.join(work, book), *MODEL, "--seed", seed, *flags.split(), *sets, "--json",
             "--quiet", "-o", os.path.join(work, "alone.xlsx")], work)
    check(r.returncode == 0, f"solve alone, row {name}: {r.stderr}")
    result = json.loads(r.stdout)
    return result["variables"], result["objective"]


def results_of(folder, number):
    path = os.path.join(folder, f"row-{number}.json")
    if not os.path.exists(path):
        return None
    return json.load(open(path))


with tempfile.TemporaryDirectory() as work:
    os.mkdir(os.path.join(work, "models"))
    shutil.copy(os.path.join(SOURCE, "examples", "production.xlsx"), os.path.join(work, "models"))
    manifest = os.path.join(work, "sweep.csv")
    with open(manifest, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["name", "workbook", "--var", "--min", "--max", "--objective", "--goal", "--seed", "flags",
                    "inputs"])
        for name, book, seed, flags, inputs in ROWS:
            w.writerow([name, book, *MODEL[1::2], seed, flags, inputs])
    expected = [None if "missing" in row[1] else alone(work, row) for row in ROWS]
    elsewhere = tempfile.mkdtemp()  # the tasks run from another directory: paths are the manifest's

    # GNU parallel, two at a time: each task reads its row from PARALLEL_SEQ.
    r = run(["parallel", "-j2", "-N0", OMBRIX, "batch", manifest], elsewhere,
            stdin="".join(f"{i}\n" for i in range(len(ROWS))))
    check(r.returncode == 1, f"parallel: one row fails, so exit status 1, got {r.returncode}: {r.stderr}")
    folder = os.path.join(work, "sweep.results")
    for number, (row, want) in enumerate(zip(ROWS, expected), 1):
        got = results_of(folder, number)
        check(got is not None, f"row {number}: no result file")
        if got is None:
            continue
        check(got["name"] == row[0], f"row {number}: name {got['name']}")
        if want is None:
            check(got["status"] == 1 and got["result"] is None and "missing.xlsx" in got["messages"],
                  f"row {number}: the failure recorded: {got}")
            continue
        check(got["status"] == 0, f"row {number}: status {got['status']}: {got['messages']}")
        check((got["result"]["variables"], got["result"]["objective"]) == want,
              f"row {number}: {got['result']} is not solve's own {want}")
        check(os.path.exists(os.path.join(folder, f"row-{number}.xlsx")), f"row {number}: no solved workbook")

    r = run([OMBRIX, "batch", manifest, "--summary"], elsewhere)
    check(r.returncode == 1, f"--summary: status 1 with a failed row, got {r.returncode}")
    summary = list(csv.DictReader(open(os.path.join(folder, "summary.csv"))))
    check([s["name"] for s in summary] == [row[0] for row in ROWS], f"summary rows {summary}")
    for s, want in zip(summary, expected):
        if want is None:
            check(s["status"] == "1" and "missing.xlsx" in s["messages"], f"summary of the failed row: {s}")
            continue
        variables = ";".join(f"{k}={v!r}" if isinstance(v, float) else f"{k}={v}" for k, v in want[0].items())
        check(s["variables"] == variables, f"summary variables {s['variables']} against {variables}")
        (cell, value), = want[1].items()
        check(s["objective"] == cell and float(s["value"]) == value, f"summary objective {s}")

    # A Kubernetes indexed job's pod 1 and a Slurm array's task 4: rows 2 and 4 only.
    for variable, value, number in [("JOB_COMPLETION_INDEX", "1", 2), ("SLURM_ARRAY_TASK_ID", "4", 4)]:
        other = os.path.join(work, variable)
        r = run([OMBRIX, "batch", manifest, "--results", other], elsewhere, env={variable: value})
        check(r.returncode == 0, f"{variable}={value}: {r.stderr}")
        check(sorted(os.listdir(other)) == [f"row-{number}.json", f"row-{number}.xlsx"],
              f"{variable}={value} wrote {sorted(os.listdir(other))}")
        got = results_of(other, number)
        check(got is not None and (got["result"]["variables"], got["result"]["objective"]) == expected[number - 1],
              f"{variable}={value}: {got}")
    r = run([OMBRIX, "batch", manifest, "--task", "5"], elsewhere)
    check(r.returncode == 2 and "has 4 rows" in r.stderr, f"--task 5: {r.returncode} {r.stderr}")

    # Every row in one command, the failing one included.
    every = os.path.join(work, "every")
    r = run([OMBRIX, "batch", manifest, "--all", "--results", every], elsewhere, env={"PARALLEL_SEQ": "2"})
    check(r.returncode == 1, f"--all: status 1 with a failed row, got {r.returncode}")
    for number, want in enumerate(expected, 1):
        got = results_of(every, number)
        check(got is not None and (want is None or (got["result"]["variables"], got["result"]["objective"]) == want),
              f"--all, row {number}: {got}")
    check(os.path.exists(os.path.join(every, "summary.csv")), "--all writes the summary")
    shutil.rmtree(elsewhere)

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
