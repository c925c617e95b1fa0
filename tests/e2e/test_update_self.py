"""Self-replacement: a new TervalisOnline2D.exe arriving in a packed entry
takes the running launcher's place and is started with the same command
line; the old one is left as .exe.old until the next start. A replacement
that cannot finish never turns into an endless chain of restarts."""
import shutil
import subprocess

import pytest

from updates import GAME_SWITCHES, OK, SETTINGS, Release, md5, road, tree  # noqa: F401

EXE = "TervalisOnline2D.exe"


def launcher_install(road):
    """An install whose launcher is called TervalisOnline2D.exe on both
    platforms (the POSIX build is copied under the Windows name, since the
    names of the self-replacement are fixed)."""
    inst = road.install()
    inst.write_ini(**SETTINGS)
    if road.name == "posix":
        target = inst.path / EXE
        shutil.move(inst.launcher, target)
        inst.launcher = target
    return inst


def new_launcher(inst, marker=b"new launcher"):
    # Bytes after the end of the image change the digest, not the program.
    return inst.launcher.read_bytes() + b"\0" * 64 + marker


def run_count(paths, path):
    return sum(1 for p in paths if p == path)


def test_new_launcher_replaces_the_running_one(road, nginx, tmp_path):
    inst = launcher_install(road)
    old = inst.launcher.read_bytes()
    new = new_launcher(inst)
    rel = Release().add("a.pak", b"A" * 1000).add(EXE, new)
    server = nginx(rel.publish(tmp_path / "www"))

    run = road.run(inst, " /externlogin=x")
    assert run.code == 0
    assert run.boxes == []
    # The restarted launcher found itself current and started the game, once,
    # with the command line the first one was given.
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    assert inst.launcher.read_bytes() == new
    files = tree(inst.path)
    assert EXE + ".new" not in files
    assert files.get(EXE + ".old", old) == old
    paths = server.requests()
    assert run_count(paths, "/3d/files.txt") == 2
    assert run_count(paths, "/3d/" + EXE) == 1
    assert files["a.pak"] == b"A" * 1000

    # The next start clears the old launcher away and fetches nothing.
    run = road.run(inst)
    assert run.code == 0
    assert EXE + ".old" not in tree(inst.path)
    assert run_count(server.requests(), "/3d/" + EXE) == 1
    assert len(inst.wait_game_runs(2)) == 2


def test_endless_restart_is_cut_short(road, nginx, tmp_path):
    # The list's digest for the launcher never matches (lower case), so every
    # run fetches it again: the restarted launcher must not restart again.
    inst = launcher_install(road)
    new = new_launcher(inst)
    rel = Release().add(EXE, new, digest=md5(new).lower())
    server = nginx(rel.publish(tmp_path / "www"))

    run = road.run(inst, " /y", answers=[OK])
    [(caption, text)] = run.boxes
    assert caption == "Launcher update error"
    assert "yet another TervalisOnline2D.exe" in text
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    assert inst.launcher.read_bytes() == new
    assert EXE + ".new" not in tree(inst.path)
    assert run_count(server.requests(), "/3d/" + EXE) == 2


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


def test_launcher_that_cannot_be_replaced(road, nginx, tmp_path, immutable):
    # The renames fail: the old launcher must not be restarted (it would
    # fetch the new one and restart again, for ever).
    inst = launcher_install(road)
    old = inst.launcher.read_bytes()
    rel = Release().add(EXE, new_launcher(inst)).add("a.pak", b"A")
    server = nginx(rel.publish(tmp_path / "www"))
    immutable(inst.launcher)

    run = road.run(inst, answers=[OK])
    [(caption, text)] = run.boxes
    assert caption == "Launcher update error"
    assert "could not be put in place" in text
    assert run.code == 0
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    files = tree(inst.path)
    assert files[EXE] == old
    assert EXE + ".new" not in files and EXE + ".old" not in files
    assert files["a.pak"] == b"A"
    assert run_count(server.requests(), "/3d/files.txt") == 1
