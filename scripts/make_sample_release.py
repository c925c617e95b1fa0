#!/usr/bin/env python3
"""Makes a deterministic sample release of the game (maps, textures, sounds,
scripts and a few large packs) plus clan icons, and an older version of it,
for the demo and the round-trip tests.

    make_sample_release.py OUT [--small]

writes OUT/release (the new version), OUT/old (what an out-of-date player
has: a third of the files older, a sixth missing) and OUT/icons."""
import argparse
import io
import json
import random
import zlib
from pathlib import Path


def text_bytes(rng, size):
    words = [b"tervalis", b"castle", b"river", b"quest", b"guild", b"sword", b"\r\n", b"map", b"npc", b"=", b"1"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


def noise(rng, size):
    return rng.randbytes(size)


def png(rng, w=16, h=16):
    rows = b"".join(b"\0" + rng.randbytes(w * 3) for _ in range(h))

    def chunk(kind, data):
        c = kind + data
        return len(data).to_bytes(4, "big") + c + zlib.crc32(c).to_bytes(4, "big")

    ihdr = w.to_bytes(4, "big") + h.to_bytes(4, "big") + bytes([8, 2, 0, 0, 0])
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def release_files(small):
    rng = random.Random(2026)
    scale = 0.15 if small else 1.0
    files = {}
    for i in range(int(80 * scale)):
        files[f"data/maps/map_{i:03}.map"] = text_bytes(rng, rng.randint(10_000, 200_000))
    for i in range(int(120 * scale)):
        files[f"data/textures/tex_{i:03}.dds"] = noise(rng, rng.randint(20_000, 300_000))
    for i in range(int(50 * scale)):
        files[f"data/sounds/snd_{i:02}.ogg"] = noise(rng, rng.randint(50_000, 500_000))
    for i in range(int(30 * scale) + 1):
        files[f"data/scripts/quest_{i:02}.lua"] = text_bytes(rng, rng.randint(500, 20_000))
    big = [("data/packs/world.pak", 60), ("data/packs/sounds.pak", 40), ("data/video/intro.bik", 25)]
    for name, mib in big[:1] if small else big:
        size = int(mib * (0.15 if small else 1.0) * 1024 * 1024)
        half = size // 2
        files[name] = text_bytes(rng, half) + noise(rng, size - half)
    files["game.cfg"] = b"[game]\r\nversion=2\r\n"
    return files


def write_tree(root, files):
    for name, data in files.items():
        p = root / name
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--small", action="store_true")
    a = ap.parse_args()
    out = Path(a.out)
    new = release_files(a.small)
    rng = random.Random(7)
    old, changed, missing = {}, [], []
    for i, (name, data) in enumerate(sorted(new.items())):
        if i % 6 == 1:
            missing.append(name)
        elif i % 3 == 0:
            old[name] = data[: len(data) // 2] + b"old version"
            changed.append(name)
        else:
            old[name] = data
    write_tree(out / "release", new)
    write_tree(out / "old", old)
    icons = {f"clan_{i:03}.png": png(random.Random(i)) for i in range(12)}
    write_tree(out / "icons", icons)
    summary = {"files": len(new), "bytes": sum(map(len, new.values())), "changed": len(changed),
               "missing": len(missing), "icons": len(icons)}
    (out / "summary.json").write_text(json.dumps(summary))
    print(json.dumps(summary))


if __name__ == "__main__":
    main()
