"""Networks that break, from the faulty server (127.0.0.2): transient
failures are retried, a broken body is continued with a range guarded by
the server's validator, a server that cannot continue it gets asked for the
whole file, a partial left by a killed run is resumed at the next start, and
the support log says what happened, with codes and object paths. Then
several transfers at once: the end state of one at a time, the server never
sees more than download_connections requests at once, and the window shows
the bar and the file line meanwhile."""
import os
import random
import re
import time

import pytest

from PIL import Image

from conftest import win_path
from splash_helpers import FILE_LINE, SKIN, fill_width, install_skins, region, screenshot, wait_for
from updates import (FAULTY, OK, SETTINGS, FaultyServer, Release, faulty, md5, road, support_runs, tree,  # noqa: F401
                     zip_bytes)

NET = dict(SETTINGS, update_server=FAULTY, icons_server=FAULTY)
BIG = "/3d/data/big.pak"
CUT = 1 << 20
TRANSIENT = {12002, 12030, 12031, 10053, 10054}  # how a cut body reads on either transport


def release(rnd, big=3 << 20):
    # Random bytes: the served zip is as large as its content, give or take.
    return (Release()
            .add("a.pak", rnd.randbytes(5000))
            .add("data/big.pak", rnd.randbytes(big))
            .add("c.pak", rnd.randbytes(5000)))


def prepare(road, faulty, tmp_path, rel, rules, **ini):
    www = rel.publish(tmp_path / "www")
    server = faulty(www)
    server.set_rules(rules)
    inst = road.install()
    inst.write_ini(**dict(NET, **ini))
    return server, inst


def etag(data):
    # The faulty server's ETag: the first 16 hex digits of the MD5.
    return '"' + md5(data).lower()[:16] + '"'


def published(server, name="data/big.pak"):
    # As the server has it (a zip made again would carry another time).
    return (server.root / "3d" / name).read_bytes()


def log_of_last_run(inst):
    return "\n".join(support_runs(inst)[-1])


def check_reset(server, inst, size):
    first, second = server.transfers(BIG)
    assert (first["status"], first["reset"], first["sent"]) == (200, True, CUT)
    start = int(re.fullmatch(r"bytes=(\d+)-", second["headers"]["range"]).group(1))
    # The rest from where the body broke (a reset may lose what the launcher
    # had not read yet), guarded by the ETag of the first answer.
    assert 0 < start <= CUT and second["headers"]["if-range"] == etag(published(server))
    assert (second["status"], second["sent"]) == (206, size - start)
    assert server.sent(BIG) < 1.2 * size  # far less than the file twice
    log = log_of_last_run(inst)
    code = int(re.search(rf"retry 1 of {BIG} after error (\d+) in \d+ ms", log).group(1))
    assert code in TRANSIENT
    assert f"resume {BIG} at {start} if {etag(published(server))}" in log
    assert f"fetched {BIG} {size} bytes, resumed at {start}, 1 retry" in log


def check_503(server, inst, size):
    transfers = server.transfers(BIG)
    assert [(t["status"], "range" in t["headers"]) for t in transfers] == [(503, False), (200, False)]
    log = log_of_last_run(inst)
    assert re.search(rf"retry 1 of {BIG} after error 503 in \d+ ms", log)
    assert f"fetched {BIG} {size} bytes, 1 retry" in log


def check_new_version(server, inst, size):
    first, second = server.transfers(BIG)
    assert first["reset"] and "range" in second["headers"]
    # The If-Range named the old version: the server sent the new one whole.
    assert second["headers"]["if-range"] == etag((server.root / "3d" / "data" / "old.pak").read_bytes())
    assert (second["status"], second["sent"]) == (200, size)
    log = log_of_last_run(inst)
    assert f"fetched {BIG} {size} bytes, 1 retry" in log


def check_no_ranges(server, inst, size):
    first, second = server.transfers(BIG)
    assert first["reset"] and "range" in second["headers"]
    assert (second["status"], second["sent"]) == (200, size)
    assert f"fetched {BIG} {size} bytes, 1 retry" in log_of_last_run(inst)


# Fault -> the rules of the faulty server for the big file, what the
# transfers and the support log must show, and the roads that show it.
RECOVERED = {
    "reset-mid-body": ({"steps": [{"mode": "reset", "after": CUT}, {}]}, check_reset, ("posix", "win")),
    "503-then-success": ({"steps": [{"mode": "status", "status": 503}, {}]}, check_503, ("posix",)),
    "validator-changed": ({"steps": [{"mode": "reset", "after": CUT, "file": "3d/data/old.pak"}, {}]},
                          check_new_version, ("posix",)),
    "ranges-ignored": ({"steps": [{"mode": "reset", "after": CUT}, {"ignore_range": True}]}, check_no_ranges,
                       ("posix",)),
}


@pytest.mark.parametrize("road,fault", [(r, f) for f, (_, _, roads) in RECOVERED.items() for r in roads],
                         indirect=["road"])
def test_transient_fault_is_recovered(road, faulty, tmp_path, fault):
    rules, check, _ = RECOVERED[fault]
    rel = release(random.Random(fault))
    # What the server held before it was updated (only the validator case
    # serves it).
    old = zip_bytes([("big.pak", random.Random(0).randbytes(2 << 20))])
    (tmp_path / "www" / "3d" / "data").mkdir(parents=True)
    (tmp_path / "www" / "3d" / "data" / "old.pak").write_bytes(old)
    server, inst = prepare(road, faulty, tmp_path, rel, {BIG: rules})
    run = road.run(inst)
    assert run.code == 0 and run.boxes == []
    files = tree(inst.path)
    for name, data in rel.expected().items():
        assert files.get(name) == data, name
    assert os.listdir(inst.path / "data" / "update") == []
    check(server, inst, len(published(server)))
    assert len(inst.wait_game_runs()) == 1


@pytest.mark.parametrize("road", ["posix", "win"], indirect=True)
def test_404_is_not_retried(road, faulty, tmp_path):
    rel = release(random.Random(4))
    server, inst = prepare(road, faulty, tmp_path, rel, {BIG: {"mode": "status", "status": 404}})
    run = road.run(inst, answers=[OK])
    assert run.boxes == [("Error downloading file", f"Error downloading file: 404\nFile: {BIG}")]
    assert run.code == -1
    assert len(server.transfers(BIG)) == 1
    assert "/3d/c.pak" not in server.paths()
    log = log_of_last_run(inst)
    assert "retry" not in log
    assert f"FAILED {BIG} error 404" in log and log.endswith(f"end: file failed, error 404 {BIG}")


@pytest.mark.parametrize("road", ["posix", "win"], indirect=True)
def test_partial_left_by_a_killed_run_is_resumed_at_the_next_start(road, faulty, tmp_path):
    rel = release(random.Random(5), big=4 << 20)
    # Slowly, so that the launcher is killed in the middle of the body.
    server, inst = prepare(road, faulty, tmp_path, rel, {BIG: {"rate": 1 << 20}})
    big = published(server)
    digest = rel.files[1]["digest"]
    part = inst.path / "data" / "update" / f"part-{digest}.tmp"
    sidecar = part.with_name(part.name + ".resume")

    def written():
        text = sidecar.read_text() if sidecar.exists() else ""
        m = re.search(r"^written (\d+)$", text, re.M)
        return int(m.group(1)) if m and int(m.group(1)) >= 2 << 20 else 0

    road.start(inst)
    kept = wait_for(written, 60)
    assert kept, "the partial never reached 2 MiB"
    assert road.kill(inst)
    kept = written()
    assert part.stat().st_size >= kept
    assert "data/big.pak" not in tree(inst.path)

    server.set_rules({})
    run = road.run(inst)
    assert run.code == 0
    assert tree(inst.path)["data/big.pak"] == rel.expected()["data/big.pak"]
    last = server.transfers(BIG)[-1]
    assert last["headers"]["range"] == f"bytes={kept}-" and last["headers"]["if-range"] == etag(big)
    assert (last["status"], last["sent"]) == (206, len(big) - kept)
    assert os.listdir(inst.path / "data" / "update") == []
    log = log_of_last_run(inst)
    assert f"resume {BIG} at {kept} if {etag(big)}" in log
    assert f"fetched {BIG} {len(big)} bytes, resumed at {kept}" in log


# ---------------------------------------------------------------- at once

def many_files(rnd, count=24):
    rel = Release()
    for i in range(count):
        rel.add(f"data/f{i:02}.pak", rnd.randbytes(rnd.randint(20000, 60000)))
    return rel


@pytest.fixture
def keepalive_server(netns, tmp_path):
    """Factory: the faulty server, keeping connections open when asked."""
    servers = []

    def start(root):
        servers.append(FaultyServer(netns, root, tmp_path / "faulty-keepalive", keepalive=True))
        return servers[-1]

    yield start
    for s in servers:
        s.stop()


def test_failure_in_the_middle_with_four_connections_ends_as_with_one(road, keepalive_server, tmp_path):
    rel = many_files(random.Random(6))
    broken = "/3d/data/f11.pak"
    # Each answer takes a moment, so that transfers overlap at the server.
    rules = {"*": {"delay": 0.05}, broken: {"mode": "status", "status": 404}}
    server = keepalive_server(rel.publish(tmp_path / "www"))
    server.set_rules(rules)
    ends = {}
    for n in (1, 4):
        inst = road.install(f"game{n}")
        inst.write_ini(**dict(NET, download_connections=n))
        for i, f in enumerate(rel.files):
            if i % 3 == 0:  # a third is current already
                (inst.path / f["name"]).parent.mkdir(parents=True, exist_ok=True)
                (inst.path / f["name"]).write_bytes(f["data"])
        seen = len(server.requests())
        run = road.run(inst, answers=[OK])
        assert run.boxes == [("Error downloading file", f"Error downloading file: 404\nFile: {broken}")]
        assert run.code == -1
        ends[n] = tree(inst.path, skip=("TervalisOnline2D.ini", "stub_game.log", "TervalisOnline2D.log"))
        assert os.listdir(inst.path / "data" / "update") == []
        # At most n requests at once, as the server counts them; with four
        # allowed, more than one.
        most = max(r["active"] for r in server.requests()[seen:])
        assert most <= n and (n == 1 or most > 1), most
        if road.name == "posix":
            # With four, connections are kept from file to file (a refused
            # answer closes its own); one is the plain road, a connection
            # per request. Wine's WinINet pools them whatever it is asked.
            files = [r for r in server.requests()[seen:] if r["path"].endswith(".pak")]
            conns = len({r["conn"] for r in files})
            assert conns < len(files) if n > 1 else conns == len(files), (conns, len(files))
    assert ends[4] == ends[1]
    assert [name for name in sorted(ends[1]) if name.startswith("data/f")] == [
        f["name"] for i, f in enumerate(rel.files) if i < 11 or i % 3 == 0]


ORIGIN = (256, 184)  # the sample skin centred on the 1024 x 768 screen


def test_window_shows_progress_and_file_under_concurrency(netwine, win_install, faulty, tmp_path, xvfb):
    # Slow transfers, four at once: the bar grows with the bytes of all of
    # them and the file line names a file meanwhile. The main list takes a
    # moment, so the line's "checking update..." is seen first.
    rel = many_files(random.Random(7), count=8)
    server = faulty(rel.publish(tmp_path / "www"))
    server.set_rules({"/3d/files.txt": {"delay": 1}, "/swf/clan_icons_list.txt": {}, "*": {"rate": 50000}})
    inst = win_install()
    install_skins(inst, {"tervalis.png": SKIN.read_bytes()})
    inst.write_ini(**dict(NET, download_connections=4))
    proc = netwine.popen([win_path(inst.launcher)], cwd=inst.path)
    checking, shots, fills = None, [], []
    deadline = time.time() + 60
    while proc.poll() is None and time.time() < deadline:
        before = server.active()
        s = screenshot(xvfb)
        if s.getpixel((ORIGIN[0] + 497, ORIGIN[1] + 370)) == (240, 220, 220):  # the window is up
            line = region(s, ORIGIN, FILE_LINE).tobytes()
            fills.append(fill_width(s, ORIGIN))
            if not any(p.endswith(".pak") for p in server.paths()):
                checking = line  # the last one before any file is asked for
            elif before == server.active() == 4 and 0 < fills[-1] < 422:
                shots.append((s, line))
        time.sleep(0.1)
    proc.wait(timeout=60)
    netwine.wait_all()
    skin_line = region(Image.open(SKIN).convert("RGB"), (0, 0), FILE_LINE).tobytes()
    assert checking not in (None, skin_line), "the list was never shown being fetched"
    assert shots, f"no screen with four transfers running and the bar partly filled: {fills}"
    # A file's name, not the list's line nor nothing. (Which files the shots
    # catch depends on timing, so how many different ones is not asserted.)
    assert all(line not in (checking, skin_line) for _, line in shots)
    assert fills == sorted(fills), fills  # the bar only grows
    assert server.max_active() == 4
    files = tree(inst.path)
    for name, data in rel.expected().items():
        assert files.get(name) == data, name
