#!/usr/bin/env bash
# Makes the installer's two clips from the vector sources and captions.tsv beside this
# script: clip_en.mp4 (resource 401) and clip_ja.mp4 (402), each 1170 x 720, 24 fps,
# 720 frames, one H.264 track, no sound. Also a 48-frame English clip for the media tests.
# The outputs are committed: only whoever changes the artwork needs rsvg-convert and ffmpeg.
#
# Each clip: the page's gradient with two slow glows, three ten-second scenes (caption and
# slide picture, faded in and out so the loop joins invisibly), a language mark top right
# (purple "EN", blue Japanese) and a thin purple time line along the top edge that grows
# with the frame number.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
for tool in rsvg-convert:librsvg2-bin ffmpeg:ffmpeg; do
  command -v "${tool%%:*}" >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${tool##*:}"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# fill TEMPLATE OUT.png WIDTH HEIGHT KEY=VALUE...: fills @KEY@ fields and renders the SVG.
fill() {
  local template=$1 out=$2 width=$3 height=$4
  shift 4
  python3 - "$template" "$@" >"$work/filled.svg" <<'PY'
import html, sys
text = open(sys.argv[1], encoding="utf-8").read()
for pair in sys.argv[2:]:
    key, value = pair.split("=", 1)
    text = text.replace("@" + key + "@", html.escape(value))
sys.stdout.write(text)
PY
  rsvg-convert -w "$width" -h "$height" "$work/filled.svg" -o "$out"
}

rsvg-convert -w 1170 -h 720 "$here/background.svg" -o "$work/background.png"
fill "$here/glow.svg" "$work/glow_a.png" 560 560 COLOUR='#6E4DE8'
fill "$here/glow.svg" "$work/glow_b.png" 560 560 COLOUR='#0A84FF'

# make_clip LANG FRAMES OUT
make_clip() {
  local lang=$1 frames=$2 out=$3 font fill_colour mark
  case $lang in
    en) font='DejaVu Sans' fill_colour='#6E4DE8' mark='EN' ;;
    ja) font='WenQuanYi Micro Hei' fill_colour='#0A84FF' mark='日本語' ;;
  esac
  fill "$here/badge.svg" "$work/badge.png" 140 60 FILL="$fill_colour" FONT="$font" TEXT="$mark"
  while IFS=$'\t' read -r row_lang scene line1 line2 subtitle; do
    [ "$row_lang" = "$lang" ] || continue
    fill "$here/caption.svg" "$work/caption$scene.png" 1170 720 \
      FONT="$font" LINE1="$line1" LINE2="$line2" SUBTITLE="$subtitle"
  done <"$here/captions.tsv"

  local seconds scene_length fade graph inputs=() i
  seconds=$(python3 -c "print($frames / 24)")
  scene_length=$(python3 -c "print($frames / 72)")
  fade=$(python3 -c "print($frames / 900)")
  for image in background glow_a glow_b caption0 caption1 caption2 badge; do
    inputs+=(-loop 1 -framerate 24 -t "$seconds" -i "$work/$image.png")
  done
  for i in 0 1 2; do
    inputs+=(-loop 1 -framerate 24 -t "$seconds" -i "$root/resources/slides/slide$i.png")
  done
  graph="[0:v]format=rgba[bg];"
  graph+="[bg][1:v]overlay=x='-140+90*sin(2*PI*t/$seconds)':y='-220+60*cos(2*PI*t/$seconds)'[g1];"
  graph+="[g1][2:v]overlay=x='760+80*cos(2*PI*t/$seconds)':y='300+50*sin(2*PI*t/$seconds)'[g2];"
  for i in 0 1 2; do
    local start out_start
    start=$(python3 -c "print($i * $scene_length)")
    out_start=$(python3 -c "print(($i + 1) * $scene_length - $fade)")
    graph+="[$((7 + i)):v]scale=496:394[slide$i];"
    graph+="[$((3 + i)):v][slide$i]overlay=610:150:format=auto,"
    graph+="fade=t=in:st=$start:d=$fade:alpha=1,fade=t=out:st=$out_start:d=$fade:alpha=1[scene$i];"
  done
  graph+="[g2][scene0]overlay[s0];[s0][scene1]overlay[s1];[s1][scene2]overlay[s2];"
  graph+="[s2][6:v]overlay=1000:30[marked];"
  graph+="color=c=0x6E4DE8:s=1170x6:r=24[line];"
  graph+="[marked][line]overlay=x='-w+w*(n+1)/$frames':y=0:shortest=1,"
  graph+="scale=out_color_matrix=bt709:out_range=tv,format=yuv420p[v]"
  ffmpeg -hide_banner -loglevel error -y "${inputs[@]}" -filter_complex "$graph" -map '[v]' \
    -frames:v "$frames" -r 24 -an -c:v libx264 -preset veryslow -crf 30 -tune animation \
    -x264-params keyint=240 -colorspace bt709 -color_primaries bt709 -color_trc bt709 \
    -color_range tv -movflags +faststart -map_metadata -1 -fflags +bitexact \
    -brand isom "$out"
  ls -l "$out"
}

make_clip en 720 "$here/clip_en.mp4"
make_clip ja 720 "$here/clip_ja.mp4"
make_clip en 48 "$root/tests/ui/fixtures/short_clip.mp4"
