#!/usr/bin/env bash
# The manual page: `cmake --install` puts velkorix.1 into share/man/man1, it
# renders, carries the version, and names every command and every option
# that the commands' --help texts name.
#   usage: manpage_test.sh CLI WORKDIR   (the build tree is the CLI's folder)
set -euo pipefail
cli=$1
work=$2
build=$(cd "$(dirname "$cli")" && pwd)
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >install.log 2>&1 || { cat install.log >&2; fail "install"; }
page=$work/prefix/share/man/man1/velkorix.1
[[ -s $page ]] || fail "no $page after install"
[[ -x $work/prefix/bin/velkorix ]] || fail "no bin/velkorix after install"

# Rendered as a reader sees it (groff from man-db's dependencies).
if command -v man >/dev/null; then
  MANWIDTH=100 man -l "$page" >page.txt 2>render.log || { cat render.log >&2; fail "man cannot render the page"; }
else
  groff -man -Tutf8 "$page" >page.txt 2>render.log || { cat render.log >&2; fail "groff cannot render the page"; }
fi
sed -i 's/.\x08//g' page.txt  # overstrikes for bold and underline
grep -q "^NAME" page.txt && grep -q "^SYNOPSIS" page.txt && grep -q "^COMMANDS" page.txt &&
  grep -q "^EXIT STATUS" page.txt || fail "a section is missing: $(head -30 page.txt)"
version=$("$cli" --version)
grep -q "${version#velkorix }" page.txt || fail "the page does not carry the version $version"

# Every command of the tool, and every option its help names.
commands=$("$cli" --help | awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }')
[[ -n $commands ]] || fail "no commands in 'velkorix --help'"
for command in $commands; do
  grep -q "velkorix $command" page.txt || fail "the page has no section for '$command'"
  for option in $("$cli" "$command" --help | grep -o -- '--\?-[a-z][a-z0-9-]*' | sort -u); do
    grep -q -e "$option" page.txt || fail "the page does not name $option of '$command'"
  done
done
echo "manual page: pass"
