"""A whole update against nginx, with both launchers: the two lists, the
checks, the downloads in list order, installation of packed files and icons,
then the game, started once with the launcher's command line."""
import os

import pytest

from updates import (GAME_SWITCHES, OK, SETTINGS, Release, md5, road, tree, zip_bytes)  # noqa: F401

LISTS = ["/3d/files.txt", "/3d/files-large.txt", "/swf/clan_icons_list.txt"]


def release():
    return (Release()
            .add("TervalisOnline2D.dat", os.urandom(70000))
            .add("data/maps/town.map", b"town " * 5000)
            .add("data/sounds/a b.wav", os.urandom(3000))
            .add("readme.txt", b"")
            .icon("17.png", os.urandom(900))
            .icon("clan/42.png", os.urandom(1200)))


def check_game_started(road, inst, run):
    runs = inst.wait_game_runs()
    assert [r["cmdline"] for r in runs] == [run.command_line + GAME_SWITCHES]
    assert run.code == 0


def test_fresh_install(road, nginx, tmp_path):
    rel = release()
    server = nginx(rel.publish(tmp_path / "www"))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    run = road.run(inst, " /externlogin=abc")
    check_game_started(road, inst, run)
    files = tree(inst.path)
    for name, data in rel.expected().items():
        assert files.get(name) == data, name
    # Nothing of the run is left behind: no staging file, no list.
    assert sorted(os.listdir(inst.path / "data" / "update")) == []
    assert not (inst.path / "files.txt").exists() and not (inst.path / "clan_icons_list.txt").exists()
    # Blanks travel escaped, as WinINet sends them.
    assert server.requests()[1:] == LISTS + [p.replace(" ", "%20") for p in rel.object_paths()]


def test_partly_changed_install(road, nginx, tmp_path):
    rel = release()
    server = nginx(rel.publish(tmp_path / "www"))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    expected = rel.expected()
    # Current: the .dat and one icon; changed: the map and the other icon;
    # missing: the sound. The empty readme exists empty: an empty file is
    # always fetched again.
    for name in ["TervalisOnline2D.dat", "data/textures/17.png", "readme.txt"]:
        (inst.path / name).parent.mkdir(parents=True, exist_ok=True)
        (inst.path / name).write_bytes(expected[name])
    for name in ["data/maps/town.map", "data/textures/clan/42.png"]:
        (inst.path / name).parent.mkdir(parents=True, exist_ok=True)
        (inst.path / name).write_bytes(b"old version")
    (inst.path / "data" / "saves.dat").write_bytes(b"mine")
    run = road.run(inst)
    check_game_started(road, inst, run)
    files = tree(inst.path)
    for name, data in expected.items():
        assert files.get(name) == data, name
    assert files["data/saves.dat"] == b"mine"
    # An older map could be patched: the patch list is asked for (and missing).
    assert server.requests()[1:] == LISTS + ["/3d/patches.txt", "/3d/data/maps/town.map",
                                            "/3d/data/sounds/a%20b.wav", "/3d/readme.txt", "/swf/clan/42.png"]


def test_current_install_fetches_nothing(road, nginx, tmp_path):
    rel = Release().add("a.pak", b"A" * 100).icon("1.png", b"PNG1")
    server = nginx(rel.publish(tmp_path / "www"))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    for name, data in rel.expected().items():
        (inst.path / name).parent.mkdir(parents=True, exist_ok=True)
        (inst.path / name).write_bytes(data)
    run = road.run(inst, " /x")
    check_game_started(road, inst, run)
    assert server.requests()[1:] == LISTS


@pytest.mark.parametrize("main_list", ["another item in the archive", "no valid line"])
def test_icon_list_alone_is_enough(road, nginx, tmp_path, main_list):
    rel = Release().icon("5.png", b"icon five")
    root = rel.publish(tmp_path / "www", main_list=False)
    items = [("other.txt", b"x")] if main_list == "another item in the archive" else [("files.txt", b"a b c d e\r\n")]
    (root / "3d" / "files.txt").write_bytes(zip_bytes(items))
    nginx(root)
    inst = road.install()
    inst.write_ini(**SETTINGS)
    run = road.run(inst)
    check_game_started(road, inst, run)
    assert (inst.path / "data" / "textures" / "5.png").read_bytes() == b"icon five"


def test_main_list_alone_is_enough(road, nginx, tmp_path):
    # The icons server has no clan_icons_list.txt (404): a list without
    # entries, no question.
    rel = Release().add("only.pak", b"only")
    server = nginx(rel.publish(tmp_path / "www", icons_list=False))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    (inst.path / "only.pak").write_bytes(b"old")
    run = road.run(inst)
    assert run.boxes == []
    check_game_started(road, inst, run)
    assert (inst.path / "only.pak").read_bytes() == b"only"
    # A file that exists locally may have a patch: the patch list is asked for.
    assert server.requests()[1:] == LISTS + ["/3d/patches.txt", "/3d/only.pak"]


def test_both_lists_missing(road, nginx, tmp_path):
    # Both answered 404: neither list names a file.
    nginx(Release().publish(tmp_path / "www", main_list=False, icons_list=False))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    run = road.run(inst, answers=[OK])
    assert run.boxes == [("File list reading error", "Can't load list file ")]
    assert run.code == 0
    assert inst.game_runs() == []


def test_lower_case_digest_is_fetched_every_run(road, nginx, tmp_path):
    data = b"always " * 100
    rel = Release().add("lower.pak", data, digest=md5(data).lower()).add("upper.pak", b"U")
    server = nginx(rel.publish(tmp_path / "www"))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    for _ in range(2):
        run = road.run(inst)
        assert run.code == 0
    fetched = [p for p in server.requests() if p.endswith(".pak")]
    assert fetched == ["/3d/lower.pak", "/3d/upper.pak", "/3d/lower.pak"]
    assert (inst.path / "lower.pak").read_bytes() == data
    assert len(inst.wait_game_runs(2)) == 2


def test_archive_item_names(road, nginx, tmp_path):
    # Whatever an item is called, it becomes the entry's file; only an item
    # named exactly like the launcher is held back as the new launcher.
    rel = (Release()
           .add("data/a.pak", b"A", items=[("whatever.bin", b"A")])
           .add("data/b.pak", b"B", items=[("bin/TervalisOnline2D.exe", b"B")])
           .add("c.pak", b"C", items=[("C:\\x\\..\\c.pak", b"C")]))
    nginx(rel.publish(tmp_path / "www"))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    run = road.run(inst)
    check_game_started(road, inst, run)
    files = tree(inst.path)
    assert (files["data/a.pak"], files["data/b.pak"], files["c.pak"]) == (b"A", b"B", b"C")
    assert "TervalisOnline2D.exe.new" not in files


def test_list_left_behind_is_not_read(road, nginx, tmp_path):
    # A files.txt left by a run that was cut short must not stand in for the
    # list the server did not deliver (its archive here is empty).
    rel = Release().icon("5.png", b"five")
    root = rel.publish(tmp_path / "www", main_list=False)
    (root / "3d" / "files.txt").write_bytes(zip_bytes([]))
    server = nginx(root)
    inst = road.install()
    inst.write_ini(**SETTINGS)
    (inst.path / "files.txt").write_bytes(b"stale.pak\tx\t0\t10\t" + b"0" * 32 + b"\r\n")
    run = road.run(inst)
    check_game_started(road, inst, run)
    assert "/3d/stale.pak" not in server.requests()
    assert not (inst.path / "files.txt").exists()
    assert (inst.path / "data" / "textures" / "5.png").read_bytes() == b"five"
