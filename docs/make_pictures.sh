#!/usr/bin/env bash
# Remakes the README's pictures from a real run: docs/convergence.svg is what
# `ombrix solve --chart` draws, docs/report.png the report sheet that `--report` adds, as
# headless LibreOffice prints it (the top of its first page, at 80 dpi).
#   docs/make_pictures.sh [OMBRIX]      (default build/app/ombrix; needs scripts/setup --test)
set -euo pipefail
cd "$(dirname "$0")/.."
ombrix=$(realpath "${1:-build/app/ombrix}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$ombrix" solve examples/production.xlsx --var B3:D3 --min B4:D4 --max B5:D5 --objective B16 \
  --goal maximise --quiet --report --chart docs/convergence.svg -o "$work/production.xlsx" >/dev/null
soffice "-env:UserInstallation=file://$work/profile" --headless --convert-to pdf --outdir "$work" \
  "$work/production.xlsx" >/dev/null 2>&1
# The report is the workbook's last sheet: its first page is the one after the model's.
page=$(pdftotext -layout "$work/production.pdf" - | awk -v RS='\f' '!found && /Ombrix answer report/ {print NR; found = 1}')
# The top of the page: the run's facts beside the chart, and the first rows of the table.
pdftoppm -png -r 80 -f "$page" -l "$page" -x 0 -y 0 -W 935 -H 330 -singlefile "$work/production.pdf" docs/report
ls -l docs/report.png docs/convergence.svg
