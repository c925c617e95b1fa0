"""Patches end to end, with both launchers: the publisher makes patches of a
large pack from its earlier releases, nginx serves them, and a player whose
pack is one or two releases old fetches a patch instead of the pack; a
damaged local pack or a damaged patch falls back to the whole pack; a
launcher killed while it applies a patch converges on the next start.
With a small piece size the same holds for patches made in pieces, which
come from their own list. Every road ends with the pack byte for byte as
released."""
import os
import random
import shutil
import subprocess
import time
import zipfile

import pytest

from conftest import BUILD_NATIVE, WINESERVER, win_path
from publish_helpers import md5_upper, run_publish
from updates import SETTINGS, road  # noqa: F401

PACK = "data/big.pak"
PIECE = 256 << 10


def pieces_switch(piece):
    return ("--patch-piece-size", str(piece)) if piece else ()


def edited(data, seed, count=6):
    """data with `count` scattered 200-byte pieces rewritten."""
    rnd = random.Random(seed)
    out = bytearray(data)
    for _ in range(count):
        at = rnd.randrange(len(out) - 200)
        out[at:at + 200] = rnd.randbytes(200)
    return bytes(out)


def make_releases(root, size, *extra, piece=0):
    """Three releases of one pack, each a few scattered edits from the
    last, published from the newest with patches from the two before
    (extra: more publisher switches; piece: patches in pieces of that
    size). Returns (www, the pack's versions oldest first, patch path by
    base MD5)."""
    versions = [random.Random(size).randbytes(size)]
    for v in (1, 2):
        versions.append(edited(versions[-1], v))
    folders = []
    for v, data in enumerate(versions):
        folder = root / f"r{v}"
        (folder / "data").mkdir(parents=True)
        (folder / PACK).write_bytes(data)
        (folder / "readme.txt").write_bytes(b"release %d" % v)
        folders.append(folder)
    www = root / "www"
    run_publish(folders[2], www / "3d", "--date", "2024-05-01", "--previous", folders[1], "--previous", folders[0],
                *extra, *pieces_switch(piece), check=True)
    (www / "swf").mkdir()
    (www / "swf" / "clan_icons_list.txt").write_bytes(b"")
    # Piece-wise patches are listed apart: never where older launchers look.
    name, other = ("piece_patches.txt", "patches.txt") if piece else ("patches.txt", "piece_patches.txt")
    assert not (www / "3d" / other).exists()
    with zipfile.ZipFile(www / "3d" / name) as z:
        lines = z.read(name).decode().splitlines()
    patches = {f[1]: f[4] for f in (line.split("\t") for line in lines)}
    assert set(patches) == {md5_upper(versions[0]), md5_upper(versions[1])}
    return www, versions, patches


@pytest.fixture(scope="module")
def releases(tmp_path_factory):
    return make_releases(tmp_path_factory.mktemp("releases"), 4 << 20)


def player(road, versions, local):
    """An install whose pack is `local` and whose readme is current."""
    inst = road.install()
    inst.write_ini(**SETTINGS)
    (inst.path / "data").mkdir(exist_ok=True)
    (inst.path / PACK).write_bytes(local)
    (inst.path / "readme.txt").write_bytes(b"release 2")
    return inst


def assert_converged(inst, versions):
    assert (inst.path / PACK).read_bytes() == versions[2]
    assert sorted(os.listdir(inst.path / "data" / "update")) == []


@pytest.mark.parametrize("case", ["one release behind", "two releases behind", "damaged local pack",
                                  "damaged patch on the server"])
def test_pack_updates_through_a_patch_or_else_whole(road, nginx, releases, tmp_path, case):
    www, versions, patches = releases
    local = {"one release behind": versions[1], "two releases behind": versions[0],
             "damaged local pack": edited(versions[1], 99, 1),
             "damaged patch on the server": versions[1]}[case]
    if case == "damaged patch on the server":
        www = shutil.copytree(www, tmp_path / "www")
        damage_patch(www, patches[md5_upper(versions[1])])
    server = nginx(www)
    inst = player(road, versions, local)
    run = road.run(inst)
    assert run.code == 0
    assert len(inst.wait_game_runs()) == 1
    assert_converged(inst, versions)

    fetched = server.requests()
    patch = patches.get(md5_upper(local))
    if case == "damaged local pack":
        assert not any("/patches/" in p for p in fetched), fetched
    else:
        assert "/3d/" + patch in fetched
    # The server's log says which way the pack came.
    whole = case in ("damaged local pack", "damaged patch on the server")
    assert ("/3d/" + PACK in fetched) == whole, fetched
    assert "/3d/patches.txt" in fetched


def damage_patch(www, patch):
    data = bytearray((www / "3d" / patch).read_bytes())
    data[len(data) // 2:len(data) // 2 + 16] = bytes(16)
    (www / "3d" / patch).write_bytes(bytes(data))


@pytest.mark.parametrize("road_name", ["posix", "win"])
@pytest.mark.parametrize("case", ["patch", "patch altered on the way", "patch at another level",
                                  "patch list not named", "patch in pieces"])
def test_signed_release_updates_through_its_patch(request, road_name, case, nginx, tmp_path):
    # The manifest names the patch list's and the patch's bytes: anything
    # else is refused (even a patch of the same versions that applies) and
    # the pack fetched whole; a list it does not name is never asked for.
    from test_signed_release import KEY, make_road, object_path
    # In pieces only the piece list is served and named: the other is never asked for.
    piece = PIECE if case == "patch in pieces" else 0
    www, versions, patches = make_releases(tmp_path / "rel", 1 << 20, "--sign-key", KEY, piece=piece)

    def requested(name):
        """The path a launcher with a key asks for: the object of name."""
        o = object_path(www, "3d", name)
        return "/" + o.relative_to(www).as_posix() if o else "/3d/" + name

    patch_lists = [requested("patches.txt"), requested("piece_patches.txt")]
    lists = [patch_lists[1] if piece else patch_lists[0]]
    patch = patches[md5_upper(versions[1])]
    if case == "patch altered on the way":
        damage_patch(www, patch)
    if case == "patch at another level":
        (tmp_path / "base").write_bytes(versions[1])
        (tmp_path / "target").write_bytes(versions[2])
        subprocess.run(["zstd", "-q", "-f", "-1", f"--patch-from={tmp_path / 'base'}", str(tmp_path / "target"),
                        "-o", str(www / "3d" / patch)], check=True)
    if case in ("patch altered on the way", "patch at another level"):  # served at its address too
        altered = (www / "3d" / patch).read_bytes()
        object_path(www, "3d", patch).unlink()
        object_path(www, "3d", patch).write_bytes(altered)
    if case == "patch list not named":
        sig = www / "3d" / "release.sig"
        body = b"".join(line for line in sig.read_bytes().split(b"\n", 1)[1].splitlines(keepends=True)
                        if not line.endswith(b"\tpatches.txt\n"))
        (tmp_path / "body").write_bytes(body)
        subprocess.run([str(BUILD_NATIVE / "bin" / "releasetool"), "sign", str(KEY), str(tmp_path / "body"), str(sig)],
                       check=True)
    server = nginx(www)
    road = make_road(request, road_name, signed=True)
    inst = player(road, versions, versions[1])
    run = road.run(inst)
    assert run.code == 0 and run.boxes == []
    assert len(inst.wait_game_runs()) == 1
    assert (inst.path / PACK).read_bytes() == versions[2]
    assert sorted(os.listdir(inst.path / "data" / "update")) == ["release.txt"]
    fetched = server.requests()[1:]  # after the readiness probe
    assert fetched[0] == "/3d/release.sig"
    assert [p for p in fetched if p in patch_lists] == ([] if case == "patch list not named" else lists), fetched
    assert (requested(patch) in fetched) == (case != "patch list not named"), fetched
    assert (requested(PACK) in fetched) == (case not in ("patch", "patch in pieces")), fetched


def start(road, inst):
    """Starts the launcher without waiting; returns a kill function."""
    if road.name == "posix":
        p = subprocess.Popen(road.ns.prefix() + [str(inst.launcher)], cwd=inst.path, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)

        def kill():
            p.kill()
            p.wait(timeout=30)
        return kill
    exe = win_path(inst.launcher)
    p = road.wine.spawn(exe, f'"{exe}"')

    def kill():
        # Every process of the prefix, the launcher among them, at once.
        subprocess.run(road.wine.cmd([WINESERVER, "-k"]), env=road.wine.env, timeout=60)
        p.kill()
        p.wait(timeout=30)
    return kill


@pytest.fixture(scope="module")
def piece_releases(tmp_path_factory):
    return make_releases(tmp_path_factory.mktemp("pieces"), 4 << 20, piece=PIECE)


def test_pack_updates_through_a_patch_in_pieces(road, nginx, piece_releases):
    www, versions, patches = piece_releases
    patch = patches[md5_upper(versions[0])]
    header = (www / "3d" / patch).read_bytes()[:40]
    assert patch.endswith(".zsp") and header[8:16] == b"TVLPIECE"
    assert int.from_bytes(header[16:24], "little") == PIECE  # 16 pieces of the 4 MiB pack
    server = nginx(www)
    inst = player(road, versions, versions[0])
    run = road.run(inst)
    assert run.code == 0
    assert len(inst.wait_game_runs()) == 1
    assert_converged(inst, versions)
    fetched = server.requests()
    assert "/3d/piece_patches.txt" in fetched and "/3d/" + patch in fetched, fetched
    assert "/3d/" + PACK not in fetched


@pytest.mark.parametrize("piece", [0, 8 << 20], ids=["one frame", "pieces"])
def test_killed_while_applying_converges_next_start(road, nginx, tmp_path, piece):
    # Large enough that applying takes a while, so the kill lands inside it.
    www, versions, _ = make_releases(tmp_path / "rel", 64 << 20, piece=piece)
    server = nginx(www)
    inst = player(road, versions, versions[1])
    output = inst.path / "data" / "update" / "patched.tmp"
    kill = start(road, inst)
    deadline = time.time() + 120
    while not output.exists() and time.time() < deadline:
        time.sleep(0.005)
    assert output.exists(), "the launcher never started applying"
    time.sleep(random.uniform(0, 0.05))
    kill()
    # The kill landed while applying: the output unfinished, the pack old.
    assert output.exists() and (inst.path / PACK).read_bytes() == versions[1], "applying had ended before the kill"

    run = road.run(inst)
    assert run.code == 0
    assert_converged(inst, versions)
    assert "/3d/" + PACK not in server.requests()
