"""Fixtures for end-to-end tests: the real TervalisOnline2D.exe under Wine and
Xvfb, a test install with the stub game, and nginx on 127.0.0.1:80 inside a
private network namespace (so runs never collide on port 80).

Each test gets its own Wine prefix, a hard-link clone of one prepared base
prefix. Wine creates sockets in its wineserver, so a prefix that talks to the
network is used only inside its namespace.
"""
import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
import time
import uuid
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD_WIN = Path(os.environ.get("TVL_BUILD_WIN", ROOT / "build" / "win64"))
BUILD_NATIVE = Path(os.environ.get("TVL_BUILD_NATIVE", ROOT / "build" / "native"))
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
LAUNCHER = "TervalisOnline2D.exe"
GAME = "TervalisOnline2D.bin"


def win_path(p):
    """Windows spelling of a host path, through Wine's drive Z:."""
    return "Z:" + str(p).replace("/", "\\")


# --------------------------------------------------------------------- Xvfb

class Xvfb:
    """A virtual screen, 1024 x 768 x 24, on a display the server picks
    itself (test processes running side by side never race for one)."""

    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-noreset", "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     pass_fds=(w,))
        os.close(w)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number.isdigit():
            self.proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def pytest_collection_modifyitems(session, config, items):
    # pytest ignores marks put on a fixture (a parametrize there runs nothing
    # twice), silently; refuse them.
    for module in {item.module for item in items if getattr(item, "module", None)}:
        for name, obj in vars(module).items():
            if getattr(obj, "_pytestfixturefunction", None) and getattr(obj, "pytestmark", None):
                raise pytest.UsageError(f"{module.__name__}.{name}: a mark on a fixture has no effect")
    # Files go to parallel workers whole, in this order: the longest first,
    # so none starts last and runs alone.
    first = {name: i for i, name in enumerate(LONGEST_FIRST)}
    items.sort(key=lambda item: first.get(Path(str(item.fspath)).stem, len(first)))


# The files that take longest, longest first (the rest keep their order).
LONGEST_FIRST = ["test_update_large", "test_update_faults", "test_update_kills", "test_splash_startup",
                 "test_signed_release", "test_update_disk", "test_splash_window", "test_update_many_files",
                 "test_direct_road", "test_update_patches"]


@pytest.fixture(scope="session")
def xvfb():
    x = Xvfb()
    yield x.display
    x.close()


# ------------------------------------------------------------ network ns

class NetNs:
    def __init__(self):
        self.name = "tvl-" + uuid.uuid4().hex[:10]
        subprocess.run(["ip", "netns", "add", self.name], check=True)
        subprocess.run(["ip", "netns", "exec", self.name, "ip", "link", "set", "lo", "up"], check=True)

    def prefix(self):
        return ["ip", "netns", "exec", self.name]

    def close(self):
        out = subprocess.run(["ip", "netns", "pids", self.name], capture_output=True, text=True).stdout
        for pid in out.split():
            try:
                os.kill(int(pid), signal.SIGKILL)
            except (ProcessLookupError, ValueError):
                pass
        subprocess.run(["ip", "netns", "del", self.name], check=False)


@pytest.fixture
def netns():
    ns = NetNs()
    yield ns
    ns.close()


# ------------------------------------------------------------------ nginx

class Nginx:
    """nginx serving `root` on 127.0.0.1:80 inside a network namespace."""

    def __init__(self, ns, root, workdir, extra="", http_extra=""):
        """`extra`: more directives for the server block (e.g. limit_rate);
        `http_extra`: for the http block (e.g. a log_format)."""
        self.ns, self.root, self.workdir = ns, Path(root), Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        conf = self.workdir / "nginx.conf"
        conf.write_text(f"""
daemon off;
user root;
worker_processes 1;
pid {self.workdir}/nginx.pid;
error_log {self.workdir}/error.log warn;
events {{ worker_connections 64; }}
http {{
  access_log {self.workdir}/access.log;
  client_body_temp_path {self.workdir}/body;
  proxy_temp_path {self.workdir}/proxy;
  fastcgi_temp_path {self.workdir}/fastcgi;
  uwsgi_temp_path {self.workdir}/uwsgi;
  scgi_temp_path {self.workdir}/scgi;
  types {{ }}
  default_type application/octet-stream;
  sendfile on;
  {http_extra}
  server {{
    listen 127.0.0.1:80;
    root {self.root};
    {extra}
  }}
}}
""")
        self.proc = subprocess.Popen(ns.prefix() + ["nginx", "-c", str(conf)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait_ready()

    def wait_ready(self):
        for _ in range(100):
            r = subprocess.run(self.ns.prefix() + ["curl", "-s", "-o", "/dev/null", "http://127.0.0.1/"],
                               capture_output=True)
            if r.returncode == 0:
                return
            time.sleep(0.05)
        raise RuntimeError("nginx did not start: " + (self.workdir / "error.log").read_text())

    def requests(self):
        """Request paths nginx has logged, in order."""
        log = self.workdir / "access.log"
        if not log.exists():
            return []
        paths = []
        for line in log.read_text().splitlines():
            try:
                paths.append(line.split('"')[1].split(" ")[1])
            except IndexError:
                pass
        return paths

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


@contextlib.contextmanager
def server_pool(make):
    """Yields start(root), which makes one more server with make(root, index);
    every server made is stopped at the end."""
    servers = []

    def start(root):
        s = make(root, len(servers))
        servers.append(s)
        return s

    try:
        yield start
    finally:
        for s in servers:
            s.stop()


@pytest.fixture
def nginx(netns, tmp_path):
    """Factory: nginx(root) starts nginx in this test's namespace."""
    with server_pool(lambda root, i: Nginx(netns, root, tmp_path / f"nginx{i}")) as start:
        yield start


# ------------------------------------------------------------------- Wine

def base_prefix():
    """The prepared Wine prefix every test prefix is cloned from."""
    out = subprocess.run(["bash", str(ROOT / "scripts" / "wine_prefix.sh")], capture_output=True, text=True,
                         check=True)
    return Path(out.stdout.strip().splitlines()[-1])


@pytest.fixture(scope="session")
def wine_base():
    return base_prefix()


def unescape(field):
    """tvltool's escaped Windows-1251 bytes as text."""
    return field.encode("latin-1").decode("unicode_escape").encode("latin-1").decode("cp1251")


class Job:
    """What tvltool run saw: boxes [(caption, text)], images {pid: image
    path}, codes {pid: exit code or None}, the first process's code, and
    Wine's standard error."""

    def __init__(self):
        self.boxes, self.images, self.codes, self.failures, self.code, self.stderr = [], {}, {}, [], None, ""


class Wine:
    """A private Wine prefix (clone of the base), optionally inside a netns."""

    def __init__(self, base, where, display, ns=None):
        self.prefix_dir = Path(where)
        subprocess.run(["cp", "-al", str(base), str(self.prefix_dir)], check=True)
        # The registry files are rewritten in place by Wine: give this
        # prefix its own copies instead of links into the base.
        for reg in self.prefix_dir.glob("*.reg"):
            data = reg.read_bytes()
            reg.unlink()
            reg.write_bytes(data)
        self.ns = ns
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": str(self.prefix_dir),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DISPLAY": display,
            "LC_ALL": "ru_RU.UTF-8",
        })
        self.env.pop("WAYLAND_DISPLAY", None)

    def cmd(self, args):
        return (self.ns.prefix() if self.ns else []) + list(args)

    def popen(self, args, cwd=None, env=None, **kw):
        e = dict(self.env)
        e.update(env or {})
        return subprocess.Popen(self.cmd([WINE] + list(args)), cwd=cwd, env=e, **kw)

    def run(self, args, cwd=None, env=None, timeout=120):
        # Output through files, not pipes: a wineserver this process happens
        # to start inherits its handles and keeps a pipe open until every
        # process of the prefix has ended (a launcher waiting for a second
        # message box, say).
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = self.popen(args, cwd=cwd, env=env, stdout=out, stderr=err)
            try:
                p.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(p.args, p.returncode, out.read(), err.read())

    def tool(self):
        return win_path(BUILD_WIN / "bin" / "tvltool.exe")

    def spawn(self, program, command_line, cwd=None, env=None):
        """Starts program with exactly command_line (no quoting added)."""
        return self.popen([self.tool(), "spawn", program, command_line.encode("cp1251").hex()],
                          cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run_spawn(self, program, command_line, cwd=None, env=None, timeout=120):
        """Runs program with exactly command_line, where no message box may
        come; returns its exit code."""
        return self.run_job(program, command_line, cwd=cwd, env=env, timeout=timeout).code

    def run_job(self, program, command_line, answers=(), cwd=None, env=None, timeout=120):
        """Runs program with exactly command_line until every process it
        leads to has ended, answering its message boxes with the buttons in
        answers, in order. Fails on a box beyond those, a button not on its
        box, a box that never came, and an exit code that cannot be read."""
        p = self.popen([self.tool(), "run", program, command_line.encode("cp1251").hex(), str(int(timeout * 1000)),
                        *map(str, answers)], cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = p.communicate(timeout=timeout + 30)
        except subprocess.TimeoutExpired:
            p.kill()
            raise
        job = Job()
        job.stderr = err.decode(errors="replace")
        for line in out.decode(errors="replace").splitlines():
            tag, *fields = [unescape(f) for f in line.split("\t")]
            if tag == "BOX":
                job.boxes.append((fields[1], fields[2]))
            elif tag == "PROC":
                job.images[int(fields[0])] = fields[1]
            elif tag == "EXIT":
                job.codes[int(fields[0])] = None if fields[1] == "?" else int(fields[1])
            elif tag == "FAIL":
                job.failures.append(fields[0])
        assert job.codes, f"tvltool run failed ({p.returncode}): {out!r} {err!r}"
        assert not job.failures and p.returncode == 0, f"{'; '.join(job.failures)}; boxes {job.boxes}"
        job.code = job.codes[next(iter(job.codes))]
        return job

    def answer_box(self, button, timeout_ms=20000):
        """Waits for a message box, presses button; returns (caption, text) as
        Windows-1251 bytes decoded, or None when no box appeared."""
        r = self.run([self.tool(), "box", str(button), str(timeout_ms)], timeout=timeout_ms / 1000 + 30)
        if r.returncode == 3:
            return None
        fields = {}
        for line in r.stdout.decode().splitlines():
            tag, _, val = line.partition("\t")
            fields[tag] = unescape(val)
        assert r.returncode == 0, f"cannot answer {button} on the box {fields}"
        return fields.get("CAPTION"), fields.get("TEXT")

    def wait_all(self, timeout=60):
        """Waits until every process of this prefix has ended."""
        subprocess.run(self.cmd([WINESERVER, "-w"]), env=self.env, timeout=timeout)

    def reg_query(self, key, value=None):
        args = ["reg", "query", key] + (["/v", value] if value is not None else ["/ve"])
        return self.run(args)

    def close(self):
        subprocess.run(self.cmd([WINESERVER, "-k"]), env=self.env, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.prefix_dir, ignore_errors=True)


@pytest.fixture
def wine(wine_base, xvfb, tmp_path):
    """A Wine prefix for tests that need no network."""
    w = Wine(wine_base, tmp_path / "prefix", xvfb)
    yield w
    w.close()


@pytest.fixture
def netwine(wine_base, xvfb, tmp_path, netns):
    """A Wine prefix whose wineserver lives in the test's network namespace."""
    w = Wine(wine_base, tmp_path / "prefix", xvfb, ns=netns)
    yield w
    w.close()


# ---------------------------------------------------------- test install

class Install:
    """A game folder: the launcher, the stub game as TervalisOnline2D.bin, a
    settings file and a data folder."""

    def __init__(self, path, bin_dir, exe_name, game=True):
        self.path = Path(path)
        self.path.mkdir(parents=True, exist_ok=True)
        (self.path / "data").mkdir(exist_ok=True)
        self.launcher = self.path / exe_name
        shutil.copy(bin_dir / exe_name, self.launcher)
        stub = "stub_game.exe" if exe_name.endswith(".exe") else "stub_game"
        if game:
            shutil.copy(bin_dir / stub, self.path / GAME)
        self.log = self.path / "stub_game.log"

    def write_ini(self, text=None, **keys):
        if text is None:
            text = "[Connection]\r\n" + "".join(f"{k}={v}\r\n" for k, v in keys.items())
        (self.path / "TervalisOnline2D.ini").write_bytes(text.encode("cp1251") if isinstance(text, str) else text)

    def wait_game_runs(self, count=1, timeout=10):
        """game_runs() once `count` starts are logged (the launcher does not
        wait for the game, so its log may come a moment later)."""
        deadline = time.time() + timeout
        while len(self.game_runs()) < count and time.time() < deadline:
            time.sleep(0.05)
        return self.game_runs()

    def game_runs(self):
        """Each start of the stub game: dict(pid=..., cmdline=..., cwd=...)."""
        if not self.log.exists():
            return []
        runs, cur = [], {}
        for line in self.log.read_bytes().decode("cp1251").split("\n"):
            if line.startswith("PID "):
                cur["pid"] = int(line[len("PID "):])
            elif line.startswith("CMDLINE "):
                cur["cmdline"] = line[len("CMDLINE "):]
            elif line.startswith("CWD "):
                cur["cwd"] = line[len("CWD "):]
            elif line == "END":
                runs.append(cur)
                cur = {}
        return runs


@pytest.fixture
def win_install(tmp_path):
    """Factory for Windows installs: win_install(name='game', game=True)."""

    def make(name="game", game=True):
        return Install(tmp_path / name, BUILD_WIN / "bin", LAUNCHER, game=game)

    return make


@pytest.fixture
def posix_install(tmp_path):
    def make(name="game", game=True):
        inst = Install(tmp_path / name, BUILD_NATIVE / "bin", "TervalisOnline2D", game=game)
        return inst

    return make
