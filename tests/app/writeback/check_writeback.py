#!/usr/bin/python3
"""The write-back of every construct of arrays, spills, LAMBDA and references: the corpus's
constructs.xlsx saved by `ombrix calc BOOK -o OUT.xlsx`, then OUT read back by openpyxl (and
as raw parts where openpyxl keeps nothing) and by `ombrix calc` itself, row by row of
constructs.tsv. The saved workbook must also hold exactly the parts the input held.

    check_writeback.py OMBRIX SOURCE_DIR
"""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

import openpyxl

OMBRIX, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
HERE = os.path.join(SOURCE, "tests", "app", "writeback")
BOOK = os.path.join(SOURCE, "tests", "host", "corpus", "constructs.xlsx")
NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def calc(book, *extra):
    """The values `ombrix calc` prints, by SHEET!CELL."""
    run = subprocess.run([OMBRIX, "calc", book, *extra], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"ombrix calc {book} {' '.join(extra)}: status {run.returncode}\n{run.stderr}")
    return dict(line.split("\t")[:2] for line in run.stdout.splitlines())


def split(where):
    sheet, _, cell = where.partition("!")
    return sheet, cell


class Raw:
    """The parts of a package, and a worksheet's <c> elements by sheet name and cell."""

    def __init__(self, path):
        with zipfile.ZipFile(path) as z:
            self.parts = {name: z.read(name) for name in z.namelist()}
        book = openpyxl.load_workbook(path)
        self.sheet_parts = {ws.title: f"xl/worksheets/sheet{i + 1}.xml" for i, ws in enumerate(book.worksheets)}

    def cell(self, where):
        sheet, ref = split(where)
        root = ET.fromstring(self.parts[self.sheet_parts[sheet]])
        for c in root.iter(NS + "c"):
            if c.get("r") == ref:
                return c
        return None


def formula_of(book, where):
    sheet, cell = split(where)
    value = book[sheet][cell].value
    return value[1:] if isinstance(value, str) and value.startswith("=") else None


def array_of(book, where):
    sheet, cell = split(where)
    return book[sheet].formula_attributes.get(cell, {}).get("ref")


def number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return text


def main():
    rows = []
    with open(os.path.join(HERE, "constructs.tsv"), encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            if line.strip() and not line.startswith("#"):
                rows.append((n, line.rstrip("\n").split("\t")))
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "saved.xlsx")
        first = calc(BOOK, "-o", out)
        again = calc(out)
        before, after = openpyxl.load_workbook(BOOK), openpyxl.load_workbook(out)
        cached = openpyxl.load_workbook(out, data_only=True)
        raw_before, raw_after = Raw(BOOK), Raw(out)
        check(sorted(raw_after.parts) == sorted(raw_before.parts),
              f"the parts differ: {sorted(set(raw_before.parts) ^ set(raw_after.parts))}")
        names_before = {d.name: d.attr_text for d in before.defined_names.definedName}
        names_after = {d.name: d.attr_text for d in after.defined_names.definedName}
        for n, (kind, where, *rest) in rows:
            expected = rest[0] if rest else None
            at = f"constructs.tsv:{n} {kind} {where}"
            if kind == "formula":
                check(formula_of(before, where) == expected, f"{at}: the input holds {formula_of(before, where)!r}")
                check(formula_of(after, where) == expected, f"{at}: saved as {formula_of(after, where)!r}")
            elif kind == "array":
                check(array_of(after, where) == expected, f"{at}: saved over {array_of(after, where)!r}")
            elif kind == "spill":
                was, now = raw_before.cell(where), raw_after.cell(where)
                check(now is not None and now.get("cm") == was.get("cm") is not None,
                      f"{at}: the dynamic-array marker cm is {None if now is None else now.get('cm')!r}")
                check(array_of(after, where) == expected, f"{at}: saved over {array_of(after, where)!r}")
            elif kind == "datatable":
                f = raw_after.cell(where).find(NS + "f")
                attributes = " ".join(f"{k}={v}" for k, v in f.attrib.items() if k != "t") if f is not None else None
                check(f is not None and f.get("t") == "dataTable" and attributes == expected,
                      f"{at}: saved as {None if f is None else f.attrib}")
            elif kind == "name":
                check(names_before.get(where) == expected and names_after.get(where) == expected,
                      f"{at}: saved as {names_after.get(where)!r}")
            elif kind == "table":
                sheet, name = split(where)
                table = after[sheet].tables.get(name)
                got = f"{table.ref} totals {table.totalsRowCount or 0}" if table else None
                check(got == expected, f"{at}: saved as {got!r}")
            elif kind == "link":
                links = after._external_links
                index = int(where) - 1
                target = links[index].file_link.Target if index < len(links) and links[index].file_link else None
                check(target == expected, f"{at}: saved with target {target!r}")
            elif kind == "part":
                check(raw_after.parts.get(where) == raw_before.parts.get(where), f"{at}: not kept byte for byte")
            elif kind == "value":
                sheet, cell = split(where)
                check(number(first.get(where)) == number(expected), f"{at}: ombrix calc BOOK prints {first.get(where)!r}")
                check(number(again.get(where)) == number(expected), f"{at}: ombrix calc OUT prints {again.get(where)!r}")
                check(number(cached[sheet][cell].value) == number(expected),
                      f"{at}: OUT caches {cached[sheet][cell].value!r}")
            else:
                failures.append(f"{at}: no such kind")
    if failures:
        print("\n".join(failures))
        sys.exit(1)


main()
