"""The launcher updating one pack through a patch, against the same launcher
fetching the whole pack (the patch list hidden), both from one nginx in a
private network namespace. Samples the launcher's memory while it runs.

Usage: patch_update.py NAME PUBLISHED OLD NEW
  PUBLISHED  the publisher's output (files.txt, the pack's archive, patches)
  OLD, NEW   the pack as installed before and as released
Prints:
  patch_update_NAME: time of the patched update / time of the whole-file update
  patch_update_memory_NAME: the launcher's peak private memory / the pack's size,
      with its peak resident set (which counts the mapped files' cached pages)
"""
import filecmp
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import conftest as h  # noqa: E402  the test harness: namespaces, nginx

NATIVE = ROOT / "build" / "native-release" / "bin"
MiB = 1 << 20
os.environ["TVL_STUB_LOG"] = "/dev/null"


def status_kib(pid, key):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key):
                    return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError):
        pass
    return None


def run_sampled(ns, install):
    """Runs the launcher to its end; returns (seconds, peak RssAnon KiB, peak VmHWM KiB)."""
    t = time.perf_counter()
    p = subprocess.Popen(ns.prefix() + [str(install / "TervalisOnline2D")], cwd=install,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    anon = hwm = 0
    while p.poll() is None:
        a, w = status_kib(p.pid, "RssAnon:"), status_kib(p.pid, "VmHWM:")
        anon, hwm = max(anon, a or 0), max(hwm, w or 0)
        time.sleep(0.002)
    elapsed = time.perf_counter() - t
    assert p.returncode == 0, f"launcher failed ({p.returncode})"
    return elapsed, anon, hwm


def main():
    name, published, old, new = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4])
    work = Path(os.environ.get("WORK", ROOT / "build" / "bench")) / f"update-{name}"
    shutil.rmtree(work, ignore_errors=True)
    www = work / "www"
    (www / "swf").mkdir(parents=True)
    (www / "swf" / "clan_icons_list.txt").write_bytes(b"")
    (www / "3d").symlink_to(published.resolve())
    install = work / "game"
    (install / "data").mkdir(parents=True)
    shutil.copy(NATIVE / "TervalisOnline2D", install)
    shutil.copy(NATIVE / "stub_game", install / "TervalisOnline2D.bin")
    (install / "TervalisOnline2D.ini").write_text(
        "[Connection]\r\nupdate_server=127.0.0.1\r\nupdate_path=/3d/\r\nicons_server=127.0.0.1\r\n"
        "icons_path=/swf/\r\ngame_server=g\r\n")
    pack = install / new.name
    hidden = published / "patches.txt.hidden"
    ns = h.NetNs()
    try:
        nginx = h.Nginx(ns, www, work / "nginx")
        results = {}
        for road in ("whole", "patch"):
            if road == "whole":
                (published / "patches.txt").rename(hidden)
            try:
                shutil.copyfile(old, pack)
                subprocess.run(["cat", str(pack)], stdout=subprocess.DEVNULL, check=True)  # cached, as installed
                results[road] = run_sampled(ns, install)
            finally:
                if hidden.exists():
                    hidden.rename(published / "patches.txt")
            assert filecmp.cmp(pack, new, shallow=False), f"{road}: the pack is not the release's"
        fetched = [p for p in nginx.requests() if p.startswith("/3d/")]
        assert fetched.count("/3d/" + new.name) == 1 and any("/patches/" in p for p in fetched), fetched
        nginx.stop()
    finally:
        ns.close()
        shutil.rmtree(work, ignore_errors=True)
    (tp, ap, hp), (tw, aw, hw) = results["patch"], results["whole"]
    size_kib = new.stat().st_size / 1024
    print(f"patch_update_{name}: {tp / tw:.2f}x vs whole-file update (patched {tp:.2f} s, whole {tw:.2f} s)")
    print(f"patch_update_memory_{name}: {ap / size_kib:.4f}x vs file size (launcher's peak private {ap} KiB "
          f"patching, {aw} KiB fetching whole; peak resident {hp >> 10} MiB and {hw >> 10} MiB, "
          f"the cached pages of mapped files included)")


if __name__ == "__main__":
    main()
