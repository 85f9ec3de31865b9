#!/usr/bin/env bash
# The Debian package from scripts/package, unpacked into a scratch root: it holds the command,
# the add-in module and the examples, and its command finds its own module from any directory
# and solves as the build tree's command does; its manual, completion, copyright and changelog
# are where Debian users look for them, and lintian reports no error.
#   check_deb.sh SOURCE_DIR BUILD_OMBRIX
set -euo pipefail
source_dir=$1 built=$2
deb=$(ls "$source_dir"/dist/ombrix_*.deb 2>/dev/null | tail -1)
[ -n "$deb" ] || { echo "no package in dist/: run scripts/package first" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in usr/bin/ombrix usr/lib/ombrix/ombrix.so usr/share/ombrix/examples/production.xlsx \
         usr/share/ombrix/examples/production.csv usr/share/man/man1/ombrix.1.gz \
         usr/share/bash-completion/completions/ombrix usr/share/doc/ombrix/copyright \
         usr/share/doc/ombrix/changelog.gz; do
  [ -f "$root/$f" ] || { echo "$deb lacks /$f" >&2; exit 1; }
done
# The packaged manual and completion agree with the packaged command; lintian finds no error.
"$(dirname "$0")/check_manual.sh" "$source_dir" "$root/usr/bin/ombrix" "$root/usr/share/man/man1/ombrix.1.gz"
man -M "$root/usr/share/man" ombrix >/dev/null || { echo "man ombrix finds no page in the package" >&2; exit 1; }
lintian_errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
[ -z "$lintian_errors" ] || { echo "lintian: $lintian_errors" >&2; exit 1; }
model="$root/usr/share/ombrix/examples/production.csv"
flags=(--var B3:D3 --min B4:D4 --max B5:D5 --objective B16 --goal maximise --json)
cd "$root"
installed=$(env -u OMBRIX_ADDIN "$root/usr/bin/ombrix" solve "$model" "${flags[@]}" -o "$root/a.csv")
reference=$("$built" solve "$model" "${flags[@]}" -o "$root/b.csv")
# Everything but the time taken and the file written.
strip() { sed 's/, "seconds": .*//' <<<"$1"; }
if [ "$(strip "$installed")" != "$(strip "$reference")" ]; then
  echo "the packaged command solved differently:" >&2
  echo "  packaged: $installed" >&2
  echo "  built:    $reference" >&2
  exit 1
fi
echo "packaged ombrix: $(strip "$installed")"
