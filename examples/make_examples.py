#!/usr/bin/python3
"""Writes the example workbooks next to this script.

Each model keeps its variable cells, their bounds and the objective on one sheet, with a
note on the sheet giving the command that solves it. Regenerate with
    /usr/bin/python3 examples/make_examples.py
(needs python3-openpyxl, which `scripts/setup --test` installs). The .xlsx files are checked
in, so running the examples needs nothing but the build.
"""

import os
import sys

from openpyxl import Workbook
from openpyxl.styles import Font

HERE = os.path.dirname(os.path.abspath(__file__))
BOLD = Font(bold=True)


def title(ws, text, command):
    ws["A1"] = text
    ws["A1"].font = BOLD
    ws["A20"] = "Solve with:"
    ws["A21"] = command
    ws.column_dimensions["A"].width = 26


def production():
    """Three products sharing a machine: price falls with the quantity sold, unit cost
    rises with it, and hours beyond capacity cost overtime at a growing rate."""
    wb = Workbook()
    ws = wb.active
    ws.title = "Plan"
    title(ws, "Production plan: choose the quantities that maximise profit",
          "ombrix solve examples/production.xlsx --var B3:D3 --min B4:D4 --max B5:D5 "
          "--objective B16 --goal maximise")
    ws.append([])
    ws["A2"], ws["B2"], ws["C2"], ws["D2"] = "Product", "Widgets", "Gadgets", "Gizmos"
    rows = [
        ("Quantity", 10, 10, 10),
        ("Minimum", 0, 0, 0),
        ("Maximum", 120, 90, 60),
        ("List price", 40, 55, 80),
        ("Price drop per unit", 0.15, 0.3, 0.7),
        ("Base unit cost", 9, 14, 20),
        ("Machine hours per unit", 1.5, 2.0, 3.0),
    ]
    for r, row in enumerate(rows, start=3):
        for c, value in enumerate(row):
            ws.cell(row=r, column=1 + c, value=value)
    for col in "BCD":
        ws[f"{col}10"] = f"={col}6-{col}7*{col}3"                 # price at that quantity
        ws[f"{col}11"] = f"={col}3*{col}10"                       # revenue
        ws[f"{col}12"] = f"={col}8*{col}3^1.15"                   # cost grows faster than volume
    ws["A10"], ws["A11"], ws["A12"] = "Price", "Revenue", "Cost"
    ws["A13"], ws["B13"] = "Machine hours", "=SUMPRODUCT(B9:D9,B3:D3)"
    ws["A14"], ws["B14"] = "Capacity (hours)", 240
    ws["A15"], ws["B15"] = "Overtime cost", "=2*MAX(0,B13-B14)^2"
    ws["A16"], ws["B16"] = "Profit", "=SUM(B11:D11)-SUM(B12:D12)-B15"
    ws["A16"].font = BOLD
    return wb


def rastrigin():
    """The Rastrigin function in three variables: a bowl covered in local minima, with the
    global minimum 0 at the origin."""
    wb = Workbook()
    ws = wb.active
    ws.title = "Rastrigin"
    title(ws, "Rastrigin function: find the lowest point among many local minima",
          "ombrix solve examples/rastrigin.xlsx --var B3:D3 --min B4:D4 --max B5:D5 "
          "--objective B8 --goal minimise --trials 5")
    ws["A2"], ws["B2"], ws["C2"], ws["D2"] = "", "x1", "x2", "x3"
    for r, (label, value) in enumerate([("x", 2.5), ("Minimum", -5.12), ("Maximum", 5.12)], start=3):
        ws.cell(row=r, column=1, value=label)
        for c in range(3):
            ws.cell(row=r, column=2 + c, value=value)
    ws["A6"] = "Term"
    for col in "BCD":
        ws[f"{col}6"] = f"={col}3^2-10*COS(2*PI()*{col}3)"
    ws["A8"], ws["B8"] = "f(x)", "=10*3+SUM(B6:D6)"
    ws["A8"].font = BOLD
    return wb


def portfolio():
    """Four assets: weights between 0 and 0.6 that should add up to 1, chosen to maximise
    expected return less a penalty for risk (mean-variance, risk aversion 3)."""
    wb = Workbook()
    ws = wb.active
    ws.title = "Portfolio"
    title(ws, "Portfolio: weights that trade expected return against risk",
          "ombrix solve examples/portfolio.xlsx --var B3:E3 --min B4:E4 --max B5:E5 "
          "--objective B17 --goal maximise --generations 200")
    assets = ["Bonds", "Equities", "Property", "Commodities"]
    ws["A2"] = "Asset"
    for c, name in enumerate(assets):
        ws.cell(row=2, column=2 + c, value=name)
    data = [
        ("Weight", [0.25, 0.25, 0.25, 0.25]),
        ("Minimum", [0, 0, 0, 0]),
        ("Maximum", [0.6, 0.6, 0.6, 0.6]),
        ("Expected return", [0.03, 0.08, 0.06, 0.05]),
    ]
    for r, (label, values) in enumerate(data, start=3):
        ws.cell(row=r, column=1, value=label)
        for c, v in enumerate(values):
            ws.cell(row=r, column=2 + c, value=v)
    ws["A8"] = "Covariance"
    cov = [
        [0.0016, 0.0006, 0.0004, 0.0002],
        [0.0006, 0.0225, 0.0080, 0.0050],
        [0.0004, 0.0080, 0.0144, 0.0030],
        [0.0002, 0.0050, 0.0030, 0.0400],
    ]
    for r, row in enumerate(cov):
        ws.cell(row=9 + r, column=1, value=assets[r])
        for c, v in enumerate(row):
            ws.cell(row=9 + r, column=2 + c, value=v)
    # Covariance times weights, one asset per column, then the variance of the portfolio.
    ws["A13"] = "Covariance x weight"
    for c, col in enumerate("BCDE"):
        ws[f"{col}13"] = f"=SUMPRODUCT(B{9 + c}:E{9 + c},$B$3:$E$3)"
    ws["A14"], ws["B14"] = "Expected return", "=SUMPRODUCT(B3:E3,B6:E6)"
    ws["A15"], ws["B15"] = "Variance", "=SUMPRODUCT(B3:E3,B13:E13)"
    ws["A16"], ws["B16"] = "Weights off 100%", "=SUM(B3:E3)-1"
    ws["A17"], ws["B17"] = "Score", "=B14-3*B15-10*B16^2"
    ws["A17"].font = BOLD
    return wb


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else HERE
    for name, make in [("production", production), ("rastrigin", rastrigin), ("portfolio", portfolio)]:
        path = os.path.join(out, name + ".xlsx")
        make().save(path)
        print(path)


if __name__ == "__main__":
    main()
