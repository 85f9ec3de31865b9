#!/usr/bin/env python3
"""How often the engine agrees with the values the spreadsheet program cached in workbooks it
saved: every formula cell and every member of an array, cells following RAND, NOW, TODAY...
left out. Runs build/bench/agreement on each .xlsx/.xlsm under the folders given (one process
a workbook, with a time limit), prints the agreement of all compared cells and of spilled
members, then the disagreements grouped by cause: the functions of the formula to blame
(one whose inputs agree) and what the spreadsheet and we give (a number, text, which error).

  bench/agreement.py /work/proxy                 # summary and causes
  bench/agreement.py /work/proxy --cells 5       # with up to 5 example cells a cause
  bench/agreement.py /work/proxy --tsv out.tsv   # every disagreement, one a line
"""
import argparse
import collections
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FUNCTION = re.compile(r"(?<![A-Za-z0-9_.\]])((?:_xlfn\.|_xlws\.|_xlpm\.)*[A-Z][A-Z0-9.]*)\(", re.I)
ERROR = re.compile(r"^#(NULL!|DIV/0!|VALUE!|REF!|NAME\?|NUM!|N/A|GETTING_DATA|SPILL!|CALC!|FIELD!|BLOCKED!|UNKNOWN!|CONNECT!|BUSY!)$")


def kind_of(shown):
    if shown == "(empty)":
        return "empty"
    if shown.startswith('"'):
        return "text"
    if ERROR.match(shown):
        return shown
    if shown in ("TRUE", "FALSE"):
        return "logical"
    return "number"


def functions_of(formula):
    names = []
    for name in FUNCTION.findall(formula):
        name = re.sub(r"^(_xlfn\.|_xlws\.)+", "", name.upper())
        if name.startswith("_XLPM."):
            continue
        if name not in names:
            names.append(name)
    return names


def workbooks(folders):
    for folder in folders:
        for root, _, files in os.walk(folder):
            for f in sorted(files):
                if f.lower().endswith((".xlsx", ".xlsm")):
                    yield os.path.join(root, f)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folders", nargs="+")
    parser.add_argument("--tool", default=os.path.join(HERE, "..", "build", "bench", "agreement"))
    parser.add_argument("--timeout", type=float, default=120)
    parser.add_argument("--cells", type=int, default=2, help="example cells shown a cause")
    parser.add_argument("--causes", type=int, default=60, help="causes shown")
    parser.add_argument("--tsv", help="write every disagreement to this file")
    parser.add_argument("--books", action="store_true", help="the agreement of each workbook")
    args = parser.parse_args()

    total = collections.Counter()
    causes = collections.defaultdict(lambda: [0, 0, set(), []])  # cells, root formulas, books, examples
    rows = []
    per_book = []
    failed = []
    for path in workbooks(args.folders):
        try:
            run = subprocess.run([args.tool, path], capture_output=True, text=True, timeout=args.timeout,
                                 errors="replace")
            out = run.stdout
            if run.returncode not in (0, 1):
                failed.append((path, "exit status %d %s" % (run.returncode, run.stderr.strip()[-200:])))
                continue
        except subprocess.TimeoutExpired:
            failed.append((path, "took over %g s" % args.timeout))
            continue
        book_cells = []
        for line in out.splitlines():
            f = line.split("\t")
            if f[0] == "#book":
                n = list(map(int, f[2:7]))
                for key, v in zip(("compared", "agreeing", "spilled", "spilled agreeing", "left out"), n):
                    total[key] += v
                per_book.append((path, n))
            elif f[0] == "#failed":
                failed.append((path, f[2]))
            elif len(f) == 6:
                book_cells.append(f)
        # The formula to blame for each differing cell: its own when it is a root, otherwise
        # it follows one, counted under "follows another difference".
        for cell, kind, root, formula, cached, ours in book_cells:
            rows.append((path, cell, kind, root, formula, cached, ours))
            if root == "1":
                names = functions_of(formula) or ["(no function)"]
                key = (" ".join(names[:3]), kind_of(cached) + " -> " + kind_of(ours))
            else:
                key = ("(follows another difference)", "")
            c = causes[key]
            c[0] += 1
            c[2].add(path)
            if len(c[3]) < args.cells:
                c[3].append("%s %s [%s] %s: cached %s, ours %s" % (os.path.relpath(path, args.folders[0]), cell,
                                                                 kind, formula[:120], cached[:40], ours[:40]))

    def pct(a, b):
        return "%.2f%%" % (100.0 * a / b) if b else "-"

    print("workbooks: %d (%d failed)" % (len(per_book), len(failed)))
    print("compared cells: %d / %d agree (%s); left out as following RAND/NOW/TODAY: %d" % (
        total["agreeing"], total["compared"], pct(total["agreeing"], total["compared"]), total["left out"]))
    print("spilled members: %d / %d agree (%s)" % (total["spilled agreeing"], total["spilled"],
                                                 pct(total["spilled agreeing"], total["spilled"])))
    for path, why in failed:
        print("failed: %s: %s" % (path, why))
    if args.books:
        for path, n in sorted(per_book, key=lambda b: b[1][0] - b[1][1], reverse=True):
            if n[0] != n[1]:
                print("  %6d of %6d differ  %s" % (n[0] - n[1], n[0], path))
    print("\ncauses (cells, workbooks: functions of the formula to blame; cached -> ours):")
    for key, (cells, _, books, examples) in sorted(causes.items(), key=lambda kv: -kv[1][0])[:args.causes]:
        print("%7d %4d  %s  %s" % (cells, len(books), key[0], key[1]))
        for e in examples:
            print("              " + e)
    if args.tsv:
        with open(args.tsv, "w") as out:
            for r in rows:
                out.write("\t".join(r) + "\n")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:  # the output cut short (| head)
        sys.exit(0)
