#!/usr/bin/python3
"""LibreOffice's evolutionary solvers (the NLPSolver extension: DEPS, differential evolution with
particle swarm, and SCO, social cognitive optimisation) on the models of bench/search.py, for
comparison with `ombrix solve`.

    bench/nlpsolver.py [--solvers DEPS,SCO] [--runs 5] [--cycles 200,1000] [--swarm 50]

Each run is a solve of the workbook with a swarm of --swarm agents for each number of learning
cycles given (about swarm x cycles evaluations), the variables bounded by the workbook's minimum
and maximum cells. NLPSolver has no seed: its runs are --runs independent draws. Prints, per model
and solver, the median and best distance from the known optimum (as bench/search.py does) and the
median seconds a run took.

Needs LibreOffice with its Java bridge (scripts/setup --bench) and a user that is not root
(unopkg refuses root): the extension comes out of the libreoffice-nlpsolver package (fetched
with apt-get download, or --deb FILE), is zipped as an .oxt and added to a private profile.
"""

import argparse
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.table import CellAddress
from com.sun.star.sheet import SolverConstraint
from com.sun.star.sheet.SolverConstraintOperator import GREATER_EQUAL, LESS_EQUAL

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from search import MODELS, REACHED, ROOT  # noqa: E402

SERVICES = {"DEPS": "com.sun.star.comp.Calc.NLPSolver.DEPSSolverImpl",
            "SCO": "com.sun.star.comp.Calc.NLPSolver.SCOSolverImpl"}


def extension(work, deb):
    """The NLPSolver extension as an .oxt, from its Debian package."""
    if not deb:
        subprocess.run(["apt-get", "download", "libreoffice-nlpsolver"], cwd=work, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deb = glob.glob(os.path.join(work, "libreoffice-nlpsolver_*.deb"))[0]
    unpacked = os.path.join(work, "deb")
    subprocess.run(["dpkg-deb", "-x", deb, unpacked], check=True)
    folder = glob.glob(os.path.join(unpacked, "usr/lib/libreoffice/share/extensions/nlpsolver"))[0]
    # unopkg knows an extension by its name's ending.
    oxt = os.path.join(work, "nlpsolver.oxt")
    os.rename(shutil.make_archive(os.path.join(work, "nlpsolver"), "zip", folder), oxt)
    return oxt


class Office:
    def __init__(self, work, oxt):
        self.profile = os.path.join(work, "profile")
        env = ["-env:UserInstallation=file://" + self.profile]
        subprocess.run(["unopkg", "add"] + env + [oxt], check=True, stdout=subprocess.DEVNULL)
        self.pipe = f"ombrixnlp{os.getpid()}"
        self.process = subprocess.Popen(
            ["soffice", "--headless", "--invisible", "--norestore", "--nologo", "--nodefault"] + env +
            [f"--accept=pipe,name={self.pipe};urp;StarOffice.ComponentContext"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.time() + 60
        while True:
            try:
                self.context = resolver.resolve(f"uno:pipe,name={self.pipe};urp;StarOffice.ComponentContext")
                break
            except Exception:
                if time.time() > deadline:
                    raise
                time.sleep(0.5)
        self.smgr = self.context.ServiceManager
        self.desktop = self.smgr.createInstanceWithContext("com.sun.star.frame.Desktop", self.context)

    def open(self, path):
        hidden = PropertyValue()
        hidden.Name, hidden.Value = "Hidden", True
        return self.desktop.loadComponentFromURL(uno.systemPathToFileUrl(os.path.abspath(path)), "_blank", 0,
                                                 (hidden,))

    def close(self):
        try:
            self.desktop.terminate()
        except Exception:
            pass
        self.process.wait(timeout=30)


def cells(text):
    """'B3:K3' -> [(column, row), ...] zero-based, one row or one column."""
    def one(a1):
        letters = "".join(c for c in a1 if c.isalpha())
        col = 0
        for c in letters:
            col = col * 26 + ord(c.upper()) - ord("A") + 1
        return col - 1, int(a1[len(letters):]) - 1
    first, _, last = text.partition(":")
    (c1, r1), (c2, r2) = one(first), one(last or first)
    return [(c, r) for r in range(r1, r2 + 1) for c in range(c1, c2 + 1)]


def flag(flags, name):
    words = flags.split()
    return words[words.index(name) + 1]


def address(sheet, cell):
    a = CellAddress()
    a.Sheet, a.Column, a.Row = sheet, cell[0], cell[1]
    return a


def solve(office, service, path, flags, swarm, cycles):
    doc = office.open(path)
    try:
        sheet = doc.getCurrentController().getActiveSheet().getRangeAddress().Sheet
        sheets = doc.getSheets()
        table = sheets.getByIndex(sheet)
        variables = cells(flag(flags, "--var"))
        constraints = []
        for bound, operator in (("--min", GREATER_EQUAL), ("--max", LESS_EQUAL)):
            for v, b in zip(variables, cells(flag(flags, bound))):
                c = SolverConstraint()
                c.Left = address(sheet, v)
                c.Operator = operator
                c.Right = table.getCellByPosition(b[0], b[1]).getValue()
                constraints.append(c)
        solver = office.smgr.createInstanceWithContext(service, office.context)
        solver.Document = doc
        solver.Objective = address(sheet, cells(flag(flags, "--objective"))[0])
        solver.Variables = tuple(address(sheet, v) for v in variables)
        solver.Constraints = tuple(constraints)
        solver.Maximize = flag(flags, "--goal") == "maximise"
        for name, value in (("SwarmSize", uno.Any("long", swarm)), ("LearningCycles", uno.Any("long", cycles)),
                            ("EnhancedSolverStatus", False), ("AssumeNonNegative", False),
                            ("UseRandomStartingPoint", True), ("StagnationLimit", uno.Any("long", cycles))):
            uno.invoke(solver, "setPropertyValue", (name, value))
        started = time.time()
        solver.solve()
        seconds = time.time() - started
        return solver.ResultValue, seconds
    finally:
        doc.close(True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--solvers", default="DEPS,SCO")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cycles", default="200,1000")
    parser.add_argument("--swarm", type=int, default=50)
    parser.add_argument("--deb", default="")
    args = parser.parse_args()
    if os.geteuid() == 0:
        sys.exit("nlpsolver.py: run it as a user that is not root (unopkg refuses root)")
    solvers = args.solvers.split(",")
    work = tempfile.mkdtemp(prefix="ombrix-nlpsolver-")
    office = Office(work, extension(work, args.deb))
    try:
        print(f"Median / best distance from the known optimum over {args.runs} runs (runs within {REACHED:g}), "
              "median seconds")
        for cycles in (int(c) for c in args.cycles.split(",")):
            print(f"\n### swarm {args.swarm} x {cycles} learning cycles\n")
            print("| model | " + " | ".join(solvers) + " |")
            print("|---|" + "---|" * len(solvers))
            for name, book, flags, maximise, optimum in MODELS:
                row = []
                for s in solvers:
                    found, times = [], []
                    for _ in range(args.runs):
                        value, seconds = solve(office, SERVICES[s], os.path.join(ROOT, book), flags, args.swarm,
                                               cycles)
                        found.append(optimum - value if maximise else value - optimum)
                        times.append(seconds)
                    reached = sum(1 for d in found if abs(d) < REACHED)
                    row.append(f"{statistics.median(found):.3g} / {min(found, key=abs):.3g} ({reached}/{len(found)}), "
                               f"{statistics.median(times):.1f} s")
                print(f"| {name} | " + " | ".join(row) + " |")
                sys.stdout.flush()
    finally:
        office.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
