#!/usr/bin/env bash
# The manual page and the bash completion against the commands' own help: the page renders
# without warnings and has the sections users look for, and it and the completion offer
# exactly the flags each command takes.
#   check_manual.sh SOURCE_DIR OMBRIX [MAN_PAGE]   (without MAN_PAGE, the command writes one)
set -euo pipefail
source_dir=$1 ombrix=$2 page=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$page" ]; then
  page=$work/ombrix.1
  "$ombrix" --man-page 0.0 >"$page"
fi
failed=0
fail() { echo "$*" >&2; failed=1; }

text=$(MANWIDTH=200 man --warnings -l "$page" 2>"$work/warnings" | col -b)
[ ! -s "$work/warnings" ] || fail "man warns about $page: $(cat "$work/warnings")"
for section in NAME SYNOPSIS DESCRIPTION COMMANDS "EXIT STATUS" ENVIRONMENT EXAMPLES; do
  grep -qx "$section" <<<"$text" || fail "the manual has no $section section"
done
grep -q OMBRIX_ADDIN <<<"$text" || fail "the manual does not name OMBRIX_ADDIN"

completions() {   # the completion's answer for: ombrix WORDS...
  bash -c 'source "$1"; shift; COMP_WORDS=(ombrix "$@"); COMP_CWORD=$#; _ombrix; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$source_dir/packaging/ombrix.bash-completion" "$@" | sort
}
commands=$("$ombrix" --help | awk '/^Subcommands:/ {on=1; next} on && !/^  [a-z]/ {on=0} on {print $1}' | sort)
[ -n "$commands" ] || fail "no commands in ombrix --help"
[ "$(completions "" | grep -v '^-')" = "$commands" ] ||
  fail "the completion offers the commands $(completions "" | tr '\n' ' ')instead of $(tr '\n' ' ' <<<"$commands")"
for command in $commands; do
  flags=$("$ombrix" "$command" --help | awk '/^Options:/ {on=1; next} /^$/ {on=0} on' |
          grep -oE '^ +(-[a-zA-Z],)?--[a-z-]+' | tr -d ' ' | tr ',' '\n' | sort)
  offered=$(completions "$command" -)
  [ "$flags" = "$offered" ] ||
    fail "ombrix $command: the completion offers $(tr '\n' ' ' <<<"$offered")but the command takes $(tr '\n' ' ' <<<"$flags")"
  # The manual's section of the command lists each of its flags.
  section=$(sed 's/^ *//' <<<"$text" | awk -v c="ombrix $command" '$0 == c {on=1; next} on && /^(ombrix [a-z-]+|[A-Z][A-Z ]+)$/ {on=0} on')
  for flag in $flags; do
    grep -qe "$flag" <<<"$section" || fail "the manual's ombrix $command does not list $flag"
  done
done
exit $failed
