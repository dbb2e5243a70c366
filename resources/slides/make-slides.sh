#!/usr/bin/env bash
# Renders the three slide images (620 x 492 PNG) from their vector sources. The PNGs are
# committed, so only whoever changes a slide needs rsvg-convert.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v rsvg-convert >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends librsvg2-bin
for i in 0 1 2; do
  rsvg-convert -w 620 -h 492 "$here/slide$i.svg" -o "$here/slide$i.png"
done
ls -l "$here"/slide?.png
