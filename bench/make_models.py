#!/usr/bin/python3
"""Writes the four standard 10-variable test models as workbooks in bench/models/.

Each sheet holds the variables in B3:K3, their minima in B4:K4 and maxima in B5:K5, one term
per variable in row 6 and the objective (to minimise) in B8. The models are written as .csv and
saved as .xlsx by `ombrix calc`, so nothing but the build is needed:
    bench/make_models.py [build/app/ombrix]
The other three benchmark models are examples/rastrigin.xlsx, production.xlsx and portfolio.xlsx.
"""

import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
COLUMNS = "BCDEFGHIJK"
N = len(COLUMNS)

# name: (minimum, maximum, start value, term of column c, objective over the terms in B6:K6)
MODELS = {
    # Ackley: a nearly flat plain with a deep hole at the origin; minimum 0.
    "Ackley": (-32.768, 32.768, 20.0, lambda c: f"COS(2*PI()*{c}3)",
               f"-20*EXP(-0.2*SQRT(SUMSQ(B3:K3)/{N}))-EXP(SUM(B6:K6)/{N})+20+EXP(1)"),
    # Rosenbrock: a long curved valley; minimum 0 at (1 ... 1). Nine terms, the last column none.
    "Rosenbrock": (-5.0, 10.0, -2.0,
                   lambda c: (f"100*({COLUMNS[COLUMNS.index(c) + 1]}3-{c}3^2)^2+(1-{c}3)^2"
                              if c != COLUMNS[-1] else "0"),
                   "SUM(B6:K6)"),
    # Rastrigin: a bowl covered in local minima; minimum 0 at the origin.
    "Rastrigin": (-5.12, 5.12, 2.5, lambda c: f"{c}3^2-10*COS(2*PI()*{c}3)", f"10*{N}+SUM(B6:K6)"),
    # Schwefel: the best point far from the next best, near the corner of the box; minimum
    # about 1.2728e-4 at 420.9687... in every variable with the usual constant 418.9829.
    "Schwefel": (-500.0, 500.0, 0.0, lambda c: f"{c}3*SIN(SQRT(ABS({c}3)))", f"418.9829*{N}-SUM(B6:K6)"),
}


def csv_text(name, model):
    lo, hi, start, term, objective = model
    rows = [
        [f"{name} function of {N} variables (minimise B8)"],
        [""] + [f"x{j + 1}" for j in range(N)],
        ["x"] + [repr(start)] * N,
        ["Minimum"] + [repr(lo)] * N,
        ["Maximum"] + [repr(hi)] * N,
        ["Term"] + ["=" + term(c) for c in COLUMNS],
        [],
        ["f(x)", "=" + objective],
    ]
    return "".join(",".join(row) + "\n" for row in rows)


def main():
    ombrix = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "app", "ombrix")
    out = os.path.join(HERE, "models")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for name, model in MODELS.items():
            csv = os.path.join(tmp, name + ".csv")
            with open(csv, "w") as f:
                f.write(csv_text(name, model))
            target = os.path.join(out, name.lower() + "10.xlsx")
            subprocess.run([ombrix, "calc", csv, "-o", target], check=True, stdout=subprocess.DEVNULL)
            print(target)


if __name__ == "__main__":
    main()
