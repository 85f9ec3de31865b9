#!/usr/bin/python3
"""Every command that saves leaves a book that reopens to the same values: for each row of
saves.tsv a book is generated from its seed, the command saves it, and the saved book is read
back by `ombrix calc` (recalculating), by a reader of the format written here (the cached
values, escapes and the value metadata of #SPILL!/#CALC! decoded as the format says), by
openpyxl and by LibreOffice (all the saved books converted in one run). Each must agree with
the cached values; formulas and array ranges must be the ones the book holds now.

    check_saves.py OMBRIX SOURCE_DIR
"""
import csv
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

import openpyxl

OMBRIX, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
HERE = os.path.join(SOURCE, "tests", "app", "writeback")
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
NS = "{" + MAIN + "}"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
XDA = "http://schemas.microsoft.com/office/spreadsheetml/2017/dynamicarray"
OD = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
CT = "application/vnd.openxmlformats-officedocument.spreadsheetml."
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
GRID_ROWS = 1048576
FORMAT_ERRORS = ("#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "#GETTING_DATA")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


# Pieces of text the generator joins: what XML alone does not carry, and what looks like markup.
PIECES = ["a", "Zz", " ", "\r", "\n", "\r\n", "\t", "\x01", "\x1f", "_x0041_", "_x", "&", "<", ">", '"', "'",
          "\u00e9", "\u20ac", "\U0001f600", "x005F_", "_x005F_"]


def random_text(rng, controls=True):
    pieces = PIECES if controls else [p for p in PIECES if p not in ("\x01", "\x1f")]
    return "".join(rng.choice(pieces) for _ in range(rng.randint(1, 8)))


def escaped(text):
    """Text as the format stores it in an element: markup escaped, control characters and
    escape look-alikes as _xHHHH_, carriage returns as character references."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if re.match(r"_x[0-9A-Fa-f]{4}_", text[i:i + 7]):
            out.append("_x005F_")
        elif c == "\r":
            out.append("&#13;")
        elif ord(c) < 0x20 and c not in "\t\n":
            out.append("_x%04X_" % ord(c))
        else:
            out.append({"&": "&amp;", "<": "&lt;", ">": "&gt;"}.get(c, c))
        i += 1
    return "".join(out)


def formula_escaped(text):
    """Formula text as the file holds it: as written, markup escaped, CR a character reference."""
    return "".join({"&": "&amp;", "<": "&lt;", ">": "&gt;", "\r": "&#13;"}.get(c, c) for c in text)


def unescaped(text):
    """The format's _xHHHH_ escapes decoded (openpyxl leaves them in inline and formula text)."""
    return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), text) if isinstance(text, str) else text


def make_book(path, seed, command):
    """A one-sheet book: A1 the variable (bounds D1:E1), B1 a spill of ROUND(A1) rows cached
    over another size, maybe blocked lower down, C1 the objective, H1:H3 a legacy array, J1 #CALC!,
    text constants in F and formulas over them in G (their cached values stale), formula
    literals in I. Returns the formulas by cell and the size the spill is cached over."""
    rng = random.Random(seed)
    a1 = rng.uniform(3, 10) if command == "test" else rng.uniform(1, 10)
    cached = max(3, rng.randint(1, 6)) if command == "test" else rng.randint(1, 6)
    blocker = rng.choice([None, None, rng.randint(4, 12)])
    target = rng.uniform(1, 10)
    formulas = {
        "B1": "_xlfn.SEQUENCE(ROUND(A1,0))",
        "C1": f"IFERROR(SUM(_xlfn.ANCHORARRAY(B1)),0)+SUM(H1:H3)-(A1-{target:.3f})^2",
        "H1": "ROW(A1:A3)*A1",
        "J1": "_xlfn._xlws.FILTER(A2:A3,A2:A3>A1*100)",  # nothing passes: #CALC!
    }
    rows = {}

    def put(ref, xml):
        r = int(re.sub(r"[A-Z]+", "", ref))
        rows.setdefault(r, []).append((ref, xml))

    put("A1", f'<c r="A1"><v>{a1!r}</v></c>')
    for r in (2, 3):
        put(f"A{r}", f'<c r="A{r}"><v>{r}</v></c>')
        put(f"C{r}", f'<c r="C{r}"><v>{r * 10}</v></c>')
    put("D1", '<c r="D1"><v>1</v></c>')
    put("E1", '<c r="E1"><v>10</v></c>')
    put("B1", f'<c r="B1" cm="1"><f t="array" ref="B1:B{cached}">{formulas["B1"]}</f><v>1</v></c>')
    for r in range(2, cached + 1):
        put(f"B{r}", f'<c r="B{r}"><v>{r}</v></c>')
    if blocker and blocker > cached:
        put(f"B{blocker}", f'<c r="B{blocker}" t="inlineStr"><is><t>block</t></is></c>')
    put("C1", f'<c r="C1"><f>{formula_escaped(formulas["C1"])}</f><v>0</v></c>')
    put("H1", f'<c r="H1"><f t="array" ref="H1:H3">{formulas["H1"]}</f><v>0</v></c>')
    put("J1", f'<c r="J1" cm="1"><f t="array" ref="J1">{formula_escaped(formulas["J1"])}</f><v>0</v></c>')
    put("H2", '<c r="H2"><v>0</v></c>')
    put("H3", '<c r="H3"><v>0</v></c>')
    for r in range(1, 9):
        text = random_text(rng)
        space = ' xml:space="preserve"'
        put(f"F{r}", f'<c r="F{r}" t="inlineStr"><is><t{space}>{escaped(text)}</t></is></c>')
        formulas[f"G{r}"] = f'F{r}&"{r}"'
        put(f"G{r}", f'<c r="G{r}" t="str"><f>{formula_escaped(formulas[f"G{r}"])}</f><v>stale</v></c>')
        literal = random_text(rng, controls=False).replace('"', '""')
        formulas[f"I{r}"] = f'"{literal}"&A2'
        put(f"I{r}", f'<c r="I{r}" t="str"><f>{formula_escaped(formulas[f"I{r}"])}</f><v>stale</v></c>')

    def column_number(ref):
        letters = re.sub(r"[0-9]+", "", ref)
        n = 0
        for ch in letters:
            n = n * 26 + ord(ch) - 64
        return n

    data = "".join(f'<row r="{r}">' + "".join(x for _, x in sorted(cells, key=lambda c: column_number(c[0])))
                   + "</row>" for r, cells in sorted(rows.items()))
    metadata = (f'{HEAD}<metadata xmlns="{MAIN}" xmlns:xda="{XDA}"><metadataTypes count="1">'
                '<metadataType name="XLDAPR" minSupportedVersion="120000" copy="1" pasteAll="1" pasteValues="1" '
                'merge="1" splitFirst="1" rowColShift="1" clearFormats="1" clearComments="1" assign="1" '
                'coerce="1" cellMeta="1"/></metadataTypes><futureMetadata name="XLDAPR" count="1"><bk><extLst>'
                '<ext uri="{bdbb8cdc-fa1e-496e-a857-3c3f30c029c3}"><xda:dynamicArrayProperties fDynamic="1" '
                'fCollapsed="0"/></ext></extLst></bk></futureMetadata><cellMetadata count="1"><bk>'
                '<rc t="1" v="0"/></bk></cellMetadata></metadata>')

    def rels(*items):
        return f'{HEAD}<Relationships xmlns="{PKG}">' + "".join(
            f'<Relationship Id="{i}" Type="{OD}{t}" Target="{target}"/>' for i, t, target in items) + "</Relationships>"

    parts = [
        ("[Content_Types].xml",
         f'{HEAD}<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
         '<Default Extension="xml" ContentType="application/xml"/>'
         f'<Override PartName="/xl/workbook.xml" ContentType="{CT}sheet.main+xml"/>'
         f'<Override PartName="/xl/worksheets/sheet1.xml" ContentType="{CT}worksheet+xml"/>'
         f'<Override PartName="/xl/metadata.xml" ContentType="{CT}sheetMetadata+xml"/></Types>'),
        ("_rels/.rels", rels(("rId1", "officeDocument", "xl/workbook.xml"))),
        ("xl/workbook.xml", f'{HEAD}<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets>'
                            '<sheet name="Model" sheetId="1" r:id="rId1"/></sheets></workbook>'),
        ("xl/_rels/workbook.xml.rels", rels(("rId1", "worksheet", "worksheets/sheet1.xml"),
                                            ("rId2", "sheetMetadata", "metadata.xml"))),
        ("xl/worksheets/sheet1.xml", f'{HEAD}<worksheet xmlns="{MAIN}"><sheetData>{data}</sheetData></worksheet>'),
        ("xl/metadata.xml", metadata),
    ]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts:
            z.writestr(name, text)
    return formulas, cached


class Saved:
    """A saved package read as the format says: each sheet's cells with their cached value,
    formula text and array range, rich errors through the value metadata."""

    def __init__(self, path):
        with zipfile.ZipFile(path) as z:
            self.parts = {n: z.read(n) for n in z.namelist()}
        for name, data in self.parts.items():
            if name.endswith(".xml") or name.endswith(".rels"):
                ET.fromstring(data)  # every part is well-formed
        self.strings = []
        if "xl/sharedStrings.xml" in self.parts:
            for si in ET.fromstring(self.parts["xl/sharedStrings.xml"]).iter(NS + "si"):
                self.strings.append(unescaped("".join(t.text or "" for t in si.iter(NS + "t"))))
        self.rich = self.rich_errors()
        workbook = ET.fromstring(self.parts["xl/workbook.xml"])
        rels = ET.fromstring(self.parts["xl/_rels/workbook.xml.rels"])
        targets = {r.get("Id"): r.get("Target") for r in rels}
        self.sheets = {}
        for s in workbook.iter(NS + "sheet"):
            target = targets[s.get("{%s}id" % REL)]
            self.sheets[s.get("name")] = self.read_sheet("xl/" + target.lstrip("/").removeprefix("xl/"))

    def rich_errors(self):
        names = {"metadata": "xl/metadata.xml", "values": "xl/richData/rdrichvalue.xml",
                 "structures": "xl/richData/rdrichvaluestructure.xml"}
        if not all(p in self.parts for p in names.values()):
            return []
        rd = "{http://schemas.microsoft.com/office/spreadsheetml/2017/richdata}"
        keys = [[k.get("n") for k in s.iter(rd + "k")] if s.get("t") == "_error" else None
                for s in ET.fromstring(self.parts[names["structures"]]).iter(rd + "s")]
        errors = []
        for rv in ET.fromstring(self.parts[names["values"]]).iter(rd + "rv"):
            k = keys[int(rv.get("s"))]
            code = int([v.text for v in rv.iter(rd + "v")][k.index("errorType")]) if k else None
            errors.append({8: "#SPILL!", 13: "#CALC!"}.get(code))
        meta = ET.fromstring(self.parts[names["metadata"]])
        types = [t.get("name") for t in meta.iter(NS + "metadataType")]
        blocks = []
        for future in meta.iter(NS + "futureMetadata"):
            if future.get("name") == "XLRICHVALUE":
                blocks = [int(rvb.get("i")) for rvb in future.iter(rd + "rvb")]
        out = []
        value_metadata = meta.find(NS + "valueMetadata")
        for bk in value_metadata if value_metadata is not None else []:
            rc = bk.find(NS + "rc")
            out.append(errors[blocks[int(rc.get("v"))]] if types[int(rc.get("t")) - 1] == "XLRICHVALUE" else None)
        return out

    def read_sheet(self, part):
        cells = {}
        for c in ET.fromstring(self.parts[part]).iter(NS + "c"):
            t, v, f = c.get("t"), c.find(NS + "v"), c.find(NS + "f")
            if t == "inlineStr":
                value = unescaped("".join(x.text or "" for x in c.iter(NS + "t")))
            elif v is None:
                value = None
            elif t == "s":
                value = self.strings[int(v.text)]
            elif t in ("str", "e"):
                value = unescaped(v.text or "")
                if t == "e" and c.get("vm") and int(c.get("vm")) <= len(self.rich):
                    value = self.rich[int(c.get("vm")) - 1] or value
                if t == "e":
                    # Newer errors are #VALUE! with value metadata: the format has no others.
                    check(v.text in FORMAT_ERRORS, f"{part} {c.get('r')}: error {v.text!r} is not one the format has")
                    value = {"error": value}
            elif t == "b":
                value = v.text == "1"
            else:
                value = float(v.text)
            formula = f.text or "" if f is not None and f.get("t") != "shared" else None
            cells[c.get("r")] = {"value": value, "formula": formula,
                                 "ref": f.get("ref") if f is not None and f.get("t") == "array" else None,
                                 "cm": c.get("cm")}
        return cells


def same(a, b):
    if isinstance(a, float) and isinstance(b, (int, float)) and not isinstance(b, bool):
        return a == b or abs(a - b) <= 1e-9 * max(1.0, abs(a))
    return a == b


def calc_json(book):
    run = subprocess.run([OMBRIX, "calc", "--json", book], capture_output=True)
    if run.returncode != 0:
        sys.exit(f"ombrix calc {book}: status {run.returncode}\n{run.stderr.decode(errors='replace')}")
    return json.loads(run.stdout.decode("utf-8"))


def as_foreign(value):
    """A value as a reader that knows no rich values reads it: #SPILL! and #CALC! are #VALUE!."""
    if isinstance(value, dict):
        return "#VALUE!" if value["error"] in ("#SPILL!", "#CALC!") else value["error"]
    return value


def main():
    rows = []
    with open(os.path.join(HERE, "saves.tsv"), encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            if line.strip() and not line.startswith("#"):
                command, seed, *flags = line.rstrip("\n").split("\t")
                rows.append((n, command, int(seed), flags[0].split() if flags else []))
    with tempfile.TemporaryDirectory() as work:
        saved = []
        for n, command, seed, flags in rows:
            book, out = os.path.join(work, f"book{n}.xlsx"), os.path.join(work, f"saved{n}.xlsx")
            formulas, cached = make_book(book, seed, command)
            if command == "solve":
                args = ["solve", book, "--var", "A1", "--min", "D1", "--max", "E1", "--objective", "C1",
                        "--quiet", "-o", out, *flags]
            elif command == "calc":
                args = ["calc", book, "-o", out, *flags]
            else:
                args = [command, book, "-o", out, *flags]
            run = subprocess.run([OMBRIX, *args], capture_output=True)
            at = f"saves.tsv:{n} {command} {seed}"
            if run.returncode != 0:
                failures.append(f"{at}: status {run.returncode}: {run.stderr.decode(errors='replace')}")
                continue
            saved.append((at, out, formulas, "--report" in flags, command, cached))

        office = shutil.which("soffice", path="/usr/bin")
        converted = os.path.join(work, "office")
        if office:
            # To text separated by commas, in UTF-8, cells as they are rather than as shown.
            profile = os.path.join(work, "profile")
            subprocess.run([office, f"-env:UserInstallation=file://{profile}", "--headless", "--norestore",
                            "--nolockcheck", "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,"
                            "false,false", "--outdir", converted,
                            *[s[1] for s in saved]], capture_output=True, env={**os.environ, "HOME": work},
                           timeout=300)
        else:
            print("LibreOffice (soffice) is not installed: its reading is not checked (scripts/setup --test)")

        seen = set()  # what the rows exercised of the spill: grown, shrunk, blocked
        for at, out, formulas, report, command, cached_rows in saved:
            try:
                ours = Saved(out)
            except Exception as e:
                failures.append(f"{at}: the saved book is not well formed: {e!r}")
                continue
            cells = ours.sheets["Model"]
            recalculated = calc_json(out)
            # The cached values are what the engine computes on reopening.
            for key, value in recalculated.items():
                sheet, ref = key.split("!")
                if sheet != "Model":
                    continue
                cached = cells.get(ref, {}).get("value")
                check(same(cached, value) or (value == 0 and cached is None),
                      f"{at}: {ref} caches {cached!r}, reopened it is {value!r}")
            # Formulas are the book's; the spill covers what it covers now.
            for ref, text in formulas.items():
                check(cells.get(ref, {}).get("formula") == text, f"{at}: {ref} saved as {cells.get(ref)!r}")
            members = sum(1 for k in recalculated if re.fullmatch(r"Model!B\d+", k))
            blocked = cells["B1"]["value"] == {"error": "#SPILL!"}
            seen.add("blocked" if blocked else "grown" if members > cached_rows else "shrunk" if members < cached_rows else "same")
            spans = ("B1", "B1:B1") if members <= 1 else (f"B1:B{members}",)
            check(cells["B1"]["ref"] in spans and cells["B1"]["cm"],
                  f"{at}: the spill is saved over {cells['B1']['ref']!r}, {members} cells")
            # (Test writes numbers into B2:D4.)
            written = ("B2", "B3", "B4") if command == "test" else ()
            for ref, cell in cells.items():
                if re.fullmatch(r"B\d+", ref) and int(ref[1:]) > members and ref not in written:
                    check(cell["value"] in (None, "block"), f"{at}: {ref} keeps {cell['value']!r} past the spill")
            # openpyxl: the same values (its text undecoded) and formulas.
            try:
                values = openpyxl.load_workbook(out, data_only=True)["Model"]
                texts = openpyxl.load_workbook(out)["Model"]
            except Exception as e:
                failures.append(f"{at}: openpyxl cannot read the saved book: {e!r}")
                continue
            for ref, cell in cells.items():
                theirs = unescaped(values[ref].value)
                check(same(theirs, as_foreign(cell["value"])), f"{at}: openpyxl reads {ref} as {theirs!r}")
                if cell["formula"] is not None:
                    check(texts[ref].value == "=" + cell["formula"],
                          f"{at}: openpyxl reads the formula of {ref} as {texts[ref].value!r}")
            if report:
                sheet = openpyxl.load_workbook(out)["Ombrix Report"]
                last = max(int(re.sub(r"[A-Z]+", "", ref)) for ref in ours.sheets["Ombrix Report"])
                check(20 < last == sheet.max_row <= GRID_ROWS, f"{at}: the report has {last} rows")
            # LibreOffice: every constant the same (text of several lines is paragraphs to it), and
            # the numbers of the formulas it knows (7.4 has no dynamic arrays: not B, nor C1 on B).
            if office:
                theirs_path = os.path.join(converted, os.path.basename(out)[:-5] + ".csv")
                if not os.path.exists(theirs_path):
                    failures.append(f"{at}: LibreOffice could not open the saved book")
                    continue
                with open(theirs_path, newline="", encoding="utf-8") as f:
                    grid = list(csv.reader(f))
                for ref, cell in cells.items():
                    mine = as_foreign(cell["value"])
                    if mine is None or ref[0] in "BC" or (cell["formula"] is not None and not isinstance(mine, float)):
                        continue
                    row, column = int(ref[1:]) - 1, ord(ref[0]) - ord("A")
                    got = grid[row][column] if row < len(grid) and column < len(grid[row]) else None
                    if isinstance(mine, float):
                        try:
                            got = float(got)
                        except (TypeError, ValueError):
                            pass
                    else:
                        # Text with a line feed is paragraphs to it: CR LF, LF CR, CR and LF each one.
                        mine = re.sub(r"\r\n|\n\r|\r|\n", "\n", mine) if "\n" in mine else mine
                    check(same(got, mine), f"{at}: LibreOffice reads {ref} as {got!r}, not {mine!r}")
        check({"grown", "shrunk", "blocked"} <= seen, f"the rows exercise only spills {sorted(seen)}")
    if failures:
        print("\n".join(failures))
        sys.exit(1)


main()
