"""The index of verified files (check_index=1), with both launchers: a start
of an unchanged install reads no file, a file changed in place or replaced
by a rename is read and fetched again, and a killed run leaves an index the
next start can use. What a start read is taken from its support-log line
"local check: N files, M read, K unchanged since verified"."""
import os
import time

from updates import (IN_MOVED_TO, FAULTY, SETTINGS, Release, faulty, file_events, local_check, road,  # noqa: F401
                     tree)

INDEX_SETTINGS = dict(SETTINGS, update_server=FAULTY, icons_server=FAULTY, download_retries="0", check_index="1")
LISTS = ["/3d/files.txt", "/3d/files-large.txt", "/swf/clan_icons_list.txt"]


def release(tag=b""):
    return (Release()
            .add("a.pak", tag + os.urandom(20000))
            .add("data/b.pak", tag + os.urandom(30000))
            .add("c.pak", os.urandom(10000))
            .icon("7.png", os.urandom(900)))


def installed(road, rel):
    inst = road.install()
    inst.write_ini(**INDEX_SETTINGS)
    for name, data in rel.expected().items():
        (inst.path / name).parent.mkdir(parents=True, exist_ok=True)
        (inst.path / name).write_bytes(data)
    return inst


def fetched(server, before):
    """What runs fetched after the server had seen `before` requests, lists and
    the (missing) patch list aside."""
    return [p for p in server.paths()[before:] if p not in LISTS and p != "/3d/patches.txt"]


def test_unchanged_start_reads_nothing_and_changed_files_are_fetched(road, faulty, tmp_path):
    rel = release()
    server = faulty(rel.publish(tmp_path / "www"))
    inst = installed(road, rel)

    road.run(inst)
    assert local_check(inst) == (4, 4, 0, "no index yet")
    road.run(inst)
    assert local_check(inst) == (4, 0, 4, None)
    assert fetched(server, 0) == []

    # In place, as an editor or a game patcher would: a new time, same size.
    a = inst.path / "a.pak"
    a.write_bytes(b"x" * a.stat().st_size)
    # A copy put in by a rename, with size and time kept: only the file's
    # identity tells.
    b = inst.path / "data" / "b.pak"
    st = b.stat()
    (inst.path / "b.tmp").write_bytes(b"y" * st.st_size)
    os.utime(inst.path / "b.tmp", ns=(st.st_atime_ns, st.st_mtime_ns))
    os.replace(inst.path / "b.tmp", b)
    seen = len(server.paths())
    road.run(inst)
    assert local_check(inst) == (4, 2, 2, None)
    assert fetched(server, seen) == ["/3d/a.pak", "/3d/data/b.pak"]
    files = tree(inst.path)
    for name, data in rel.expected().items():
        assert files[name] == data, name
    assert len(inst.wait_game_runs(3)) == 3


def test_killed_run_leaves_a_usable_index(road, faulty, tmp_path):
    # The first start with the index is killed in a stalled transfer: what
    # its checks proved (c and the icon; a and b were out of date) is in the
    # index already, written beside it and moved in, never in place.
    old = release()
    inst = installed(road, old)
    new = release(b"new")
    new.files[2], new.icons = old.files[2], old.icons
    server = faulty(new.publish(tmp_path / "www"))
    server.set_rules({"/3d/data/b.pak": {"mode": "stall", "keep": 1000}})
    update = inst.path / "data" / "update"
    update.mkdir(parents=True, exist_ok=True)
    with file_events(update) as events:
        road.start(inst)
        deadline = time.time() + 60
        while "/3d/data/b.pak" not in server.paths() and time.time() < deadline:
            time.sleep(0.05)
        assert "/3d/data/b.pak" in server.paths()
        assert road.kill(inst)
    assert (inst.path / "a.pak").read_bytes() == new.expected()["a.pak"]
    index = [(mask, name) for mask, name in events if name == "verified.txt"]
    assert index == [(IN_MOVED_TO, "verified.txt")], events

    server.set_rules({})
    seen = len(server.paths())
    road.run(inst)
    # a (installed by the killed run) and b are read; c and the icon are not.
    assert local_check(inst) == (4, 2, 2, None)
    assert fetched(server, seen) == ["/3d/data/b.pak"]
    files = tree(inst.path)
    for name, data in new.expected().items():
        assert files[name] == data, name
    seen = len(server.paths())
    road.run(inst)
    assert fetched(server, seen) == []
