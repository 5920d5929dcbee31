#!/usr/bin/env bash
# velkorix video decode: MPEG-4 and H.264 streams made by ffmpeg decode into
# YUV4MPEG2 files that ffmpeg reads back as the very pictures of its own
# decode; type 16 (length-prefixed) gives type 1's file; a size change, a cut
# record, a missing module, garbage and usage errors are reported.
#   usage: video_cli_test.sh CLI WORKDIR
source "$(dirname "$0")/support/shell_test.sh"
command -v ffmpeg >/dev/null || fail "ffmpeg is needed (scripts/install-deps.sh)"

ff() { ffmpeg -nostdin -v error -y "$@"; }
source="-f lavfi -i testsrc2=size=176x144:rate=25"
# shellcheck disable=SC2086
ff $source -frames:v 40 -pix_fmt yuv420p -c:v mpeg4 -bf 2 -g 12 -f m4v a.m4v
# shellcheck disable=SC2086
ff $source -frames:v 40 -pix_fmt yuv420p -c:v libx264 -bf 3 -g 15 -x264-params aud=1 -f h264 a.h264
# shellcheck disable=SC2086
ff -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 10 -pix_fmt yuv420p -c:v mpeg4 -bf 2 -f m4v b.m4v

# Pictures as ffmpeg decodes a file (rawvideo, planar 4:2:0).
raw() { ff -i "$1" -f rawvideo -pix_fmt yuv420p "$2"; }

# ---- Each type: the Y4M holds ffmpeg's own pictures ----
"$cli" video decode a.m4v -o a0.y4m --type 0 2>log0 || fail "type 0 decode: $(cat log0)"
"$cli" video decode a.h264 -o a1.y4m --type 1 2>log1 || fail "type 1 decode: $(cat log1)"
grep -q "40 pictures of 176x144" log0 || fail "type 0: $(cat log0)"
grep -q "40 pictures of 176x144" log1 || fail "type 1: $(cat log1)"
head -n1 a0.y4m | grep -qx "YUV4MPEG2 W176 H144 F25:1 Ip A1:1 C420mpeg2" || fail "header: $(head -n1 a0.y4m)"
for pair in "a.m4v a0.y4m" "a.h264 a1.y4m"; do
  set -- $pair
  raw "$1" "$1.yuv"
  raw "$2" "$2.yuv"
  [[ $(stat -c %s "$1.yuv") -eq $((40 * 176 * 144 * 3 / 2)) ]] || fail "$1: ffmpeg's decode is not 40 pictures"
  cmp -s "$1.yuv" "$2.yuv" || fail "$2 read back by ffmpeg differs from ffmpeg's decode of $1"
done
probed=$(ffprobe -v error -count_frames -show_entries stream=width,height,nb_read_frames -of csv=p=0 a1.y4m)
[[ $probed == "176,144,40" ]] || fail "ffprobe sees '$probed' in a1.y4m, not 40 pictures of 176x144"

# ---- Type 16: each access unit after its 4-byte big-endian length ----
perl -e 'local $/; my $s = <STDIN>; my @u = split /(?=\x00\x00\x00\x01\x09)/, $s;
         print pack("N", length $_), $_ for @u;' <a.h264 >a.h264p
"$cli" video decode a.h264p -o a16.y4m --type 16 2>/dev/null || fail "type 16 decode"
cmp -s a1.y4m a16.y4m || fail "type 16 gives other pictures than type 1"
# Standard input and output.
"$cli" video decode - -o - --type 16 <a.h264p 2>/dev/null | cmp -s - a1.y4m || fail "type 16 through pipes"

# A record cut short: what came before it is written, exit status 3.
head -c -100 a.h264p >cut.h264p
s=$(status "$cli" video decode cut.h264p -o cut.y4m --type 16)
[[ $s == 3 ]] || fail "a cut record gives status $s, expected 3"
[[ -s cut.y4m ]] || fail "nothing written before the cut record"

# ---- A size change ends the file at the change, exit status 3 ----
cat a.m4v b.m4v >ab.m4v
s=$(status "$cli" video decode ab.m4v -o ab.y4m --type 0)
[[ $s == 3 ]] || fail "a size change gives status $s, expected 3"
raw ab.y4m ab.yuv
# libavcodec's MPEG-4 decoder drops the picture it holds back at the change.
pictures=$(( $(stat -c %s ab.yuv) / (176 * 144 * 3 / 2) ))
(( pictures >= 39 && pictures <= 40 )) || fail "$pictures pictures before the size change"
cmp -s ab.yuv <(head -c $(stat -c %s ab.yuv) a.m4v.yuv) || fail "pictures before the size change differ"

# ---- Failures: nothing written ----
head -c 20000 /dev/urandom >garbage.bin
for type in 0 1 16; do
  s=$(status "$cli" video decode garbage.bin -o garbage$type.y4m --type $type)
  [[ $s == 1 || $s == 3 ]] || fail "garbage as type $type: status $s"
done
s=$(VELKORIX_VIDEO_MODULE=$work/none.so status "$cli" video decode a.m4v -o none.y4m --type 0)
[[ $s == 1 && ! -e none.y4m ]] || fail "without the video module: status $s, or a file written"
said=$(VELKORIX_VIDEO_MODULE=$work/none.so "$cli" video decode a.m4v -o none.y4m --type 0 2>&1 || true)
grep -q "video module" <<<"$said" || fail "a missing module is not named: $said"

# ---- Usage ----
help=$("$cli" video decode --help)
grep -q "^usage: velkorix video decode" <<<"$help" || fail "no help"
help=$("$cli" video --help)
grep -q "^usage: velkorix video decode" <<<"$help" || fail "no group help"
[[ $(status "$cli" video decode a.m4v -o x.y4m) == 2 ]] || fail "no --type is not a usage error"
[[ $(status "$cli" video decode a.m4v -o x.y4m --type 2) == 2 ]] || fail "--type 2 is not a usage error"
[[ $(status "$cli" video decode a.m4v --type 0) == 2 ]] || fail "no -o is not a usage error"
[[ $(status "$cli" video decode a.m4v -o x.y4m --type 0 --rate 0) == 2 ]] || fail "--rate 0 accepted"
"$cli" video decode a.m4v -o r.y4m --type 0 --rate 30000:1001 2>/dev/null
head -n1 r.y4m | grep -q " F30000:1001 " || fail "--rate not in the header"
[[ ! -e x.y4m ]] || fail "a usage error wrote a file"

echo "video decode: types 0, 1 and 16 to YUV4MPEG2 as ffmpeg decodes them"
