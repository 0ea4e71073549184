#!/usr/bin/env bash
# Checks the manual page $2 against the program $1: man renders it without a
# warning, and every option that --help lists is in the rendered page.
set -euo pipefail
program="$1"
page="$2"
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
command -v man >/dev/null || fail "no man here (Debian packages man-db and groff-base)"

warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
[[ -z "$warnings" ]] || fail "man warns about $page: $warnings"

# Plain ASCII text, one option never split over two lines.
text="$(LC_ALL=C MANWIDTH=200 MAN_KEEP_FORMATTING= man -l "$page" 2>/dev/null | col -b)"
help="$("$program" --help)" || fail "$program --help failed"
options=($(grep -oE -- '(^|[^[:alnum:]-])--[[:alnum:]][[:alnum:]-]*' <<<"$help" |
    sed 's/^[^-]*//' | sort -u))
((${#options[@]} > 0)) || fail "--help lists no option: $help"
missing=()
for option in "${options[@]}"; do
    grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|\$)" <<<"$text" || missing+=("$option")
done
((${#missing[@]} == 0)) || fail "options of --help not in the manual page: ${missing[*]}"
echo "the manual page has all ${#options[@]} options of --help: ${options[*]}"
