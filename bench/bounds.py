#!/usr/bin/env python3
"""Peak memory and time of formulas and workbooks that once grew without bound:
    bench/bounds.py [build/app/ombrix] [CASE...]
(the add-in found as `ombrix` finds it, or OMBRIX_ADDIN). Each case is a one-cell workbook (or a hostile package) made here and run through
`ombrix calc` under /usr/bin/time -v; it prints the case, the exit status, the peak
resident memory and the wall time. The figures go in bench/RESULTS.md."""
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from xml.sax.saxutils import escape

FORMULAS = {
    "map": "SUM(MAP(SEQUENCE(100000),LAMBDA(x,SUM(SEQUENCE(1000)))))",
    "reduce-vstack": "ROWS(REDUCE(0,SEQUENCE(20000),LAMBDA(a,x,VSTACK(a,x))))",
    "scan": "SUM(SCAN(0,SEQUENCE(100000),LAMBDA(a,x,a+SUM(SEQUENCE(1000)))))",
    "makearray": "SUM(MAKEARRAY(300,300,LAMBDA(r,c,SUM(SEQUENCE(1000)))))",
    "unique-numbers": "ROWS(UNIQUE(SEQUENCE(100000)))",
    "unique-text": 'ROWS(UNIQUE("k"&MOD(SEQUENCE(100000),50000)))',
    "countif-array": "SUM(COUNTIF(SEQUENCE(20000),SEQUENCE(20000)))",
    "match-array": "SUM(MATCH(SEQUENCE(20000),SEQUENCE(20000)*1,0))",
    "xmatch-array": "SUM(XMATCH(SEQUENCE(20000),SEQUENCE(20000)*1))",
    "groupby": "ROWS(GROUPBY(MOD(SEQUENCE(100000),50000),SEQUENCE(100000),SUM))",
    "textjoin-delimiter": 'LEN(TEXTJOIN(REPT("x",30000),FALSE,SEQUENCE(100000)))',
    "textsplit-grid": 'ROWS(TEXTSPLIT(REPT("a,",5000)&REPT(";",5000),",",";"))',
    "regex-catastrophic": 'SUM(--REGEXTEST(REPT("a",24)&"!"&SEQUENCE(100),"(a+)+$"))',
}


def xlsx(path, sheet_data, extra_parts=None, extra_rels=""):
    parts = {
        "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        "</Types>",
        "_rels/.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
        "</Relationships>",
        "xl/workbook.xml": '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
        'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets>'
        + ("<externalReferences><externalReference r:id=\"rId9\"/></externalReferences>" if extra_rels else "")
        + "</workbook>",
        "xl/_rels/workbook.xml.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
        + extra_rels
        + "</Relationships>",
        "xl/worksheets/sheet1.xml": '<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
        "<sheetData>" + sheet_data + "</sheetData></worksheet>",
    }
    parts.update(extra_parts or {})
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text)


def formula_book(path, formula):
    # An array formula, so that the functions see whole arrays as the spreadsheet's dynamic arrays do.
    xlsx(path, '<row r="1"><c r="A1"><f t="array" ref="A1">' + escape(formula) + "</f></c></row>")


def column_book(path, formula, n=20000):
    """A1:A{n} the numbers 1..n (each twice over the column's two halves), B1 the formula."""
    rows = "".join('<row r="%d"><c r="A%d"><v>%d</v></c>%s</row>' % (
        i, i, (i - 1) % (n // 2) + 1,
        '<c r="B1"><f t="array" ref="B1">' + escape(formula) + "</f></c>" if i == 1 else "") for i in range(1, n + 1))
    xlsx(path, rows)


COLUMN_FORMULAS = {
    "countif-range": "SUM(COUNTIF(A1:A20000,A1:A20000))",
    "sumif-range": "SUM(SUMIF(A1:A20000,A1:A20000,A1:A20000))",
    "countifs-range": "SUM(COUNTIFS(A1:A20000,A1:A20000,A1:A20000,\">0\"))",
    "countifs-range-second": "SUM(COUNTIFS(A1:A20000,\">0\",A1:A20000,A1:A20000))",
    "match-range": "SUM(MATCH(A1:A20000,A1:A20000,0))",
    "unique-range": "ROWS(UNIQUE(A1:A20000))",
}


def data_table_book(path):
    xlsx(path, '<row r="1"><c r="A1"><v>1</v></c></row><row r="2"><c r="B2"><f t="dataTable" ref="B2:XFD1048574" '
         'dt2D="1" dtr="1" r1="A1" r2="A1"/><v>0</v></c></row>')


def link_book(path, cells):
    rows = "".join('<row r="%d"><cell r="A%d"><v>%d</v></cell></row>' % (i, i, i) for i in range(1, cells + 1))
    link = ('<?xml version="1.0" encoding="UTF-8"?><externalLink xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
            '<externalBook><sheetNames><sheetName val="S"/></sheetNames><sheetDataSet><sheetData sheetId="0">'
            + rows + "</sheetData></sheetDataSet></externalBook></externalLink>")
    xlsx(path, '<row r="1"><c r="A1"><f>[1]S!A1</f><v>1</v></c></row>', {"xl/externalLinks/externalLink1.xml": link},
         '<Relationship Id="rId9" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLink" '
         'Target="externalLinks/externalLink1.xml"/>')


# Seconds a case may take before it is stopped (exit 124).
LIMIT = int(os.environ.get("BOUNDS_LIMIT", "120"))


def measure(ombrix, name, path):
    run = subprocess.run(["/usr/bin/time", "-v", "timeout", str(LIMIT), ombrix, "calc", path], capture_output=True,
                         text=True)
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", run.stderr)
    value = run.stdout.strip().split("\t")[-1] if run.stdout.strip() else (run.stderr.splitlines() or [""])[0]
    print(f"{name}\texit {run.returncode}\t{int(peak.group(1)) / 1024:.0f} MiB\t{wall.group(1)}\t{value[:100]}")


def measure_trace(ombrix, seconds):
    """A long run of the production model with --trace, stopped after `seconds`: its peak memory
    and how many evaluations it recorded."""
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        run = subprocess.run(["/usr/bin/time", "-v", ombrix, "solve", os.path.join(root, "examples/production.xlsx"),
                              "--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal",
                              "maximise", "--population", "10", "--trials", "1", "--generations", "10000000",
                              "--time-limit", str(seconds), "--trace", os.path.join(tmp, "t.csv"), "-o",
                              os.path.join(tmp, "o.xlsx"), "--quiet", "--json"], capture_output=True, text=True)
        peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
        evaluations = re.search(r'"evaluations": (\d+)', run.stdout)
        print(f"trace-{seconds}s\texit {run.returncode}\t{int(peak.group(1)) / 1024:.0f} MiB\t"
              f"{evaluations.group(1) if evaluations else '?'} evaluations")


def main():
    ombrix = sys.argv[1] if len(sys.argv) > 1 else "build/app/ombrix"
    cases = sys.argv[2:] or list(FORMULAS) + list(COLUMN_FORMULAS) + ["data-table", "external-link", "trace"]
    with tempfile.TemporaryDirectory() as tmp:
        for name in cases:
            if name == "trace":
                for seconds in (2, 8):
                    measure_trace(ombrix, seconds)
                continue
            path = os.path.join(tmp, name + ".xlsx")
            if name == "data-table":
                data_table_book(path)
            elif name == "external-link":
                link_book(path, 2_000_000)
            elif name in COLUMN_FORMULAS:
                column_book(path, COLUMN_FORMULAS[name])
            else:
                formula_book(path, FORMULAS[name])
            measure(ombrix, name, path)


if __name__ == "__main__":
    main()
