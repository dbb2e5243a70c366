#!/usr/bin/env python3
"""Copies a signed PE file and inverts one byte in the middle of its code section.

The result keeps its (now wrong) signature intact, so a verifier must recompute the
image digest to notice: exactly what a tampered download looks like.

    flip_code_byte.py IN OUT
"""
import struct
import sys

IMAGE_SCN_CNT_CODE = 0x00000020


def code_byte_offset(image: bytes) -> int:
    if image[:2] != b"MZ":
        raise ValueError("not a PE file: no MZ header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file: no PE signature")
    sections, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    table = pe + 24 + optional_size
    for i in range(sections):
        entry = table + 40 * i
        name = image[entry:entry + 8].rstrip(b"\0")
        raw_size, raw_offset = struct.unpack_from("<II", image, entry + 16)
        characteristics, = struct.unpack_from("<I", image, entry + 36)
        if characteristics & IMAGE_SCN_CNT_CODE and raw_size > 0:
            return raw_offset + raw_size // 2
    raise ValueError("no code section with file data")


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as f:
        image = bytearray(f.read())
    offset = code_byte_offset(bytes(image))
    image[offset] ^= 0xFF
    with open(sys.argv[2], "wb") as f:
        f.write(image)
    print(f"flipped the byte at offset {offset} of {len(image)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
