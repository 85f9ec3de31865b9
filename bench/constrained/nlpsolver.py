#!/usr/bin/python3
"""LibreOffice's NLPSolver (DEPS and SCO) on the constrained and integer models of this folder, for
comparison with bench/constrained/run.sh.

    bench/constrained/nlpsolver.py [--solvers DEPS,SCO] [--runs 5] [--seconds 10] [--swarm 70]
                                   [--models beam,g06] [--deb FILE]

Each model is read from the spreadsheet Solver's names its workbook keeps (solver_opt, solver_typ,
solver_adj, solver_lhsN/relN/rhsN) and given to NLPSolver as its own constraints: <=, = and >= as
they are, whole-number and binary variables as its INTEGER and BINARY constraints. NLPSolver has
no all-different constraint: such a group becomes whole numbers within 1 to its size and one more
constraint, that a helper cell counting its distinct values (=SUMPRODUCT(1/COUNTIF(R,R))) equals
the size. NLPSolver has no time limit either: two shorter runs measure a model's speed (the first also
warms up Java), and each run then gets the learning cycles that take about --seconds (with the
stagnation limit as high, so that it does not stop sooner; it may still end sooner once its swarm
has converged). No seed: --runs independent runs.

A run counts as reaching the optimum (optima.tsv) when, with its solution written into the
variables and the sheet recalculated, the objective is within 1e-4 relative of it (at least 1e-4
absolute, as run.sh counts) and every constraint holds within 1e-6 relative to its right side (at
least 1e-6), whole numbers within 1e-6, an all-different group a permutation. Prints a Markdown
table: per model and solver the runs that reached it, the median seconds of a run, the cycles,
and the best objective of each run (a run whose answer breaks a constraint is marked *).

Runs as bench/nlpsolver.py does (LibreOffice with its Java bridge, scripts/setup --bench, and a
user that is not root).
"""

import argparse
import os
import re
import shutil
import statistics
import sys
import tempfile
import time
import zipfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

import uno  # noqa: E402
from com.sun.star.sheet import SolverConstraint  # noqa: E402
from com.sun.star.sheet.SolverConstraintOperator import BINARY, EQUAL, GREATER_EQUAL, INTEGER, LESS_EQUAL  # noqa: E402

from nlpsolver import SERVICES, Office, address, extension  # noqa: E402
from nlpsolver import cells as one_block  # noqa: E402

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
OPERATORS = {1: LESS_EQUAL, 2: EQUAL, 3: GREATER_EQUAL, 4: INTEGER, 5: BINARY}
REACHED = 1e-4
TOLERANCE = 1e-6


def solver_names(path):
    """The workbook's solver_* names: {name: formula text}."""
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read("xl/workbook.xml"))
    return {d.get("name"): d.text or "" for d in root.iter(MAIN + "definedName")
            if d.get("name", "").startswith("solver_")}


def cells(ref):
    """'sheet!$A$1:$D$1' (or several, comma-separated) -> [(column, row), ...] zero-based, row by row."""
    out = []
    for part in ref.split(","):
        out += one_block(part.split("!")[-1].replace("$", ""))
    return out


def a1(cell):
    c, r = cell
    s = ""
    c += 1
    while c:
        c, k = divmod(c - 1, 26)
        s = chr(65 + k) + s
    return "%s%d" % (s, r + 1)


def read_model(path):
    """(objective cell, maximise, variable cells, constraints: (lhs cells, rel, rhs number or cells))."""
    names = solver_names(path)
    constraints = []
    for i in range(1, int(names.get("solver_num", "0")) + 1):
        rel = int(names["solver_rel%d" % i])
        rhs = names.get("solver_rhs%d" % i, "")
        if rel <= 3:
            rhs = float(rhs) if re.match(r"^-?[0-9.eE+-]+$", rhs) else cells(rhs)
        constraints.append((cells(names["solver_lhs%d" % i]), rel, rhs))
    return cells(names["solver_opt"])[0], names.get("solver_typ", "1") == "1", cells(names["solver_adj"]), constraints


class Model:
    """A model opened in LibreOffice and described to a solver."""

    def __init__(self, office, path):
        self.doc = office.open(path)
        self.sheet = self.doc.getCurrentController().getActiveSheet().getRangeAddress().Sheet
        self.table = self.doc.getSheets().getByIndex(self.sheet)
        self.objective, self.maximise, self.variables, self.constraints = read_model(path)
        self.solver_constraints = []
        self.groups = []
        helper_row = 999
        for lhs, rel, rhs in self.constraints:
            if rel == 6:
                # No all-different: whole numbers 1..n whose distinct count is n.
                self.groups.append(lhs)
                for v in lhs:
                    self.add(v, INTEGER, 0.0)
                    self.add(v, GREATER_EQUAL, 1.0)
                    self.add(v, LESS_EQUAL, float(len(lhs)))
                rng = "%s:%s" % (a1(lhs[0]), a1(lhs[-1]))
                helper = (0, helper_row)
                helper_row += 1
                self.table.getCellByPosition(*helper).setFormula("=SUMPRODUCT(1/COUNTIF(%s;%s))" % (rng, rng))
                self.add(helper, EQUAL, float(len(lhs)))
                continue
            for k, cell in enumerate(lhs):
                if rel >= 4:
                    self.add(cell, OPERATORS[rel], 0.0)
                elif isinstance(rhs, float):
                    self.add(cell, OPERATORS[rel], rhs)
                else:
                    right = rhs[k] if len(rhs) == len(lhs) else rhs[0]
                    self.add(cell, OPERATORS[rel], address(self.sheet, right))
        self.doc.calculateAll()

    def add(self, cell, operator, right):
        c = SolverConstraint()
        c.Left = address(self.sheet, cell)
        c.Operator = operator
        c.Right = right
        self.solver_constraints.append(c)

    def value(self, cell):
        return self.table.getCellByPosition(*cell).getValue()

    def check(self, solution):
        """Writes solution into the variables, recalculates; (objective, whether every constraint holds)."""
        for v, x in zip(self.variables, solution):
            self.table.getCellByPosition(*v).setValue(x)
        self.doc.calculateAll()
        ok = True
        for lhs, rel, rhs in self.constraints:
            values = [self.value(c) for c in lhs]
            if rel == 4:
                ok = ok and all(abs(x - round(x)) <= TOLERANCE for x in values)
            elif rel == 5:
                ok = ok and all(min(abs(x), abs(x - 1)) <= TOLERANCE for x in values)
            elif rel == 6:
                ok = ok and sorted(round(x) for x in values) == list(range(1, len(values) + 1)) and all(
                    abs(x - round(x)) <= TOLERANCE for x in values)
            else:
                for k, x in enumerate(values):
                    r = rhs if isinstance(rhs, float) else self.value(rhs[k] if len(rhs) == len(lhs) else rhs[0])
                    slack = TOLERANCE * max(1.0, abs(r))
                    if (rel == 1 and x > r + slack) or (rel == 3 and x < r - slack) or (rel == 2 and abs(x - r) > slack):
                        ok = False
        return self.value(self.objective), ok

    def close(self):
        self.doc.close(True)


def solve(office, service, model, swarm, cycles):
    solver = office.smgr.createInstanceWithContext(service, office.context)
    solver.Document = model.doc
    solver.Objective = address(model.sheet, model.objective)
    solver.Variables = tuple(address(model.sheet, v) for v in model.variables)
    solver.Constraints = tuple(model.solver_constraints)
    solver.Maximize = model.maximise
    for name, value in (("SwarmSize", uno.Any("long", swarm)), ("LearningCycles", uno.Any("long", cycles)),
                        ("EnhancedSolverStatus", False), ("AssumeNonNegative", False),
                        ("UseRandomStartingPoint", True), ("StagnationLimit", uno.Any("long", cycles))):
        uno.invoke(solver, "setPropertyValue", (name, value))
    started = time.time()
    solver.solve()
    seconds = time.time() - started
    return list(solver.Solution), seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--solvers", default="DEPS,SCO")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--swarm", type=int, default=70)
    parser.add_argument("--models", default="")
    parser.add_argument("--deb", default="")
    args = parser.parse_args()
    if os.geteuid() == 0:
        sys.exit("nlpsolver.py: run it as a user that is not root (unopkg refuses root)")
    optima = []
    with open(os.path.join(HERE, "optima.tsv")) as f:
        next(f)
        for line in f:
            name, goal, optimum, what = line.rstrip("\n").split("\t")
            if not args.models or name in args.models.split(","):
                optima.append((name, float(optimum), what))
    solvers = args.solvers.split(",")
    work = tempfile.mkdtemp(prefix="ombrix-nlpsolver-")
    office = Office(work, extension(work, args.deb))
    try:
        print("| Model | Optimum | Solver | Reached | Median s | Cycles | Best found per run |")
        print("|---|---|---|---|---|---|---|")
        for name, optimum, what in optima:
            for s in solvers:
                model = Model(office, os.path.join(HERE, name + ".xlsx"))
                try:
                    # Twice: the first run also warms up the Java machine.
                    cycles = 100
                    for share in (0.1, 0.5):
                        _, probe = solve(office, SERVICES[s], model, args.swarm, cycles)
                        cycles = max(100, int(cycles * share * args.seconds / max(probe, 1e-3)))
                    cycles *= 2
                    reached, times, found = 0, [], []
                    for _ in range(args.runs):
                        solution, seconds = solve(office, SERVICES[s], model, args.swarm, cycles)
                        value, ok = model.check(solution)
                        hit = ok and abs(value - optimum) <= REACHED * max(1.0, abs(optimum))
                        reached += hit
                        times.append(seconds)
                        found.append("%.6g%s" % (value, "" if ok else "*"))
                finally:
                    model.close()
                print(f"| {name} | {optimum:.10g} | {s} | {reached} of {args.runs} | "
                      f"{statistics.median(times):.1f} | {cycles} | {' '.join(found)} |")
                sys.stdout.flush()
    finally:
        office.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
