"""Transfer benchmarks, each a ratio against the plain tools measured in the
same run, against one nginx in a private network namespace:

  download  one 512 MiB file: the launcher (its icon-list road, a plain
            file) vs `curl -o`; natively, then the Windows build under Wine
  update    a whole update of a synthetic release (2,000 files, 300 MiB, a
            third changed, half of them packed) vs the ideal pipeline:
            `md5sum` over the install + one `curl` for the changed files +
            `unzip` of the packed ones; then the same update by a launcher
            with a release key (build/native-signed) over the same tree,
            signed, vs the launcher without one

Usage: transfer_bench.py download|update. Test data is cached in
build/bench. Prints "<name>: <ratio>x vs <baseline> (<details>)".
"""
import hashlib
import io
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import conftest as h  # noqa: E402  the test harness: namespaces, nginx, Xvfb, Wine prefixes

WORK = ROOT / "build" / "bench"
NATIVE = ROOT / "build" / "native-release" / "bin"
WIN = ROOT / "build" / "win64" / "bin"
NATIVE_SIGNED = ROOT / "build" / "native-signed" / "bin"
WIN_SIGNED = ROOT / "build" / "win64-signed" / "bin"
RELEASE_KEY = ROOT / "build" / "release-test-key" / "secret.key"
WINE, WINESERVER = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"
MiB = 1 << 20


def md5(b):
    return hashlib.md5(b).hexdigest().upper()


# The stand-in game must not write into folders the benchmark removes: the
# launcher does not wait for it.
os.environ["TVL_STUB_LOG"] = "/dev/null"


def timed(args, **kw):
    with open(WORK / "last-stderr.txt", "w+b") as err:  # a file: no child can hold it open
        t = time.perf_counter()
        r = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=err, **kw)
        elapsed = time.perf_counter() - t
        if r.returncode != 0:
            err.seek(0)
            raise RuntimeError(f"{args[:6]} failed ({r.returncode}): {err.read().decode(errors='replace')[-500:]}")
    return elapsed


def list_text(entries):
    return "".join(f"{n}\tx\t0\t{size}\t{digest}\r\n" for n, size, digest in entries).encode()


def zipped(items, level=6):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED, compresslevel=level) as z:
        for name, data in items:
            z.writestr(name, data)
    return buf.getvalue()


def make_install(path, launcher, game, ini):
    if path.exists():
        shutil.rmtree(path)
    (path / "data").mkdir(parents=True)
    shutil.copy(launcher, path / launcher.name)
    shutil.copy(game, path / "TervalisOnline2D.bin")
    (path / "TervalisOnline2D.ini").write_text(ini)
    return path


INI = ("[Connection]\r\nupdate_server=127.0.0.1\r\nupdate_path=/u/\r\nicons_server=127.0.0.1\r\n"
       "icons_path=/i/\r\ngame_server=g\r\n")


class WinePrefix:
    """A private prefix whose wineserver lives in the namespace, on its own
    virtual display, kept running for the whole measurement."""

    def __init__(self, ns):
        self.xvfb = h.Xvfb()
        self.wine = h.Wine(h.base_prefix(), WORK / ("prefix-" + os.urandom(3).hex()), self.xvfb.display, ns=ns)
        self.wine.env["TVL_STUB_LOG"] = "NUL"
        # Wine's services inherit whatever output they are given: no pipes.
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(self.wine.cmd([WINESERVER, "-p"]), env=self.wine.env, **quiet)
        subprocess.run(self.wine.cmd([WINE, "wineboot"]), env=self.wine.env, **quiet)

    def run(self, exe, cwd):
        # The launcher ends once the game is started; the persistent
        # wineserver never ends, so there is nothing else to wait for.
        return timed(self.wine.cmd([WINE, str(exe)]), cwd=cwd, env=self.wine.env)

    def close(self):
        self.wine.close()
        self.xvfb.close()


# ------------------------------------------------------------- download

def bench_download():
    www = WORK / "www-download"
    big = www / "i" / "big.bin"
    size = 512 * MiB
    if not big.exists() or big.stat().st_size != size:
        big.parent.mkdir(parents=True, exist_ok=True)
        with open(big, "wb") as f:
            for _ in range(size // (16 * MiB)):
                f.write(os.urandom(16 * MiB))
    (www / "u").mkdir(exist_ok=True)
    (www / "u" / "files.txt").write_bytes(zipped([("files.txt", b"")]))
    (www / "i" / "clan_icons_list.txt").write_bytes(list_text([("big.bin", size, "0" * 32)]))

    ns = h.NetNs()
    wine = None
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-download", extra="tcp_nopush on; access_log off;")
        native = make_install(WORK / "dl-native", NATIVE / "TervalisOnline2D", NATIVE / "stub_game", INI)
        target = native / "data" / "textures" / "big.bin"
        out = WORK / "dl-curl.bin"
        curl, ours = [], []
        for _ in range(3):
            out.unlink(missing_ok=True)
            curl.append(timed(ns.prefix() + ["curl", "-s", "-o", str(out), "http://127.0.0.1/i/big.bin"]))
            target.unlink(missing_ok=True)
            ours.append(timed(ns.prefix() + [str(native / "TervalisOnline2D")], cwd=native))
            assert target.stat().st_size == size
        out.unlink(missing_ok=True)
        c, o = sorted(curl)[1], sorted(ours)[1]
        print(f"download: {o / c:.2f}x vs curl -o (512 MiB; launcher {size / MiB / o:.0f} MiB/s, "
              f"curl {size / MiB / c:.0f} MiB/s; medians of 3)")

        if WITH_WINE and (WIN / "TervalisOnline2D.exe").exists():
            wine = WinePrefix(ns)
            winst = make_install(WORK / "dl-win", WIN / "TervalisOnline2D.exe", WIN / "stub_game.exe", INI)
            wtarget = winst / "data" / "textures" / "big.bin"
            curl, ours = [], []
            for _ in range(3):
                out.unlink(missing_ok=True)
                curl.append(timed(ns.prefix() + ["curl", "-s", "-o", str(out), "http://127.0.0.1/i/big.bin"]))
                wtarget.unlink(missing_ok=True)
                ours.append(wine.run(winst / "TervalisOnline2D.exe", winst))
                assert wtarget.stat().st_size == size
            out.unlink(missing_ok=True)
            wtarget.unlink(missing_ok=True)
            c, o = sorted(curl)[1], sorted(ours)[1]
            print(f"download-wine: {o / c:.2f}x vs curl -o (512 MiB, Windows build under Wine; launcher "
                  f"{size / MiB / o:.0f} MiB/s, curl {size / MiB / c:.0f} MiB/s; medians of 3)")
        target.unlink(missing_ok=True)
        nginx.stop()
    finally:
        if wine:
            wine.close()
        ns.close()


# --------------------------------------------------------------- update

FILES, TOTAL = 2000, 300 * MiB


def build_update_release():
    """The release (server tree), a template install in which every third
    file is out of date, and the list of what the ideal pipeline needs."""
    www, template = WORK / "www-update", WORK / "update-template"
    stamp = WORK / "update-data.ok"
    rnd = random.Random(7)
    weights = [rnd.lognormvariate(0, 1) for _ in range(FILES)]
    scale = TOTAL / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
    entries = []  # (name, list path, packed, size, data-digest, changed)
    for i, size in enumerate(sizes):
        packed = i % 2 == 0
        name = f"data/pak/f{i:04d}.pak" if packed else f"clan/i{i:04d}.png"
        entries.append((name, packed, size, i % 3 == 0))
    if stamp.exists():
        return www, template, entries
    for d in (www, template):
        if d.exists():
            shutil.rmtree(d)
    main, icons = [], []
    for i, (name, packed, size, changed) in enumerate(entries):
        # Half random, half text-like, so that deflate and inflate have work.
        data = os.urandom(size // 2) + (b"tervalis %06d " % i * (size // 16 + 1))[: size - size // 2]
        local = template / (name if packed else "data/textures/" + name)
        local.parent.mkdir(parents=True, exist_ok=True)
        local.write_bytes(bytes(b ^ 0x5A for b in data[:64]) + data[64:] if changed else data)
        if packed:
            served = zipped([(name, data)])
            target = www / "u" / name
            main.append((name, len(served), md5(data)))
        else:
            served = data
            target = www / "i" / name
            icons.append((name, len(served), md5(data)))
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(served)
    (www / "u" / "files.txt").write_bytes(zipped([("files.txt", list_text(main))]))
    (www / "i" / "clan_icons_list.txt").write_bytes(list_text(icons))
    stamp.touch()
    return www, template, entries


def sign_release(www):
    """release.sig for everything served below www, signed with the test
    key: size and SHA-256 of each list and file, as the publisher writes it."""
    lines = []
    for origin, folder in (("icons", "i"), ("update", "u")):
        for path in (www / folder).rglob("*"):
            if path.is_file():
                data = path.read_bytes()
                name = path.relative_to(www / folder).as_posix()
                lines.append((origin, name.encode(), len(data), hashlib.sha256(data).hexdigest()))
    lines.sort()
    body = b"tervalis-release 1\nrelease 1\nexpires %d\n" % (int(time.time()) + 86400)
    body += b"".join(b"%s\t%d\t%s\t%s\n" % (o.encode(), size, d.encode(), n) for o, n, size, d in lines)
    (WORK / "release-body").write_bytes(body)
    subprocess.run([str(NATIVE / "releasetool"), "sign", str(RELEASE_KEY), str(WORK / "release-body"),
                    str(www / "u" / "release.sig")], check=True)


def fresh_copy(template, path, launcher, game, ini=INI):
    if path.exists():
        shutil.rmtree(path)
    shutil.copytree(template, path)
    shutil.copy(launcher, path / launcher.name)
    shutil.copy(game, path / "TervalisOnline2D.bin")
    (path / "TervalisOnline2D.ini").write_text(ini)
    return path


def ideal_pipeline(ns, install, entries, expected):
    """md5sum over every listed file, one curl for what differs, unzip of
    the packed ones: the least a tool could do for the same result."""
    staging = install / "staging"
    staging.mkdir()
    t = time.perf_counter()
    paths = [(n if p else "data/textures/" + n) for n, p, _, _ in entries]
    out = subprocess.run(["xargs", "-0", "md5sum"], input="\0".join(paths).encode(), cwd=install,
                         capture_output=True, check=True).stdout.decode()
    digests = {line[34:]: line[:32].upper() for line in out.splitlines()}
    config, packed = [], []
    for (name, is_packed, _, _), local in zip(entries, paths):
        if digests.get(local) == expected[name]:
            continue
        server = ("/u/" if is_packed else "/i/") + name
        dest = staging / name.replace("/", "_") if is_packed else install / local
        if is_packed:
            packed.append(dest)
        config.append(f'url = "http://127.0.0.1{server}"\noutput = "{dest}"\n')
    (install / "curl.cfg").write_text("".join(config))
    subprocess.run(ns.prefix() + ["curl", "-s", "-K", str(install / "curl.cfg")], check=True)
    if packed:
        subprocess.run(["unzip", "-o", "-qq", str(staging / "*.pak"), "-d", str(install)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t, len(config)


def signed_vs_plain(ns, template, work, rounds=3, ini=INI):
    """Best times of the launcher without and with a key, by turns."""
    plain, signed = [], []
    for _ in range(rounds):
        fresh_copy(template, work, NATIVE / "TervalisOnline2D", NATIVE / "stub_game", ini)
        plain.append(timed(ns.prefix() + [str(work / "TervalisOnline2D")], cwd=work))
        fresh_copy(template, work, NATIVE_SIGNED / "TervalisOnline2D", NATIVE / "stub_game", ini)
        signed.append(timed(ns.prefix() + [str(work / "TervalisOnline2D")], cwd=work))
        assert (work / "data" / "update" / "release.txt").read_bytes() == b"1\n", "the signed run was refused"
    return min(plain), min(signed)


def bench_update():
    www, template, entries = build_update_release()
    ns = h.NetNs()
    wine = None
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-update", extra="tcp_nopush on; access_log off;")
        expected = {}
        for name, packed, size, changed in entries:
            src = template / (name if packed else "data/textures/" + name)
            data = src.read_bytes()
            if changed:
                data = bytes(b ^ 0x5A for b in data[:64]) + data[64:]
            expected[name] = md5(data)
        work = WORK / "update-run"
        ideal, ours, fetched = [], [], 0
        for _ in range(2):
            fresh_copy(template, work, NATIVE / "TervalisOnline2D", NATIVE / "stub_game")
            t, fetched = ideal_pipeline(ns, work, entries, expected)
            ideal.append(t)
            fresh_copy(template, work, NATIVE / "TervalisOnline2D", NATIVE / "stub_game")
            ours.append(timed(ns.prefix() + [str(work / "TervalisOnline2D")], cwd=work))
        # The launcher's result is the release.
        for name, packed, _, _ in entries[:60]:
            local = work / (name if packed else "data/textures/" + name)
            assert md5(local.read_bytes()) == expected[name], name
        i, o = min(ideal), min(ours)
        print(f"update: {o / i:.2f}x vs md5sum+curl+unzip ({FILES} files, {TOTAL // MiB} MiB, "
              f"{fetched} changed, half packed; launcher {o:.2f} s, pipeline {i:.2f} s; best of 2)")

        # Signing on against off: the same tree, signed, by turns; on
        # loopback, where the CPU is all there is, and through a line of
        # 100 Mbit/s, which is more than most players have.
        sign_release(www)
        p, q = signed_vs_plain(ns, template, work)
        print(f"update-signed: {q / p:.2f}x vs the same update without a key (loopback; release.sig checked, "
              f"{fetched} files and both lists held to their SHA-256; signed {q:.2f} s, unsigned {p:.2f} s; "
              f"best of 3)")
        shaper = subprocess.Popen(ns.prefix() + [sys.executable, str(Path(__file__)), "shape", str(SHAPED_RATE)])
        try:
            time.sleep(0.5)
            p, q = signed_vs_plain(ns, template, work, ini=INI.replace("127.0.0.1", SHAPED_ADDRESS))
        finally:
            shaper.kill()
            shaper.wait()
        print(f"update-signed-{SHAPED_RATE * 8 // 10**6}mbit: {q / p:.2f}x vs the same update without a key "
              f"(through a relay that passes {SHAPED_RATE * 8 // 10**6} Mbit/s; signed {q:.2f} s, unsigned {p:.2f} s; "
              f"best of 3)")

        if WITH_WINE and (WIN / "TervalisOnline2D.exe").exists():
            wine = WinePrefix(ns)
            fresh_copy(template, work, WIN / "TervalisOnline2D.exe", WIN / "stub_game.exe")
            w = wine.run(work / "TervalisOnline2D.exe", work)
            print(f"update-wine: {w / i:.2f}x vs md5sum+curl+unzip (same release, Windows build under Wine; "
                  f"launcher {w:.2f} s)")
            if (WIN_SIGNED / "TervalisOnline2D.exe").exists():
                plain, signed = [w], []
                for _ in range(2):
                    fresh_copy(template, work, WIN_SIGNED / "TervalisOnline2D.exe", WIN / "stub_game.exe")
                    signed.append(wine.run(work / "TervalisOnline2D.exe", work))
                    fresh_copy(template, work, WIN / "TervalisOnline2D.exe", WIN / "stub_game.exe")
                    plain.append(wine.run(work / "TervalisOnline2D.exe", work))
                p, q = min(plain), min(signed)
                print(f"update-signed-wine: {q / p:.2f}x vs the same update without a key (Windows build under "
                      f"Wine; signed {q:.2f} s, unsigned {p:.2f} s; best of 2)")
        shutil.rmtree(work, ignore_errors=True)
        nginx.stop()
    finally:
        if wine:
            wine.close()
        ns.close()


# ---------------------------------------------------------------- shaper

SHAPED_ADDRESS, SHAPED_RATE = "127.0.0.3", 12_500_000  # bytes per second: 100 Mbit/s


def shape(rate):
    """Relays SHAPED_ADDRESS:80 to nginx on 127.0.0.1:80, passing at most
    rate bytes per second towards the client over all connections."""
    import socket
    import threading
    lock = threading.Lock()
    clock = [time.perf_counter()]  # when the line is free again

    def pump(src, dst, limited):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                if limited:
                    with lock:
                        clock[0] = max(clock[0], time.perf_counter()) + len(data) / rate
                        wait = clock[0] - time.perf_counter()
                    if wait > 0:
                        time.sleep(wait)
                dst.sendall(data)
        except OSError:
            pass
        finally:
            for s in (src, dst):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    server = socket.create_server((SHAPED_ADDRESS, 80))
    while True:
        client, _ = server.accept()
        upstream = socket.create_connection(("127.0.0.1", 80))
        threading.Thread(target=pump, args=(client, upstream, False), daemon=True).start()
        threading.Thread(target=pump, args=(upstream, client, True), daemon=True).start()


WITH_WINE = "--native-only" not in sys.argv

if __name__ == "__main__":
    if sys.argv[1] == "shape":
        shape(int(sys.argv[2]))
    {"download": bench_download, "update": bench_update}[sys.argv[1]]()
