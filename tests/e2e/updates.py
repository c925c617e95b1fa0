"""Helpers for the update tests: publishing a release the way the update
servers serve it, the faulty server and the SOCKS proxy, running either
launcher to its end while answering its message boxes, and looking at what
ended up on disk."""
import contextlib
import ctypes
import hashlib
import io
import json
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

import pytest

from conftest import server_pool, win_path

HERE = Path(__file__).resolve().parent
FAULTY = "127.0.0.2"  # the faulty server's address; nginx has 127.0.0.1
ASK_TEXT = ("Не удаётся соеденится с сервером обновлений для проверки наличия новой версии.\n"
            "Попробовать войти в игру без последних обновлений?")
OK, YES, NO = 1, 6, 7


def md5(data):
    return hashlib.md5(data).hexdigest().upper()


def zip_bytes(items, compression=zipfile.ZIP_DEFLATED):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression) as z:
        for name, data in items:
            z.writestr(name, data)
    return buf.getvalue()


class Release:
    """The files a release consists of and how the servers publish them:
    files.txt zipped under update_path, every game file as a zip of its own
    beside it (items: the file under its base name unless told otherwise),
    clan_icons_list.txt and the icons, plain, under icons_path."""

    def __init__(self, update_path="/3d/", icons_path="/swf/"):
        self.update_path, self.icons_path = update_path, icons_path
        self.files = []   # dict(name, data, packed, digest, items)
        self.icons = []

    def add(self, name, data, digest=None, items=None):
        self.files.append(dict(name=name, data=data, packed=True, digest=digest or md5(data),
                               items=items or [(name.split("/")[-1], data)]))
        return self

    def icon(self, name, data, digest=None):
        self.icons.append(dict(name=name, data=data, packed=False, digest=digest or md5(data), items=None))
        return self

    def served(self, f):
        return zip_bytes(f["items"]) if f["packed"] else f["data"]

    @staticmethod
    def list_text(entries, served):
        lines = [f"{e['name']}\tx\t0\t{len(served(e))}\t{e['digest']}" for e in entries]
        return ("\r\n".join(lines) + "\r\n").encode("cp1251")

    def publish(self, root, main_list=True, icons_list=True):
        root = Path(root)
        up, ip = root / self.update_path.strip("/"), root / self.icons_path.strip("/")
        up.mkdir(parents=True, exist_ok=True)
        ip.mkdir(parents=True, exist_ok=True)
        for f in self.files:
            target = up / f["name"]
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(self.served(f))
        for i in self.icons:
            target = ip / i["name"]
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(i["data"])
        if main_list:
            (up / "files.txt").write_bytes(zip_bytes([("files.txt", self.list_text(self.files, self.served))]))
        if icons_list:
            (ip / "clan_icons_list.txt").write_bytes(self.list_text(self.icons, self.served))
        return root

    def expected(self):
        """Installed path (relative to the game folder) -> content."""
        out = {f["name"]: f["data"] for f in self.files}
        out.update({"data/textures/" + i["name"]: i["data"] for i in self.icons})
        return out

    def object_paths(self):
        """Request paths of every listed file, in list order."""
        return ([self.update_path + f["name"] for f in self.files] +
                [self.icons_path + i["name"] for i in self.icons])


class FaultyServer:
    """faulty_server.py on 127.0.0.2:80 inside the namespace."""

    def __init__(self, ns, root, workdir, keepalive=False, address=FAULTY):
        self.ns, self.root, self.workdir = ns, Path(root), Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.rules_file = self.workdir / "rules.json"
        self.log = self.workdir / "requests.jsonl"
        self.log.unlink(missing_ok=True)  # a new server, a new log (the benches reuse their folders)
        self.set_rules({})
        self.proc = subprocess.Popen(
            ns.prefix() + [sys.executable, str(HERE / "faulty_server.py"), str(self.root), str(self.rules_file),
                           str(self.log), address] + (["--keepalive"] if keepalive else []),
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        for _ in range(100):
            r = subprocess.run(ns.prefix() + ["curl", "-s", "-o", "/dev/null", f"http://{address}/"],
                               capture_output=True)
            if r.returncode == 0:
                return
            time.sleep(0.05)
        raise RuntimeError("faulty server did not start: " + self.proc.stderr.read1().decode())

    def set_rules(self, rules):
        self.rules_file.write_text(json.dumps(rules))

    def _lines(self):
        if not self.log.exists():
            return []
        return [json.loads(line) for line in self.log.read_text().splitlines()]

    def requests(self):
        """Every request as it arrived: method, path, headers, conn, active."""
        return [r for r in self._lines() if "event" not in r]

    def paths(self):
        return [r["path"] for r in self.requests() if r["path"] != "/"]

    def transfers(self, path=None):
        """Requests (of path) with how their answers ended: status, sent
        (body bytes), reset, fault (the rule it was given, with its mode);
        an answer still going has no status."""
        ends = {e["id"]: e for e in self._lines() if e.get("event") == "end"}
        out = []
        for r in self.requests():
            if path is None and r["path"] == "/" or path is not None and r["path"] != path:
                continue
            e = ends.get(r["id"], {})
            out.append(dict(r, status=e.get("status"), sent=e.get("sent", 0), reset=e.get("reset", False),
                            fault=e.get("fault")))
        return out

    def faults(self, path):
        """The mode of the fault each finished request of path was given."""
        return [t["fault"]["mode"] for t in self.transfers(path) if t["fault"]]

    def sent(self, path):
        """Body bytes sent for path, over all its requests."""
        return sum(t["sent"] for t in self.transfers(path))

    def active(self):
        """Requests being answered right now."""
        lines = self._lines()
        ended = {e["id"] for e in lines if e.get("event") == "end"}
        return sum(1 for r in lines if "event" not in r and r["path"] != "/" and r["id"] not in ended)

    def max_active(self):
        """The most requests the server was answering at once."""
        return max([r["active"] for r in self.requests() if r["path"] != "/"] or [0])

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=10)


@pytest.fixture
def faulty(netns, tmp_path):
    """Factory: faulty(root) starts the faulty server in this test's namespace."""
    with server_pool(lambda root, i: FaultyServer(netns, root, tmp_path / f"faulty{i}")) as start:
        yield start


class Socks:
    """dante on 127.0.0.1:1080 in the namespace (SOCKS 4 and 5), logging
    every connection it relays."""

    def __init__(self, ns, workdir):
        self.ns, self.workdir = ns, Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.log = self.workdir / "danted.log"
        conf = self.workdir / "danted.conf"
        conf.write_text(f"""
logoutput: {self.log}
internal: 127.0.0.1 port = 1080
external: lo
socksmethod: none
clientmethod: none
user.privileged: root
user.unprivileged: nobody
client pass {{
  from: 127.0.0.0/8 to: 0.0.0.0/0
}}
socks pass {{
  from: 127.0.0.0/8 to: 0.0.0.0/0
  command: connect
  log: connect
}}
""")
        self.proc = subprocess.Popen(ns.prefix() + ["danted", "-f", str(conf), "-N", "1"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            r = subprocess.run(ns.prefix() + ["bash", "-c", "exec 3<>/dev/tcp/127.0.0.1/1080"], capture_output=True)
            if r.returncode == 0:
                return
            time.sleep(0.05)
        raise RuntimeError("danted did not start")

    def relayed(self):
        """Log lines of relayed connections."""
        if not self.log.exists():
            return []
        return [l for l in self.log.read_text().splitlines() if "pass(" in l and "connect" in l]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


@pytest.fixture
def socks(netns, tmp_path):
    s = Socks(netns, tmp_path / "socks")
    yield s
    s.stop()


# ------------------------------------------------------------ running

class Run:
    """codes: the exit code of every launcher process of the run, the first
    one's (code) first, then those of the launchers it restarted."""

    def __init__(self, command_line, codes, boxes, stderr=""):
        self.command_line, self.codes, self.boxes, self.stderr = command_line, codes, boxes, stderr
        self.code = codes[0]


def launcher_codes(inst, games_before, first, codes, restarts):
    """codes ({pid: code}) of every process of a run, less the stub game's
    (its log names it): the launchers', the first first. Fails unless there
    are 1 + restarts, each with a known code."""
    games = {r.get("pid") for r in inst.game_runs()[games_before:]}
    out = [codes[first]] + [c for pid, c in codes.items() if pid != first and pid not in games]
    assert len(out) == 1 + restarts, f"{len(out)} launcher processes ran (codes {out}), expected {1 + restarts}"
    assert None not in out, f"a launcher's exit code could not be read: {out}"
    return out


def run_win(wine, inst, tail="", answers=(), timeout=120, quoted=True, restarts=0):
    """Starts the Windows launcher with tail after its path (quoted, unless
    told otherwise) and runs it until every process it leads to (a
    restarted launcher, the game) has ended, answering its message boxes
    with the buttons in answers, in order. Fails on any other box and on a
    number of launcher processes other than 1 + restarts."""
    exe = win_path(inst.launcher)
    line = (f'"{exe}"' if quoted else exe) + tail
    games_before = len(inst.game_runs())
    job = wine.run_job(exe, line, answers, timeout=timeout)
    wine.wait_all(timeout=timeout)
    return Run(line, job_launcher_codes(inst, games_before, job, restarts), job.boxes)


def job_launcher_codes(inst, games_before, job, restarts):
    """launcher_codes of what Wine.run_job saw; Wine's own programs are
    none of the run's."""
    codes = {pid: c for pid, c in job.codes.items()
             if not job.images.get(pid, "").lower().startswith("c:\\windows\\")}
    return launcher_codes(inst, games_before, next(iter(job.codes)), codes, restarts)


def run_posix(ns, inst, args=(), answer=None, env=None, timeout=120, restarts=0):
    """Runs the POSIX launcher inside the namespace until every process it
    leads to has ended. Its boxes go to standard error; the Yes/No question
    is answered by TVL_ANSWER."""
    e = dict(os.environ)
    e.update(env or {})
    if answer is not None:
        e["TVL_ANSWER"] = answer
    games_before = len(inst.game_runs())
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        p = subprocess.Popen(ns.prefix() + [sys.executable, str(HERE / "reaper.py"), report.name, str(inst.launcher),
                                            *args], cwd=inst.path, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=e, start_new_session=True)
        try:
            _, err = p.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.communicate()
            raise
        assert p.returncode == 0, f"reaper failed: {err[-500:]!r}"
        ran = json.loads(Path(report.name).read_text())
    # Exit codes as the launcher's int: 255 is -1.
    codes = {pid: c - 256 if c >= 128 else c for pid, c in ran["ended"]}
    err = err.decode("cp1251", errors="replace")
    # Boxes print as "[caption] text" (the text may run over several lines);
    # progress lines start with "progress: ".
    boxes = []
    for line in err.split("\n"):
        if line.startswith("[") and "] " in line:
            caption, _, text = line[1:].partition("] ")
            boxes.append([caption, text])
        elif line and not line.startswith("progress: ") and boxes:
            boxes[-1][1] += "\n" + line
    boxes = [(c, t.split("\n[y/N]")[0]) for c, t in boxes]
    return Run(" ".join([str(inst.launcher), *args]),
               launcher_codes(inst, games_before, ran["first"], codes, restarts), boxes, err)


SUPPORT_LOG = "TervalisOnline2D.log"


@contextlib.contextmanager
def wine_holding(wine, path, *mode):
    """Another Windows process holds path open: unshared by default, so that
    nobody can read it; with "shared", sharing it with readers and renames,
    as a virus scanner or a second launcher does."""
    p = wine.popen([wine.tool(), "hold", win_path(path), "600000", *mode], stdout=subprocess.PIPE,
                   stderr=subprocess.DEVNULL)
    try:
        assert p.stdout.readline().strip() == b"HELD", f"cannot hold {path}"
        yield
    finally:
        p.kill()
        p.wait(timeout=10)


def tree(root, skip=("stub_game.log", SUPPORT_LOG)):
    """Every file below root: relative path (with "/") -> content."""
    root = Path(root)
    out = {}
    for p in root.rglob("*"):
        if p.is_file() and p.name not in skip:
            out[p.relative_to(root).as_posix()] = p.read_bytes()
    return out


def assert_old_or_new(inst, before, release_files):
    """After a fault: every file the release names is either what it was
    before the run (or still missing) or its complete new version."""
    now = tree(inst.path)
    for name, new in release_files.items():
        got = now.get(name)
        assert got == before.get(name) or got == new, f"{name} is neither its old nor its new version"


IN_MODIFY, IN_MOVED_TO, IN_CREATE = 0x2, 0x80, 0x100


@contextlib.contextmanager
def file_events(folder):
    """Yields a list that gets (inotify mask, name) of what was created,
    written or moved into folder while the block ran."""
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init1(os.O_NONBLOCK)
    assert fd >= 0 and libc.inotify_add_watch(fd, str(folder).encode(), IN_MODIFY | IN_MOVED_TO | IN_CREATE) >= 0
    events = []
    try:
        yield events
        while True:
            try:
                buf = os.read(fd, 65536)
            except BlockingIOError:
                break
            at = 0
            while at < len(buf):
                _, mask, _, n = struct.unpack_from("iIII", buf, at)
                events.append((mask, buf[at + 16:at + 16 + n].rstrip(b"\0").decode()))
                at += 16 + n
    finally:
        os.close(fd)


def support_runs(inst):
    """The support log's runs, oldest first: each a list of its lines without
    their time stamps, the run's heading first."""
    log = Path(inst.path) / SUPPORT_LOG
    if not log.exists():
        return []
    runs = []
    stamp = len("2000-01-01 00:00:00.000 ")
    for line in log.read_bytes().decode("cp1251").split("\r\n"):
        if line.startswith("=== run "):
            runs.append([line[len("=== run ") + stamp:]])
        elif line and runs:
            runs[-1].append(line[stamp:])
    return runs


def local_check(inst):
    """(files, read, unchanged, full-check reason) of the last run."""
    for line in support_runs(inst)[-1]:
        m = re.fullmatch(r"local check: (\d+) files, (\d+) read, (\d+) unchanged since verified(?:; full check: (.*))?",
                         line)
        if m:
            return int(m[1]), int(m[2]), int(m[3]), m[4]
    raise AssertionError(f"no local check line in {support_runs(inst)[-1]}")


def launcher_pids(inst):
    """Processes running this install's POSIX launcher (a restarted one,
    and one being started, too)."""
    own = str(inst.launcher).encode()
    pids = []
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if f.read().split(b"\0")[0] == own:
                        pids.append(int(pid))
            except OSError:
                pass
    return pids


def prefix_pids(wine):
    """Processes of a Wine prefix other than Wine's own (its server and
    services): the programs a test started, and what they started, at any
    stage of their start."""
    mark = f"WINEPREFIX={wine.prefix_dir}".encode()
    pids = []
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if mark not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    argv0 = f.read().split(b"\0")[0]
            except OSError:
                continue
            if not argv0.lower().startswith(b"c:\\windows\\") and not argv0.endswith((b"wineserver", b"wineserver64")):
                pids.append(int(pid))
    return pids


def kill_all(find):
    """SIGKILL to what find() returns until two looks in a row find nothing
    (a process may be starting another); True when anything was killed."""
    killed, quiet = False, 0
    deadline = time.time() + 10
    while quiet < 2 and time.time() < deadline:
        pids = find()
        quiet = 0 if pids else quiet + 1
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
                killed = True
            except ProcessLookupError:
                pass
        time.sleep(0.02)
    return killed


class WinRoad:
    """The Windows launcher under Wine, in the test's namespace."""
    name = "win"
    launcher_name = "TervalisOnline2D.exe"

    def __init__(self, wine, make):
        self.wine, self.make = wine, make

    def install(self, name="game", game=True):
        return self.make(name, game=game)

    def run(self, inst, tail="", answers=(), timeout=120, quoted=True, restarts=0):
        return run_win(self.wine, inst, tail, answers, timeout=timeout, quoted=quoted, restarts=restarts)

    def start(self, inst):
        """Starts the launcher without waiting for it."""
        return self.wine.popen([win_path(inst.launcher)], cwd=inst.path, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)

    def running(self, inst):
        return bool(prefix_pids(self.wine))

    def kill(self, inst):
        """Kills the launcher (and whatever it started); True when it ran."""
        return kill_all(lambda: prefix_pids(self.wine))


class PosixRoad:
    """The headless POSIX launcher in the test's namespace. Its questions
    are answered through TVL_ANSWER; other boxes need no answer."""
    name = "posix"
    launcher_name = "TervalisOnline2D"

    def __init__(self, ns, make):
        self.ns, self.make = ns, make

    def install(self, name="game", game=True):
        return self.make(name, game=game)

    def run(self, inst, tail="", answers=(), env=None, timeout=120, restarts=0):
        answer = "yes" if YES in answers else ("no" if NO in answers else None)
        r = run_posix(self.ns, inst, tail.split(), answer=answer, env=env, timeout=timeout, restarts=restarts)
        assert len(r.boxes) == len(answers), f"boxes {r.boxes}, expected {len(answers)}"
        return r

    def start(self, inst):
        """Starts the launcher without waiting for it."""
        return subprocess.Popen(self.ns.prefix() + [str(inst.launcher)], cwd=inst.path, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=dict(os.environ, TVL_ANSWER="no"))

    def running(self, inst):
        return bool(launcher_pids(inst))

    def kill(self, inst):
        """Kills the launcher (a restarted one too); True when it ran."""
        return kill_all(lambda: launcher_pids(inst))


@pytest.fixture(params=["win", "posix"])
def road(request, netns):
    if request.param == "win":
        return WinRoad(request.getfixturevalue("netwine"), request.getfixturevalue("win_install"))
    return PosixRoad(netns, request.getfixturevalue("posix_install"))


SETTINGS = dict(update_server="127.0.0.1", update_path="/3d/", icons_server="127.0.0.1", icons_path="/swf/",
                game_server="10.0.0.7", game_port="3801")
GAME_SWITCHES = " /server=10.0.0.7 /port=3801"
