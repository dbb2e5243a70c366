#!/usr/bin/env python3
"""Writes the feeds of the installer's feed tables (tests/feed/*_test.cpp and
tests/e2e/startup_test.sh) as files into OUT_DIR, one file per case, for the
differential check of tavro-release against the installer's own feed check.
Only the cases that run under the embedded demo configuration are taken."""
import os
import sys

SHA = "lOx7CcNiSWsDe/2Ikg4V8QXiiHgQqTgciOVxqOk2iPNUAvegbk5hZ5iWKYLhTKB9R4dT7XSfp5UltjEebhI/nA=="
SETUP = "Tavro-Setup-1.4.2.exe"


def entry(url, sha=SHA, size="1024"):
    return f"  - url: {url}\n    sha512: {sha}\n    size: {size}\n"


def feed(entries, version="1.4.2"):
    return f"version: {version}\nfiles:\n{entries}"


def descriptor_cases():
    two_equals = SHA[:85] + "B=="
    yield "builds-one-artifact", feed(entry(SETUP + ".blockmap") + entry(SETUP) + "    blockMapSize: 5\n" + entry("notes.txt"))
    yield "relative-url", feed(entry(SETUP))
    yield "absolute-url", feed(entry("https://127.0.0.1/any/" + SETUP))
    yield "no-normalisation", feed(entry("../x/" + SETUP))
    yield "query-in-url", feed(entry(SETUP + "?x=1/" + SETUP))
    for size in ("1", "19999999999", "000000000000000000000000042"):
        yield f"size-{size[:12]}", feed(entry(SETUP, SHA, size))
    refusals = {
        "parser-failure": "version: 1.4.2\n",
        "version-beyond-32-bits": feed(entry(SETUP), "4294967296.0.0"),
        "only-block-map": feed(entry(SETUP + ".blockmap")),
        "only-archive": feed(entry("Tavro-1.4.2.zip")),
        "upper-case-extension": feed(entry("Tavro-Setup-1.4.2.EXE")),
        "name-shorter-than-four": feed(entry("exe")),
        "second-exe-misnamed": feed(entry(SETUP) + entry("Other.exe")),
        "exe-of-another-version": feed(entry("Tavro-Setup-1.4.3.exe")),
        "name-in-other-case": feed(entry("tavro-setup-1.4.2.exe")),
        "just-exe": feed(entry(".exe")),
        "listed-twice": feed(entry(SETUP) + entry(SETUP)),
        "twice-on-both-hosts": feed(entry(SETUP) + entry("https://127.0.0.1/" + SETUP)),
        "untrusted-host-skipped-file": feed(entry("https://example.com/notes.txt") + entry(SETUP)),
        "untrusted-host-after-package": feed(entry(SETUP) + entry("https://example.com/notes.txt")),
        "plain-http": feed(entry("http://localhost/" + SETUP)),
        "other-port": feed(entry("https://localhost:8443/" + SETUP)),
        "fragment": feed(entry(SETUP + "#x")),
        "missing-sha512": feed(f"  - url: {SETUP}\n    size: 1\n"),
        "missing-size": feed(f"  - url: {SETUP}\n    sha512: {SHA}\n"),
        "hash-bad-last-character": feed(entry(SETUP, two_equals)),
        "hash-in-hex": feed(entry(SETUP, "a" * 128)),
        "hash-too-short": feed(entry(SETUP, SHA[4:])),
        "hash-url-safe-alphabet": feed(entry(SETUP, "-" + SHA[1:])),
        "hash-with-blank": feed(entry(SETUP, "'" + SHA[:40] + " " + SHA[41:] + "'")),
        "size-zero": feed(entry(SETUP, SHA, "0")),
        "size-too-large": feed(entry(SETUP, SHA, "20000000000")),
        "size-with-plus": feed(entry(SETUP, SHA, "+5")),
        "size-quoted-blank": feed(entry(SETUP, SHA, "' 5'")),
        "size-empty": feed(entry(SETUP, SHA, "''")),
        "size-hexadecimal": feed(entry(SETUP, SHA, "0x10")),
        "size-beyond-64-bits": feed(entry(SETUP, SHA, "18446744073709551616")),
        "size-at-64-bit-limit": feed(entry(SETUP, SHA, "18446744073709551615")),
    }
    yield from refusals.items()


def parser_cases():
    good = f"  - url: {SETUP}\n    sha512: {SHA}\n    size: 42\n"
    accepted = {
        "well-formed": "version: 1.4.2\nfiles:\n" + good + "    blockMapSize: 7\npath: x\nreleaseDate: '2026-01-01'\n",
        "crlf-and-bom": "\ufeffversion: 1.4.2\r\nfiles:\r\n" + good.replace("\n", "\r\n"),
        "bom-on-every-line": "\ufeffversion: 1.4.2\n\ufefffiles:\n\ufeff" + good,
        "quoted-values": f"version: '1.4.2'\nfiles:\n  - url: \"{SETUP}\"\n    sha512: '{SHA}'\n    size: \"42\"\n",
        "no-blank-after-colon": f"version:1.4.2 \t\nfiles:\n  - url:\t{SETUP}  \n    sha512:{SHA}\n    size:   42\t\n",
        "comments-inside-list": "version: 1.4.2\nfiles:\n  - url: a\n\n# note\n    # indented\n" + good,
        "other-key-ends-list": "version: 1.4.2\nfiles:\n" + good + "path: a\n  - url: b\n    size: x\n",
        "tab-led-line-ends-list": "version: 1.4.2\nfiles:\n" + good + "\tnote\n  - url: b\n",
        "indented-before-list": "  anything: at all\nversion: 1.4.2\n  - url: z\nfiles:\n" + good,
        "blockmapsize-before-item": "version: 1.4.2\nfiles:\n    blockMapSize: 1\n" + good,
        "leading-zeros": f"version: 0001.04.2\nfiles:\n  - url: Tavro-Setup-0001.04.2.exe\n    sha512: {SHA}\n    size: 1\n",
        "no-final-line-feed": "version: 1.4.2\nfiles:\n" + good.rstrip("\n"),
        "other-top-level-keys": "sha512: x\nversion: 1.4.2\nsize: 1\nfiles:\n" + good + "files2: y\n",
    }
    yield from accepted.items()
    refusals = [
        "", "# a\n  # b\n\t# c\n", "version: 1.0.0\nfiles:\n\n  # none\n", "files:\n  - url: a.exe\n",
        "version: 1.0.0 # latest\nfiles:\n  - url: a.exe\n", "version: v1.0.0\nfiles:\n  - url: a.exe\n",
        " version: 1.0.0\nfiles:\n  - url: a.exe\n", "\tversion: 1.0.0\nfiles:\n  - url: a.exe\n",
        "Version: 1.0.0\nfiles:\n  - url: a.exe\n", "version: 1.0.0\r\r\nfiles:\n  - url: a.exe\n",
        "version: 1.0.0\nversion: 1.0.0\nfiles:\n  - url: a\n",
        "version: 1.0.0\nfiles:\n  - url: a\n    sha512: x\n    sha512: y\n",
        "version: 1.0.0\nfiles:\n  - url: a\n    size: 1\n    size: 1\n",
        "version: 1.0.0\nfiles:\n  - url: a\nfiles:\n", "version: 1.0.0\nfiles: []\n",
        "version: 1.0.0\nfiles: # none\n  - url: a\n", "version: 1.0.0\nfiles:\n    sha512: x\n  - url: a\n",
        "version: 1.0.0\nfiles:\n   - url: a\n", "version: 1.0.0\nfiles:\n  - url: a\n    name: b\n",
        "version: 1.0.0\nfiles:\n  \t- url: a\n", "version: 1.0.0\nfiles:\n  -url: a\n",
        "version: 1.0.0\nfiles:\n  - url: a\n    blockMapSize: 12a\n",
        "version: 1.0.0\nfiles:\n  - url: a\n    blockMapSize:  12\n",
        "version: 1.0.0\nfiles:\n  - url: a\n    blockMapSize: \n", "version: 1.0.0\nfiles:\n  - url: a\rb\n",
        "version: '\nfiles:\n  - url: a\n", "version: '1.0.0\nfiles:\n  - url: a\n",
        "version: \"1.0.0'\nfiles:\n  - url: a\n", "version: 1.0.0\nfiles:\n  - url: 'a\\b.exe'\n",
        "version: 1.0.0\nfiles:\n  - url: \"a\"b\"\n", "version: &v 1.0.0\nfiles:\n  - url: a\n",
        "version: 1.0.0\nfiles:\n  - url: [a]\n", "version: |\nfiles:\n  - url: a\n",
        "version: 1.0.0\nfiles:\n  - url: a\n    size: >\n",
        "version: 1.0.0\nfiles:\n  - url: a\n    size: 1\n    size: '2\n", "#" * 131073,
    ]
    for i, text in enumerate(refusals):
        yield f"parser-refusal-{i:02}", text
    # The size limit, exactly and one byte over, with a usable feed inside.
    head = "version: 1.4.2\nfiles:\n" + good
    yield "size-limit-exact", head + "#" + "x" * (131072 - len(head) - 1)
    yield "size-limit-over", head + "#" + "x" * (131072 - len(head))


def startup_cases():
    ssha = SHA
    def e(url, sha=ssha, size="1024"):
        return f"  - url: {url}\n    sha512: {sha}\n    size: {size}\n"
    f = "version: 1.0.0\nfiles:\n"
    setup = "Tavro-Setup-1.0.0.exe"
    yield "startup-relative", f + e(setup)
    yield "startup-absolute", f + e("https://127.0.0.1/files/" + setup) + e(setup + ".blockmap")
    yield "startup-untrusted-host", f + e("https://example.com/" + setup)
    yield "startup-plain-http", f + e("http://localhost/" + setup)
    yield "startup-other-port", f + e("https://localhost:8443/" + setup)
    yield "startup-user-info", f + e("https://user@localhost/" + setup)
    yield "startup-host-case", f + e("https://LOCALHOST/" + setup)
    yield "startup-no-package", f + e("notes.txt")
    yield "startup-wrong-version", f + e("Tavro-Setup-1.0.1.exe")
    yield "startup-duplicate", f + e(setup) + e(setup)
    yield "startup-bad-hash", f + e(setup, ssha[:-3] + "B==")
    yield "startup-zero-size", f + e(setup, ssha, "0")
    yield "startup-huge-size", f + e(setup, ssha, "99999999999999999999")
    yield "startup-wide-version", "version: 4294967296.0.0\nfiles:\n" + e("Tavro-Setup-4294967296.0.0.exe")
    yield "startup-no-hash", f + f"  - url: {setup}\n    size: 5\n"
    yield "startup-bad-indent", f + "   - url: x\n"
    yield "startup-bad-scalar", "version: '1.0.0\nfiles:\n" + e(setup)
    yield "startup-empty", ""
    yield "startup-one-line-limit", "x" * 131072
    yield "startup-one-line-over", " " * 200000
    yield "startup-long-url", (f"version: 1.0.0\nfiles:\n  - url: https://localhost/{'a' * 130000}/{setup}\n"
                               f"    sha512: {ssha}\n    size: 1\n")
    yield "startup-long-value", "version: 1.0.0\nfiles:\n  - url: " + "u" * 131000 + "\n"


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    count = 0
    for cases in (descriptor_cases(), parser_cases(), startup_cases()):
        for name, text in cases:
            with open(os.path.join(out, name + ".yml"), "wb") as f:
                f.write(text.encode("utf-8"))
            count += 1
    print(count)


if __name__ == "__main__":
    main()
