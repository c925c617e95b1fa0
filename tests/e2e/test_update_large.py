"""A 6 GiB file with both launchers: a zip64 archive over 4 GiB made by
7-Zip, installed through a transfer cut at 4.5 GiB and resumed; and the
file published deflated (zip64, listed in files-large.txt) to a launcher of
the commit before the large list, which never sees the file, replaces
itself, and leaves the file to the new one, which verifies it at the next
start and takes it from the index at the one after; then the file changes a
little and the next start rebuilds it from a patch in pieces, from a tree
the Windows publisher makes byte for byte as the Linux one. The file is
zeros with a few marks, sparse on the server's side; each tree is made once."""
import re
import shutil
import subprocess
from types import SimpleNamespace

import pytest

from conftest import BUILD_NATIVE, BUILD_WIN, LAUNCHER, ROOT, win_path
from publish_helpers import read_list, run_publish, served_names
from updates import FAULTY, SETTINGS, faulty, local_check, road, support_runs, zip_bytes  # noqa: F401

GIB = 1 << 30
SIZE = 6 * GIB
CUT = 4 * GIB + GIB // 2
MARKS = {0: b"first", 5 * GIB // 2: b"middle", CUT + 123: b"past the cut", SIZE - 4: b"last"}
BIG = "data/big.pak"
# The next version: a mark rewritten and a few bytes put in past the middle.
INSERTED = b"put in"
MARKS2 = {0: b"FIRST", SIZE // 2: INSERTED,
          **{at + (len(INSERTED) if at >= SIZE // 2 else 0): m for at, m in MARKS.items() if at}}
SIZE2 = SIZE + len(INSERTED)
OLD_COMMIT = "c6c551b"  # the last launcher before files-large.txt
LARGE_SETTINGS = dict(SETTINGS, update_server=FAULTY, icons_server=FAULTY, check_index="1", download_retries="1")
TIMEOUT = 600


def dig(path):
    """Makes the zeros of a served file holes again: the disk holds the marks."""
    subprocess.run(["fallocate", "--dig-holes", str(path)], check=True)


def write_big(path, size, marks):
    path.parent.mkdir(parents=True)
    with open(path, "wb") as f:
        f.truncate(size)
        for at, mark in marks.items():
            f.seek(at)
            f.write(mark)


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    root = tmp_path_factory.mktemp("large")
    release = root / "release"
    write_big(release / BIG, SIZE, MARKS)
    launchers = ["--launcher", BUILD_WIN / "bin" / LAUNCHER, "--linux-launcher", BUILD_NATIVE / "bin" / "TervalisOnline2D"]
    # The optimised build when there is one: the sanitized one takes minutes.
    tool = next((p for p in [ROOT / "build" / "native-release" / "bin" / "tervalis-publish"] if p.exists()), None)
    out = root / "deflated" / "3d"
    r = run_publish(release, out, "--level", "1", "--date", "2024-01-01", *launchers, tool=tool, check=True)
    assert "1 files over 2 GiB in files-large.txt, rewritten" in r.stdout
    # Launchers before the large list never learn of the file.
    assert BIG not in read_list(out / "files.txt") and LAUNCHER in read_list(out / "files.txt")
    entry = read_list(out / "files-large.txt")[BIG]
    assert entry.size < SIZE
    # 7-Zip's own zip64 archive, stored so that it is over 4 GiB, in a list
    # of our own.
    seven = root / "seven" / "3d"
    (seven / "data").mkdir(parents=True)
    subprocess.run(["7zz", "a", "-tzip", "-mx0", "-bd", "-bso0", str(seven / BIG), BIG], cwd=release, check=True)
    dig(seven / BIG)
    seven_size = (seven / BIG).stat().st_size
    assert seven_size > SIZE
    line = f"{BIG}\t1\t2024-01-01T00:00:00Z\t{seven_size}\t{entry.md5}\r\n"
    (seven / "files-large.txt").write_bytes(zip_bytes([("files-large.txt", line.encode())]))
    yield SimpleNamespace(deflated=root / "deflated", seven=root / "seven", md5=entry.md5, seven_size=seven_size,
                          root=root, release=release, launchers=launchers, tool=tool)
    shutil.rmtree(root)


@pytest.fixture(scope="module")
def changed(big):
    """The next release, published with patches from the one before: the
    file's patch is made in pieces and listed in piece_patches.txt only.
    Stored, since deflating the file again would more than double the
    publisher's time."""
    release = big.root / "release2"
    write_big(release / BIG, SIZE2, MARKS2)
    out = big.root / "changed" / "3d"
    run_publish(release, out, "--level", "0", "--date", "2024-01-02", "--previous", big.release, *big.launchers,
                tool=big.tool, check=True)
    dig(out / BIG)
    assert not (out / "patches.txt").exists()
    # Patch lines read as list entries: name, base MD5, target MD5, size, path.
    _, base, _, _, path = read_list(out / "piece_patches.txt")[BIG]
    assert base == big.md5 and path.endswith(".zsp")
    return SimpleNamespace(www=out.parent, patch=path)


@pytest.fixture(scope="module")
def old_launcher():
    subprocess.run(["bash", str(ROOT / "scripts" / "build_old_launcher.sh"), OLD_COMMIT], check=True, timeout=1800)
    built = ROOT / "build" / "old-launcher" / OLD_COMMIT
    return lambda road: built / road.launcher_name


@pytest.fixture
def install(road, faulty):
    """install(www) -> (server, inst); the big file goes with the test."""
    made = []

    def make(www):
        inst = road.install()
        inst.write_ini(**LARGE_SETTINGS)
        made.append(inst)
        return faulty(www), inst

    yield make
    for inst in made:
        print("\n".join(support_runs(inst)[-1] if support_runs(inst) else []))  # shown when the test failed
        shutil.rmtree(inst.path / "data", ignore_errors=True)


def check_installed(inst, size=SIZE, marks=MARKS):
    """The file as published (its CRC-32 was checked as it unpacked, or its
    MD5 as it was patched), and nothing left in staging."""
    path = inst.path / BIG
    assert path.stat().st_size == size
    with open(path, "rb") as f:
        for at, mark in marks.items():
            f.seek(at)
            assert f.read(len(mark)) == mark
    staged = [p.name for p in (inst.path / "data" / "update").iterdir()]
    assert [n for n in staged if n.startswith("part-") or n.endswith(".tmp") or n == "patches.txt"] == []
    assert not list(inst.path.rglob("*.tvltmp"))


def test_7zip_zip64_archive_resumes_after_a_cut_past_4_gib(road, install, big):
    server, inst = install(big.seven)
    server.set_rules({"/3d/" + BIG: {"steps": [{"mode": "reset", "after": CUT}, {"mode": "normal"}]}})
    road.run(inst, timeout=TIMEOUT)
    log = "\n".join(support_runs(inst)[-1])
    m = re.search(rf"fetched /3d/{BIG} (\d+) bytes, resumed at (\d+), 1 retry", log)
    assert m, log
    # A reset loses at most what the sockets held.
    assert int(m[1]) == big.seven_size and 4 * GIB < int(m[2]) <= CUT
    first, second = server.transfers("/3d/" + BIG)
    assert first["reset"] and second["status"] == 206 and second["headers"]["range"] == f"bytes={m[2]}-"
    check_installed(inst)
    assert len(inst.wait_game_runs(1)) == 1


def test_old_launcher_replaces_itself_and_the_new_one_installs_the_file(road, install, big, old_launcher, changed,
                                                                         tmp_path):
    served = tmp_path / "www"  # the server's folder, turned to the next release at the end
    served.symlink_to(big.deflated)
    server, inst = install(served)
    new = inst.launcher.read_bytes()
    shutil.copy(old_launcher(road), inst.launcher)
    road.run(inst, restarts=1, timeout=TIMEOUT)
    assert inst.launcher.read_bytes() == new
    paths = server.paths()
    # The old launcher asks for no large list and no large file; the new one
    # finds it in files-large.txt.
    assert paths.count("/3d/" + BIG) == 1
    assert paths.index("/3d/files-large.txt") > paths.index("/3d/" + LAUNCHER if road.name == "win"
                                                            else "/3d/TervalisOnline2D")
    assert paths.index("/3d/files-large.txt") < paths.index("/3d/" + BIG)
    check_installed(inst)
    # Installed files are read at the next start, and only the ones found
    # current are recorded: the start after reads nothing.
    seen = len(server.paths())
    road.run(inst, timeout=TIMEOUT)
    files, read, _, _ = local_check(inst)
    assert read >= 1
    road.run(inst, timeout=TIMEOUT)
    assert local_check(inst) == (files, 0, files, None)
    assert "/3d/" + BIG not in server.paths()[seen:]
    assert len(inst.wait_game_runs(3)) == 3
    # The next release: the file is rebuilt from its patch, never fetched.
    served.unlink()
    served.symlink_to(changed.www)
    seen = len(server.paths())
    road.run(inst, timeout=TIMEOUT)
    fetched = server.paths()[seen:]
    assert "/3d/" + BIG not in fetched
    assert "/3d/piece_patches.txt" in fetched and "/3d/" + changed.patch in fetched, fetched
    check_installed(inst, SIZE2, MARKS2)
    assert len(inst.wait_game_runs(4)) == 4


def test_windows_publisher_makes_the_same_tree(big, changed, wine, tmp_path):
    """The Windows build of the publisher past 4 GiB (sizes, offsets, zip64,
    the patch in pieces): byte for byte the tree the Linux build made."""
    out = tmp_path / "win" / "3d"
    launchers = [a if isinstance(a, str) else win_path(a) for a in big.launchers]
    try:
        r = wine.run([win_path(BUILD_WIN / "bin" / "tervalis-publish.exe"), "-q", "--level", "0",
                      "--date", "2024-01-02", "--previous", win_path(big.release), *launchers,
                      win_path(big.root / "release2"), win_path(out)], timeout=TIMEOUT)
        assert r.returncode == 0, r.stderr
        linux = changed.www / "3d"
        names = served_names(linux)
        assert served_names(out) == names and len(names) > 3
        for name in sorted(names):
            assert subprocess.run(["cmp", "-s", linux / name, out / name]).returncode == 0, name
    finally:
        shutil.rmtree(tmp_path / "win", ignore_errors=True)
