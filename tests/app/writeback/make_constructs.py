#!/usr/bin/python3
"""Writes tests/host/corpus/constructs.xlsx (so the corpus round trip reads it too): one
workbook holding each construct of arrays, spills, LAMBDA and the references real models
write, as the spreadsheet program stores them (the parts written out by hand, so that nothing
here depends on another writer's choices). The cached values are the spreadsheet's answers.

    make_constructs.py            (re-run after changing a part; the file is checked in)
"""
import os
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
XDA = "http://schemas.microsoft.com/office/spreadsheetml/2017/dynamicarray"
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'


def cell(ref, value=None, formula=None, text=None, extra=""):
    """A <c>: a number or formula with its cached number, or inline text."""
    if text is not None:
        return f'<c r="{ref}" t="inlineStr"{extra}><is><t>{text}</t></is></c>'
    body = (formula or "") + (f"<v>{value}</v>" if value is not None else "")
    return f'<c r="{ref}"{extra}>{body}</c>'


def sheet(rows, tail=""):
    data = "".join(f'<row r="{r}">{"".join(cells)}</row>' for r, cells in rows)
    return f'{HEAD}<worksheet xmlns="{MAIN}" xmlns:r="{REL}"><sheetData>{data}</sheetData>{tail}</worksheet>'


MODEL = sheet([
    (1, [cell("A1", 1),
         cell("B1", 2, '<f t="array" ref="B1:B3">A1:A3*2</f>'),                      # legacy array
         cell("C1", 5, '<f t="array" ref="C1">SUM(IF(A1:A3&gt;1,A1:A3,0))</f>'),      # legacy, one cell
         cell("D1", 1, '<f t="array" ref="D1:D3">_xlfn.SEQUENCE(3)</f>', extra=' cm="1"'),  # a spill
         cell("E1", 6, "<f>SUM(_xlfn.ANCHORARRAY(D1))</f>")]),                        # A1#
    (2, [cell("A2", 2), cell("B2", 4), cell("D2", 2),
         cell("E2", 2, "<f>_xlfn.SINGLE(A1:A3)</f>")]),                               # @A1:A3
    (3, [cell("A3", 3), cell("B3", 6), cell("D3", 3),
         cell("E3", 42, "<f>ADDONE(41)</f>")]),                                       # LAMBDA by name
    (4, [cell("E4", 6, "<f>_xlfn.LET(_xlpm.a,2,_xlpm.a*3)</f>")]),
    (5, [cell("B5", 12, "<f>SUM(COLDATA)</f>"),                                       # relative name
         cell("E5", 6, "<f>SUM(_xlfn._TRO_TRAILING(A1:A10))</f>")]),                  # A1:.A10
    (7, [cell("E7", 1, '<f t="array" ref="E7:F9">_xlfn.GROUPBY(A1:A3,A1:A3,_xleta.SUM,,0)</f>',
              extra=' cm="1"'), cell("F7", 1)]),
    (8, [cell("E8", 2), cell("F8", 2)]),
    (9, [cell("E9", 3), cell("F9", 3)]),
])

DATA = sheet([
    (1, [cell("A1", text="Item"), cell("B1", text="Qty"),
         cell("D1", 3, "<f>SUM(Table1[Qty])</f>"), cell("F1", 2)]),
    (2, [cell("A2", text="x"), cell("B2", 1),
         cell("D2", 3, "<f>Table1[[#Totals],[Qty]]</f>"), cell("G2", 20, "<f>F1*10</f>")]),
    (3, [cell("A3", text="y"), cell("B3", 2),
         cell("D3", 7, "<f>[1]Sheet1!$A$1</f>"),                                      # external link
         cell("F3", 3), cell("G3", 30, '<f t="dataTable" ref="G3:G4" dt2D="0" dtr="0" r1="F1"/>')]),
    (4, [cell("A4", text="Total"), cell("B4", 3, "<f>SUBTOTAL(109,Table1[Qty])</f>"),
         cell("F4", 4), cell("G4", 40)]),
], tail='<tableParts count="1"><tablePart r:id="rId1"/></tableParts>')

TABLE = (f'{HEAD}<table xmlns="{MAIN}" id="1" name="Table1" displayName="Table1" ref="A1:B4" '
         'totalsRowCount="1"><autoFilter ref="A1:B3"/><tableColumns count="2">'
         '<tableColumn id="1" name="Item" totalsRowLabel="Total"/>'
         '<tableColumn id="2" name="Qty" totalsRowFunction="sum"/></tableColumns>'
         '<tableStyleInfo name="TableStyleMedium2" showFirstColumn="0" showLastColumn="0" '
         'showRowStripes="1" showColumnStripes="0"/></table>')

METADATA = (f'{HEAD}<metadata xmlns="{MAIN}" xmlns:xda="{XDA}"><metadataTypes count="1">'
            '<metadataType name="XLDAPR" minSupportedVersion="120000" copy="1" pasteAll="1" pasteValues="1" '
            'merge="1" splitFirst="1" rowColShift="1" clearFormats="1" clearComments="1" assign="1" '
            'coerce="1" cellMeta="1"/></metadataTypes><futureMetadata name="XLDAPR" count="1"><bk><extLst>'
            '<ext uri="{bdbb8cdc-fa1e-496e-a857-3c3f30c029c3}"><xda:dynamicArrayProperties fDynamic="1" '
            'fCollapsed="0"/></ext></extLst></bk></futureMetadata><cellMetadata count="1"><bk><rc t="1" v="0"/>'
            '</bk></cellMetadata></metadata>')

EXTERNAL = (f'{HEAD}<externalLink xmlns="{MAIN}"><externalBook xmlns:r="{REL}" r:id="rId1"><sheetNames>'
            '<sheetName val="Sheet1"/></sheetNames><sheetDataSet><sheetData sheetId="0"><row r="1">'
            '<cell r="A1"><v>7</v></cell></row></sheetData></sheetDataSet></externalBook></externalLink>')

WORKBOOK = (f'{HEAD}<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets>'
            '<sheet name="Model" sheetId="1" r:id="rId1"/><sheet name="Data" sheetId="2" r:id="rId2"/></sheets>'
            '<externalReferences><externalReference r:id="rId5"/></externalReferences><definedNames>'
            '<definedName name="ADDONE">_xlfn.LAMBDA(_xlpm.x,_xlpm.x+1)</definedName>'
            '<definedName name="COLDATA">Model!A$1:A$3</definedName></definedNames>'
            '<calcPr calcId="191029"/></workbook>')

STYLES = (f'{HEAD}<styleSheet xmlns="{MAIN}"><fonts count="1"><font><sz val="11"/><name val="Calibri"/></font>'
          '</fonts><fills count="2"><fill><patternFill patternType="none"/></fill><fill>'
          '<patternFill patternType="gray125"/></fill></fills><borders count="1"><border><left/><right/><top/>'
          '<bottom/><diagonal/></border></borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" '
          'fillId="0" borderId="0"/></cellStyleXfs><cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" '
          'borderId="0" xfId="0"/></cellXfs><cellStyles count="1"><cellStyle name="Normal" xfId="0" '
          'builtinId="0"/></cellStyles></styleSheet>')


def rels(*items):
    body = "".join(f'<Relationship Id="{i}" Type="{t}" Target="{target}"{extra}/>' for i, t, target, extra in items)
    return f'{HEAD}<Relationships xmlns="{PKG}">{body}</Relationships>'


OD = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
CT = "application/vnd.openxmlformats-officedocument.spreadsheetml."
PARTS = [
    ("[Content_Types].xml",
     f'{HEAD}<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
     '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
     '<Default Extension="xml" ContentType="application/xml"/>'
     f'<Override PartName="/xl/workbook.xml" ContentType="{CT}sheet.main+xml"/>'
     f'<Override PartName="/xl/worksheets/sheet1.xml" ContentType="{CT}worksheet+xml"/>'
     f'<Override PartName="/xl/worksheets/sheet2.xml" ContentType="{CT}worksheet+xml"/>'
     f'<Override PartName="/xl/tables/table1.xml" ContentType="{CT}table+xml"/>'
     f'<Override PartName="/xl/styles.xml" ContentType="{CT}styles+xml"/>'
     f'<Override PartName="/xl/metadata.xml" ContentType="{CT}sheetMetadata+xml"/>'
     f'<Override PartName="/xl/externalLinks/externalLink1.xml" ContentType="{CT}externalLink+xml"/>'
     '</Types>'),
    ("_rels/.rels", rels(("rId1", OD + "officeDocument", "xl/workbook.xml", ""))),
    ("xl/workbook.xml", WORKBOOK),
    ("xl/_rels/workbook.xml.rels",
     rels(("rId1", OD + "worksheet", "worksheets/sheet1.xml", ""),
          ("rId2", OD + "worksheet", "worksheets/sheet2.xml", ""),
          ("rId3", OD + "styles", "styles.xml", ""),
          ("rId4", OD + "sheetMetadata", "metadata.xml", ""),
          ("rId5", OD + "externalLink", "externalLinks/externalLink1.xml", ""))),
    ("xl/worksheets/sheet1.xml", MODEL),
    ("xl/worksheets/sheet2.xml", DATA),
    ("xl/worksheets/_rels/sheet2.xml.rels", rels(("rId1", OD + "table", "../tables/table1.xml", ""))),
    ("xl/tables/table1.xml", TABLE),
    ("xl/styles.xml", STYLES),
    ("xl/metadata.xml", METADATA),
    ("xl/externalLinks/externalLink1.xml", EXTERNAL),
    ("xl/externalLinks/_rels/externalLink1.xml.rels",
     rels(("rId1", OD + "externalLinkPath", "linked.xlsx", ' TargetMode="External"'))),
]

with zipfile.ZipFile(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "host", "corpus",
                                  "constructs.xlsx"), "w",
                     zipfile.ZIP_DEFLATED) as z:
    for name, text in PARTS:
        info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, text)
