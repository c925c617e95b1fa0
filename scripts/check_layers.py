#!/usr/bin/env python3
"""Fails when a source file includes a folder it must not depend on.

Folders depend one way: base at the bottom, then platform, then the release
formats, transfer and update, then splash, then launcher on top; the
publisher uses base, platform and release only. Tests (*_test.cc and their
helpers) may reach across to prove contracts between folders.
"""
import pathlib
import re
import sys

ALLOWED = {
    "base": set(),
    "platform": {"base"},
    "release": {"base", "platform"},
    "transfer": {"base", "platform", "release"},
    "update": {"base", "platform", "release", "transfer"},
    "splash": {"base", "platform", "transfer"},
    "launcher": {"base", "platform", "release", "transfer", "update", "splash"},
    "publish": {"base", "platform", "release"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)


def is_test(path):
    return "_test" in path.stem or path.name.endswith("_test_util.h")


def main():
    src = pathlib.Path(__file__).resolve().parent.parent / "src"
    bad = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cc", ".c") or is_test(path):
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in ALLOWED:
            bad.append(f"{path.relative_to(src)}: folder {folder} has no place in the layers")
            continue
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            if target != folder and target not in ALLOWED[folder]:
                bad.append(f"{path.relative_to(src)}: {folder} may not include {target}/")
    for line in bad:
        print("layers:", line)
    print(f"layers: {'FAILED' if bad else 'ok'}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
