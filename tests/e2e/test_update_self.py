"""Self-replacement: a new launcher arriving in a packed entry named like the
running one (TervalisOnline2D.exe on Windows, the Linux launcher's own file
name) takes its place and is started with the same command line; the old one
is left as .old until the next start. One server may carry both launchers:
each is an ordinary file for the other kind of install. A replacement that
cannot finish never turns into an endless chain of restarts, and a launcher
that another process holds open is replaced all the same."""
import contextlib
import os
import subprocess

import pytest

from conftest import BUILD_NATIVE, win_path
from publish_helpers import run_publish
from updates import (GAME_SWITCHES, IN_CREATE, IN_MOVED_TO, OK, SETTINGS, Release, file_events,  # noqa: F401
                     job_launcher_codes, md5, road, tree, wine_holding)

EXE = "TervalisOnline2D.exe"
LINUX_EXE = "TervalisOnline2D"


def launcher_install(road):
    inst = road.install()
    inst.write_ini(**SETTINGS)
    return inst


def new_launcher(inst, marker=b"new launcher"):
    # Bytes after the end of the image change the digest, not the program.
    return inst.launcher.read_bytes() + b"\0" * 64 + marker


def run_count(paths, path):
    return sum(1 for p in paths if p == path)


@contextlib.contextmanager
def names_made(folder):
    """Yields a set that gets the names created or moved into folder while
    the block ran (a restarted launcher may delete them again at once)."""
    with file_events(folder) as events:
        names = set()
        yield names
    names.update(name for mask, name in events if mask & (IN_CREATE | IN_MOVED_TO))


def test_new_launcher_replaces_the_running_one(road, nginx, tmp_path):
    # One server for both kinds of install, published with both launchers.
    inst = launcher_install(road)
    own, other = road.launcher_name, (LINUX_EXE if road.name == "win" else EXE)
    old = inst.launcher.read_bytes()
    new = new_launcher(inst)
    builds = {own: new, other: b"the other kind of install's launcher"}
    for name, data in builds.items():
        (tmp_path / "build").mkdir(exist_ok=True)
        (tmp_path / "build" / name).write_bytes(data)
    (tmp_path / "release").mkdir()
    (tmp_path / "release" / "a.pak").write_bytes(b"A" * 1000)
    www = tmp_path / "www"
    run_publish(tmp_path / "release", www / "3d", "--launcher", tmp_path / "build" / EXE,
                "--linux-launcher", tmp_path / "build" / LINUX_EXE, check=True)
    (www / "swf").mkdir()
    (www / "swf" / "clan_icons_list.txt").write_bytes(b"")
    server = nginx(www)

    with names_made(inst.path) as made:
        run = road.run(inst, " /externlogin=x", restarts=1)
    assert run.codes == [0, 0]
    assert run.boxes == []
    # The restarted launcher found itself current and started the game, once,
    # with the command line the first one was given.
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    assert inst.launcher.read_bytes() == new
    files = tree(inst.path)
    assert files[other] == builds[other]
    assert own + ".new" not in files and other + ".new" not in files
    # The old launcher was moved aside; the restarted one may have cleared it.
    assert own + ".old" in made
    assert files.get(own + ".old", old) == old
    paths = server.requests()
    assert run_count(paths, "/3d/files.txt") == 2
    assert run_count(paths, "/3d/" + own) == 1
    assert files["a.pak"] == b"A" * 1000

    # The next start clears the old launcher away and fetches nothing.
    (inst.path / (own + ".old")).write_bytes(old)
    run = road.run(inst)
    assert run.code == 0
    assert own + ".old" not in tree(inst.path)
    assert run_count(server.requests(), "/3d/" + own) == 1
    assert len(inst.wait_game_runs(2)) == 2


def test_endless_restart_is_cut_short(road, nginx, tmp_path):
    # The list's digest for the launcher never matches (lower case), so every
    # run fetches it again: the restarted launcher must not restart again.
    inst = launcher_install(road)
    own = road.launcher_name
    new = new_launcher(inst)
    rel = Release().add(own, new, digest=md5(new).lower())
    server = nginx(rel.publish(tmp_path / "www"))

    run = road.run(inst, " /y", answers=[OK], restarts=1)
    assert run.codes == [0, 0]
    [(caption, text)] = run.boxes
    assert caption == "Launcher update error"
    assert f"yet another {own}.\n" in text
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    assert inst.launcher.read_bytes() == new
    assert own + ".new" not in tree(inst.path)
    assert run_count(server.requests(), "/3d/" + own) == 2


@pytest.fixture
def immutable():
    """chattr +i on paths, undone afterwards."""
    paths = []

    def make(p):
        subprocess.run(["chattr", "+i", str(p)], check=True)
        paths.append(p)

    yield make
    for p in paths:
        subprocess.run(["chattr", "-i", str(p)], check=False)


RENAME_FAULT = BUILD_NATIVE / "bin" / "librename_fault.so"


def fail_second_rename(road, own):
    """Makes the rename of own.new onto own fail (a preloaded library; under
    Wine the wineserver renames, so it is preloaded there too); returns the
    environment for a POSIX run."""
    env = {"LD_PRELOAD": str(RENAME_FAULT), "TVL_FAIL_RENAME_ONTO": own,
           "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"}
    if road.name == "win":
        road.wine.env.update(env)
        return {}
    return env


@pytest.mark.parametrize("failing", ["first", "second"])
def test_launcher_that_cannot_be_replaced(road, nginx, tmp_path, immutable, failing):
    # A rename fails: the old launcher must be in place and must not be
    # restarted (it would fetch the new one and restart again, for ever).
    # When the second fails, the first has moved the old one aside already.
    inst = launcher_install(road)
    own = road.launcher_name
    old = inst.launcher.read_bytes()
    rel = Release().add(own, new_launcher(inst)).add("a.pak", b"A")
    server = nginx(rel.publish(tmp_path / "www"))
    env = {}
    if failing == "first":
        immutable(inst.launcher)
    else:
        env = fail_second_rename(road, own)

    with names_made(inst.path) as made:
        run = road.run(inst, answers=[OK], **({"env": env} if env else {}))
    [(caption, text)] = run.boxes
    assert caption == "Launcher update error"
    assert f"could not be put in place of {own}.\n" in text
    assert run.code == 0
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    files = tree(inst.path)
    assert files[own] == old
    assert own + ".new" not in files and own + ".old" not in files
    assert (own + ".old" in made) == (failing == "second")
    assert files["a.pak"] == b"A"
    assert run_count(server.requests(), "/3d/files.txt") == 1


def test_launcher_held_open_is_still_replaced_and_a_held_game_file_left_alone(netwine, win_install, nginx,
                                                                              tmp_path):
    # Wine enforces share modes between the processes of one prefix.
    inst = win_install()
    inst.write_ini(**SETTINGS)
    new = new_launcher(inst)
    (inst.path / "a.pak").write_bytes(b"old A")
    rel = Release().add(EXE, new).add("a.pak", b"new A")
    server = nginx(rel.publish(tmp_path / "www"))
    exe = win_path(inst.launcher)
    line = f'"{exe}" /x'
    with wine_holding(netwine, inst.launcher, "shared"), wine_holding(netwine, inst.path / "a.pak", "shared"):
        job = netwine.run_job(exe, line)
        runs = inst.wait_game_runs(timeout=60)
    netwine.wait_all()
    assert job_launcher_codes(inst, 0, job, restarts=1) == [0, 0]
    assert [r["cmdline"] for r in runs] == [line + GAME_SWITCHES]
    assert inst.launcher.read_bytes() == new
    assert (inst.path / "a.pak").read_bytes() == b"old A"
    paths = server.requests()
    assert run_count(paths, "/3d/files.txt") == 2
    assert run_count(paths, "/3d/" + EXE) == 1
    assert "/3d/a.pak" not in paths
