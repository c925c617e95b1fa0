#!/usr/bin/env python3
"""Benchmark data, made once and kept under build/ (never in git).
  make_data.py tree  <dir> <MiB> <files>   installed tree + files.txt listing it
  make_data.py mixed <dir> <MiB>           mixed files for an archive
  make_data.py one   <dir> <MiB>           one file + files.txt
  make_data.py release <dir> [<files> <MiB>]  an update release (default 2,000
                                           files, 300 MiB): <dir>/www is what
                                           the servers serve, <dir>/install an
                                           install a third of whose files are
                                           out of date; half the files packed
  make_data.py patch <dir> <MiB>           a pack in three releases: old/, scatter/
                                           (1% rewritten in 64 KiB pieces), insert/
                                           (1 MiB inserted near the start)"""

import hashlib
import io
import json
import math
import os
import random
import shutil
import sys
import zipfile

MIB = 1 << 20


def sizes(count, total, lo, hi, rnd):
    """count log-uniform sizes between lo and hi, scaled to add up to total."""
    raw = [math.exp(rnd.uniform(math.log(lo), math.log(hi))) for _ in range(count)]
    scale = total / sum(raw)
    out = [max(1, int(s * scale)) for s in raw]
    out[-1] += total - sum(out)
    return out


def write_list(root, names):
    with open(os.path.join(root, "files.txt"), "w", newline="") as lst:
        for name in names:
            with open(os.path.join(root, name), "rb") as f:
                digest = hashlib.md5(f.read()).hexdigest().upper()
            size = os.path.getsize(os.path.join(root, name))
            lst.write(f"{name}\tv1\t-\t{size}\t{digest}\r\n")
    with open(os.path.join(root, "names0"), "wb") as f:
        f.write(b"".join(n.encode() + b"\0" for n in names))


def tree(root, mib, count):
    rnd = random.Random(5000)
    names = []
    for i, size in enumerate(sizes(count, mib * MIB, 1024, 2 * MIB, rnd)):
        name = f"tree/d{i % 50:02d}/f{i:05d}.bin"
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        with open(os.path.join(root, name), "wb") as f:
            f.write(os.urandom(size))
        names.append(name)
    write_list(root, names)


def mixed(root, mib):
    """A third each: random bytes, text, sparse binary; sizes 4 KiB to 8 MiB."""
    rnd = random.Random(300)
    words = ["".join(rnd.choice("etaoinshrdlucmfwyp") for _ in range(rnd.randint(2, 9))) for _ in range(3000)]
    text = " ".join(rnd.choices(words, k=800000)).encode()
    for i, size in enumerate(sizes(max(1, mib * 3), mib * MIB, 4096, 8 * MIB, rnd)):
        path = os.path.join(root, f"m{i % 10}", f"f{i:04d}")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        kind = i % 3
        if kind == 0:
            data = os.urandom(size)
        elif kind == 1:
            start = rnd.randrange(len(text))
            data = (text[start:] + text) * (size // len(text) + 1)
            data = data[:size]
        else:
            data = bytearray(size)
            for _ in range(size // 512):
                data[rnd.randrange(size)] = rnd.randrange(256)
            data = bytes(data)
        with open(path + (".bin", ".txt", ".dat")[kind], "wb") as f:
            f.write(data)


def one(root, mib):
    os.makedirs(os.path.join(root, "tree"), exist_ok=True)
    with open(os.path.join(root, "tree", "one.bin"), "wb") as f:
        for _ in range(mib):
            f.write(os.urandom(MIB))
    write_list(root, ["tree/one.bin"])


def zipped(items, level=6):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED, compresslevel=level) as z:
        for name, data in items:
            z.writestr(name, data)
    return buf.getvalue()


def list_text(entries):
    return "".join(f"{n}\tx\t0\t{size}\t{digest}\r\n" for n, size, digest in entries).encode()


def release(root, files=2000, mib=300):
    """An update release as the servers serve it (www/u: files.txt zipped and
    one zip per packed file; www/i: the icon list and plain files) and an
    install (install/) in which every third file is out of date. Sizes are
    log-normal; each file is half random bytes, half text, so that deflate
    and inflate have work. release.json lists every entry: name, packed,
    size (of the data), served (bytes on the server), changed, digest,
    object (request path), local (path in the install). Made once: kept
    while release.json exists."""
    manifest = os.path.join(root, "release.json")
    if os.path.exists(manifest):
        with open(manifest) as f:
            return json.load(f)
    www, install = os.path.join(root, "www"), os.path.join(root, "install")
    for d in (www, install):
        shutil.rmtree(d, ignore_errors=True)
    rnd = random.Random(7)
    weights = [rnd.lognormvariate(0, 1) for _ in range(files)]
    scale = mib * MIB / sum(weights)
    entries, main, icons = [], [], []
    for i, w in enumerate(weights):
        size = max(1, int(w * scale))
        packed, changed = i % 2 == 0, i % 3 == 0
        name = f"data/pak/f{i:04d}.pak" if packed else f"clan/i{i:04d}.png"
        data = os.urandom(size // 2) + (b"tervalis %06d " % i * (size // 16 + 1))[: size - size // 2]
        local = name if packed else "data/textures/" + name
        path = os.path.join(install, local)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(bytes(b ^ 0x5A for b in data[:64]) + data[64:] if changed else data)
        served = zipped([(name, data)]) if packed else data
        object_path = ("/u/" if packed else "/i/") + name
        target = os.path.join(www, object_path.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(served)
        digest = hashlib.md5(data).hexdigest().upper()
        (main if packed else icons).append((name, len(served), digest))
        entries.append(dict(name=name, packed=packed, size=size, served=len(served), changed=changed, digest=digest,
                            object=object_path, local=local))
    with open(os.path.join(www, "u", "files.txt"), "wb") as f:
        f.write(zipped([("files.txt", list_text(main))]))
    with open(os.path.join(www, "i", "clan_icons_list.txt"), "wb") as f:
        f.write(list_text(icons))
    with open(manifest, "w") as f:
        json.dump(entries, f)
    return entries


def patch(root, mib):
    """A game pack: alternating pieces of incompressible bytes (packed
    assets) and text (scripts, tables), 64 KiB to 1 MiB each, half of each."""
    rnd = random.Random(1300)
    words = [bytes(rnd.choice(b"etaoinshrdlucmfwyp") for _ in range(rnd.randint(2, 9))) for _ in range(5000)]
    text = b" ".join(rnd.choices(words, k=600000))
    total = mib * MIB
    for d in ("old", "scatter", "insert"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    old = os.path.join(root, "old", "pack.dat")
    with open(old, "wb") as f:
        done, i = 0, 0
        while done < total:
            size = min(total - done, rnd.randint(64 << 10, MIB))
            if i % 2 == 0:
                f.write(rnd.randbytes(size))
            else:
                at = rnd.randrange(len(text) - size)
                f.write(text[at:at + size])
            done += size
            i += 1
    piece = 64 << 10
    with open(old, "rb") as src, open(os.path.join(root, "scatter", "pack.dat"), "wb") as dst:
        while chunk := src.read(16 * MIB):
            dst.write(chunk)
    with open(os.path.join(root, "scatter", "pack.dat"), "r+b") as f:
        for _ in range(max(1, total // 100 // piece)):
            f.seek(rnd.randrange(total - piece))
            f.write(rnd.randbytes(piece))
    with open(old, "rb") as src, open(os.path.join(root, "insert", "pack.dat"), "wb") as dst:
        dst.write(src.read(12411))
        dst.write(rnd.randbytes(MIB))
        while chunk := src.read(16 * MIB):
            dst.write(chunk)



if __name__ == "__main__":
    mode, root = sys.argv[1], sys.argv[2]
    os.makedirs(root, exist_ok=True)
    if mode == "tree":
        tree(root, int(sys.argv[3]), int(sys.argv[4]))
    elif mode == "mixed":
        mixed(root, int(sys.argv[3]))
    elif mode == "release":
        release(root, *(int(a) for a in sys.argv[3:5]))
    elif mode == "patch":
        patch(root, int(sys.argv[3]))
    else:
        one(root, int(sys.argv[3]))
