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


def welded_beam():
    # The welded beam of Ragsdell and Phillips (1976) in the form of the constrained-optimisation
    # literature (Coello 2000, Computers in Industry 41:113-127; Cagnina, Esquivel and Coello 2008,
    # Informatica 32:319-326, who list the best known cost 1.724852 at (h, l, t, b) = (0.205730,
    # 3.470489, 9.036624, 0.205730)). h, l, t, b in A1:D1; P = 6000 lb, L = 14 in, E = 30e6 psi,
    # G = 12e6 psi; minimise 1.10471 h^2 l + 0.04811 t b (14 + l) subject to
    #   tau <= 13600, tau = sqrt(t1^2 + 2 t1 t2 l / (2R) + t2^2), t1 = P / (sqrt(2) h l),
    #     t2 = M R / J, M = P (L + l/2), R = sqrt(l^2/4 + ((h+t)/2)^2),
    #     J = 2 sqrt(2) h l (l^2/12 + ((h+t)/2)^2)        (shear stress in the weld)
    #   sigma = 6 P L / (b t^2) <= 30000                  (bending stress)
    #   h - b <= 0, h >= 0.125                            (side constraints)
    #   0.10471 h^2 + 0.04811 t b (14 + l) <= 5           (cost side constraint)
    #   delta = 4 P L^3 / (E t^3 b) <= 0.25               (deflection)
    #   Pc = 4.013 E sqrt(t^2 b^6 / 36) / L^2 (1 - t/(2L) sqrt(E/(4G))) >= P   (buckling)
    #   0.1 <= h, b <= 2; 0.1 <= l, t <= 10.
    # At the optimum tau, sigma, buckling and h = b are active; solving those four equations
    # (Newton's method, below) gives 1.7248523086, the literature's 1.724852 to its digits.
    P, L, E, G = 6000.0, 14.0, 30e6, 12e6

    def parts(h, l, t, b):
        t1 = P / (math.sqrt(2) * h * l)
        R = math.sqrt(l * l / 4 + ((h + t) / 2) ** 2)
        J = 2 * (math.sqrt(2) * h * l * (l * l / 12 + ((h + t) / 2) ** 2))
        t2 = P * (L + l / 2) * R / J
        tau = math.sqrt(t1 * t1 + 2 * t1 * t2 * l / (2 * R) + t2 * t2)
        pc = 4.013 * E * math.sqrt(t * t * b ** 6 / 36) / L ** 2 * (1 - t / (2 * L) * math.sqrt(E / (4 * G)))
        return 1.10471 * h * h * l + 0.04811 * t * b * (14 + l), tau, 6 * P * L / (b * t * t), pc

    def active(v):
        _, tau, sigma, pc = parts(v[0], v[1], v[2], v[0])
        return [tau / 13600 - 1, sigma / 30000 - 1, pc / P - 1]

    v = [0.2, 3.5, 9.0]
    for _ in range(40):
        f = active(v)
        jac = []
        for j in range(3):
            w = v[:]
            w[j] += 1e-7 * w[j]
            jac.append([(a - b) / (1e-7 * v[j]) for a, b in zip(active(w), f)])
        step = gauss([[jac[j][i] for j in range(3)] for i in range(3)], [-x for x in f])
        v = [a + b for a, b in zip(v, step)]
    best = parts(v[0], v[1], v[2], v[0])[0]
    assert abs(best - 1.724852) < 1e-6, best
    cells = {(0, 0): 1.0, (0, 1): 5.0, (0, 2): 5.0, (0, 3): 1.0}
    cells[(2, 0)] = "=6000/(SQRT(2)*A1*B1)"
    cells[(2, 1)] = "=6000*(14+B1/2)"
    cells[(2, 2)] = "=SQRT(B1^2/4+((A1+C1)/2)^2)"
    cells[(2, 3)] = "=2*(SQRT(2)*A1*B1*(B1^2/12+((A1+C1)/2)^2))"
    cells[(2, 4)] = "=B3*C3/D3"
    cells[(4, 0)] = "=1.10471*A1^2*B1+0.04811*C1*D1*(14+B1)"
    cells[(5, 0)] = "=SQRT(A3^2+2*A3*E3*B1/(2*C3)+E3^2)"
    cells[(6, 0)] = "=6*6000*14/(D1*C1^2)"
    cells[(7, 0)] = "=A1-D1"
    cells[(8, 0)] = "=0.10471*A1^2+0.04811*C1*D1*(14+B1)"
    cells[(9, 0)] = "=4*6000*14^3/(30000000*C1^3*D1)"
    cells[(10, 0)] = "=4.013*30000000*SQRT(C1^2*D1^6/36)/14^2*(1-C1/(2*14)*SQRT(30000000/(4*12000000)))"
    names = solver_names("beam", "$A$5", "min", "$A$1:$D$1",
                         [("$A$1:$D$1", 3, "0.1"), ("$A$1", 3, "0.125"), ("$A$1", 1, "2"), ("$D$1", 1, "2"),
                          ("$B$1:$C$1", 1, "10"), ("$A$6", 1, "13600"), ("$A$7", 1, "30000"), ("$A$8", 1, "0"),
                          ("$A$9", 1, "5"), ("$A$10", 1, "0.25"), ("$A$11", 3, "6000")])
    return write_model("beam", cells, names, "min", best, "welded beam, stress, buckling and deflection limits")


def g06():
    # Problem G06 of the CEC 2006 constrained suite (Liang et al. 2006, "Problem definitions and
    # evaluation criteria for the CEC 2006 special session on constrained real-parameter
    # optimization"; first Floudas and Pardalos 1987): minimise (x1 - 10)^3 + (x2 - 20)^3 with
    # (x1 - 5)^2 + (x2 - 5)^2 >= 100 and (x1 - 6)^2 + (x2 - 5)^2 <= 82.81, 13 <= x1 <= 100,
    # 0 <= x2 <= 100: a thin crescent between two circles, the optimum where they cross,
    # x1 = 14.095, x2 = 5 - sqrt(100 - 9.095^2), f = -6961.81387558 (the suite lists
    # -6961.8138755801664).
    x1 = 14.095
    x2 = 5 - math.sqrt(100 - (x1 - 5) ** 2)
    best = (x1 - 10) ** 3 + (x2 - 20) ** 3
    cells = {(0, 0): 50.0, (0, 1): 50.0}
    cells[(2, 0)] = "=(A1-10)^3+(B1-20)^3"
    cells[(3, 0)] = "=(A1-5)^2+(B1-5)^2"
    cells[(4, 0)] = "=(A1-6)^2+(B1-5)^2"
    names = solver_names("g06", "$A$3", "min", "$A$1:$B$1",
                         [("$A$1", 3, "13"), ("$B$1", 3, "0"), ("$A$1:$B$1", 1, "100"), ("$A$4", 3, "100"),
                          ("$A$5", 1, "82.81")])
    return write_model("g06", cells, names, "min", best, "G06: two circles, a thin crescent between them")


def main():
    rows = [knapsack(), blending(), pressure_vessel(), production(), portfolio(), tour(), welded_beam(), g06()]
    with open(os.path.join(HERE, "optima.tsv"), "w") as f:
        f.write("model\tgoal\toptimum\twhat\n")
        for name, goal, optimum, note in rows:
            f.write("%s\t%s\t%.10g\t%s\n" % (name, goal, optimum, note))


main()
