"""The download cap (download_limit_kbps) against itself: how close an update
capped at 2 MB/s over 4 connections comes to the cap from below, on an idle
loopback line (nginx in a private network namespace). The same update
uncapped, in the same run, shows the line carries far more than the cap.

Prints "cap: <ratio>x vs the cap (...)" for the native launcher, then
"cap-wine: ..." for the Windows build under Wine when it is built.
"""
import os
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import conftest as h  # noqa: E402
import make_data  # noqa: E402
from transfer_bench import INI, NATIVE, WIN, WORK, WinePrefix, make_install, md5, timed  # noqa: E402

MiB = 1 << 20
CAP_KBPS = 2048
FILES = 20


def main():
    WORK.mkdir(parents=True, exist_ok=True)
    www = WORK / "www-cap"
    if www.exists():
        shutil.rmtree(www)
    (www / "u").mkdir(parents=True)
    (www / "i").mkdir()
    entries = []
    for i in range(FILES):
        data = os.urandom(MiB)
        (www / "i" / f"f{i:02}.bin").write_bytes(data)
        entries.append((f"f{i:02}.bin", len(data), md5(data)))
    (www / "u" / "files.txt").write_bytes(make_data.zipped([("files.txt", b"")]))
    (www / "i" / "clan_icons_list.txt").write_bytes(make_data.list_text(entries))
    total = FILES * MiB
    cap = CAP_KBPS * 1024

    ns = h.NetNs()
    wine = None
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-cap", extra="access_log off;")

        def once(ini, run):
            inst = WORK / "cap-install"
            launcher = run[0]
            make_install(inst, launcher, run[1], ini)
            seconds = run[2](inst / launcher.name, inst)
            assert len(list((inst / "data" / "textures").iterdir())) == FILES
            return seconds

        capped = INI + f"download_connections=4\r\ndownload_limit_kbps={CAP_KBPS}\r\n"
        free = INI + "download_connections=4\r\n"
        native = (NATIVE / "TervalisOnline2D", NATIVE / "stub_game",
                  lambda exe, cwd: timed(ns.prefix() + [str(exe)], cwd=cwd))
        roads = [("cap", native)]
        if (WIN / "TervalisOnline2D.exe").exists() and "--native-only" not in sys.argv:
            wine = WinePrefix(ns)
            roads.append(("cap-wine", (WIN / "TervalisOnline2D.exe", WIN / "stub_game.exe", wine.run)))
        for name, road in roads:
            t = once(capped, road)
            u = once(free, road)
            rate = total / t
            print(f"{name}: {rate / cap:.2f}x vs the cap ({CAP_KBPS} KB/s, 4 connections, {FILES} MiB in "
                  f"{t:.1f} s: {rate / MiB:.2f} MiB/s; uncapped {total / u / MiB:.0f} MiB/s)")
        nginx.stop()
    finally:
        if wine:
            wine.close()
        ns.close()


if __name__ == "__main__":
    main()
