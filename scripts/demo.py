#!/usr/bin/env python3
"""Demo: a fresh game folder with the real TervalisOnline2D.exe and a stand-in
game, started under Wine and Xvfb the way a player's shortcut starts it. Prints
what the game received and ends with PASS or FAIL."""
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import conftest as h  # noqa: E402


def main():
    work = Path(tempfile.mkdtemp(prefix="tvl-demo-"))
    t0 = time.time()
    screen = h.Xvfb()
    wine = h.Wine(h.base_prefix(), work / "prefix", screen.display)
    ok = False
    try:
        inst = h.Install(work / "Tervalis Online", h.BUILD_WIN / "bin", h.LAUNCHER)
        inst.write_ini(update_server="127.0.0.1", game_server="10.20.30.40", game_port="3801",
                       editor_port="5191", socks_server="", socks_port="")
        exe = h.win_path(inst.launcher)
        line = f'"{exe}" /disableupdate'
        print(f"install:   {inst.path}")
        print(f"starting:  {line}")
        code = wine.run_spawn(exe, line)
        wine.wait_all()
        runs = inst.game_runs()
        want = line + " /server=10.20.30.40 /port=3801"
        print(f"launcher exit code: {code}")
        for r in runs:
            print(f"game got:  {r['cmdline']}")
            print(f"game cwd:  {r['cwd']}")
        ok = code == 0 and len(runs) == 1 and runs[0]["cmdline"] == want
        print(f"time: {time.time() - t0:.1f}s")
    finally:
        wine.close()
        screen.close()
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
