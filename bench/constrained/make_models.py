#!/usr/bin/python3
"""Writes the constrained and integer benchmark models next to this script.

Each model is a one-sheet workbook whose model is kept in the spreadsheet Solver's hidden
names, as the spreadsheet writes them, so `ombrix solve MODEL.xlsx` runs it with no model
flags. Each model's known optimum, found here by exhaustive search or linear algebra, or from
the literature, goes to optima.tsv. Needs nothing but Python's standard library:

    python3 bench/constrained/make_models.py
"""

import itertools
import math
import os
import re
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def col(c):
    s = ""
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def esc(text):
    return str(text).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def write_model(name, cells, names, goal, optimum, note):
    """cells: {(row, col): number or "=formula"}, rows and columns from 0; names: (name, formula)."""
    rows = {}
    for (r, c), v in sorted(cells.items()):
        ref = "%s%d" % (col(c), r + 1)
        if isinstance(v, str) and v.startswith("="):
            xml = '<c r="%s"><f>%s</f></c>' % (ref, esc(v[1:]))
        else:
            xml = '<c r="%s"><v>%r</v></c>' % (ref, v)
        rows.setdefault(r, []).append(xml)
    sheet = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>' +
             "".join('<row r="%d">%s</row>' % (r + 1, "".join(cs)) for r, cs in sorted(rows.items())) +
             "</sheetData></worksheet>")
    defined = "".join('<definedName name="%s" localSheetId="0" hidden="1">%s</definedName>' % (n, esc(v))
                      for n, v in names)
    book = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
            '<sheets><sheet name="%s" sheetId="1" r:id="rId1"/></sheets><definedNames>%s</definedNames>'
            '<calcPr fullCalcOnLoad="1"/></workbook>' % (name, defined))
    types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             '<Default Extension="xml" ContentType="application/xml"/>'
             '<Override PartName="/xl/workbook.xml" '
             'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
             '<Override PartName="/xl/worksheets/sheet1.xml" '
             'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>')
    rel = '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/%s" Target="%s"/>'
    rels = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">%s</Relationships>'
    with zipfile.ZipFile(os.path.join(HERE, name + ".xlsx"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", types)
        z.writestr("_rels/.rels", rels % (rel % ("officeDocument", "xl/workbook.xml")))
        z.writestr("xl/workbook.xml", book)
        z.writestr("xl/_rels/workbook.xml.rels", rels % (rel % ("worksheet", "worksheets/sheet1.xml")))
        z.writestr("xl/worksheets/sheet1.xml", sheet)
    return (name, goal, optimum, note)


def solver_names(sheet, objective, goal, adj, constraints):
    """constraints: (lhs, rel, rhs) with rel 1 <=, 2 =, 3 >=, 4 int, 5 bin, 6 alldiff."""
    ref = lambda r: ",".join("%s!%s" % (sheet, p) for p in r.split(","))
    names = [("solver_opt", ref(objective)), ("solver_typ", "1" if goal == "max" else "2"), ("solver_val", "0"),
             ("solver_adj", ref(adj)), ("solver_num", str(len(constraints)))]
    for i, (lhs, rel, rhs) in enumerate(constraints, 1):
        names.append(("solver_lhs%d" % i, ref(lhs)))
        names.append(("solver_rel%d" % i, str(rel)))
        if rel >= 4:
            rhs = '"%s"' % {4: "integer", 5: "binary", 6: "AllDifferent"}[rel]
        elif not re.match(r"^-?[0-9.]+$", rhs):
            rhs = ref(rhs)
        names.append(("solver_rhs%d" % i, rhs))
    names.append(("solver_neg", "2"))
    return names


def lcg(seed):
    while True:
        seed = (seed * 1103515245 + 12345) % 2147483648
        yield seed


def knapsack():
    g = lcg(29)
    n = 30
    values = [10 + next(g) % 90 for _ in range(n)]
    weights = [5 + next(g) % 56 for _ in range(n)]
    capacity = sum(weights) // 2
    best = [0] * (capacity + 1)
    for v, w in zip(values, weights):
        for c in range(capacity, w - 1, -1):
            best[c] = max(best[c], best[c - w] + v)
    cells = {}
    for j in range(n):
        cells[(0, j)] = values[j]
        cells[(1, j)] = weights[j]
        cells[(2, j)] = 0
    last = col(n - 1)
    cells[(4, 0)] = "=SUMPRODUCT(A1:%s1,A3:%s3)" % (last, last)
    cells[(5, 0)] = "=SUMPRODUCT(A2:%s2,A3:%s3)" % (last, last)
    cells[(6, 0)] = capacity
    names = solver_names("knapsack", "$A$5", "max", "$A$3:$%s$3" % last,
                         [("$A$6", 1, "$A$7"), ("$A$3:$%s$3" % last, 5, "")])
    return write_model("knapsack", cells, names, "max", best[capacity], "30 items, binary, one weight limit")


def solve3(m, b):
    det = lambda a: (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0])
                     + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]))
    d = det(m)
    if abs(d) < 1e-12:
        return None
    out = []
    for k in range(3):
        mk = [row[:] for row in m]
        for i in range(3):
            mk[i][k] = b[i]
        out.append(det(mk) / d)
    return out


def blending():
    cost = [2.0, 3.5, 8.0]
    protein = [0.1, 0.3, 0.6]
    fibre = [0.5, 0.2, 0.1]
    need_protein, need_fibre = 0.32, 0.25
    # Rows a.x >= b, the bounds among them; the sum = 1 is always active.
    rows = [(protein, need_protein), (fibre, need_fibre)]
    for j in range(3):
        e = [0.0] * 3
        e[j] = 1.0
        rows.append((e, 0.0))
        rows.append(([-v for v in e], -1.0))
    best = None
    for a, b in itertools.combinations(rows, 2):
        x = solve3([[1.0, 1.0, 1.0], a[0], b[0]], [1.0, a[1], b[1]])
        if x is None or any(sum(p * q for p, q in zip(r, x)) < s - 1e-9 for r, s in rows):
            continue
        c = sum(p * q for p, q in zip(cost, x))
        best = c if best is None else min(best, c)
    cells = {(0, 0): 0.3, (0, 1): 0.3, (0, 2): 0.4}
    for j in range(3):
        cells[(1, j)] = cost[j]
        cells[(2, j)] = protein[j]
        cells[(3, j)] = fibre[j]
    cells[(5, 0)] = "=SUMPRODUCT(A2:C2,A1:C1)"
    cells[(6, 0)] = "=SUM(A1:C1)"
    cells[(7, 0)] = "=SUMPRODUCT(A3:C3,A1:C1)"
    cells[(8, 0)] = "=SUMPRODUCT(A4:C4,A1:C1)"
    names = solver_names("blending", "$A$6", "min", "$A$1:$C$1",
                         [("$A$1:$C$1", 3, "0"), ("$A$1:$C$1", 1, "1"), ("$A$7", 2, "1"),
                          ("$A$8", 3, str(need_protein)), ("$A$9", 3, str(need_fibre))])
    return write_model("blending", cells, names, "min", best, "three feeds, fractions summing to 1, two nutrients")


def pressure_vessel():
    cells = {(0, 0): 20, (0, 1): 10, (0, 2): 50, (0, 3): 100}
    cells[(2, 0)] = "=0.0625*A1"
    cells[(2, 1)] = "=0.0625*B1"
    cells[(4, 0)] = "=0.6224*A3*C1*D1+1.7781*B3*C1^2+3.1661*A3^2*D1+19.84*A3^2*C1"
    cells[(5, 0)] = "=-A3+0.0193*C1"
    cells[(6, 0)] = "=-B3+0.00954*C1"
    cells[(7, 0)] = "=-PI()*C1^2*D1-4/3*PI()*C1^3+1296000"
    names = solver_names("vessel", "$A$5", "min", "$A$1:$D$1",
                         [("$A$1:$B$1", 3, "1"), ("$A$1:$B$1", 1, "99"), ("$C$1:$D$1", 3, "10"),
                          ("$C$1", 1, "200"), ("$D$1", 1, "200"), ("$A$1:$B$1", 4, ""),
                          ("$A$6", 1, "0"), ("$A$7", 1, "0"), ("$A$8", 1, "0")])
    # Thicknesses in steps of 0.0625: 13 and 7 steps, R and L within [10, 200] (Kannan and Kramer;
    # Deb's mixed form: the optimum 6059.714 holds for these bounds, not for L up to 240).
    return write_model("vessel", cells, names, "min", 6059.714335, "pressure vessel, integer thicknesses")


def production():
    profit = [20, 30, 25]
    hours1, limit1 = [2, 3, 2.5], 120
    hours2, limit2 = [3, 1, 2], 100
    best = 0
    for x in itertools.product(range(51), repeat=3):
        if sum(a * b for a, b in zip(hours1, x)) <= limit1 and sum(a * b for a, b in zip(hours2, x)) <= limit2:
            best = max(best, sum(a * b for a, b in zip(profit, x)))
    cells = {(0, 0): 0, (0, 1): 0, (0, 2): 0}
    for j in range(3):
        cells[(1, j)] = profit[j]
        cells[(2, j)] = hours1[j]
        cells[(3, j)] = hours2[j]
    cells[(5, 0)] = "=SUMPRODUCT(A2:C2,A1:C1)"
    cells[(6, 0)] = "=SUMPRODUCT(A3:C3,A1:C1)"
    cells[(7, 0)] = "=SUMPRODUCT(A4:C4,A1:C1)"
    names = solver_names("production", "$A$6", "max", "$A$1:$C$1",
                         [("$A$1:$C$1", 3, "0"), ("$A$1:$C$1", 1, "50"), ("$A$1:$C$1", 4, ""),
                          ("$A$7", 1, str(limit1)), ("$A$8", 1, str(limit2))])
    return write_model("production", cells, names, "max", best, "three products in whole lots, two machines")


def gauss(a, b):
    n = len(b)
    m = [row[:] + [v] for row, v in zip(a, b)]
    for i in range(n):
        p = max(range(i, n), key=lambda r: abs(m[r][i]))
        m[i], m[p] = m[p], m[i]
        for r in range(n):
            if r != i:
                f = m[r][i] / m[i][i]
                m[r] = [x - f * y for x, y in zip(m[r], m[i])]
    return [m[i][n] / m[i][i] for i in range(n)]


def portfolio():
    mu = [0.08, 0.12, 0.10, 0.06]
    sigma = [[0.04, 0.006, 0.004, 0.002], [0.006, 0.09, 0.01, 0.003], [0.004, 0.01, 0.0625, 0.002],
             [0.002, 0.003, 0.002, 0.0225]]
    risk = 3.0
    # Maximise mu.w - risk w'Sw with sum w = 1: 2 risk S w + g 1 = mu, 1.w = 1.
    a = [[2 * risk * s for s in row] + [1.0] for row in sigma] + [[1.0] * 4 + [0.0]]
    w = gauss(a, mu + [1.0])[:4]
    assert all(0 < v < 1 for v in w), w
    best = sum(m * v for m, v in zip(mu, w)) - risk * sum(w[i] * sigma[i][j] * w[j] for i in range(4) for j in range(4))
    cells = {(0, j): 0.25 for j in range(4)}
    for j in range(4):
        cells[(1, j)] = mu[j]
        for i in range(4):
            cells[(9 + i, j)] = sigma[i][j]
        cells[(14, j)] = "=SUMPRODUCT(A%d:D%d,A1:D1)" % (10 + j, 10 + j)
    cells[(4, 0)] = "=SUMPRODUCT(A2:D2,A1:D1)-%g*SUMPRODUCT(A1:D1,A15:D15)" % risk
    cells[(5, 0)] = "=SUM(A1:D1)"
    names = solver_names("portfolio", "$A$5", "max", "$A$1:$D$1",
                         [("$A$1:$D$1", 3, "0"), ("$A$1:$D$1", 1, "1"), ("$A$6", 2, "1")])
    return write_model("portfolio", cells, names, "max", best, "four assets, weights summing to 1")


def tour():
    g = lcg(10)
    n = 10
    pts = [(next(g) % 100, next(g) % 100) for _ in range(n)]
    d = [[round(math.hypot(p[0] - q[0], p[1] - q[1]), 3) for q in pts] for p in pts]
    best = None
    for perm in itertools.permutations(range(1, n)):
        order = (0,) + perm
        if order[1] > order[-1]:
            continue  # each tour once, not also backwards
        length = sum(d[order[i]][order[(i + 1) % n]] for i in range(n))
        best = length if best is None else min(best, length)
    cells = {(0, j): j + 1 for j in range(n)}
    for i in range(n):
        for j in range(n):
            cells[(19 + i, j)] = d[i][j]
    for j in range(n):
        nxt = col((j + 1) % n)
        cells[(2, j)] = "=INDEX($A$20:$J$29,%s1,%s1)" % (col(j), nxt)
    cells[(4, 0)] = "=SUM(A3:J3)"
    names = solver_names("tour", "$A$5", "min", "$A$1:$J$1", [("$A$1:$J$1", 6, "")])
    return write_model("tour", cells, names, "min", best, "ten cities, the order all different")


def main():
    rows = [knapsack(), blending(), pressure_vessel(), production(), portfolio(), tour()]
    with open(os.path.join(HERE, "optima.tsv"), "w") as f:
        f.write("model\tgoal\toptimum\twhat\n")
        for name, goal, optimum, note in rows:
            f.write("%s\t%s\t%.10g\t%s\n" % (name, goal, optimum, note))


main()
