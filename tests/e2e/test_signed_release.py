"""Signed releases end to end: the real publisher signs, a man in the middle
(nginx serving an altered copy of the tree) answers in the update server's
place, and a launcher built with the test key (build/native-signed,
build/win64-signed: scripts/build_signed.sh) refuses every alteration with
the right message, leaving the installation as it was. A launcher without a
key reads the same signed tree as it always has."""
import contextlib
import fcntl
import os
import re
import shutil
import subprocess
import zipfile

import pytest

from conftest import BUILD_NATIVE, ROOT, win_path
from publish_helpers import run_publish
from updates import (ASK_TEXT, GAME_SWITCHES, NO, OK, SETTINGS, PosixRoad, WinRoad, job_launcher_codes, md5,  # noqa: F401
                     road, tree, wine_holding, zip_bytes)

KEY = ROOT / "build" / "release-test-key" / "secret.key"
SIGNED = {"win": ROOT / "build" / "win64-signed" / "bin" / "TervalisOnline2D.exe",
          "posix": ROOT / "build" / "native-signed" / "bin" / "TervalisOnline2D"}
EXE = "TervalisOnline2D.exe"
REFUSED_CODE = "-2146869232"  # TRUST_E_BAD_DIGEST as the file error box shows it
REFUSED_CAPTION = "Update refused"
FILE_CAPTION = "Error downloading file"
NOT_SIGNED = ("The update on the server is not signed by the game's publisher or was altered on the way. "
              "It will not be installed.")
OTHER_KEY = "The update on the server is signed with a key this launcher does not know. It will not be installed."
ROLLBACK = "The update on the server is older than the version already installed. It will not be installed."
PAST = 1700000000  # 2023-11-14 22:13:20 UTC
EXPIRED = "The update on the server expired on 2023-11-14 22:13 UTC. Check the computer's date and time."
RECORD_UNREADABLE = ("The launcher could not read its record of the installed release (.\\data\\update\\release.txt): "
                     "another program holds it or access is refused. Nothing was installed. Try again in a moment.")
MISSING = ("The update server did not send the release signature (release.sig).\n"
           "Error downloading file: 404\nFile: /3d/release.sig")


def make_road(request, name, signed):
    """The Windows or POSIX launcher in the test's namespace; signed: built
    with the test key. Installs come with the settings written."""
    if name == "win":
        r = WinRoad(request.getfixturevalue("netwine"), request.getfixturevalue("win_install"))
    else:
        r = PosixRoad(request.getfixturevalue("netns"), request.getfixturevalue("posix_install"))
    make = r.make
    if signed and not (SIGNED[name].exists() and KEY.exists()):
        pytest.fail("the launchers with the test key are not built: run scripts/build_signed.sh")

    def install(inst_name="game", game=True):
        inst = make(inst_name, game=game)
        if signed:
            shutil.copy(SIGNED[name], inst.launcher)
        inst.write_ini(**SETTINGS)
        return inst

    r.make = install
    return r


def write(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


class Trees:
    """Two releases published and signed by the real publisher, one after
    the other: old (a copy of the served tree after the first) and current,
    and the folder nginx serves, which each attack alters."""

    def __init__(self, tmp, launcher=None):
        self.tmp = tmp
        src, icons = tmp / "release", tmp / "icons"
        write(src / "a.pak", b"first a " * 500)
        write(src / "data" / "b.dat", b"b data " * 300)
        write(icons / "7.png", b"icon seven")
        self.publish(src, icons)
        self.old = tmp / "old"
        shutil.copytree(tmp / "out", self.old)
        write(src / "a.pak", b"second a " * 500)
        self.publish(src, icons, *(["--launcher", launcher] if launcher else []))
        self.current = tmp / "out"
        self.www = tmp / "www"
        self.serve(self.current)

    def publish(self, src, icons, *extra, key=KEY, out=None):
        out = out or self.tmp / "out"
        r = run_publish(src, out / "3d", "--sign-key", key, "--icons", icons, "--icons-output", out / "swf", "-q",
                        *extra)
        assert r.returncode == 0, r.stderr

    def serve(self, tree_dir):
        """Makes the served folder a copy of tree_dir (without the
        publisher's own files)."""
        shutil.rmtree(self.www, ignore_errors=True)
        shutil.copytree(tree_dir, self.www, ignore=shutil.ignore_patterns(".publish-*"))

    def object_of(self, top, name):
        return object_path(self.www, top, name)

    def put(self, top, name, data):
        """Serves data as name to launchers with and without a key."""
        for p in [self.www / top / name, self.object_of(top, name)]:
            if p:
                write(p, data)

    def manifest_body(self):
        return (self.www / "3d" / "release.sig").read_bytes().split(b"\n", 1)[1]

    def sign(self, body):
        """Serves body as the manifest, validly signed with the test key."""
        (self.tmp / "body").write_bytes(body)
        subprocess.run([str(BUILD_NATIVE / "bin" / "releasetool"), "sign", str(KEY), str(self.tmp / "body"),
                        str(self.www / "3d" / "release.sig")], check=True)


def object_path(www, top, name):
    """Where a launcher with a key fetches name below top ("3d" or "swf"):
    the object the served manifest names for it, or None."""
    origin = "update" if top == "3d" else "icons"
    for line in (www / "3d" / "release.sig").read_text().split("\n")[4:]:
        f = line.split("\t")
        if len(f) == 4 and f[0] == origin and f[3] == name:
            return www / top / "objects" / f[2][:2] / f[2]
    return None


def list_line(name, served, content):
    return f"{name}\tx\t0\t{len(served)}\t{md5(content)}\r\n".encode()


# Each attack alters the served tree (t.www); it may run the launcher first
# (first_run). It returns the boxes expected before the question whether to
# play without the update, as (caption, text).

def unsigned_server(t, run):
    (t.www / "3d" / "release.sig").unlink()
    return [(REFUSED_CAPTION, MISSING)]


def swapped_file_unsigned_list(t, run):
    evil = b"not the publisher's a.pak"
    served = zip_bytes([("a.pak", evil)])
    t.put("3d", "a.pak", served)
    lines = [list_line("a.pak", served, evil), list_line("data/b.dat", (t.www / "3d/data/b.dat").read_bytes(),
                                                         b"b data " * 300)]
    t.put("3d", "files.txt", zip_bytes([("files.txt", b"".join(lines))]))
    return [(FILE_CAPTION, f"Error downloading file: {REFUSED_CODE}\nFile: /3d/files.txt")]


def altered_list(t, run):
    evil = b"MZ evil program"
    write(t.www / "3d" / "evil.exe", zip_bytes([("evil.exe", evil)]))
    with zipfile.ZipFile(t.www / "3d" / "files.txt") as z:
        text = z.read("files.txt")
    text += list_line("evil.exe", (t.www / "3d" / "evil.exe").read_bytes(), evil)
    t.put("3d", "files.txt", zip_bytes([("files.txt", text)]))
    return [(FILE_CAPTION, f"Error downloading file: {REFUSED_CODE}\nFile: /3d/files.txt")]


def altered_manifest(t, run):
    sig = t.www / "3d" / "release.sig"
    data = sig.read_bytes()
    at = data.index(b"\tdata/b.dat") - 1  # the last digit of b.dat's SHA-256
    sig.write_bytes(data[:at] + (b"0" if data[at:at + 1] != b"0" else b"1") + data[at + 1:])
    return [(REFUSED_CAPTION, NOT_SIGNED)]


def rollback(t, first_run):
    # The launcher installs the current release, then is offered the older.
    first = first_run()
    assert first.code == 0 and first.boxes == []
    t.serve(t.old)
    return [(REFUSED_CAPTION, ROLLBACK)]


def expired(t, run):
    body = t.manifest_body()
    lines = body.split(b"\n")
    lines[2] = b"expires %d" % PAST
    t.sign(b"\n".join(lines))
    return [(REFUSED_CAPTION, EXPIRED)]


def mixed_releases(t, run):
    t.put("3d", "a.pak", (t.old / "3d" / "a.pak").read_bytes())
    return [(FILE_CAPTION, f"Error downloading file: {REFUSED_CODE}\nFile: /3d/a.pak")]


def larger_than_named(t, run):
    t.put("3d", "a.pak", (t.www / "3d" / "a.pak").read_bytes() + b"\0" * 5000)
    return [(FILE_CAPTION, f"Error downloading file: {REFUSED_CODE}\nFile: /3d/a.pak")]


def unnamed_file(t, run):
    # A validly signed manifest without the icons; the man in the middle
    # serves an icon list and an icon of his own.
    body = b"".join(l for l in t.manifest_body().splitlines(keepends=True) if not l.startswith(b"icons\t"))
    t.sign(body)
    write(t.www / "swf" / "evil.png", b"evil")
    write(t.www / "swf" / "clan_icons_list.txt", list_line("evil.png", b"evil", b"evil"))
    return []


def other_key(t, run):
    other = t.tmp / "other.key"
    r = subprocess.run([str(BUILD_NATIVE / "bin" / "tervalis-publish"), "keygen", str(other)], capture_output=True)
    assert r.returncode == 0, r.stderr
    t.publish(t.tmp / "release", t.tmp / "icons", key=other, out=t.tmp / "other")
    t.serve(t.tmp / "other")
    return [(REFUSED_CAPTION, OTHER_KEY)]


ATTACKS = [unsigned_server, swapped_file_unsigned_list, altered_list, altered_manifest, rollback, expired,
           mixed_releases, larger_than_named, unnamed_file, other_key]


@pytest.mark.parametrize("attack", ATTACKS, ids=lambda a: a.__name__)
@pytest.mark.parametrize("road_name", ["posix", "win"])
def test_attack_is_refused(request, road_name, attack, nginx, tmp_path):
    road = make_road(request, road_name, signed=True)
    t = Trees(tmp_path)
    server = nginx(t.www)
    inst = road.install()
    launcher = inst.launcher.read_bytes()

    def first_run():
        r = road.run(inst)
        inst.wait_game_runs()
        return r

    boxes = attack(t, first_run)
    before, games = tree(inst.path), len(inst.game_runs())
    seen = len(server.requests())
    release_refused = bool(boxes) and boxes[0][0] == REFUSED_CAPTION
    run = road.run(inst, answers=[OK] * len(boxes) + ([NO] if release_refused else []))
    requests = server.requests()[seen:]
    if attack is unnamed_file:
        # Nothing the manifest does not name is asked for; the signed part of
        # the release is installed and the game starts.
        assert run.code == 0 and run.boxes == []
        assert not any(p.startswith("/swf/") for p in requests), requests
        assert "data/textures/evil.png" not in tree(inst.path)
        assert len(inst.wait_game_runs()) == 1
        return
    if release_refused:
        assert [tuple(b) for b in run.boxes] == boxes + [(FILE_CAPTION, ASK_TEXT)]
        assert requests == ["/3d/release.sig"]
    else:
        assert [tuple(b) for b in run.boxes] == boxes
    assert run.code == -1
    # Nothing installed, nothing half-written, nothing started, and no
    # release recorded: only a run that installed all of it records it.
    after = tree(inst.path)
    assert after == before
    assert inst.launcher.read_bytes() == launcher
    assert len(inst.game_runs()) == games


@pytest.mark.parametrize("road_name", ["posix", "win"])
def test_signed_update_with_a_new_launcher(request, road_name, nginx, tmp_path):
    road = make_road(request, road_name, signed=True)
    inst = road.install()
    if road_name == "posix":  # the self-replacement's names are fixed
        inst.launcher = inst.launcher.rename(inst.path / EXE)
    new = inst.launcher.read_bytes() + b"\0" * 64 + b"new launcher"
    write(tmp_path / "new" / EXE, new)
    t = Trees(tmp_path, launcher=tmp_path / "new" / EXE)
    server = nginx(t.www)
    run = road.run(inst, " /externlogin=x", restarts=1)
    assert run.codes == [0, 0] and run.boxes == []
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]
    files = tree(inst.path)
    assert inst.launcher.read_bytes() == new
    assert files["a.pak"] == b"second a " * 500 and files["data/b.dat"] == b"b data " * 300
    assert files["data/textures/7.png"] == b"icon seven"
    number = (t.www / "3d" / "release.sig").read_bytes().split(b"\n")[2].split()[1]
    assert files["data/update/release.txt"] == number + b"\n"
    # The restarted launcher checked the same release again.
    assert server.requests().count("/3d/release.sig") == 2
    exe = t.object_of("3d", EXE).relative_to(t.www)
    assert server.requests().count(f"/{exe.as_posix()}") == 1


def test_launcher_without_a_key_reads_a_signed_tree_as_always(road, nginx, tmp_path):
    t = Trees(tmp_path)
    server = nginx(t.www)
    inst = road.install()
    inst.write_ini(**SETTINGS)
    run = road.run(inst)
    assert run.code == 0 and run.boxes == []
    files = tree(inst.path)
    assert files["a.pak"] == b"second a " * 500 and files["data/textures/7.png"] == b"icon seven"
    assert "data/update/release.txt" not in files
    assert server.requests()[1:] == ["/3d/files.txt", "/3d/files-large.txt", "/swf/clan_icons_list.txt", "/3d/a.pak",
                                     "/3d/data/b.dat", "/swf/7.png"]


@contextlib.contextmanager
def held_exclusively(road, path):
    """Another process holds path so that nobody can read it: a Windows
    process opening it unshared, or a POSIX process holding a lock on it."""
    if road.name == "posix":
        with open(path, "rb") as f:
            fcntl.flock(f, fcntl.LOCK_EX)
            yield
        return
    with wine_holding(road.wine, path):
        yield


@pytest.mark.parametrize("road_name", ["posix", "win"])
def test_record_that_cannot_be_read_refuses_a_replayed_release(request, road_name, nginx, tmp_path):
    # A record held by another process is not "no record": an older release
    # replayed meanwhile is refused and the record stays as it was.
    road = make_road(request, road_name, signed=True)
    t = Trees(tmp_path)
    nginx(t.www)
    inst = road.install()
    first = road.run(inst)
    assert first.code == 0 and first.boxes == []
    t.serve(t.old)
    record = inst.path / "data" / "update" / "release.txt"
    before = tree(inst.path)
    with held_exclusively(road, record):
        if road.name == "posix":
            run = road.run(inst, answers=[OK, NO])
            boxes, code = run.boxes, run.code
        else:  # the run alone: waiting for every process of the prefix would wait for the holder
            exe = win_path(inst.launcher)
            job = road.wine.run_job(exe, f'"{exe}"', [OK, NO])
            boxes, code = job.boxes, job_launcher_codes(inst, 1, job, 0)[0]
    if road.name == "win":
        road.wine.wait_all()
    assert [tuple(b) for b in boxes] == [(REFUSED_CAPTION, RECORD_UNREADABLE), (FILE_CAPTION, ASK_TEXT)]
    assert code == -1
    assert tree(inst.path) == before
    assert len(inst.wait_game_runs()) == 1


@pytest.mark.parametrize("road_name", ["posix", "win"])
def test_named_list_answered_404_asks_and_records_nothing(request, road_name, nginx, tmp_path):
    # The manifest names files.txt: a 404 for it holds back part of the
    # release, so it is a list that could not be fetched, not an empty one,
    # even with the icons there.
    road = make_road(request, road_name, signed=True)
    t = Trees(tmp_path)
    t.object_of("3d", "files.txt").unlink()
    (t.www / "3d" / "files.txt").unlink()
    nginx(t.www)
    inst = road.install()
    before = tree(inst.path)
    run = road.run(inst, answers=[NO])
    assert run.boxes == [(FILE_CAPTION, ASK_TEXT)]
    assert run.code == -1
    assert tree(inst.path) == before
    assert inst.game_runs() == []
def synced_and_renamed(log, cwd):
    """The fsync and rename calls of an strace -f -y log, in order, as
    ("fsync", path) and ("rename", from, to) with absolute paths."""
    def at(p):
        return os.path.realpath(os.path.join(cwd, p))
    calls = []
    for line in log.splitlines():
        m = re.match(r"\d+\s+(fsync|fdatasync)\(\d+<([^>]*)>", line)
        if m:
            calls.append(("fsync", at(m.group(2))))
            continue
        m = re.match(r"\d+\s+rename(?:at2?)?\((.*)", line)
        if m:
            src, dst = re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(1))[:2]
            calls.append(("rename", at(src), at(dst)))
    return calls


def test_what_must_survive_a_power_cut_is_flushed_before_its_rename(request, nginx, tmp_path):
    # The new launcher, the accepted-release record and the index of verified
    # files: their bytes reach the disk before the rename that puts them in
    # place, and the folder entry after it. Game files heal at the next
    # start and are not flushed. Observed natively through strace.
    road = make_road(request, "posix", signed=True)
    inst = road.install()
    inst.launcher = inst.launcher.rename(inst.path / EXE)
    inst.write_ini(**SETTINGS, check_index="1")
    new = inst.launcher.read_bytes() + b"\0" * 64 + b"new launcher"
    write(tmp_path / "new" / EXE, new)
    nginx(Trees(tmp_path, launcher=tmp_path / "new" / EXE).www)
    log = tmp_path / "strace.log"
    subprocess.run(road.ns.prefix() + ["strace", "-f", "-qq", "-y", "-s", "4096", "-o", str(log), "-e",
                                       "trace=fsync,fdatasync,rename,renameat,renameat2", str(inst.launcher)],
                   cwd=inst.path, check=True, timeout=120, stdout=subprocess.DEVNULL)
    assert inst.launcher.read_bytes() == new and len(inst.wait_game_runs()) == 1
    calls = synced_and_renamed(log.read_text(), inst.path)
    root = os.path.realpath(inst.path)
    for target in [EXE, "data/update/release.txt", "data/update/verified.txt"]:
        path = os.path.join(root, target)
        renames = [i for i, c in enumerate(calls) if c[0] == "rename" and c[2] == path]
        assert renames, f"{target} was never renamed into place: {calls}"
        for i in renames:
            assert ("fsync", calls[i][1]) in calls[:i], f"{calls[i][1]} renamed onto {target} before a flush"
            assert ("fsync", os.path.dirname(path)) in calls[i + 1:], f"{target}'s folder not flushed after the rename"
    flushed = [c[1] for c in calls if c[0] == "fsync"]
    assert not [p for p in flushed if os.path.basename(p).startswith("a.pak")], flushed
