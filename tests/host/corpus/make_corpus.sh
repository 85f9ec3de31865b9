#!/usr/bin/env bash
# Regenerates the checked-in .xlsx corpus in this directory from model.py:
#   openpyxl.xlsx, handmade.xlsx, handmade-prefixed.xlsx (make_corpus.py)
#   libxlsxwriter.xlsx  (make_corpus_xlsxwriter.c)
#   libreoffice.xlsx    (LibreOffice reading openpyxl.xlsx and saving it again)
#   expected.json       the value of every formula cell
# Needs python3-openpyxl, libxlsxwriter-dev and libreoffice-calc-nogui (scripts/setup --test).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/ombrix-corpus.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Debian's own interpreter: the one first on PATH may lack the Debian modules.
/usr/bin/python3 "$here/make_corpus.py" "$here"

cc -std=c99 -Wall -O1 -o "$work/xw" "$here/make_corpus_xlsxwriter.c" $(pkg-config --cflags --libs xlsxwriter)
"$work/xw" "$here/model.tsv" "$here/libxlsxwriter.xlsx"

cp "$here/openpyxl.xlsx" "$work/libreoffice.xlsx"
mkdir -p "$work/out"
soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
  --convert-to 'xlsx:Calc MS Excel 2007 XML' --outdir "$work/out" "$work/libreoffice.xlsx" >/dev/null
cp "$work/out/libreoffice.xlsx" "$here/libreoffice.xlsx"
ls -l "$here"/*.xlsx
