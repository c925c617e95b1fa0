#!/usr/bin/env python3
"""A start of an up-to-date install until the game is started: 10,000 files,
2 GiB, all current, warm cache, the file list from nginx in a private network
namespace. With the index of verified files (check_index=1, the index written
by the start before) against without it (every file read), by turns, best of
3 each; natively, then the Windows build under Wine. TVL_BENCH_SCALE=n
divides the data set by n.

Usage: start_index.py [--native-only]. Prints "<name>: <ratio>x vs <baseline>
(...)"."""
import os
import re
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
import make_data  # noqa: E402
import transfer_bench as tb  # noqa: E402  timing, nginx, namespaces, Wine prefixes

SCALE = int(os.environ.get("TVL_BENCH_SCALE", "1"))
FILES, MIB = 10000 // SCALE, 2048 // SCALE
DATA = ROOT / "build" / "bench-data" / f"start-{MIB}-{FILES}"
ROUNDS = 3


def data():
    """(install, www): the installed tree (made once) and what nginx serves:
    its list, zipped, as u/files.txt; no icon list (an empty one)."""
    install, www = DATA / "install", DATA / "www"
    if not (DATA / ".ready").exists():
        shutil.rmtree(DATA, ignore_errors=True)
        make_data.tree(str(install), MIB, FILES)
        (www / "u").mkdir(parents=True)
        (www / "u" / "files.txt").write_bytes(make_data.zipped([("files.txt", (install / "files.txt").read_bytes())]))
        (install / "files.txt").unlink()
        (install / "names0").unlink()
        (install / "data").mkdir()
        (DATA / ".ready").touch()
    return install, www


def last_check(install):
    """The local-check line of the last run in the support log."""
    log = (install / "TervalisOnline2D.log").read_bytes().decode("cp1251")
    return re.findall(r"local check: [^\r\n]*", log)[-1]


def compare(install, run, launcher, game):
    """(with, without) in seconds: one start to write the index, then starts
    by turns."""
    shutil.copy(launcher, install / launcher.name)
    shutil.copy(game, install / "TervalisOnline2D.bin")

    def start(index):
        (install / "TervalisOnline2D.ini").write_text(tb.INI + f"check_index={index}\r\n")
        return run(install / launcher.name, install)

    start(1)
    with_, without = [], []
    for _ in range(ROUNDS):
        without.append(start(0))
        with_.append(start(1))
    check = last_check(install)
    if f"{FILES} files, 0 read" not in check:
        raise RuntimeError(f"the start with the index read files: {check}")
    (install / launcher.name).unlink()
    return min(with_), min(without)


def main():
    install, www = data()
    ns = tb.h.NetNs()
    wine = None
    try:
        tb.WORK.mkdir(parents=True, exist_ok=True)
        nginx = tb.h.Nginx(ns, www, tb.WORK / "nginx-start", extra="access_log off;")
        w, wo = compare(install, lambda exe, cwd: tb.timed(ns.prefix() + [str(exe)], cwd=cwd),
                        tb.NATIVE / "TervalisOnline2D", tb.NATIVE / "stub_game")
        print(f"start-index: {w / wo:.3f}x vs the same start without the index ({FILES} files, {MIB} MiB, all "
              f"current, warm cache; with {w:.3f} s, without {wo:.3f} s; best of {ROUNDS})")
        if "--native-only" not in sys.argv and (tb.WIN / "TervalisOnline2D.exe").exists():
            wine = tb.WinePrefix(ns)
            w, wo = compare(install, wine.run, tb.WIN / "TervalisOnline2D.exe", tb.WIN / "stub_game.exe")
            print(f"start-index-wine: {w / wo:.3f}x vs the same start without the index (Windows build under "
                  f"Wine, Wine's start included; with {w:.3f} s, without {wo:.3f} s; best of {ROUNDS})")
        nginx.stop()
    finally:
        if wine:
            wine.close()
        ns.close()


if __name__ == "__main__":
    main()
