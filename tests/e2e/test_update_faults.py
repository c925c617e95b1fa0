"""Transfers that go wrong, from a server of our own (faulty_server.py on
127.0.0.2) that misbehaves where nginx won't. After every fault each file is
either its old version or its complete new one, and no staging file is left.
"""
import os
import time

import pytest

from updates import (ASK_TEXT, FAULTY, GAME_SWITCHES, NO, OK, SETTINGS, YES, Release, faulty, road,  # noqa: F401
                     tree)

# The one-try road: what a fault ends in. Retries and resumed transfers over
# the same faults are proved in test_update_network.py.
FAULT_SETTINGS = dict(SETTINGS, update_server=FAULTY, icons_server=FAULTY, download_retries="0")
NOBODY = "127.0.0.3"  # nothing listens there: every connection is refused


def three_files():
    # Random bytes: compression must not shrink a file below the cut-off
    # points of the faults.
    return (Release()
            .add("a.pak", os.urandom(20000))
            .add("data/b.pak", os.urandom(60000))
            .add("c.pak", os.urandom(20000)))


def prepare(road, faulty, tmp_path, rel, rules):
    server = faulty(rel.publish(tmp_path / "www"))
    server.set_rules(rules)
    inst = road.install()
    inst.write_ini(**FAULT_SETTINGS)
    for name in rel.expected():
        (inst.path / name).parent.mkdir(parents=True, exist_ok=True)
        (inst.path / name).write_bytes(b"old " + name.encode())
    return server, inst


def staging_is_clean(inst):
    return not (inst.path / "data" / "update" / "update.tmp").exists()


@pytest.mark.parametrize("fault,codes", [
    ({"mode": "nolength"}, {12150}),
    ({"mode": "status", "status": 404}, {404}),
    ({"mode": "status", "status": 500}, {500}),
    ({"mode": "short", "keep": 30000}, {12030}),
], ids=["no-length", "404", "500", "short-body"])
def test_file_that_cannot_be_fetched(road, faulty, tmp_path, fault, codes):
    rel = three_files()
    server, inst = prepare(road, faulty, tmp_path, rel, {"/3d/data/b.pak": fault})
    before = tree(inst.path)
    run = road.run(inst, answers=[OK])
    [(caption, text)] = run.boxes
    assert caption == "Error downloading file"
    code, _, path = text.partition("\nFile: ")
    assert code.startswith("Error downloading file: ") and int(code.split(": ")[1]) in codes
    assert path == "/3d/data/b.pak"
    assert server.faults(path) == [fault["mode"]]
    assert run.code == -1
    assert inst.game_runs() == []
    # Fetched before it: installed. It and what follows: untouched.
    after = tree(inst.path)
    assert after["a.pak"] == rel.expected()["a.pak"]
    assert after["data/b.pak"] == before["data/b.pak"]
    assert after["c.pak"] == before["c.pak"]
    assert "/3d/c.pak" not in server.paths()
    assert staging_is_clean(inst)


def test_stalled_transfer_ends(road, faulty, tmp_path):
    # Part of the body, then silence: the receive timeout (20 s) ends it.
    rel = three_files()
    server, inst = prepare(road, faulty, tmp_path, rel, {"/3d/data/b.pak": {"mode": "stall", "keep": 30000}})
    before = tree(inst.path)
    run = road.run(inst, answers=[OK], timeout=180)
    [(caption, text)] = run.boxes
    # WinINet names a timeout 12002; Wine's passes on the socket's 10060.
    assert text in ("Error downloading file: 12002\nFile: /3d/data/b.pak",
                    "Error downloading file: 10060\nFile: /3d/data/b.pak")
    assert run.code == -1
    assert tree(inst.path)["data/b.pak"] == before["data/b.pak"]
    assert staging_is_clean(inst)


def test_server_that_never_answers(road, faulty, tmp_path):
    rel = three_files()
    server, inst = prepare(road, faulty, tmp_path, rel, {"/3d/a.pak": {"mode": "stall_head"}})
    before = tree(inst.path)
    run = road.run(inst, answers=[OK], timeout=180)
    [(caption, text)] = run.boxes
    assert caption == "Error downloading file" and text.endswith("\nFile: /3d/a.pak")
    assert run.code == -1
    assert tree(inst.path) == before
    assert staging_is_clean(inst)


def test_more_bytes_than_announced(road, faulty, tmp_path):
    # Both platforms' HTTP stacks stop at Content-Length: the surplus after
    # the announced body is dropped and the announced body is the file.
    rel = three_files()
    server, inst = prepare(road, faulty, tmp_path, rel, {"/3d/data/b.pak": {"mode": "excess", "extra": 5000}})
    run = road.run(inst)
    assert run.code == 0
    [sent] = server.transfers("/3d/data/b.pak")
    assert sent["fault"]["mode"] == "excess" and sent["sent"] == len(rel.served(rel.files[1])) + 5000
    assert tree(inst.path)["data/b.pak"] == rel.expected()["data/b.pak"]
    assert len(inst.wait_game_runs()) == 1


@pytest.mark.parametrize("answer", [YES, NO], ids=["yes", "no"])
@pytest.mark.parametrize("which", ["files.txt unreachable", "icon list cut short"])
def test_list_that_cannot_be_fetched(road, faulty, tmp_path, answer, which):
    # Not fetched at all, unlike a list answered with an error status: the
    # player is asked whether to play without the latest updates.
    rel = three_files().icon("1.png", b"icon")
    rules = {"/swf/clan_icons_list.txt": {"mode": "short", "keep": 5}} if which == "icon list cut short" else {}
    server, inst = prepare(road, faulty, tmp_path, rel, rules)
    if which == "files.txt unreachable":
        inst.write_ini(**dict(FAULT_SETTINGS, update_server=NOBODY))
    before = tree(inst.path)
    run = road.run(inst, " /x", answers=[answer])
    assert run.boxes == [("Error downloading file", ASK_TEXT)]
    # No listed file is fetched before both lists are in.
    assert not any(p.endswith((".pak", ".png")) for p in server.paths())
    assert tree(inst.path) == before
    if answer == YES:
        assert run.code == 0
        assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    else:
        assert run.code == -1
        assert inst.game_runs() == []
    assert staging_is_clean(inst)


def test_short_list_is_not_read(road, faulty, tmp_path):
    # A list cut short must not be read as a shorter list.
    rel = three_files()
    server, inst = prepare(road, faulty, tmp_path, rel, {"/3d/files.txt": {"mode": "short", "keep": 60}})
    run = road.run(inst, answers=[NO])
    assert run.boxes == [("Error downloading file", ASK_TEXT)]
    assert run.code == -1
    assert not (inst.path / "files.txt").exists()
    assert staging_is_clean(inst)


def test_request_headers(road, faulty, tmp_path):
    rel = Release().add("a.pak", b"A").icon("1.png", b"P")
    server, inst = prepare(road, faulty, tmp_path, rel, {})
    run = road.run(inst)
    assert run.code == 0
    reqs = [r for r in server.requests() if r["path"] != "/"]
    assert [r["path"] for r in reqs] == ["/3d/files.txt", "/3d/files-large.txt", "/swf/clan_icons_list.txt",
                                         "/3d/patches.txt", "/3d/a.pak", "/swf/1.png"]
    for r in reqs:
        assert r["method"] == "GET"
        assert r["headers"]["user-agent"] == "TervalisOnline2D"
        assert r["headers"]["host"] == FAULTY
        if road.name == "posix":
            # WinINet's INTERNET_FLAG_RELOAD bypasses its own cache (the
            # seam test checks the flag); curl asks proxies not to answer.
            assert r["headers"]["pragma"] == "no-cache" and r["headers"]["cache-control"] == "no-cache"


def test_second_launcher_waits_for_the_first(road, faulty, tmp_path):
    # A link opens a second launcher while the first is in a slow transfer:
    # it waits for that run to end, then checks (everything is current now)
    # and starts the game with its own command line. Had it gone ahead, it
    # would have fetched b.pak too, and been given another file.
    rel = three_files()
    evil = tmp_path / "www" / "evil" / "data" / "b.pak"
    server, inst = prepare(road, faulty, tmp_path, rel, {"/3d/data/b.pak": {"steps": [
        {"mode": "normal", "rate": 10000}, {"mode": "normal", "file": "/evil/data/b.pak"}]}})
    evil.parent.mkdir(parents=True)
    evil.write_bytes(rel.served(rel.files[1])[::-1])
    first = road.start(inst)
    deadline = time.time() + 60
    while "/3d/data/b.pak" not in server.paths():
        assert time.time() < deadline and first.poll() is None, "the first launcher never reached b.pak"
        time.sleep(0.1)
    second = road.run(inst, " /externlogin=second", timeout=180)
    assert first.wait(timeout=60) == 0
    if road.name == "win":
        road.wine.wait_all(timeout=60)
    assert second.code == 0 and second.boxes == []
    assert server.paths().count("/3d/data/b.pak") == 1
    assert tree(inst.path) == dict(tree(inst.path), **rel.expected())
    runs = [r["cmdline"] for r in inst.wait_game_runs(2)]
    assert len(runs) == 2 and second.command_line + GAME_SWITCHES in runs
    assert staging_is_clean(inst)
