"""Transfer benchmarks, each a ratio against the plain tools measured in the
same run, against one nginx in a private network namespace:

  download  one 512 MiB file: the launcher (its icon-list road, a plain
            file) vs `curl -o`; natively, then the Windows build under Wine
            beside a minimal WinINet program (bench/wininet_get.cc),
            then both over HTTPS (HTTP/2, a test CA) vs `curl -o` over the
            same TLS
  update    a whole update of a synthetic release (2,000 files, 300 MiB, a
            third changed, half of them packed) vs the ideal pipeline:
            `md5sum` over the install + one `curl` for the changed files +
            `unzip` of the packed ones; then the same update by a launcher
            with a release key (build/native-signed) over the same tree,
            signed, vs the launcher without one
  signed    that last comparison alone, best of 5 (loopback, native)

Over the network profile of net_shaper.py (round trip 50 ms, 100 Mbit/s):
  shaper         what the shaper imposes, and that it carries far more than
                 the profile (unshaped relay vs direct nginx)
  update-net     the same update against the limit (the served bytes at
                 100 Mbit/s plus one round trip per connection), with
                 download_connections 4, 1 and 8 natively, and 4 under Wine
  update-net-tls the same over HTTPS (HTTP/2 where offered) with the
                 packaged settings' 4 connections, natively and under Wine
  update-resets  the same update from the faulty server, which resets the
                 connection carrying every 20th MB: completes, and how many
                 bytes were served against the changed ones

Usage: transfer_bench.py download|update|signed|shaper|update-net|update-net-tls|update-resets
[--native-only]. Test data is cached in build/bench. Prints "<name>:
<ratio>x vs <baseline> (<details>)".
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "bench"))
import conftest as h  # noqa: E402  the test harness: namespaces, nginx, Xvfb, Wine prefixes
import tls  # noqa: E402  test CA and a namespace that trusts it
import make_data  # noqa: E402  the release generator

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
    (www / "u" / "files.txt").write_bytes(make_data.zipped([("files.txt", b"")]))
    (www / "i" / "clan_icons_list.txt").write_bytes(make_data.list_text([("big.bin", size, "0" * 32)]))

    ns = h.NetNs()
    wine = None
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-download", extra="tcp_nopush on; access_log off;")
        wine = download_both(ns, "http://127.0.0.1/i/big.bin", INI, size, "download", "")
        nginx.stop()
    finally:
        if wine:
            wine.close()
        ns.close()
    bench_download_tls(www, size)


def download_both(ns, url, ini, size, name, note):
    """Prints the launcher's ratio to curl natively and (with Wine) for the
    Windows build, beside the least WinINet can do under Wine (a minimal
    download program) in the same rounds; returns the Wine prefix it made,
    or None."""
    native = make_install(WORK / "dl-native", NATIVE / "TervalisOnline2D", NATIVE / "stub_game", ini)
    (o,), c = download_ratio(ns, url, [(lambda: timed(ns.prefix() + [str(native / "TervalisOnline2D")], cwd=native),
                                        native / "data" / "textures" / "big.bin")], size)
    print(f"{name}: {o / c:.2f}x vs curl -o{note} (512 MiB; launcher {size / MiB / o:.0f} MiB/s, "
          f"curl {size / MiB / c:.0f} MiB/s; medians of 3)")
    if not (WITH_WINE and (WIN / "TervalisOnline2D.exe").exists()):
        return None
    wine = WinePrefix(ns)
    winst = make_install(WORK / "dl-win", WIN / "TervalisOnline2D.exe", WIN / "stub_game.exe", ini)
    runs = [(lambda: wine.run(winst / "TervalisOnline2D.exe", winst), winst / "data" / "textures" / "big.bin")]
    minimal = WIN / "wininet_get.exe"
    if minimal.exists():
        runs.append((lambda: timed(wine.wine.cmd([WINE, str(minimal), url, h.win_path(WORK / "dl-min.bin")]),
                                   cwd=WORK, env=wine.wine.env), WORK / "dl-min.bin"))
    times, c = download_ratio(ns, url, runs, size)
    o = times[0]
    print(f"{name}-wine: {o / c:.2f}x vs curl -o{note} (512 MiB, Windows build under Wine; launcher "
          f"{size / MiB / o:.0f} MiB/s, curl {size / MiB / c:.0f} MiB/s; medians of 3)")
    if len(times) > 1:
        m = times[1]
        print(f"{name}-wine-wininet: {m / c:.2f}x vs curl -o{note} (the same file by a minimal WinINet program under "
              f"Wine, bench/wininet_get.cc: {size / MiB / m:.0f} MiB/s; the launcher takes {o / m:.2f}x its time, "
              f"Wine's start of a window and of the game included; medians of 3)")
    return wine


def download_ratio(ns, url, runs, size):
    """([median seconds of each run], median curl seconds) over the same
    server; each run() fetches the file into its target."""
    out = WORK / "dl-curl.bin"
    curl, ours = [], [[] for _ in runs]

    def with_curl():
        curl.append(timed(ns.prefix() + ["curl", "-s", "-o", str(out), url]))
        out.unlink()

    for i in range(3):
        # Who writes second meets the first one's dirty pages: take turns.
        if i != 1:
            with_curl()
        for (run, target), times in zip(runs, ours):
            target.unlink(missing_ok=True)
            times.append(run())
            assert target.stat().st_size == size
            target.unlink(missing_ok=True)
        if i == 1:
            with_curl()
    return [sorted(t)[1] for t in ours], sorted(curl)[1]


def bench_download_tls(www, size):
    """The same file over HTTPS with HTTP/2 (the launcher's road with the
    packaged defaults) against curl over the same TLS."""
    ca = tls.CertAuthority(WORK / ("tls-ca-" + os.urandom(3).hex()))
    ns = tls.TlsNs(WORK / "tls-ns", ca)
    wine = None
    ini = INI.replace("=127.0.0.1", f"=https://{tls.HOST}")
    url = f"https://{tls.HOST}/i/big.bin"
    try:
        nginx = tls.tls_server(ns, www, WORK / "nginx-download-tls", *ca.issue("server"))
        wine = download_both(ns, url, ini, size, "download-tls", " over the same TLS (HTTP/2 natively)")
        nginx.stop()
    finally:
        if wine:
            wine.close()
        ns.close()
        shutil.rmtree(ca.dir, ignore_errors=True)


# --------------------------------------------------------------- update

def update_release():
    """The synthetic release of make_data.py: (www, install template,
    entries)."""
    entries = make_data.release(str(WORK / "release"))
    return WORK / "release" / "www", WORK / "release" / "install", entries


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


def check_release(install, entries, count=None):
    """The launcher's result is the release (count: only the first ones)."""
    for e in entries[:count]:
        assert md5((install / e["local"]).read_bytes()) == e["digest"], e["name"]


def ideal_pipeline(ns, install, entries):
    """md5sum over every listed file, one curl for what differs, unzip of
    the packed ones: the least a tool could do for the same result."""
    staging = install / "staging"
    staging.mkdir()
    t = time.perf_counter()
    paths = [e["local"] for e in entries]
    out = subprocess.run(["xargs", "-0", "md5sum"], input="\0".join(paths).encode(), cwd=install,
                         capture_output=True, check=True).stdout.decode()
    digests = {line[34:]: line[:32].upper() for line in out.splitlines()}
    config, packed = [], []
    for e in entries:
        if digests.get(e["local"]) == e["digest"]:
            continue
        dest = staging / e["name"].replace("/", "_") if e["packed"] else install / e["local"]
        if e["packed"]:
            packed.append(dest)
        config.append(f'url = "http://127.0.0.1{e["object"]}"\noutput = "{dest}"\n')
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


def report_signed(ns, template, work, fetched, rounds=3):
    p, q = signed_vs_plain(ns, template, work, rounds)
    print(f"update-signed: {q / p:.2f}x vs the same update without a key (loopback; release.sig checked, "
          f"{fetched} and both lists held to their SHA-256; signed {q:.2f} s, unsigned {p:.2f} s; "
          f"best of {rounds})")


def bench_signed():
    """update-signed alone: the cost of signing where the CPU is all there is."""
    www, template, entries = update_release()
    ns = h.NetNs()
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-update", extra="tcp_nopush on; access_log off;")
        sign_release(www)
        work = WORK / "update-run"
        report_signed(ns, template, work, "the changed files", rounds=5)
        check_release(work, entries, 60)
        shutil.rmtree(work, ignore_errors=True)
        nginx.stop()
    finally:
        ns.close()


def bench_update():
    www, template, entries = update_release()
    ns = h.NetNs()
    wine = None
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-update", extra="tcp_nopush on; access_log off;")
        work = WORK / "update-run"
        ideal, ours, fetched = [], [], 0
        for _ in range(2):
            fresh_copy(template, work, NATIVE / "TervalisOnline2D", NATIVE / "stub_game")
            t, fetched = ideal_pipeline(ns, work, entries)
            ideal.append(t)
            fresh_copy(template, work, NATIVE / "TervalisOnline2D", NATIVE / "stub_game")
            ours.append(timed(ns.prefix() + [str(work / "TervalisOnline2D")], cwd=work))
        check_release(work, entries, 60)
        i, o = min(ideal), min(ours)
        total = sum(e["size"] for e in entries)
        print(f"update: {o / i:.2f}x vs md5sum+curl+unzip ({len(entries)} files, {total / MiB:.0f} MiB, "
              f"{fetched} changed, half packed; launcher {o:.2f} s, pipeline {i:.2f} s; best of 2)")

        # Signing on against off: the same tree, signed, by turns; on
        # loopback, where the CPU is all there is, and through a line of
        # 100 Mbit/s, which is more than most players have.
        sign_release(www)
        report_signed(ns, template, work, f"{fetched} files")
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


# ------------------------------------------------------ network profile
#
# Round trip 50 ms and 100 Mbit/s between the launcher and the server,
# imposed by net_shaper.py: the launcher talks to 127.0.0.3 (nginx behind the
# shaper) or 127.0.0.4 (the faulty server behind the shaper).

RTT, MBIT = 0.050, 100
SHAPED, SHAPED_FAULTY = "127.0.0.3", "127.0.0.4"


class Shaper:
    def __init__(self, ns, *maps, rtt=RTT, mbit=MBIT):
        self.proc = subprocess.Popen(
            ns.prefix() + [sys.executable, str(ROOT / "bench" / "net_shaper.py"), "--rtt-ms", str(rtt * 1000),
                           "--mbit", str(mbit), *maps], stdout=subprocess.PIPE)
        if self.proc.stdout.readline().strip() != b"ready":
            raise RuntimeError("net_shaper.py did not start")

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=10)


def curl_time(ns, url, out="/dev/null"):
    r = subprocess.run(ns.prefix() + ["curl", "-s", "-o", out, "-w", "%{time_total} %{time_starttransfer}", url],
                       capture_output=True, text=True, check=True)
    total, first = r.stdout.split()
    return float(total), float(first)


def bench_shaper():
    """What the shaper imposes and what it can carry: one 100 MiB file."""
    www = WORK / "www-shaper"
    big = www / "big.bin"
    if not big.exists() or big.stat().st_size != 100 * MiB:
        www.mkdir(parents=True, exist_ok=True)
        big.write_bytes(os.urandom(100 * MiB))
        (www / "small.bin").write_bytes(b"x" * 1000)
    ns = h.NetNs()
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-shaper", extra="access_log off;")
        direct = min(curl_time(ns, "http://127.0.0.1/big.bin")[0] for _ in range(3))
        bare = Shaper(ns, f"{SHAPED}:80=127.0.0.1:80", rtt=0, mbit=0)
        relayed = min(curl_time(ns, f"http://{SHAPED}/big.bin")[0] for _ in range(3))
        bare.stop()
        print(f"shaper-relay: {relayed / direct:.2f}x vs direct nginx (unshaped relay {100 / relayed:.0f} MiB/s, "
              f"direct {100 / direct:.0f} MiB/s; the profile needs {MBIT / 8 * 1e6 / MiB:.1f} MiB/s)")
        shaper = Shaper(ns, f"{SHAPED}:80=127.0.0.1:80")
        total, _ = curl_time(ns, f"http://{SHAPED}/big.bin")
        limit = 100 * MiB * 8 / (MBIT * 1e6) + 2 * RTT
        _, first = curl_time(ns, f"http://{SHAPED}/small.bin")
        print(f"shaper-profile: {total / limit:.2f}x vs 100 MiB at {MBIT} Mbit/s + 2 round trips "
              f"({100 * MiB * 8 / total / 1e6:.1f} Mbit/s; first byte of a small file after {first * 1000:.0f} ms, "
              f"two round trips are {2 * RTT * 1000:.0f} ms)")
        shaper.stop()
        nginx.stop()
    finally:
        ns.close()


def net_ini(server, connections, retries=2):
    return (f"[Connection]\r\nupdate_server={server}\r\nupdate_path=/u/\r\nicons_server={server}\r\n"
            f"icons_path=/i/\r\ngame_server=g\r\ndownload_connections={connections}\r\n"
            f"download_retries={retries}\r\n")


def profile_limit(www, entries, connections):
    """The served bytes at the profile's bandwidth plus one round trip per
    connection."""
    served = sum(e["served"] for e in entries if e["changed"])
    served += (www / "u" / "files.txt").stat().st_size + (www / "i" / "clan_icons_list.txt").stat().st_size
    return served * 8 / (MBIT * 1e6) + connections * RTT, served


def bench_update_net():
    """The whole update over the profile: N = 4 and N = 1 natively, N = 4
    under Wine, each against the limit."""
    www, template, entries = update_release()
    ns = h.NetNs()
    wine = shaper = None
    try:
        nginx = h.Nginx(ns, www, WORK / "nginx-net", extra="tcp_nopush on; access_log off;")
        shaper = Shaper(ns, f"{SHAPED}:80=127.0.0.1:80")
        work = WORK / "update-net"
        # 8 beside 4: how much of 4's distance to the limit is the round
        # trip each request waits for.
        runs = [("update-net-4", NATIVE, 4), ("update-net-1", NATIVE, 1), ("update-net-8", NATIVE, 8)]
        if WITH_WINE and (WIN / "TervalisOnline2D.exe").exists():
            runs.append(("update-net-4-wine", WIN, 4))
        for name, bindir, n in runs:
            limit, served = profile_limit(www, entries, n)
            exe = "TervalisOnline2D.exe" if bindir == WIN else "TervalisOnline2D"
            stub = "stub_game.exe" if bindir == WIN else "stub_game"
            fresh_copy(template, work, bindir / exe, bindir / stub, net_ini(SHAPED, n))
            if bindir == WIN:
                wine = wine or WinePrefix(ns)
                t = wine.run(work / exe, work)
            else:
                t = timed(ns.prefix() + [str(work / exe)], cwd=work)
            check_release(work, entries)
            # Without pipelining each request waits a round trip of its
            # connection, and a new connection one more (one connection
            # opens one per file; several keep theirs): a floor the limit
            # does not count.
            trips = 1 if n > 1 else 2
            floor = sum(1 for e in entries if e["changed"]) * trips * RTT / n
            print(f"{name}: {t / limit:.2f}x vs the limit (download_connections={n}; {served / MiB:.0f} MiB served "
                  f"at {MBIT} Mbit/s + {n} x {RTT * 1000:.0f} ms = {limit:.1f} s; {trips} round trip(s) per "
                  f"request alone are {floor:.1f} s; launcher {t:.1f} s)")
        shutil.rmtree(work, ignore_errors=True)
        nginx.stop()
    finally:
        if shaper:
            shaper.stop()
        if wine:
            wine.close()
        ns.close()


def bench_update_net_tls():
    """The update over the profile and HTTPS: the test CA's certificate,
    nginx with HTTP/2 behind the shaper, download_connections 4."""
    www, template, entries = update_release()
    ca = tls.CertAuthority(WORK / ("tls-ca-" + os.urandom(3).hex()))
    ns = tls.TlsNs(WORK / "tls-ns", ca, address=SHAPED)
    wine = shaper = None
    try:
        (WORK / "nginx-net-tls" / "tls_access.log").unlink(missing_ok=True)
        nginx = tls.tls_server(ns, www, WORK / "nginx-net-tls", *ca.issue("server"))
        shaper = Shaper(ns, f"{SHAPED}:443=127.0.0.1:443")
        work = WORK / "update-net-tls"
        runs = [("update-net-tls-4", NATIVE, 4)]
        if WITH_WINE and (WIN / "TervalisOnline2D.exe").exists():
            runs.append(("update-net-tls-4-wine", WIN, 4))
        for name, bindir, n in runs:
            limit, served = profile_limit(www, entries, n)
            exe = "TervalisOnline2D.exe" if bindir == WIN else "TervalisOnline2D"
            stub = "stub_game.exe" if bindir == WIN else "stub_game"
            fresh_copy(template, work, bindir / exe, bindir / stub, net_ini(f"https://{tls.HOST}", n))
            before = len(tls.tls_log(nginx))
            if bindir == WIN:
                wine = wine or WinePrefix(ns)
                t = wine.run(work / exe, work)
            else:
                t = timed(ns.prefix() + [str(work / exe)], cwd=work)
            check_release(work, entries)
            lists = ("/u/files.txt", "/i/clan_icons_list.txt", "/u/patches.txt")
            files = [r for r in tls.tls_log(nginx)[before:] if r[0].startswith(("/u/", "/i/")) and r[0] not in lists]
            conns = len({conn for _, conn, _, _ in files})
            protos = ",".join(sorted({proto for _, _, proto, _ in files}))
            print(f"{name}: {t / limit:.2f}x vs the limit (HTTPS, download_connections={n}, {protos}, the files over {conns} "
                  f"connection(s); {served / MiB:.0f} MiB served, limit {limit:.1f} s; launcher {t:.1f} s)")
        shutil.rmtree(work, ignore_errors=True)
        nginx.stop()
    finally:
        if shaper:
            shaper.stop()
        if wine:
            wine.close()
        ns.close()
        shutil.rmtree(ca.dir, ignore_errors=True)


def bench_update_resets():
    """The same update over the profile from the faulty server, which resets
    the connection that carries every 20th MB: the update completes, and
    serves little more than the changed bytes."""
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    from updates import FaultyServer
    www, template, entries = update_release()
    ns = h.NetNs()
    server = shaper = None
    failed = False
    try:
        server = FaultyServer(ns, www, WORK / "faulty-resets", keepalive=True)
        server.set_rules({"_reset_every": 20 * 1000 * 1000})
        shaper = Shaper(ns, f"{SHAPED_FAULTY}:80=127.0.0.2:80")
        work = WORK / "update-resets"
        fresh_copy(template, work, NATIVE / "TervalisOnline2D", NATIVE / "stub_game", net_ini(SHAPED_FAULTY, 4))
        r = subprocess.run(ns.prefix() + [str(work / "TervalisOnline2D")], cwd=work, capture_output=True)
        changed = sum(e["served"] for e in entries if e["changed"])
        sent = sum(t["sent"] for t in server.transfers() if t["path"] not in ("/u/files.txt",
                                                                               "/i/clan_icons_list.txt"))
        resets = sum(1 for t in server.transfers() if t["reset"])
        if r.returncode != 0:
            print(f"update-resets: FAILED (exit {r.returncode} after {resets} resets: "
                  f"{r.stderr.decode(errors='replace').strip()[-200:]!r})")
            failed = True
        else:
            check_release(work, entries)
            print(f"update-resets: {sent / changed:.3f}x vs the changed bytes ({sent / MiB:.0f} MiB served for "
                  f"{changed / MiB:.0f} MiB changed; {resets} connections reset, one every 20 MB)")
        shutil.rmtree(work, ignore_errors=True)
    finally:
        for p in (shaper, server):
            if p:
                p.stop()
        ns.close()
    if failed:
        sys.exit(1)


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
    else:
        {"download": bench_download, "update": bench_update, "shaper": bench_shaper, "update-net": bench_update_net,
         "update-net-tls": bench_update_net_tls,
         "update-resets": bench_update_resets, "signed": bench_signed}[sys.argv[1]]()
