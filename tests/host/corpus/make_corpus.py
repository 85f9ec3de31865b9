#!/usr/bin/python3
"""Writes the .xlsx test corpus: the model of model.py as each producer writes it.

  openpyxl.xlsx           openpyxl (absolute part names in its relationships, no cached values)
  handmade.xlsx           the layout a spreadsheet program writes: shared strings with rich
                          text, shared and array formulas, cached values, styles, calcChain,
                          a comment, a print area
  handmade-prefixed.xlsx  prefixed element names ("x:"), cells without positions, inline strings
  model.tsv               the model for make_corpus_xlsxwriter.c
  expected.json           the value of every formula cell

Run through make_corpus.sh, which also makes libxlsxwriter.xlsx and libreoffice.xlsx.
"""
import json
import os
import sys
import zipfile
from xml.sax.saxutils import escape, quoteattr

import model

out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))


def openpyxl_book(path):
    import openpyxl
    from openpyxl.workbook.defined_name import DefinedName
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    sheets = {name: wb.create_sheet(name) for name in model.SHEETS}
    for sheet, cell, kind, content in model.INPUTS:
        sheets[sheet][cell] = content
    for sheet, cell, kind, formula, _ in model.FORMULAS:
        sheets[sheet][cell] = "=" + formula
        if kind == "a":
            sheets[sheet].formula_attributes[cell] = {"t": "array", "ref": cell}
    for name, text in model.NAMES:
        wb.defined_names.append(DefinedName(name, attr_text=text))
    wb.active = model.ACTIVE
    wb.save(path)


def number(x):
    return repr(float(x))


def value_xml(v, strings, prefix, inline):
    """(t attribute, inner xml) of a cached or constant value."""
    if isinstance(v, dict):
        return ' t="e"', "<%sv>%s</%sv>" % (prefix, escape(v["error"]), prefix)
    if isinstance(v, bool):
        return ' t="b"', "<%sv>%d</%sv>" % (prefix, int(v), prefix)
    if isinstance(v, str):
        if inline:
            return ' t="inlineStr"', '<%sis><%st xml:space="preserve">%s</%st></%sis>' % (
                prefix, prefix, escape(v), prefix, prefix)
        if v not in strings:
            strings.append(v)
        return ' t="s"', "<%sv>%d</%sv>" % (prefix, strings.index(v), prefix)
    return "", "<%sv>%s</%sv>" % (prefix, number(v), prefix)


def formula_value_xml(v, prefix):
    if isinstance(v, str):
        return ' t="str"', "<%sv>%s</%sv>" % (prefix, escape(v), prefix)
    return value_xml(v, None, prefix, False)


def col_row(ref):
    letters = "".join(ch for ch in ref if ch.isalpha())
    digits = "".join(ch for ch in ref if ch.isdigit())
    col = 0
    for ch in letters:
        col = col * 26 + ord(ch) - 64
    return col, int(digits)


def sheet_xml(sheet, prefix, explicit, inline, strings):
    cells = {}
    for s, cell, kind, content in model.INPUTS:
        if s == sheet:
            cells[cell] = ("value", kind, content)
    shared_sheet, shared_block = model.SHARED
    first, last = shared_block.split(":")
    for s, cell, kind, formula, value in model.FORMULAS:
        if s == sheet:
            cells[cell] = ("formula", kind, formula, value)
    by_row = {}
    for cell, what in cells.items():
        col, row = col_row(cell)
        by_row.setdefault(row, []).append((col, cell, what))
    ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    xmlns = ' xmlns%s="%s"' % (":" + prefix[:-1] if prefix else "", ns)
    p = prefix
    rows = []
    for row in sorted(by_row):
        parts = []
        for col, cell, what in sorted(by_row[row]):
            ref = ' r="%s"' % cell if explicit else ""
            style = ' s="1"' if col == 1 else ""
            if what[0] == "value":
                t, inner = value_xml(what[2], strings, p, inline)
            else:
                kind, formula, value = what[1], what[2], what[3]
                t, v = formula_value_xml(value, p)
                if kind == "a":
                    f = '<%sf t="array" ref="%s">%s</%sf>' % (p, cell, escape(formula), p)
                elif sheet == shared_sheet and cell == first:
                    f = '<%sf t="shared" ref="%s" si="0">%s</%sf>' % (p, shared_block, escape(formula), p)
                elif sheet == shared_sheet and cell[0] == first[0] and col_row(first)[1] < row <= col_row(last)[1]:
                    f = '<%sf t="shared" si="0"/>' % p
                else:
                    f = "<%sf>%s</%sf>" % (p, escape(formula), p)
                inner = f + v
            parts.append("<%sc%s%s%s>%s</%sc>" % (p, ref, style, t, inner, p))
        rref = ' r="%d"' % row if explicit else ""
        rows.append('<%srow%s spans="1:3">%s</%srow>' % (p, rref, "".join(parts), p))
    # The prefixed variant has no positions at all, so every row must be present.
    if not explicit:
        full = []
        for r in range(1, max(by_row) + 1):
            full.append(rows[sorted(by_row).index(r)] if r in by_row else "<%srow/>" % p)
        rows = full
    legacy = '<%slegacyDrawing r:id="rId1"/>' % p if sheet == "Inputs" else ""
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<%sworksheet%s xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
            '<%sdimension ref="A1:C8"/><%ssheetViews><%ssheetView workbookViewId="0"/></%ssheetViews>'
            '<%ssheetFormatPr defaultRowHeight="15"/><%ssheetData>%s</%ssheetData>'
            '<%spageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>%s'
            "</%sworksheet>") % (p, xmlns, p, p, p, p, p, p, "".join(rows), p, p, legacy, p)


def handmade(path, prefix="", explicit=True, inline=False):
    p = prefix
    strings = []
    sheets = [sheet_xml(s, p, explicit, inline, strings) for s in model.SHEETS]
    ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    xmlns = ' xmlns%s="%s"' % (":" + p[:-1] if p else "", ns)
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    names = "".join('<%sdefinedName name=%s>%s</%sdefinedName>' % (p, quoteattr(n), escape(t), p)
                    for n, t in model.NAMES)
    names += '<%sdefinedName name="_xlnm.Print_Area" localSheetId="0">Inputs!$A$1:$B$8</%sdefinedName>' % (p, p)
    workbook = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                '<%sworkbook%s xmlns:r="%s"><%sfileVersion appName="xl" lastEdited="7"/>'
                '<%sworkbookPr defaultThemeVersion="166925"/><%sbookViews><%sworkbookView xWindow="0" '
                'yWindow="0" windowWidth="28800" windowHeight="12300" activeTab="%d"/></%sbookViews><%ssheets>%s'
                '</%ssheets><%sdefinedNames>%s</%sdefinedNames><%scalcPr calcId="191029"/></%sworkbook>') % (
        p, xmlns, rel, p, p, p, p, model.ACTIVE, p, p,
        "".join('<%ssheet name=%s sheetId="%d" r:id="rId%d"/>' % (p, quoteattr(s), i + 1, i + 1)
                for i, s in enumerate(model.SHEETS)),
        p, p, names, p, p, p)
    workbook_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                     '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                     '<Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/>'
                     '<Relationship Id="rId2" Type="%s/worksheet" Target="worksheets/sheet2.xml"/>'
                     '<Relationship Id="rId3" Type="%s/styles" Target="styles.xml"/>'
                     '<Relationship Id="rId4" Type="%s/sharedStrings" Target="sharedStrings.xml"/>'
                     '<Relationship Id="rId5" Type="%s/calcChain" Target="calcChain.xml"/>'
                     "</Relationships>") % (rel, rel, rel, rel, rel)
    # Rich text: the first string is split into two runs, with a phonetic run to skip.
    sis = []
    for i, s in enumerate(strings):
        if i == 0 and len(s) > 1:
            sis.append('<%ssi><%sr><%srPr><%sb/></%srPr><%st>%s</%st></%sr><%sr><%st xml:space="preserve">%s</%st></%sr>'
                       '<%srPh sb="0" eb="1"><%st>x</%st></%srPh></%ssi>' % (
                           p, p, p, p, p, p, escape(s[:1]), p, p, p, p, escape(s[1:]), p, p, p, p, p, p, p))
        else:
            sis.append('<%ssi><%st xml:space="preserve">%s</%st></%ssi>' % (p, p, escape(s), p, p))
    shared = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
              '<%ssst%s count="%d" uniqueCount="%d">%s</%ssst>') % (p, xmlns, len(strings), len(strings), "".join(sis), p)
    styles = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
              '<styleSheet xmlns="%s"><numFmts count="1"><numFmt numFmtId="164" formatCode="0.000"/></numFmts>'
              '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
              '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
              '<borders count="1"><border/></borders><cellStyleXfs count="1"><xf/></cellStyleXfs>'
              '<cellXfs count="2"><xf/><xf numFmtId="164" applyNumberFormat="1"/></cellXfs></styleSheet>') % ns
    chain = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<calcChain xmlns="%s">%s</calcChain>') % (
        ns, "".join('<c r="%s" i="2"/>' % c for (_s, c, _k, _f, _v) in model.FORMULAS))
    types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             '<Default Extension="xml" ContentType="application/xml"/>'
             '<Default Extension="vml" ContentType="application/vnd.openxmlformats-officedocument.vmlDrawing"/>'
             '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
             '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
             '<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
             '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
             '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
             '<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/>'
             '<Override PartName="/xl/comments1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml"/>'
             "</Types>")
    root_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                 '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                 '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>') % rel
    sheet1_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="%s/vmlDrawing" Target="../drawings/vmlDrawing1.vml"/>'
                   '<Relationship Id="rId2" Type="%s/comments" Target="../comments1.xml"/></Relationships>') % (rel, rel)
    comments = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                '<comments xmlns="%s"><authors><author>model</author></authors><commentList>'
                '<comment ref="B2" authorId="0"><text><t>unit price</t></text></comment></commentList></comments>') % ns
    vml = '<xml xmlns:v="urn:schemas-microsoft-com:vml"><v:shape id="_x0000_s1025"/></xml>'
    parts = [
        ("[Content_Types].xml", types), ("_rels/.rels", root_rels), ("xl/workbook.xml", workbook),
        ("xl/_rels/workbook.xml.rels", workbook_rels), ("xl/worksheets/sheet1.xml", sheets[0]),
        ("xl/worksheets/sheet2.xml", sheets[1]), ("xl/worksheets/_rels/sheet1.xml.rels", sheet1_rels),
        ("xl/styles.xml", styles), ("xl/sharedStrings.xml", shared), ("xl/calcChain.xml", chain),
        ("xl/comments1.xml", comments), ("xl/drawings/vmlDrawing1.vml", vml),
    ]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text.encode("utf-8"))


def model_tsv(path):
    def enc(x):
        if isinstance(x, bool):
            return "1" if x else "0"
        if isinstance(x, float):
            return repr(x)
        return x
    with open(path, "w", encoding="utf-8") as f:
        f.write("!active\t%s\n" % model.SHEETS[model.ACTIVE])
        for s in model.SHEETS:
            f.write("!sheet\t%s\n" % s)
        for name, text in model.NAMES:
            f.write("!name\t%s\t=%s\n" % (name, text))
        for s, c, k, content in model.INPUTS:
            f.write("%s\t%s\t%s\t%s\n" % (s, c, k, enc(content)))
        for s, c, k, formula, _ in model.FORMULAS:
            f.write("%s\t%s\t%s\t=%s\n" % (s, c, k, formula))


def main():
    openpyxl_book(os.path.join(out, "openpyxl.xlsx"))
    handmade(os.path.join(out, "handmade.xlsx"))
    handmade(os.path.join(out, "handmade-prefixed.xlsx"), prefix="x:", explicit=False, inline=True)
    model_tsv(os.path.join(out, "model.tsv"))
    with open(os.path.join(out, "expected.json"), "w", encoding="utf-8") as f:
        json.dump(model.expected(), f, indent=1, sort_keys=True, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    main()
