#!/usr/bin/env python3
"""The main job, end to end: a sample release is published and signed with
tervalis-publish, served by nginx on 127.0.0.1:80 in a private network
namespace, and the real TervalisOnline2D.exe, built with the release key
(scripts/build_signed.sh), brings an out-of-date install up to date under
Wine and Xvfb, then starts the game. Prints a summary with
timings and the path of a screenshot taken mid-update, and ends with PASS or
FAIL.

    demo.py [--small] [--keep]"""
import argparse
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import conftest as h  # noqa: E402
from publish_helpers import run_publish  # noqa: E402

RED = (200, 10, 20)
SHOT_DIR = h.ROOT / "build" / "demo"
# The throw-away key of this checkout and the launcher built with it.
KEY_DIR = h.ROOT / "build" / "release-test-key"
SIGNED_LAUNCHER = h.ROOT / "build" / "win64-signed" / "bin" / h.LAUNCHER


def step(n, text):
    print(f"[{n}/6] {text}", flush=True)


def bar_fill(png):
    """Red pixels in the progress bar row of the first window found on the
    screenshot (0 when there is no bar)."""
    from PIL import Image
    img = Image.open(png).convert("RGB")
    w, hgt = img.size
    px = img.load()
    best = 0
    for y in range(0, hgt, 2):
        run = sum(1 for x in range(w) if px[x, y] == RED)
        best = max(best, run)
    return best


def capture(display, path):
    subprocess.run(["import", "-display", display, "-window", "root", str(path)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def tree_files(root):
    return {str(p.relative_to(root)): p for p in root.rglob("*") if p.is_file()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--small", action="store_true", help="a smaller release, for the test suite")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    a = ap.parse_args()
    t_start = time.time()
    work = Path(tempfile.mkdtemp(prefix="tvl-demo-"))
    SHOT_DIR.mkdir(parents=True, exist_ok=True)
    shot = SHOT_DIR / "window-mid-update.png"
    shot.unlink(missing_ok=True)
    ok = False
    screen = ns = server = wine = None
    try:
        t = time.time()
        out = subprocess.run([sys.executable, str(h.ROOT / "scripts" / "make_sample_release.py"), str(work / "sample")]
                             + (["--small"] if a.small else []), capture_output=True, text=True, check=True)
        import json
        info = json.loads(out.stdout)
        release, old, icons = work / "sample" / "release", work / "sample" / "old", work / "sample" / "icons"
        step(1, f"sample release: {info['files']} files, {info['bytes'] / 2**20:.1f} MiB, "
                f"{info['icons']} clan icons ({time.time() - t:.1f} s)")

        t = time.time()
        www = work / "www"
        if not SIGNED_LAUNCHER.exists():
            raise SystemExit("no launcher with the release key: run scripts/build_signed.sh win64")
        r = run_publish(release, www / "3d", "--icons", icons, "--icons-output", www / "swf", "-q",
                        "--date", "2026-12-01", "--sign-key", KEY_DIR / "secret.key", "--expires", "30")
        if r.returncode != 0:
            print(r.stderr)
            raise SystemExit("publisher failed")
        served = sum(p.stat().st_size for p in www.rglob("*") if p.is_file())
        number = (www / "3d" / "release.sig").read_text().split("\n")[2].split()[1]
        step(2, f"published with tervalis-publish: {served / 2**20:.1f} MiB served below /3d/ and /swf/, "
                f"release {number} signed with key {(KEY_DIR / 'public.hex').read_text().strip()[:16]}... "
                f"({time.time() - t:.1f} s)")

        ns = h.NetNs()
        # A per-connection rate keeps the window up long enough to be seen.
        server = h.Nginx(ns, www, work / "nginx", extra="limit_rate 40m;" if not a.small else "limit_rate 8m;")
        step(3, f"nginx serving {www} on 127.0.0.1:80 in network namespace {ns.name}")

        inst = h.Install(work / "Tervalis Online", h.BUILD_WIN / "bin", h.LAUNCHER)
        shutil.copy(SIGNED_LAUNCHER, inst.launcher)
        inst.write_ini(update_server="127.0.0.1", update_path="/3d/", icons_server="127.0.0.1", icons_path="/swf/",
                       game_server="10.20.30.40", game_port="3801")
        for name, p in tree_files(old).items():
            dst = inst.path / name
            dst.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(p, dst)
        skin = next((h.ROOT / "res" / "skin").glob("*.png"), None)
        if skin:
            (inst.path / "data" / "updater").mkdir(parents=True, exist_ok=True)
            shutil.copy(skin, inst.path / "data" / "updater" / skin.name)
        step(4, f"out-of-date install at {inst.path}: {info['changed']} files changed, {info['missing']} missing, "
                f"no clan icons")

        screen = h.Xvfb()
        wine = h.Wine(h.base_prefix(), work / "prefix", screen.display, ns=ns)
        exe = h.win_path(inst.launcher)
        line = f'"{exe}"'
        t = time.time()
        proc = wine.spawn(exe, line)
        best = 0
        while proc.poll() is None and time.time() - t < 600:
            tmp = SHOT_DIR / "probe.png"
            capture(screen.display, tmp)
            fill = bar_fill(tmp)
            # Keep the shot whose bar is nearest to half full.
            if 0 < fill < 422 and abs(fill - 211) < abs(best - 211):
                best = fill
                shutil.move(tmp, shot)
            time.sleep(0.3)
        out, _ = proc.communicate(timeout=600)
        wine.wait_all()
        code = next((int(x.split("\t")[1]) for x in out.decode().splitlines() if x.startswith("EXIT\t")), None)
        update_time = time.time() - t
        step(5, f"launcher ran under Wine: exit code {code}, {update_time:.1f} s; "
                + (f"screenshot with the bar {best}/422 full: {shot}" if shot.exists() else "no screenshot of the bar"))

        want = tree_files(release)
        mismatched = [n for n, p in want.items()
                      if not (inst.path / n).is_file() or (inst.path / n).read_bytes() != p.read_bytes()]
        icons_ok = all((inst.path / "data" / "textures" / n).read_bytes() == p.read_bytes()
                       for n, p in tree_files(icons).items() if (inst.path / "data" / "textures" / n).is_file()) \
            and all((inst.path / "data" / "textures" / n).is_file() for n in tree_files(icons))
        runs = inst.game_runs()
        want_line = line + " /server=10.20.30.40 /port=3801"
        record = inst.path / "data" / "update" / "release.txt"
        accepted = record.read_text().strip() if record.is_file() else "none"
        step(6, f"install matches the release: {len(want) - len(mismatched)}/{len(want)} files, clan icons "
                f"{'present' if icons_ok else 'MISSING'}; signed release accepted: {accepted}; "
                f"game started {len(runs)} time(s)" + (f" with: {runs[0]['cmdline']}" if runs else ""))
        ok = (code == 0 and not mismatched and icons_ok and len(runs) == 1 and runs[0]["cmdline"] == want_line
              and shot.exists() and accepted == number and "/3d/release.sig" in server.requests())
        if mismatched:
            print("  differing:", ", ".join(mismatched[:10]))
    finally:
        if wine:
            wine.close()
        if server:
            server.stop()
        if ns:
            ns.close()
        if screen:
            screen.close()
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
        (SHOT_DIR / "probe.png").unlink(missing_ok=True)
    print(f"{'PASS' if ok else 'FAIL'} (total {time.time() - t_start:.1f} s)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
