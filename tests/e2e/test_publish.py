"""The real tervalis-publish on real folders: what it serves is what the
launcher needs, byte-identical from run to run, and later runs touch only what
changed."""
import fcntl
import os
import random
import shutil
import signal
import subprocess
import time
import zipfile
import zlib
from pathlib import Path

import pytest

from publish_helpers import ROOT, md5_upper, publisher_path, read_list, run_publish, served_names

FIXED = ("--date", "2024-03-01T12:00:00")


def write(root, name, data):
    p = Path(root) / name
    p.parent.mkdir(parents=True, exist_ok=True)
    p.write_bytes(data)
    return p


def mixed_release(root, seed=1):
    """A small release with the kinds of files a game ships."""
    rnd = random.Random(seed)
    files = {
        "TervalisOnline2D.exe": b"MZ" + rnd.randbytes(40000),
        "TervalisOnline2D.bin": b"MZ" + b"\x00" * 30000 + rnd.randbytes(2000),
        "data/maps/town 1.map": b"tile " * 20000,
        "data/sound/hit.ogg": rnd.randbytes(150000),
        "data/textures/ui.png": rnd.randbytes(900) + b"\x00" * 100,
        "data/empty.cfg": b"",
        "bin/TervalisOnline2D.exe": b"MZ not the launcher",
        "data/карта.txt": "карта".encode(),
    }
    for name, data in files.items():
        write(root, name, data)
    return files


def tree(root):
    """Every file below root: relative name -> bytes."""
    root = Path(root)
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def identities(out):
    return {n: (os.stat(Path(out) / n).st_ino, os.stat(Path(out) / n).st_mtime_ns) for n in tree(out)}


@pytest.fixture(scope="module")
def tool():
    return publisher_path()


def test_serves_what_the_launcher_expects(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    files = mixed_release(rel)
    r = run_publish(rel, out, "--release", "7.1 beta", *FIXED, tool=tool)
    assert r.returncode == 0, r.stderr
    assert f"{len(files)} added, 0 changed, 0 removed, 0 unchanged" in r.stdout
    assert "1 names hold non-ASCII bytes" in r.stderr

    entries = read_list(out / "files.txt")
    assert set(entries) == set(files)
    raw = zipfile.ZipFile(out / "files.txt").read("files.txt")
    assert raw.endswith(b"\r\n") and raw.count(b"\r\n") == len(files) and b"\n" not in raw.replace(b"\r\n", b"")
    for name, data in files.items():
        e = entries[name]
        # The size column is what is served: the launcher's bar counts received bytes.
        served = (out / name).stat().st_size
        assert (e.release, e.date, e.size, e.md5) == ("7.1 beta", "2024-03-01T12:00:00Z", served, md5_upper(data))
        with zipfile.ZipFile(out / name) as z:
            (info,) = z.infolist()
            # The whole list name with "/" separators, as bytes (no UTF-8 flag:
            # the launcher takes names in its ANSI code page).
            assert info.filename.encode("cp437") == name.encode()
            assert z.testzip() is None
            assert z.read(info) == data
            assert info.date_time == (2024, 3, 1, 12, 0, 0)
            if info.compress_type == zipfile.ZIP_DEFLATED:
                assert info.compress_size < info.file_size
            else:
                assert info.compress_type == zipfile.ZIP_STORED
                c = zlib.compressobj(6, zlib.DEFLATED, -15)
                assert len(c.compress(data) + c.flush()) >= len(data), name
        subprocess.run(["unzip", "-tqq", str(out / name)], check=True)
    subprocess.run(["unzip", "-tqq", str(out / "files.txt")], check=True)
    # Only the top-level launcher carries the launcher's member name.
    assert zipfile.ZipFile(out / "bin/TervalisOnline2D.exe").namelist() == ["bin/TervalisOnline2D.exe"]
    assert served_names(out) == set(files) | {"files.txt"}


def test_same_input_gives_a_byte_identical_tree(tmp_path, tool):
    rel = tmp_path / "rel"
    mixed_release(rel)
    trees = []
    for i, jobs in enumerate(("1", "2", "2")):
        out = tmp_path / f"out{i}"
        r = run_publish(rel, out, "-j", jobs, tool=tool)
        assert r.returncode == 0, r.stderr
        trees.append(tree(out))
    assert trees[0] == trees[1] == trees[2]
    # A copy of the release with the same times publishes the same bytes.
    shutil.copytree(rel, tmp_path / "copy", copy_function=shutil.copy2)
    r = run_publish(tmp_path / "copy", tmp_path / "out3", tool=tool)
    assert r.returncode == 0, r.stderr
    assert tree(tmp_path / "out3") == trees[0]


def test_later_runs_rewrite_only_what_changed(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    files = mixed_release(rel)
    write(rel, "old/dir/leaving.txt", b"bye")
    assert run_publish(rel, out, tool=tool).returncode == 0
    before = identities(out)

    r = run_publish(rel, out, tool=tool)
    assert r.returncode == 0, r.stderr
    assert "0 added, 0 changed, 0 removed, 9 unchanged; files.txt unchanged" in r.stdout
    assert identities(out) == before

    write(rel, "data/maps/town 1.map", b"TILE " * 20000)
    write(rel, "data/new.txt", b"new")
    shutil.rmtree(rel / "old")
    r = run_publish(rel, out, tool=tool)
    assert r.returncode == 0, r.stderr
    for line in ("added     data/new.txt", "changed   data/maps/town 1.map", "removed   old/dir/leaving.txt",
                 "1 added, 1 changed, 1 removed, 7 unchanged; files.txt rewritten"):
        assert line in r.stdout
    after = identities(out)
    rewritten = {n for n in after if n in before and after[n] != before[n]}
    assert rewritten == {"data/maps/town 1.map", "files.txt", ".publish-state"}
    assert "data/new.txt" in after and not (out / "old").exists()
    entries = read_list(out / "files.txt")
    assert entries["data/maps/town 1.map"].md5 == md5_upper(b"TILE " * 20000)
    assert set(entries) == set(files) | {"data/new.txt"}


def test_dry_run_names_the_changes_and_writes_nothing(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    mixed_release(rel)
    r = run_publish(rel, out, "--dry-run", tool=tool)
    assert r.returncode == 0, r.stderr
    assert "added     data/sound/hit.ogg" in r.stdout
    assert "dry run:" in r.stdout and "8 added" in r.stdout and "would be rewritten" in r.stdout
    assert not out.exists()

    assert run_publish(rel, out, tool=tool).returncode == 0
    snapshot = identities(out)
    (rel / "data/empty.cfg").unlink()
    write(rel, "data/sound/hit.ogg", b"other")
    r = run_publish(rel, out, "-n", tool=tool)
    assert "changed   data/sound/hit.ogg" in r.stdout and "removed   data/empty.cfg" in r.stdout
    assert "0 added, 1 changed, 1 removed, 6 unchanged" in r.stdout
    assert identities(out) == snapshot


@pytest.mark.parametrize("name, reason", [
    ("files.txt", "file list itself"),
    ("sub/50%.txt", "unescaped"),
    ("a#b", "unescaped"),
    ("C:evil", "drive letter"),
    ("dir\\..\\x", "backslash"),
    ("tab\there", "TAB, CR or LF"),
    ("cr\rhere", "TAB, CR or LF"),
    ("lf\nhere", "TAB, CR or LF"),
    ("x" * 200 + "/" + "y" * 58, "259 fit"),
    ("data/NUL.dat", "reserved device name"),
    ("TervalisOnline2D.exe.new", "deletes this file"),
    ("ends with dot.", "drops"),
])
def test_refuses_names_the_launcher_cannot_install(tmp_path, tool, name, reason):
    rel, out = tmp_path / "rel", tmp_path / "out"
    write(rel, "fine.txt", b"fine")
    write(rel, name, b"x")
    r = run_publish(rel, out, tool=tool)
    assert r.returncode == 1
    shown = name.replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")
    assert f"  {shown}: " in r.stderr and reason in r.stderr, r.stderr
    assert "nothing was written" in r.stderr
    assert not out.exists()


def test_refuses_them_all_at_once_and_patterns_can_leave_them_out(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    write(rel, "ok.txt", b"ok")
    write(rel, "Data/a.pak", b"1")
    write(rel, "data/A.pak", b"2")
    write(rel, "x%", b"3")
    r = run_publish(rel, out, tool=tool)
    assert r.returncode == 1
    assert "refusing 3 files" in r.stderr
    assert "Data/a.pak: 'data/A.pak' differs only in letter case" in r.stderr
    r = run_publish(rel, out, "--exclude", "Data/", "--exclude", "*%", tool=tool)
    assert r.returncode == 0, r.stderr
    assert set(read_list(out / "files.txt")) == {"ok.txt", "data/A.pak"}
    r = run_publish(rel, out, "--include", "ok.txt", tool=tool)
    assert r.returncode == 0, r.stderr
    assert set(read_list(out / "files.txt")) == {"ok.txt"} and not (out / "data").exists()


def test_thousands_of_small_files(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    rnd = random.Random(5)
    files = {}
    for i in range(3000):
        name = f"data/d{i % 37:02}/f{i:04}.{'txt' if i % 3 else 'bin'}"
        data = (f"file {i} " * (i % 50)).encode() if i % 3 else rnd.randbytes(i % 700)
        files[name] = data
        write(rel, name, data)
    r = run_publish(rel, out, tool=tool)
    assert r.returncode == 0, r.stderr
    assert "3000 added" in r.stdout
    entries = read_list(out / "files.txt")
    assert len(entries) == 3000
    for name, data in files.items():
        e = entries[name]
        assert (e.size, e.md5) == ((out / name).stat().st_size, md5_upper(data)), name
        with zipfile.ZipFile(out / name) as z:
            assert z.namelist() == [name] and z.read(name) == data
    for d in sorted((out / "data").iterdir()):  # unzip takes a wildcard of archives
        t = subprocess.run(["unzip", "-tqq", str(d / "*")], capture_output=True, text=True)
        assert t.returncode == 0, t.stdout + t.stderr

    before = identities(out)
    r = run_publish(rel, out, tool=tool)
    assert "0 added, 0 changed, 0 removed, 3000 unchanged" in r.stdout
    assert identities(out) == before


def test_icons_are_served_plain_with_their_list(tmp_path, tool):
    rel, out, icons, iout = (tmp_path / n for n in ("rel", "out", "icons", "icons-out"))
    write(rel, "a.txt", b"a")
    pngs = {"1.png": b"\x89PNG one", "clans/77.png": b"\x89PNG seventy-seven"}
    for name, data in pngs.items():
        write(icons, name, data)
    r = run_publish(rel, out, "--icons", icons, "--icons-output", iout, tool=tool)
    assert r.returncode == 0, r.stderr
    assert not zipfile.is_zipfile(iout / "clan_icons_list.txt")
    raw = (iout / "clan_icons_list.txt").read_bytes()
    assert raw.count(b"\r\n") == 2
    entries = read_list(iout / "clan_icons_list.txt")
    for name, data in pngs.items():
        assert (iout / name).read_bytes() == data
        assert (entries[name].size, entries[name].md5) == (len(data), md5_upper(data))
    assert served_names(iout) == set(pngs) | {"clan_icons_list.txt"}


def test_new_launcher_travels_like_any_file(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    write(rel, "TervalisOnline2D.exe", b"MZ old")
    new = write(tmp_path / "build", "launcher-3.1.exe", b"MZ new launcher")
    r = run_publish(rel, out, "--launcher", new, tool=tool)
    assert r.returncode == 0, r.stderr
    assert "replaced by" in r.stderr
    with zipfile.ZipFile(out / "TervalisOnline2D.exe") as z:
        assert z.namelist() == ["TervalisOnline2D.exe"] and z.read("TervalisOnline2D.exe") == b"MZ new launcher"
    assert read_list(out / "files.txt")["TervalisOnline2D.exe"].md5 == md5_upper(b"MZ new launcher")


def test_an_interrupted_run_never_serves_a_partial_archive(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    write(rel, "small.txt", b"v1")
    assert run_publish(rel, out, tool=tool).returncode == 0
    old_list = (out / "files.txt").read_bytes()
    rnd = random.Random(9)
    write(rel, "small.txt", b"v2")
    for i in range(4):
        write(rel, f"big{i}.bin", rnd.randbytes(1 << 20) * 24)  # deflate works hard on these
    p = subprocess.Popen([str(tool), "-q", "-j", "1", str(rel), str(out)])
    time.sleep(0.5)
    p.send_signal(signal.SIGKILL)
    assert p.wait() == -signal.SIGKILL, "the run ended before it could be interrupted"
    assert any((out / ".publish-tmp").iterdir()), "no archive was being written"
    # Whatever is at a served name is whole; the old list is still in force.
    assert (out / "files.txt").read_bytes() == old_list
    for name in served_names(out):
        if name != "files.txt":
            with zipfile.ZipFile(out / name) as z:
                assert z.testzip() is None
    r = run_publish(rel, out, tool=tool)
    assert r.returncode == 0, r.stderr
    assert set(read_list(out / "files.txt")) == {"small.txt", "big0.bin", "big1.bin", "big2.bin", "big3.bin"}
    assert not (out / ".publish-tmp").exists()


def test_failures_are_clear_and_non_zero(tmp_path, tool):
    rel, out = tmp_path / "rel", tmp_path / "out"
    r = run_publish(tmp_path / "missing", out, tool=tool)
    assert r.returncode == 1 and "missing is not a directory" in r.stderr
    r = run_publish(rel, out, "--level", "12", tool=tool)
    assert r.returncode == 2 and "--level" in r.stderr and "usage:" in r.stderr
    write(rel, "a.txt", b"a")
    r = run_publish(rel, rel / "www", tool=tool)
    assert r.returncode == 1 and "must not lie inside one another" in r.stderr
    out.mkdir()
    with open(out / ".publish-lock", "w") as lock:  # another run holds the output
        fcntl.flock(lock, fcntl.LOCK_EX)
        r = run_publish(rel, out, tool=tool)
    assert r.returncode == 1 and "another tervalis-publish is writing" in r.stderr
    write(out, "a.txt/blocked", b"a directory where the archive must go")
    r = run_publish(rel, out, tool=tool)
    assert r.returncode == 1 and "a.txt" in r.stderr
    assert not (out / "files.txt").exists()


WIN_TOOL = ROOT / "build" / "win64" / "bin" / "tervalis-publish.exe"


@pytest.mark.skipif(not WIN_TOOL.exists(), reason="win64 build of the publisher not built")
def test_windows_build_serves_the_same_bytes(tmp_path, tool, wine):
    from conftest import win_path
    rel = tmp_path / "rel"
    mixed_release(rel)
    (rel / "data/карта.txt").unlink()  # Wine would spell it in its ANSI code page
    assert run_publish(rel, tmp_path / "linux", tool=tool).returncode == 0
    r = wine.run([win_path(WIN_TOOL), "-q", win_path(rel), win_path(tmp_path / "win")])
    assert r.returncode == 0, r.stderr
    linux, win = tree(tmp_path / "linux"), tree(tmp_path / "win")
    for name in served_names(tmp_path / "linux"):
        assert win[name] == linux[name], name


def test_documented_nginx_config_serves_the_tree_as_the_launcher_needs(tmp_path, tool, netns):
    rel, icons = tmp_path / "rel", tmp_path / "icons"
    update, iout = tmp_path / "srv/update", tmp_path / "srv/icons"
    mixed_release(rel)
    write(rel, "data/big.txt", b"compressible text " * 50000)  # gzip would love it
    write(icons, "5.png", b"\x89PNG five")
    pack = random.Random(5).randbytes(1536 * 1024)
    write(tmp_path / "prev", "data/pack.dat", pack)
    write(rel, "data/pack.dat", pack[:1000] + b"new" + pack[1000:])
    assert subprocess.run([str(tool), "keygen", str(tmp_path / "release.key")], capture_output=True).returncode == 0
    r = run_publish(rel, update, "--icons", icons, "--icons-output", iout, "--previous", tmp_path / "prev",
                    "--sign-key", tmp_path / "release.key", tool=tool)
    assert r.returncode == 0, r.stderr
    with zipfile.ZipFile(update / "patches.txt") as z:
        patch = z.read("patches.txt").split(b"\t")[4].rstrip(b"\r\n").decode()

    conf = (ROOT / "docs/nginx/tervalis-update.conf").read_text()
    conf = (conf.replace("/srv/tervalis/update/", f"{update}/").replace("/srv/tervalis/icons/", f"{iout}/")
            .replace("/var/log/nginx/tervalis-update.access.log", str(tmp_path / "access.log"))
            .replace("listen 80;", "listen 127.0.0.1:80;").replace("listen [::]:80;", ""))
    (tmp_path / "site.conf").write_text(conf)
    # The surroundings a distribution's nginx.conf gives, gzip included.
    (tmp_path / "nginx.conf").write_text(f"""
daemon off; user root; worker_processes 1; pid {tmp_path}/nginx.pid; error_log {tmp_path}/error.log warn;
events {{ worker_connections 64; }}
http {{
  client_body_temp_path {tmp_path}/body; proxy_temp_path {tmp_path}/proxy; fastcgi_temp_path {tmp_path}/fcgi;
  uwsgi_temp_path {tmp_path}/uwsgi; scgi_temp_path {tmp_path}/scgi;
  include /etc/nginx/mime.types;
  gzip on; gzip_types *; gzip_min_length 1;
  include {tmp_path}/site.conf;
}}
""")
    check = subprocess.run(["nginx", "-t", "-c", str(tmp_path / "nginx.conf")], capture_output=True, text=True)
    assert check.returncode == 0, check.stderr
    proc = subprocess.Popen(netns.prefix() + ["nginx", "-c", str(tmp_path / "nginx.conf")],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        def get(path, *extra):
            url = "http://127.0.0.1" + path.replace(" ", "%20")
            r = subprocess.run(netns.prefix() + ["curl", "-sS", "--retry", "20", "--retry-connrefused",
                                                 "--retry-delay", "0", "-A", "TervalisOnline2D", "-H",
                                                 "Cache-Control: no-cache", "-H", "Pragma: no-cache", "-D", "-",
                                                 *extra, url], capture_output=True, timeout=60)
            head, _, body = r.stdout.partition(b"\r\n\r\n")
            lines = head.decode().split("\r\n")
            headers = {k.lower(): v for k, _, v in (h.partition(": ") for h in lines[1:])}
            return int(lines[0].split()[1]), headers, body

        for path, disk in [("/3d/files.txt", update / "files.txt"), ("/3d/data/big.txt", update / "data/big.txt"),
                           ("/3d/data/maps/town 1.map", update / "data/maps/town 1.map"),
                           ("/swf/clan_icons_list.txt", iout / "clan_icons_list.txt"), ("/swf/5.png", iout / "5.png"),
                           ("/3d/release.sig", update / "release.sig")]:
            status, headers, body = get(path, "-H", "Accept-Encoding: gzip, br")
            assert status == 200, path
            assert body == disk.read_bytes(), path
            assert headers["content-length"] == str(len(body)), path
            assert "transfer-encoding" not in headers and "content-encoding" not in headers, headers
            assert headers["content-type"] == "application/octet-stream"
            fresh = path.endswith(".txt") and "/data/" not in path
            want = "no-cache" if fresh else "max-age=60" if path.endswith("release.sig") else "max-age=300"
            assert want in headers["cache-control"], (path, headers)
        objects = [(top + "/" + o.relative_to(root).as_posix(), o) for top, root in (("/3d", update), ("/swf", iout))
                   for o in (root / "objects").glob("??/*")]
        assert len(objects) > 10
        for path, disk, want in [("/3d/patches.txt", update / "patches.txt", "no-cache"),
                                 ("/3d/" + patch, update / patch, "immutable"),
                                 *[(path, o, "immutable") for path, o in objects]]:
            status, headers, body = get(path)
            assert (status, body, want in headers["cache-control"]) == (200, disk.read_bytes(), True), path
        for path in ("/3d/.publish-state", "/3d/.publish-lock", "/3d/.publish-patches", "/swf/.publish-state",
                     "/3d/.publish-releases/" + next((update / ".publish-releases").iterdir()).name,
                     "/3d/missing", "/other"):
            assert get(path)[0] == 404, path
        assert get("/3d/files.txt", "-X", "POST")[0] == 403
    finally:
        proc.terminate()
        proc.wait(timeout=10)
