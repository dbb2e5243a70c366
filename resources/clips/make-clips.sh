#!/usr/bin/env bash
# Makes the installer's two clips from the vector sources and captions.tsv beside this
# script: clip_en.mp4 (resource 401) and clip_ja.mp4 (402), each 1168 x 720, 24 fps,
# 720 frames, one H.264 track, no sound. Also a 48-frame English clip for the media tests,
# made the same way. The outputs are committed: only whoever changes the artwork needs
# rsvg-convert and ffmpeg.
#
# Each clip: the page's gradient with two slow glows and three ten-second scenes (caption
# and slide picture). A scene stands whole for its first nine seconds, fades out in half a
# second, and the next fades in over the last half second before its own start; scene 0 fades
# in again at the very end, so the clip opens on a whole scene and the loop joins invisibly.
# Nothing else is drawn: no mark for tests, what a user sees is all there is.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
for tool in rsvg-convert:librsvg2-bin ffmpeg:ffmpeg; do
  command -v "${tool%%:*}" >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${tool##*:}"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The slide picture of a scene covers x 610 to 1106; a caption line must end this far left of
# it, or its last letters run under the picture.
card_left=610 column_gap=36
# Titles are set at the largest size, in steps of 2, at which every line of the clip fits.
title_largest=58 title_smallest=40

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

# ink_right LAYER.png TOP BOTTOM: the rightmost column of a 1170-pixel-wide layer with visible
# ink (alpha of 32 or more) between the two rows, or -1.
ink_right() {
  ffmpeg -nostdin -v error -i "$1" -f rawvideo -pix_fmt rgba - | python3 -c '
import sys
top, bottom = int(sys.argv[1]), int(sys.argv[2])
alpha = sys.stdin.buffer.read()[3::4]
print(max((x for y in range(top, bottom) for x in range(1170) if alpha[y * 1170 + x] >= 32), default=-1))
' "$2" "$3"
}

# at EXPRESSION: its value, for the filters' times in seconds.
at() { python3 -c "print($1)"; }

rsvg-convert -w 1170 -h 720 "$here/background.svg" -o "$work/background.png"
fill "$here/glow.svg" "$work/glow_a.png" 560 560 COLOUR='#6E4DE8'
fill "$here/glow.svg" "$work/glow_b.png" 560 560 COLOUR='#0A84FF'

# caption_layers LANG FONT: renders the language's three captions to caption0..2.png with
# titles as large as fit the column; fails when even the smallest size does not.
caption_layers() {
  local lang=$1 font=$2 size=$title_largest limit=$((card_left - column_gap))
  local row_lang scene line1 line2 subtitle right too_wide
  while :; do
    too_wide=''
    while IFS=$'\t' read -r row_lang scene line1 line2 subtitle; do
      [ "$row_lang" = "$lang" ] || continue
      fill "$here/caption.svg" "$work/caption$scene.png" 1170 720 FONT="$font" TITLE_SIZE="$size" \
        LINE1_Y=$((304 - (74 * size + 29) / 58)) LINE1="$line1" LINE2="$line2" SUBTITLE="$subtitle"
      # The subtitle's size is fixed: a subtitle too long for the column must be reworded.
      right=$(ink_right "$work/caption$scene.png" 334 400)
      if [ "$right" -ge "$limit" ]; then
        echo "make-clips.sh: $lang scene $scene: subtitle \"$subtitle\" reaches x $right, past $limit" >&2
        exit 1
      fi
      right=$(ink_right "$work/caption$scene.png" 0 334)
      [ "$right" -lt "$limit" ] || too_wide+=" scene $scene reaches x $right;"
    done <"$here/captions.tsv"
    [ -n "$too_wide" ] || break
    if [ $((size - 2)) -lt $title_smallest ]; then
      echo "make-clips.sh: $lang titles do not fit left of x $limit even at $size px:$too_wide" >&2
      exit 1
    fi
    size=$((size - 2))
  done
  echo "$lang: titles at $size px, every caption line ends left of x $limit"
}

# make_clip LANG FRAMES OUT
make_clip() {
  local lang=$1 frames=$2 out=$3 font
  case $lang in
    en) font='DejaVu Sans' ;;
    ja) font='WenQuanYi Micro Hei' ;;
  esac
  caption_layers "$lang" "$font"

  local seconds scene_length fade graph inputs=() i
  seconds=$(at "$frames / 24")
  scene_length=$(at "$frames / 72")
  fade=$(at "$frames / 1440")
  for image in background glow_a glow_b caption0 caption1 caption2; do
    inputs+=(-loop 1 -framerate 24 -t "$seconds" -i "$work/$image.png")
  done
  for i in 0 1 2; do
    inputs+=(-loop 1 -framerate 24 -t "$seconds" -i "$root/resources/slides/slide$i.png")
  done
  graph="[0:v]format=rgba[bg];"
  graph+="[bg][1:v]overlay=x='-140+90*sin(2*PI*t/$seconds)':y='-220+60*cos(2*PI*t/$seconds)'[g1];"
  graph+="[g1][2:v]overlay=x='760+80*cos(2*PI*t/$seconds)':y='300+50*sin(2*PI*t/$seconds)'[g2];"
  for i in 0 1 2; do
    graph+="[$((6 + i)):v]scale=496:394[slide$i];"
    graph+="[$((3 + i)):v][slide$i]overlay=$card_left:150:format=auto"
    if [ "$i" = 0 ]; then
      graph+=",split[first][again];"
      graph+="[first]fade=t=out:st=$(at "$scene_length - 2 * $fade"):d=$fade:alpha=1[scene0];"
      graph+="[again]fade=t=in:st=$(at "3 * $scene_length - $fade"):d=$fade:alpha=1[scene0again];"
    else
      graph+=",fade=t=in:st=$(at "$i * $scene_length - $fade"):d=$fade:alpha=1"
      graph+=",fade=t=out:st=$(at "($i + 1) * $scene_length - 2 * $fade"):d=$fade:alpha=1[scene$i];"
    fi
  done
  graph+="[g2][scene0]overlay[s0];[s0][scene1]overlay[s1];[s1][scene2]overlay[s2];[s2][scene0again]overlay,"
  # The artwork is laid out 1170 wide; the clip keeps its middle 1168 columns. H.264 codes
  # whole 16-pixel blocks, and a width that is no multiple of 16 reaches a player as a padded
  # picture to be cropped: a frame size with a display aperture on Windows, padded buffers
  # that a newer GStreamer refuses outright (it aborts the process).
  graph+="crop=1168:720:1:0,scale=out_color_matrix=bt709:out_range=tv,format=yuv420p[v]"
  # One key frame: the clip is only ever played from its start. Both clips ride inside
  # TavroInstaller.exe, which must stay within 1 MiB; crf 32 gives about 155 KB a clip with
  # no blur that shows at the page's scale.
  ffmpeg -hide_banner -loglevel error -y "${inputs[@]}" -filter_complex "$graph" -map '[v]' \
    -frames:v "$frames" -r 24 -an -c:v libx264 -preset veryslow -crf 32 -tune animation \
    -x264-params keyint=720 -colorspace bt709 -color_primaries bt709 -color_trc bt709 \
    -color_range tv -movflags +faststart -map_metadata -1 -fflags +bitexact \
    -brand isom "$out"
  ls -l "$out"
}

make_clip en 720 "$here/clip_en.mp4"
make_clip ja 720 "$here/clip_ja.mp4"
make_clip en 48 "$root/tests/ui/fixtures/short_clip.mp4"
