"""Calling tervalis-publish from tests and scripts, and reading what it wrote.

    from publish_helpers import run_publish, read_list
    r = run_publish(release_dir, www / "3d", "--date", "2024-01-01")
    assert r.returncode == 0, r.stderr
    entries = read_list(www / "3d" / "files.txt")   # {name: Entry}
"""
import hashlib
import os
import subprocess
import zipfile
from collections import namedtuple
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

Entry = namedtuple("Entry", "name release date size md5")


def publisher_path():
    """The tool: $TVL_PUBLISH, else the ASan build, else the release build."""
    env = os.environ.get("TVL_PUBLISH")
    if env:
        return Path(env)
    for build in ("native", "native-release"):
        p = ROOT / "build" / build / "bin" / "tervalis-publish"
        if p.exists():
            return p
    raise FileNotFoundError("tervalis-publish is not built: cmake --preset native && cmake --build build/native")


def run_publish(release, output, *args, tool=None, timeout=600, check=False):
    """Runs the publisher; returns the CompletedProcess (text stdout/stderr)."""
    cmd = [str(tool or publisher_path()), *map(str, args), str(release), str(output)]
    r = subprocess.run(cmd, capture_output=True, timeout=timeout)
    r.stdout = r.stdout.decode("utf-8", "surrogateescape")
    r.stderr = r.stderr.decode("utf-8", "surrogateescape")
    if check and r.returncode != 0:
        raise AssertionError(f"{cmd} failed ({r.returncode}):\n{r.stderr}")
    return r


def served_names(out):
    """Names of the files below a published tree, without the publisher's
    own state (.publish*, which names host paths)."""
    out = Path(out)
    return {n for n in (str(p.relative_to(out)) for p in out.rglob("*") if p.is_file())
            if not n.startswith(".publish")}


def parse_list(data):
    """Entries of a list's bytes, read the launcher's way (lines end at CR or
    LF, fields are runs of non-TAB bytes, entries have exactly five)."""
    out = {}
    for line in data.replace(b"\r", b"\n").split(b"\n"):
        fields = [f for f in line.split(b"\t") if f]
        if len(fields) == 5:
            name = fields[0].decode("utf-8", "surrogateescape")
            out[name] = Entry(name, fields[1].decode(), fields[2].decode(), int(fields[3]), fields[4].decode())
    return out


def read_list(path):
    """Entries of a served files.txt or files-large.txt (zip, the list as its
    one member of the same name) or clan_icons_list.txt (plain)."""
    path = Path(path)
    if zipfile.is_zipfile(path):
        with zipfile.ZipFile(path) as z:
            assert z.namelist() == [path.name], z.namelist()
            return parse_list(z.read(path.name))
    return parse_list(path.read_bytes())


def md5_upper(data):
    return hashlib.md5(data).hexdigest().upper()
