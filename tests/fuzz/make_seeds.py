#!/usr/bin/env python3
"""Writes the seed corpus of one fuzz target from the string literals of unit tests.

Every string literal of the given test sources (adjacent literals joined, escapes
decoded, raw strings included) becomes one seed file, named by its SHA-1 as libFuzzer
names corpus files. The output folder is emptied first.

  make_seeds.py OUT --encoding utf8|utf16 [--join-lines] [--file PATH]...
                [--template TEXT]... SOURCE...

--encoding   utf8: narrow literals as their bytes, wide ones as UTF-8;
             utf16: every literal as UTF-16LE code units (the targets that fuzz wide text).
--join-lines also one seed per source line holding several literals, joined by NUL
             (a table row such as a list of preferred languages).
--file       a whole file as one more seed.
--template   one seed per literal with "{}" replaced by it; "{name}" is replaced by the
             value of the test's constant of that name. Python escapes (\\n) are decoded.
"""
import argparse
import hashlib
import pathlib
import re
import shutil

TOKEN = re.compile(
    r"""(?P<comment>//[^\n]*|/\*.*?\*/)
      | (?P<raw>(?P<rprefix>u8|u|U|L)?R"(?P<delim>[^()\\\s]{0,16})\((?P<rawbody>.*?)\)(?P=delim)")
      | (?P<str>(?P<prefix>u8|u|U|L)?"(?P<body>(?:[^"\\\n]|\\.)*)")
      | (?P<chr>(?:u8|u|U|L)?'(?:[^'\\\n]|\\.)*')
      | (?P<ws>\s+)
      | (?P<word>[A-Za-z_][A-Za-z_0-9]*)
      | (?P<other>.)""",
    re.S | re.X,
)

SIMPLE = {"n": 10, "t": 9, "r": 13, "v": 11, "f": 12, "a": 7, "b": 8,
          "\\": 92, "'": 39, '"': 34, "?": 63}


def decode(body, wide):
    """The literal's code units: bytes for a narrow literal, code points for a wide one."""
    out = []

    def put(value, is_code_point):
        if wide:
            out.append(value)
        elif is_code_point:
            out.extend(chr(value).encode("utf-8", "surrogatepass"))
        else:
            out.append(value & 0xFF)

    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            put(ord(c), True)
            i += 1
            continue
        n = body[i + 1]
        if n in SIMPLE:
            put(SIMPLE[n], False)
            i += 2
        elif n == "x":
            m = re.match(r"[0-9A-Fa-f]+", body[i + 2:])
            put(int(m.group(0), 16), False)
            i += 2 + len(m.group(0))
        elif n in "01234567":
            m = re.match(r"[0-7]{1,3}", body[i + 1:])
            put(int(m.group(0), 8), False)
            i += 1 + len(m.group(0))
        elif n in "uU":
            digits = 4 if n == "u" else 8
            put(int(body[i + 2:i + 2 + digits], 16), True)
            i += 2 + digits
        else:
            raise ValueError("unknown escape \\" + n)
    return out


def literals(source):
    """(line, wide, units, constant name or None) of every literal, adjacent ones joined."""
    found = []
    current = None  # [line, wide, units, name]
    recent = []  # the last words and punctuation before a literal
    for m in TOKEN.finditer(source):
        if m.group("raw") is not None or m.group("str") is not None:
            if m.group("raw") is not None:
                wide = m.group("rprefix") in ("L", "u", "U")
                body = m.group("rawbody")
                units = [ord(c) for c in body] if wide else list(body.encode("utf-8"))
            else:
                wide = m.group("prefix") in ("L", "u", "U")
                units = decode(m.group("body"), wide)
            if current is None:
                line = source.count("\n", 0, m.start()) + 1
                name = None
                if recent[-3:] == ["[", "]", "="] and len(recent) == 4:
                    name = recent[0]
                elif recent[-1:] == ["="] and len(recent) >= 2:
                    name = recent[-2]
                current = [line, wide, units, name]
            elif current[1] == wide:
                current[2] = current[2] + units
            else:  # "a" L"b" is wide as a whole
                joined = text_of(current[1], current[2]) + text_of(wide, units)
                current[1], current[2] = True, [ord(c) for c in joined]
            continue
        if m.group("ws") is not None or m.group("comment") is not None:
            continue
        if current is not None:
            found.append(tuple(current))
            current = None
        recent = (recent + [m.group(0)])[-4:]
    if current is not None:
        found.append(tuple(current))
    return found


def text_of(wide, units):
    return "".join(chr(u) for u in units) if wide else bytes(units).decode("utf-8", "replace")


def encode(wide, units, encoding):
    if encoding == "utf8":
        return "".join(chr(u) for u in units).encode("utf-8", "surrogatepass") if wide else bytes(units)
    return text_of(wide, units).encode("utf-16-le", "surrogatepass")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("sources", nargs="*")
    parser.add_argument("--encoding", choices=("utf8", "utf16"), required=True)
    parser.add_argument("--join-lines", action="store_true")
    parser.add_argument("--file", action="append", default=[])
    parser.add_argument("--template", action="append", default=[])
    args = parser.parse_args()

    seeds = set()
    constants = {}
    every = []
    for path in args.sources:
        found = literals(pathlib.Path(path).read_text(encoding="utf-8"))
        every += found
        by_line = {}
        for line, wide, units, name in found:
            seeds.add(encode(wide, units, args.encoding))
            by_line.setdefault(line, []).append((wide, units))
            if name:
                constants[name] = text_of(wide, units)
        if args.join_lines:
            separator = encode(True, [0], args.encoding)
            for row in by_line.values():
                if len(row) > 1:
                    seeds.add(separator.join(encode(wide, units, args.encoding) for wide, units in row))
    for template in args.template:
        template = template.encode("utf-8").decode("unicode_escape")
        filled = re.sub(r"\{([A-Za-z_][A-Za-z_0-9]*)\}", lambda m: constants[m.group(1)], template)
        for line, wide, units, name in every:
            text = filled.replace("{}", text_of(wide, units))
            seeds.add(text.encode("utf-8") if args.encoding == "utf8" else text.encode("utf-16-le"))
    for path in args.file:
        data = pathlib.Path(path).read_bytes()
        seeds.add(data if args.encoding == "utf8" else data.decode("utf-8", "replace").encode("utf-16-le"))

    out = pathlib.Path(args.out)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    for seed in seeds:
        (out / hashlib.sha1(seed).hexdigest()).write_bytes(seed)


if __name__ == "__main__":
    main()
