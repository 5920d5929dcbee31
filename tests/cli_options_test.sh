#!/usr/bin/env bash
# Every command's help names every option and fits 80 columns; the long
# forms of the options work as the short ones do.
#   usage: cli_options_test.sh CLI WORKDIR
source "$(dirname "$0")/support/shell_test.sh"

# command | the options its help must name
while IFS='|' read -r command options; do
  # shellcheck disable=SC2086
  help=$("$cli" $command --help) || fail "'$command --help' fails"
  for option in -h --help --version $options; do
    grep -qe "$option" <<<"$help" || fail "'$command --help' does not name $option"
  done
  awk 'length($0) > 80 { exit 1 }' <<<"$help" || fail "'$command --help' has lines beyond 80 columns"
done <<'EOF_COMMANDS'
decode|-o --output -d --directory --type -j --jobs --rate --channels -v --verbose -q --quiet
info|--json --rate --channels
pack|--format -o --output
voice|encode decode transcode --list
voice encode|--codec -o --output --frame
voice decode|--codec -o --output
voice transcode|--selector -o --output
g729|-o --output --wav
g729 decode|-o --output --wav
EOF_COMMANDS

# Long and short forms give the same result.
sample=$root/data/sample-speech.vks
"$cli" decode "$sample" -o short.wav -v 2>short.txt
"$cli" decode "$sample" --output long.wav --verbose 2>long.txt
cmp -s short.wav long.wav || fail "decode --output differs from -o"
diff <(sed 's/short.wav/X/' short.txt) <(sed 's/long.wav/X/' long.txt) >/dev/null || fail "--verbose differs from -v"
"$cli" pack --format 1 short.wav --output packed.vks 2>/dev/null || fail "pack --output"
"$cli" voice encode --codec g711a short.wav --output frames.vf 2>/dev/null || fail "voice encode --output"
"$cli" voice decode --codec g711a frames.vf --output frames.wav 2>/dev/null || fail "voice decode --output"
"$cli" g729 decode "$root/tests/data/g729a/fixed.bit" --output fixed.raw 2>/dev/null || fail "g729 decode --output"
[[ -s packed.vks && -s frames.wav && -s fixed.raw ]] || fail "long forms wrote nothing"
"$cli" decode "$sample" packed.vks -d short -j 2 -q 2>short.txt
"$cli" decode "$sample" packed.vks --directory long --jobs 2 --quiet 2>long.txt
cmp -s short/packed.wav long/packed.wav && cmp -s short/sample-speech.wav long/sample-speech.wav ||
  fail "decode --directory differs from -d"
[[ ! -s short.txt && ! -s long.txt ]] || fail "--quiet differs from -q"

# --version: the tool's, and every command's, the same line.
version=$("$cli" --version)
[[ $version =~ ^velkorix\ [0-9]+\.[0-9]+\.[0-9]+ ]] || fail "velkorix --version says '$version'"
for command in decode info pack voice "voice encode" "voice decode" "voice transcode" g729 "g729 decode"; do
  # shellcheck disable=SC2086
  [[ $("$cli" $command --version) == "$version" ]] || fail "'$command --version' differs from 'velkorix --version'"
done
echo "options: pass"
