"""The player's disk and line: room checked before any file is requested, a
disk that fills during the run, and the bandwidth cap. The install lives on a
tmpfs of fixed size, mounted in a private mount namespace inside the test's
network namespace; the test reaches its files through /proc/PID/root of the
process that holds the namespace, and fills it from outside, as another
program would.
"""
import ctypes
import os
import re
import subprocess
import threading
import time
from pathlib import Path

import pytest

from conftest import BUILD_NATIVE, BUILD_WIN, LAUNCHER, Install, Wine, win_path
from updates import (FAULTY, OK, NO, SETTINGS, SUPPORT_LOG, FaultyServer, PosixRoad, Release, WinRoad,  # noqa: F401
                     IN_CREATE, assert_old_or_new, faulty, road, support_runs, tree)

MiB = 1 << 20
FAULTY_SETTINGS = dict(SETTINGS, update_server=FAULTY, icons_server=FAULTY)


class Volume:
    """A tmpfs of `size` bytes on `mnt`, seen only inside its own mount
    namespace (and through view)."""

    def __init__(self, ns, mnt, size):
        self.mnt = Path(mnt)
        self.mnt.mkdir(parents=True, exist_ok=True)
        self.proc = subprocess.Popen(
            ns.prefix() + ["unshare", "-m", "--propagation", "private", "sh", "-c",
                           f'mount -t tmpfs -o size={size} tvlvol "$0" && echo ready && exec sleep 100000',
                           str(self.mnt)], stdout=subprocess.PIPE)
        assert self.proc.stdout.readline() == b"ready\n", "the volume could not be mounted"
        self.view = Path(f"/proc/{self.proc.pid}/root") / str(self.mnt).lstrip("/")
        self.filler = self.view / "filler"

    def prefix(self):
        return ["nsenter", "-t", str(self.proc.pid), "-m", "-n", "--"]

    def free(self):
        st = os.statvfs(self.view)
        return st.f_bavail * st.f_frsize

    def fill(self, leave=0):
        """Grows the filler until `leave` bytes are free (0: until the disk
        is full)."""
        with open(self.filler, "ab") as f:
            want = self.free() - leave
            try:
                while want > 0:
                    n = f.write(b"\xff" * min(want, MiB))
                    f.flush()
                    want -= n
            except OSError:
                assert leave == 0, "the volume filled before it was asked to"

    def release(self, count=None):
        """Frees count bytes of the filler (all of it without count)."""
        size = self.filler.stat().st_size
        os.truncate(self.filler, 0 if count is None else size - count)

    def close(self):
        self.proc.kill()
        self.proc.wait()


@pytest.fixture(params=["win", "posix"])
def on_volume(request, netns, tmp_path, wine_base, xvfb):
    """(road, volume): a launcher installed on a 64 MiB volume."""
    vol = Volume(netns, tmp_path / "vol", 64 * MiB)
    wine = None

    def make(name="game", game=True):
        exe = LAUNCHER if request.param == "win" else "TervalisOnline2D"
        inst = Install(vol.view / name, (BUILD_WIN if request.param == "win" else BUILD_NATIVE) / "bin", exe, game)
        inst.launcher = vol.mnt / name / exe  # as the programs in the namespace see it
        return inst

    if request.param == "win":
        wine = Wine(wine_base, tmp_path / "prefix", xvfb, ns=vol)
        road = WinRoad(wine, make)
    else:
        road = PosixRoad(vol, make)
    yield road, vol
    if wine:
        wine.close()
    vol.close()


def mb(count, up):
    """The box's megabytes, rounded as the launcher rounds them."""
    tenths = -(-count * 10 // MiB) if up else count * 10 // MiB
    return f"{tenths // 10}.{tenths % 10} MB"


def space_note(inst):
    """(need, free, volume) of the last run's space line in the support log."""
    [line] = [l for l in support_runs(inst)[-1] if l.startswith("space: ")]
    m = re.fullmatch(r"space: need (\d+) bytes, free (\d+) bytes on (.+)", line)
    return int(m.group(1)), int(m.group(2)), m.group(3)


def staging(inst):
    d = inst.path / "data" / "update"
    return sorted(p.name for p in d.iterdir()) if d.exists() else []


def old_install(road, rel, settings):
    """An install holding an old version of each of rel's files; returns it
    and its tree."""
    inst = road.install()
    inst.write_ini(**settings)
    for name in rel.expected():
        (inst.path / name).write_bytes(b"old " + name.encode())
    return inst, tree(inst.path)


def test_no_room_asks_before_any_file_then_exactly_enough_completes(on_volume, nginx, tmp_path):
    road, vol = on_volume
    rel = Release().add("big.pak", os.urandom(6 * MiB)).add("data/small.pak", b"new small").icon("i.png", b"icon")
    server = nginx(rel.publish(tmp_path / "www"))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    (inst.path / "big.pak").write_bytes(os.urandom(MiB))
    before = tree(inst.path)
    vol.fill(leave=4 * MiB)

    run = road.run(inst, answers=[NO])
    [(caption, text)] = run.boxes
    need, free, where = space_note(inst)
    assert caption == "Not enough disk space"
    assert text.startswith(f"There is not enough free space on {where} for the update.\nIt needs {mb(need, True)}, "
                           f"and {mb(free, False)} are free.")
    assert text.endswith("Play without the latest updates?")
    assert where == (win_path(vol.mnt) + "\\" if road.name == "win" else str(vol.mnt))  # the folder it is mounted on
    assert need > free and abs(free - vol.free()) <= 8192  # what the disk had, less the support log's page
    assert run.code == -1 and inst.game_runs() == []
    assert not set(rel.object_paths()) & set(server.requests())
    assert tree(inst.path) == before

    # The same run on a disk with exactly what it said it needs. The log
    # goes first: at the check it then holds what it held the first time.
    (inst.path / SUPPORT_LOG).unlink()
    vol.release(need - free)
    run = road.run(inst)
    assert run.code == 0 and len(inst.game_runs()) == 1
    assert space_note_absent(inst)
    now = tree(inst.path)
    assert all(now[name] == data for name, data in rel.expected().items())


def space_note_absent(inst):
    return not any(l.startswith("space: ") for l in support_runs(inst)[-1])


def run_in_background(road, inst, answers):
    out = {}
    t = threading.Thread(target=lambda: out.setdefault("run", road.run(inst, answers=answers, timeout=180)))
    t.start()
    return t, out


def wait_for(predicate, timeout=60):
    deadline = time.time() + timeout
    while not predicate():
        assert time.time() < deadline, "timed out"
        time.sleep(0.01)


def assert_disk_full_box(run, path):
    [(caption, text)] = run.boxes
    assert caption == "Disk full", text
    assert " is full: the update stopped (error " in text and f"\nFile: {path}\n" in text
    assert run.code == -1


def test_disk_filled_by_another_program_during_a_transfer(on_volume, faulty, tmp_path):
    road, vol = on_volume
    rel = Release().add("a.pak", os.urandom(50000)).add("big.pak", os.urandom(4 * MiB)).add("c.pak", b"new c")
    server = faulty(rel.publish(tmp_path / "www"))
    # Slow enough that the disk is full long before the body is complete.
    server.set_rules({"/3d/big.pak": {"rate": MiB // 2}})
    inst, before = old_install(road, rel, FAULTY_SETTINGS)

    thread, out = run_in_background(road, inst, [OK])
    part = inst.path / "data" / "update" / f"part-{rel.files[1]['digest']}.tmp"
    wait_for(lambda: part.exists() and part.stat().st_size >= 1280 * 1024)  # past the first checkpoint
    vol.fill()
    thread.join()
    assert_disk_full_box(out["run"], "/3d/big.pak")
    assert_old_or_new(inst, before, rel.expected())
    assert inst.game_runs() == []
    # What can be continued stays; nothing else does.
    assert all(n.startswith("part-") for n in staging(inst)) and part.name in staging(inst)
    assert server.sent("/3d/big.pak") < 4 * MiB  # it was the transfer that stopped

    vol.release()
    server.set_rules({})
    run = road.run(inst)
    assert run.code == 0
    assert {n: d for n, d in tree(inst.path).items() if n in rel.expected()} == rel.expected()
    assert any(l.startswith("resume /3d/big.pak at ") for l in support_runs(inst)[-1])
    assert staging(inst) == []


def test_archive_larger_than_the_room_left_is_not_unpacked(on_volume, nginx, tmp_path):
    road, vol = on_volume
    # About 2 MiB to fetch that unpacks to 34: only the archive tells.
    huge = os.urandom(2 * MiB) + bytes(32 * MiB)
    rel = Release().add("a.pak", b"new a").add("huge.pak", huge).add("z.pak", b"new z")
    nginx(rel.publish(tmp_path / "www"))
    inst, before = old_install(road, rel, SETTINGS)
    vol.fill(leave=16 * MiB)

    run = road.run(inst, answers=[OK])
    assert_disk_full_box(run, "/3d/huge.pak")
    now = tree(inst.path)
    assert now["a.pak"] == b"new a" and now["huge.pak"] == before["huge.pak"] and now["z.pak"] == before["z.pak"]
    assert staging(inst) == [] and not list(inst.path.glob("*.tvltmp"))

    vol.release()
    assert road.run(inst).code == 0
    assert {n: d for n, d in tree(inst.path).items() if n in rel.expected()} == rel.expected()


def fill_when_created(vol, path):
    """Fills the volume the moment path is created; returns a thread whose
    `landed` says whether path still existed once the filling had begun."""
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init1(0)
    assert fd >= 0 and libc.inotify_add_watch(fd, str(path.parent).encode(), IN_CREATE) >= 0

    def watch():
        try:
            while os.fsencode(path.name) not in os.read(fd, 65536):
                pass
            with open(vol.filler, "ab") as f:
                try:  # in steps: the launcher writes meanwhile
                    while True:
                        os.posix_fallocate(f.fileno(), os.fstat(f.fileno()).st_size, 4 * MiB)
                        t.landed = t.landed or path.exists()
                except OSError:
                    pass
            vol.fill()
        finally:
            os.close(fd)

    t = threading.Thread(target=watch, daemon=True)
    t.landed = False
    t.start()
    return t


def test_disk_filled_by_another_program_during_unpacking(on_volume, nginx, tmp_path):
    road, vol = on_volume
    # Little to fetch, tens of MiB to write: the unpacking outlasts the fill.
    big = (os.urandom(4096) + bytes(60 * 1024)) * 600
    rel = Release().add("a.pak", b"new a").add("big.pak", big).add("z.pak", b"new z")
    nginx(rel.publish(tmp_path / "www"))
    inst, before = old_install(road, rel, SETTINGS)

    filler = fill_when_created(vol, inst.path / "big.pak.tvltmp")
    run = road.run(inst, answers=[OK])
    filler.join(timeout=30)
    assert filler.landed, "the volume filled after the unpacking had ended"
    assert_disk_full_box(run, "/3d/big.pak")
    # Fetched whole, then the unpacking failed.
    assert support_runs(inst)[-1][-2:] == [f"fetched /3d/big.pak {len(rel.served(rel.files[1]))} bytes",
                                           "end: file failed, error 112 /3d/big.pak"]
    assert_old_or_new(inst, before, rel.expected())
    assert tree(inst.path)["big.pak"] == before["big.pak"] and inst.game_runs() == []
    assert staging(inst) == [] and not list(inst.path.glob("*.tvltmp"))

    vol.release()
    assert road.run(inst).code == 0
    assert {n: d for n, d in tree(inst.path).items() if n in rel.expected()} == rel.expected()
    assert staging(inst) == [] and not list(inst.path.glob("*.tvltmp"))


def test_cap_holds_for_all_connections_together(road, netns, tmp_path):
    rel = Release()
    for i in range(20):
        rel.add(f"p{i:02}.pak", os.urandom(MiB))
    server = FaultyServer(netns, rel.publish(tmp_path / "www"), tmp_path / "faulty", keepalive=True)
    try:
        server.set_rules({"_trace": True})
        inst = road.install()
        inst.write_ini(**dict(FAULTY_SETTINGS, download_connections="4", download_limit_kbps="2048"))
        run = road.run(inst, timeout=180)
        chunks = sorted((e["t"], e["sent"]) for e in server._lines() if e.get("event") == "chunk")
        assert server.max_active() == 4
    finally:
        server.stop()
    assert run.code == 0
    assert {n: d for n, d in tree(inst.path).items() if n in rel.expected()} == rel.expected()
    assert sum(n for _, n in chunks) >= 20 * MiB
    # What the server handed out over any 5 s after the first second: at
    # most the cap, and some 5 % for the pieces in flight.
    cap, span = 2048 * 1024, 5.0
    times = [t for t, _ in chunks]
    # The whole of it, too: a run too short for any span is too fast.
    assert times[-1] - times[0] >= 20 * MiB / (1.05 * cap) - 1
    for i, (t, _) in enumerate(chunks):
        if t < times[0] + 1 or t + span > times[-1]:
            continue
        sent = sum(n for u, n in chunks[i:] if u < t + span)
        assert sent <= 1.05 * cap * span, f"{sent / span / cap:.3f} of the cap over {span} s from {t - times[0]:.1f} s"
