#!/usr/bin/python3
"""The answer report, the convergence chart and the trace of `ombrix solve`, checked as a
user would meet them: the saved workbook read back with openpyxl and printed to PDF by
headless LibreOffice, the SVG drawn by rsvg-convert, the trace against the run's own numbers.

    check_report.py OMBRIX SOURCE_DIR CHECK     CHECK: numbers | workbook | svg
"""
import csv
import json
import os
import struct
import subprocess
import sys
import tempfile
import zlib

OMBRIX, SOURCE, CHECK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
# Each model: the file, the flags of its run, and whether it maximises.
MODELS = {
    "production": ("examples/production.xlsx", ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5",
                                                  "--objective", "B16", "--goal", "maximise"], True),
    "rastrigin": ("examples/rastrigin.xlsx", ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5",
                                                "--objective", "B8", "--goal", "minimise", "--trials", "3",
                                                "--generations", "40", "--population", "30"], False),
}
# Trial colours of the charts (the first three).
COLOURS = [(0x1F, 0x77, 0xB4), (0xD6, 0x27, 0x28), (0x2C, 0xA0, 0x2C)]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def solve(model, work, *extra, expect=0):
    book, flags, _ = MODELS[model]
    run = subprocess.run([OMBRIX, "solve", os.path.join(SOURCE, book), *flags, "--json", "--quiet", *extra],
                         capture_output=True, text=True, cwd=work)
    if run.returncode != expect:
        sys.exit(f"ombrix solve {model} {' '.join(extra)}: status {run.returncode}, wanted {expect}\n{run.stderr}")
    return json.loads(run.stdout) if expect == 0 else run.stderr


def png_pixels(path):
    """(width, height, rows of RGB tuples) of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    pos, chunks, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        pos += 12 + length
    width, height, depth, colour_type = header[:4]
    assert depth == 8 and colour_type in (2, 6), header
    step = 3 if colour_type == 2 else 4
    raw, stride, rows, previous = zlib.decompress(b"".join(chunks)), width * step, [], bytearray(width * step)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - step] if x >= step else 0
            b, c = previous[x], previous[x - step] if x >= step else 0
            if kind == 1: line[x] = (line[x] + a) & 255
            elif kind == 2: line[x] = (line[x] + b) & 255
            elif kind == 3: line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x:x + 3]) if step == 3 or line[x + 3] > 128 else (255, 255, 255)
                     for x in range(0, stride, step)])
        previous = line
    return width, height, rows


def extent(rows, colour, box=None):
    """Columns and rows spanned by pixels close to `colour` (within box x0, y0, x1, y1), and their count."""
    xs, ys = [], []
    x0, y0, x1, y1 = box or (0, 0, len(rows[0]), len(rows))
    for y in range(y0, y1):
        for x in range(x0, x1):
            if sum(abs(p - q) for p, q in zip(rows[y][x], colour)) < 60:
                xs.append(x)
                ys.append(y)
    return (max(xs) - min(xs) if xs else 0), (max(ys) - min(ys) if ys else 0), len(xs)


def check_numbers(work):
    """Adding the report, chart and trace changes no number of the run; the trace and the
    report's table agree with it; a .csv output refuses --report."""
    for model, (_, _, maximise) in MODELS.items():
        plain = solve(model, work, "-o", f"{model}-plain.xlsx")
        full = solve(model, work, "-o", f"{model}-full.xlsx", "--report", "--chart", f"{model}.svg",
                     "--trace", f"{model}.csv")
        for key in ("variables", "objective", "evaluations", "generations", "ended"):
            check(plain[key] == full[key], f"{model}: {key} differs with the report: {plain[key]} / {full[key]}")
        check(full.get("report_sheet") == "Ombrix Report", f"{model}: JSON report_sheet {full.get('report_sheet')}")
        check(full.get("chart") == f"{model}.svg" and full.get("trace") == f"{model}.csv", f"{model}: JSON files {full}")
        with open(os.path.join(work, f"{model}.csv"), newline="") as f:
            rows = list(csv.reader(f))
        variables = list(full["variables"])
        check(rows[0] == ["evaluation", "trial", "generation", "objective"] + variables, f"{model}: trace header {rows[0]}")
        rows = rows[1:]
        check(len(rows) == full["evaluations"], f"{model}: {len(rows)} trace rows for {full['evaluations']} evaluations")
        objectives = [float(r[3]) for r in rows]
        best = max(objectives) if maximise else min(objectives)
        (final,) = full["objective"].values()
        check(best == final, f"{model}: best traced objective {best} is not the final {final}")
        # The best row's variables are the final values, bit for bit.
        row = rows[objectives.index(best)]
        check([float(v) for v in row[4:]] == [full["variables"][v] for v in variables],
              f"{model}: the best evaluation's variables {row[4:]} are not the final {full['variables']}")
        generations = {(r[1], r[2]) for r in rows}
        check(len(generations) == full["generations"], f"{model}: {len(generations)} generations in the trace")
    # A run stopped at its time limit still reports what it did.
    cut = solve("production", work, "--time-limit", "0", "--report", "--trace", "cut.csv", "-o", "cut.xlsx")
    with open(os.path.join(work, "cut.csv")) as f:
        traced = sum(1 for _ in f) - 1
    check(cut["ended"] == "time-limit" and cut.get("report_sheet") == "Ombrix Report" and traced == cut["evaluations"],
          f"a run stopped at once: {cut}, {traced} evaluations traced")

    # Refused before the run, with nothing written.
    refusals = [(["--report", "-o", "refused.csv"], ".xlsx"),
                (["--chart", "plan.png", "-o", "refused.xlsx"], ".svg"),
                (["--trace", "refused.xlsx", "-o", "refused.xlsx"], "is the workbook saved"),
                (["--chart", "same.svg", "--trace", "same.svg", "-o", "refused.xlsx"], "same file")]
    for flags, reason in refusals:
        before = set(os.listdir(work))
        stderr = solve("production", work, *flags, expect=2)
        check(reason in stderr, f"{' '.join(flags)}: {stderr!r}")
        check(set(os.listdir(work)) == before, f"{' '.join(flags)} wrote {set(os.listdir(work)) - before}")


def check_workbook(work):
    """The report sheet read back with openpyxl, then printed to PDF by LibreOffice."""
    import openpyxl
    from openpyxl.chart import LineChart
    for model, (book, _, maximise) in MODELS.items():
        # A sheet already named "Ombrix Report" stays, and the report takes a free name.
        source = openpyxl.load_workbook(os.path.join(SOURCE, book))
        taken = source.create_sheet("ombrix report")
        taken["A1"] = "kept"
        source.save(os.path.join(work, f"{model}-taken.xlsx"))
        run = solve(model, work, "--report", "-o", f"{model}.xlsx")
        taken_run = subprocess.run([OMBRIX, "solve", f"{model}-taken.xlsx", *MODELS[model][1], "--json", "--quiet",
                                    "--report", "-o", f"{model}-taken.solved.xlsx"], capture_output=True, text=True,
                                   cwd=work)
        check(json.loads(taken_run.stdout).get("report_sheet") == "Ombrix Report (2)", f"{model}: {taken_run.stdout}")
        again = openpyxl.load_workbook(os.path.join(work, f"{model}-taken.solved.xlsx"))
        check(again.sheetnames[-2:] == ["ombrix report", "Ombrix Report (2)"] and again["ombrix report"]["A1"].value == "kept",
              f"{model}: sheets after a taken name: {again.sheetnames}")

        saved = openpyxl.load_workbook(os.path.join(work, f"{model}.xlsx"))
        original = openpyxl.load_workbook(os.path.join(SOURCE, book))
        check(saved.sheetnames == original.sheetnames + ["Ombrix Report"], f"{model}: sheets {saved.sheetnames}")
        sheet = saved["Ombrix Report"]
        cells = {c.coordinate: c for row in sheet.iter_rows() for c in row if c.value is not None}
        check(all(c.data_type != "f" for c in cells.values()), f"{model}: the report holds formulas")
        check(sheet["A1"].font.bold, f"{model}: the title is not bold")
        labels = {c.value: c for c in cells.values() if c.column == 1 and isinstance(c.value, str)}
        for label in ("Date and time", "Workbook", "Sheet", "Run ended", "Evaluations", "Generations done", "Seconds",
                      "Objective cell", "Variable cell", "Setting", "Seed", "Population", "Generations", "Trials",
                      "Crossover Rate", "Mutation Rate", "Trial"):
            check(label in labels, f"{model}: no '{label}' in the report")
        value = lambda label, column=2: sheet.cell(labels[label].row, column).value
        check(value("Evaluations") == run["evaluations"] and value("Generations done") == run["generations"],
              f"{model}: evaluations {value('Evaluations')}, generations {value('Generations done')}")
        check(value("Run ended") == "completed", f"{model}: ended {value('Run ended')}")
        check(sheet.cell(labels["Date and time"].row, 2).is_date, f"{model}: the date is not shown as one")
        check(sheet.column_dimensions["A"].width >= 20, f"{model}: column A is {sheet.column_dimensions['A'].width} wide")
        (objective_cell, final), = run["objective"].items()
        objective_row = labels["Objective cell"].row + 1
        check(sheet.cell(objective_row, 1).value == objective_cell and sheet.cell(objective_row, 4).value == final,
              f"{model}: objective row {[c.value for c in sheet[objective_row]]}")
        check(sheet.cell(objective_row, 4).number_format != "General", f"{model}: numbers in General format")
        for k, (cell, x) in enumerate(run["variables"].items()):
            row = [c.value for c in sheet[labels["Variable cell"].row + 1 + k]]
            check(row[0] == cell and row[4] == x and row[1] <= x <= row[2], f"{model}: variable row {row}")
        table = [[c.value for c in row[:5]] for row in sheet.iter_rows(min_row=labels["Trial"].row + 1)]
        check(len(table) == run["generations"], f"{model}: {len(table)} rows of convergence")
        trials = sorted({r[0] for r in table})
        better = (lambda a, b: a >= b) if maximise else (lambda a, b: a <= b)
        for a, b in zip(table, table[1:]):
            if a[0] == b[0]:
                check(b[1] == a[1] + 1 and better(b[2], a[2]), f"{model}: best so far went back: {a} then {b}")
            check(better(a[2], a[3]) and better(a[3], a[4]), f"{model}: best so far, best, mean out of order: {a}")
        best = max(r[2] for r in table) if maximise else min(r[2] for r in table)
        check(best == final, f"{model}: the table's best {best} is not the final {final}")
        charts = sheet._charts
        check(len(charts) == 1 and isinstance(charts[0], LineChart), f"{model}: charts {charts}")
        if charts:
            chart = charts[0]
            check(len(chart.series) == 2 * len(trials), f"{model}: {len(chart.series)} series for {len(trials)} trials")
            title = lambda t: "".join(r.t for p in t.tx.rich.p for r in (p.r or []))
            check(title(chart.x_axis.title) == "Generation", f"{model}: x axis title {title(chart.x_axis.title)}")
            check(objective_cell in title(chart.y_axis.title), f"{model}: y axis title {title(chart.y_axis.title)}")

        # Printed by LibreOffice: the chart's lines in each trial's colour run across the plot,
        # and its axis titles are on the page.
        pdf_dir = os.path.join(work, f"{model}-pdf")
        subprocess.run(["soffice", f"-env:UserInstallation=file://{work}/lo-profile", "--headless",
                        "--convert-to", "pdf", "--outdir", pdf_dir, os.path.join(work, f"{model}.xlsx")],
                       check=True, capture_output=True, timeout=240)
        pdf = os.path.join(pdf_dir, f"{model}.pdf")
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], check=True, capture_output=True, text=True).stdout
        check("Generation" in text and f"Objective {objective_cell}" in text and "Ombrix answer report" in text,
              f"{model}: the PDF lacks the report's or the axes' titles")
        # The report's first page: the one with its title.
        page = next(k + 1 for k, t in enumerate(text.split("\f")) if "Ombrix answer report" in t)
        picture = os.path.join(pdf_dir, "report")
        subprocess.run(["pdftoppm", "-png", "-r", "150", "-f", str(page), "-l", str(page), "-singlefile", pdf, picture],
                       check=True)
        _, _, rows = png_pixels(picture + ".png")
        for k, colour in enumerate(COLOURS[:len(trials)]):
            width, _, count = extent(rows, colour)
            check(width > len(rows[0]) // 5 and count > 100,
                  f"{model}: trial {k + 1}'s lines span {width} of {len(rows[0])} px ({count} px) on page {page}")


def check_svg(work):
    """The SVG drawn by rsvg-convert: every trial's lines across the plot area, the axes'
    titles and tick labels in view."""
    for model in MODELS:
        run = solve(model, work, "--chart", f"{model}.svg", "-o", f"{model}.xlsx")
        trials = 3 if model == "rastrigin" else 2
        png = os.path.join(work, f"{model}.png")
        subprocess.run(["rsvg-convert", "-f", "png", "-o", png, os.path.join(work, f"{model}.svg")], check=True)
        width, height, rows = png_pixels(png)
        check((width, height) == (800, 500), f"{model}: the picture is {width}x{height}")
        plot = (91, 51, 769, 369)   # inside the frame
        for k, colour in enumerate(COLOURS[:trials]):
            w, _, count = extent(rows, colour, plot)
            check(w > (plot[2] - plot[0]) * 0.9 and count > 200, f"{model}: trial {k + 1}'s lines span {w} px")
        # Dark text: the x axis title under the plot, the y axis title left of the tick labels,
        # the tick labels left of and below the frame.
        for name, box in {"x axis title": (300, 380, 560, 430), "y axis title": (5, 60, 35, 360),
                          "y tick labels": (36, 40, 88, 380), "x tick labels": (60, 372, 790, 392)}.items():
            _, _, count = extent(rows, (0, 0, 0), box)
            check(count > 20, f"{model}: no {name} drawn ({count} dark pixels)")
        text = open(os.path.join(work, f"{model}.svg")).read()
        check(f"Objective {next(iter(run['objective']))}" in text, f"{model}: the y axis title does not name the objective")


with tempfile.TemporaryDirectory() as work:
    {"numbers": check_numbers, "workbook": check_workbook, "svg": check_svg}[CHECK](work)
for f in failures:
    print("FAIL:", f, file=sys.stderr)
sys.exit(1 if failures else 0)
