#!/usr/bin/python3
"""The LibreOffice side of the speed benchmarks: the same models, built and driven through
LibreOffice's Python bridge (UNO) in a headless office of its own.

    libreoffice.py chain N     one round trip of the N-formula chain (write A1:J1, read L1)
    libreoffice.py lookups 0   a full recalculation (calculateAll) of the lookup book
    libreoffice.py prices 0    one round trip of the price-list model
    libreoffice.py load N      opening /tmp/ombrix-bench-chain-N.xlsx plus calculateAll

Prints "seconds MEAN REPEATS" (the mean of the timed repetitions), the line that
bench/models.hpp reads. The shapes match bench/models.hpp.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue


def column(c):
    return chr(ord("A") + c)


def chain_formula(c, row):
    above, var = f"{column(c)}{row - 1}", f"{column(c)}$1"
    return f"={above}*0.5+SIN({var})*0.25+{var}/(1+ABS({above}))"


QUERY_ROWS, LOOKUP_FORMULAS, PLAIN_FORMULAS = 3799, 3265, 7274 - 3265
PRICE_ROWS, PRICE_LOOKUPS = 10000, 1000


def query_id(i):
    return float(i + 1 + i // 19)


def price_id(i):
    return (i * 7919) % PRICE_ROWS + 1


class Office:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="ombrix-bench-lo-")
        self.pipe = f"ombrixbench{os.getpid()}"
        self.process = subprocess.Popen(
            ["/usr/bin/soffice", "--headless", "--invisible", "--norestore", "--nologo", "--nodefault",
             f"-env:UserInstallation=file://{self.profile}",
             f"--accept=pipe,name={self.pipe};urp;StarOffice.ComponentContext"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.time() + 60
        while True:
            try:
                self.context = resolver.resolve(f"uno:pipe,name={self.pipe};urp;StarOffice.ComponentContext")
                break
            except Exception:
                if time.time() > deadline or self.process.poll() is not None:
                    raise
                time.sleep(0.2)
        self.desktop = self.context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop",
                                                                             self.context)

    def open(self, url):
        hidden = PropertyValue()
        hidden.Name, hidden.Value = "Hidden", True
        return self.desktop.loadComponentFromURL(url, "_blank", 0, (hidden,))

    def close(self):
        try:
            self.desktop.terminate()
        except Exception:
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
        shutil.rmtree(self.profile, ignore_errors=True)


def timed(step, least_seconds=1.0, least_repeats=3):
    step()   # warm up
    repeats, start = 0, time.perf_counter()
    while repeats < least_repeats or time.perf_counter() - start < least_seconds:
        step()
        repeats += 1
    return (time.perf_counter() - start) / repeats, repeats


def round_trip(doc, sheet, scale):
    variables = sheet.getCellRangeByName("A1:J1")
    objective = sheet.getCellRangeByName("L1")
    state = {"x": 0.0}

    def step():
        state["x"] += 0.001
        variables.setDataArray((tuple(scale * (state["x"] + i + 1) for i in range(10)),))
        objective.getValue()
    return timed(step)


def chain(office, formulas):
    doc = office.open("private:factory/scalc")
    sheet = doc.Sheets.getByIndex(0)
    rows = formulas // 10
    sheet.getCellRangeByName("A1:J1").setDataArray((tuple(0.1 * (c + 1) for c in range(10)),))
    block = tuple(tuple(chain_formula(c, r) for c in range(10)) for r in range(2, rows + 2))
    sheet.getCellRangeByName(f"A2:J{rows + 1}").setFormulaArray(block)
    sheet.getCellRangeByName("L1").setFormula(f"=SUM(A{rows + 1}:J{rows + 1})")
    doc.calculateAll()
    return round_trip(doc, sheet, 1.0)


def lookups(office):
    doc = office.open("private:factory/scalc")
    doc.Sheets.insertNewByName("Query", 1)
    report, query = doc.Sheets.getByIndex(0), doc.Sheets.getByName("Query")
    data = []
    for i in range(QUERY_ROWS):
        row = [query_id(i)]
        for c in range(1, 14):
            row.append(f"item {i * 7 % 1000}{column(c)}" if c % 4 == 1 else ((i * 31 + c * 17) % 1000) / 10)
        data.append(tuple(row))
    query.getCellRangeByName(f"A1:N{QUERY_ROWS}").setDataArray(tuple(data))
    formula = "=IFERROR(VLOOKUP(ROW()-7;$Query.$A:$N;3;0)*VLOOKUP(ROW()-7;$Query.$A:$N;4;0);0)"
    last = LOOKUP_FORMULAS + 7
    report.getCellRangeByName(f"A8:A{last}").setFormulaArray(tuple((formula,) for _ in range(LOOKUP_FORMULAS)))
    columns = PLAIN_FORMULAS // LOOKUP_FORMULAS + 1
    for col in range(1, columns + 1):
        count = min(LOOKUP_FORMULAS, PLAIN_FORMULAS - (col - 1) * LOOKUP_FORMULAS)
        cells = tuple((f"={column(col - 1)}{row}*1.1+1",) for row in range(8, 8 + count))
        report.getCellRangeByName(f"{column(col)}8:{column(col)}{7 + count}").setFormulaArray(cells)
    return timed(doc.calculateAll)


def prices(office):
    doc = office.open("private:factory/scalc")
    doc.Sheets.insertNewByName("Prices", 1)
    model, table = doc.Sheets.getByIndex(0), doc.Sheets.getByName("Prices")
    table.getCellRangeByName(f"A1:B{PRICE_ROWS}").setDataArray(
        tuple((float(price_id(i)), (price_id(i) % 997) / 4) for i in range(PRICE_ROWS)))
    model.getCellRangeByName("A1:J1").setDataArray((tuple(100.0 * (c + 1) for c in range(10)),))
    cells = tuple((f"=VLOOKUP(MOD(INT({column(k % 10)}$1*{k + 1});10000)+1;$Prices.$A$1:$B$10000;2;0)",)
                  for k in range(PRICE_LOOKUPS))
    model.getCellRangeByName(f"A3:A{PRICE_LOOKUPS + 2}").setFormulaArray(cells)
    model.getCellRangeByName("L1").setFormula(f"=SUM(A3:A{PRICE_LOOKUPS + 2})")
    doc.calculateAll()
    return round_trip(doc, model, 100.0)


def load(office, formulas):
    path = f"/tmp/ombrix-bench-chain-{formulas}.xlsx"
    start = time.perf_counter()
    doc = office.open(uno.systemPathToFileUrl(path))
    opened = time.perf_counter() - start
    doc.calculateAll()
    total = time.perf_counter() - start
    print(f"opened {opened:.6f}")
    return total, 1


def main():
    shape, size = sys.argv[1], int(sys.argv[2])
    office = Office()
    try:
        if shape == "chain":
            seconds, repeats = chain(office, size)
        elif shape == "lookups":
            seconds, repeats = lookups(office)
        elif shape == "prices":
            seconds, repeats = prices(office)
        elif shape == "load":
            seconds, repeats = load(office, size)
        else:
            raise SystemExit(f"unknown shape {shape}")
        print(f"seconds {seconds:.9f} {repeats}")
    finally:
        office.close()


if __name__ == "__main__":
    main()
