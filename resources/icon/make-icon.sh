#!/usr/bin/env bash
# Regenerates tavro.ico from tavro.svg: every size from 16 to 256 pixels is rendered
# from the vector source and stored as a PNG entry (Windows Vista and later read those at
# any size), which keeps the icon, and so the installer, small.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v rsvg-convert >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends librsvg2-bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=(16 20 24 32 40 48 64 96 128 256)
for size in "${sizes[@]}"; do
  rsvg-convert -w "$size" -h "$size" "$here/tavro.svg" -o "$work/$size.png"
done
python3 - "$here/tavro.ico" "${sizes[@]/#/$work/}" <<'PY'
import struct, sys
out, files = sys.argv[1], [f + ".png" for f in sys.argv[2:]]
images = [open(f, "rb").read() for f in files]
sizes = [struct.unpack(">II", png[16:24]) for png in images]
header = struct.pack("<HHH", 0, 1, len(images))
offset = len(header) + 16 * len(images)
entries = b""
for (w, h), png in zip(sizes, images):
    entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(png), offset)
    offset += len(png)
with open(out, "wb") as f:
    f.write(header + entries + b"".join(images))
PY
ls -l "$here/tavro.ico"
