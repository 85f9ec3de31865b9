#!/usr/bin/python3
"""Writes tests/host/corpus/backslashes.xlsx (and the xlsx fuzzer's seed of the same name): a
small workbook whose zip entries separate folders with '\\' rather than '/', as some writers
store them; the spreadsheet program's repair and other readers open such files. A sheet with
numbers, a shared string and formulas with their cached values.

    make_backslashes.py            (re-run after changing a part; the files are checked in)
"""
import os
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
CT = "application/vnd.openxmlformats-officedocument.spreadsheetml."
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'

PARTS = [
    ("[Content_Types].xml",
     f'{HEAD}<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
     '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
     '<Default Extension="xml" ContentType="application/xml"/>'
     f'<Override PartName="/xl/workbook.xml" ContentType="{CT}sheet.main+xml"/>'
     f'<Override PartName="/xl/worksheets/sheet1.xml" ContentType="{CT}worksheet+xml"/>'
     f'<Override PartName="/xl/sharedStrings.xml" ContentType="{CT}sharedStrings+xml"/></Types>'),
    ("_rels\\.rels",
     f'{HEAD}<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/officeDocument" '
     'Target="xl/workbook.xml"/></Relationships>'),
    ("xl\\workbook.xml",
     f'{HEAD}<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets><sheet name="Plan" sheetId="1" r:id="rId1"/>'
     '</sheets></workbook>'),
    ("xl\\_rels\\workbook.xml.rels",
     f'{HEAD}<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/worksheet" '
     f'Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="{REL}/sharedStrings" '
     'Target="sharedStrings.xml"/></Relationships>'),
    ("xl\\worksheets\\sheet1.xml",
     f'{HEAD}<worksheet xmlns="{MAIN}"><sheetData>'
     '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>4</v></c><c r="C1"><v>2.5</v></c></row>'
     '<row r="2"><c r="A2"><f>B1*C1</f><v>10</v></c><c r="B2" t="str"><f>A1&amp;"!"</f><v>backslash!</v></c>'
     '</row></sheetData></worksheet>'),
    ("xl\\sharedStrings.xml",
     f'{HEAD}<sst xmlns="{MAIN}" count="1" uniqueCount="1"><si><t>backslash</t></si></sst>'),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    top = os.path.normpath(os.path.join(here, "..", "..", ".."))
    for path in (os.path.join(here, "backslashes.xlsx"), os.path.join(top, "fuzz", "corpus", "xlsx", "backslashes.xlsx")):
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for name, text in PARTS:
                info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, text)


if __name__ == "__main__":
    main()
