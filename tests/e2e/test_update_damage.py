"""Packed files that arrive whole but do not unpack, and list names that
lead out of the game folder, on both launchers. Neither may touch anything
but the files the list rightly names: a damaged file keeps its old bytes and
leaves no temporary file behind, an escaping name is never fetched, and
nothing outside the install is created or changed."""
import io
import os
import struct
import zipfile
import zlib
from pathlib import Path

import pytest

from updates import FAULTY, SETTINGS, Release, faulty, md5, road, tree, zip_bytes  # noqa: F401

FAULT_SETTINGS = dict(SETTINGS, update_server=FAULTY, icons_server=FAULTY, download_retries="0")
PROBE = "tvl-escape-probe"
ERROR_PAGE = b"<html><head><title>503</title></head><body><h1>Service Temporarily Unavailable</h1></body></html>\r\n"


def member_data(packed):
    """Offset and length of the only member's stored bytes."""
    info = zipfile.ZipFile(io.BytesIO(packed)).infolist()[0]
    name_len, extra_len = struct.unpack_from("<HH", packed, info.header_offset + 26)
    return info.header_offset + 30 + name_len + extra_len, info.compress_size


def bad_crc(name, data):
    # Stored, one byte changed: every byte reads, only the CRC-32 tells.
    packed = bytearray(zip_bytes([(name, data)], zipfile.ZIP_STORED))
    at, size = member_data(packed)
    packed[at + size // 2] ^= 0xFF
    return bytes(packed)


def broken_deflate(name, data):
    # The first 40000 bytes inflate (more than the extractor's buffer, so a
    # part is written), then a block of the reserved type.
    packed = bytearray(zip_bytes([(name, data)]))
    at, size = member_data(packed)
    z = zlib.compressobj(6, zlib.DEFLATED, -15)
    stream = z.compress(data[:40000]) + z.flush(zlib.Z_FULL_FLUSH) + b"\x07"
    assert len(stream) <= size
    packed[at:at + size] = stream.ljust(size, b"\0")
    return bytes(packed)


class ServedAs(Release):
    """A release whose files may be served as given bytes instead of their zip."""

    def add_served(self, name, data, raw):
        self.add(name, data)
        self.files[-1]["raw"] = raw
        return self

    def served(self, f):
        return f.get("raw") or super().served(f)


def outside(tmp_path, inst, road):
    """What a name leading out of the install could reach: the install's
    parent folder (less the install, the Wine prefix and the server's logs),
    and the probe's name at the root and on drive C:."""
    skip = {inst.path.name, "prefix"} | {p.name for p in tmp_path.glob("faulty*")}
    files = {}
    for top in tmp_path.iterdir():
        if top.name not in skip:
            files.update({f"{top.name}/{k}": v for k, v in tree(top).items()} if top.is_dir()
                         else {top.name: top.read_bytes()})
    probes = [Path("/") / PROBE]
    if road.name == "win":
        probes.append(road.wine.prefix_dir / "drive_c" / PROBE)
    files.update({str(p): p.read_bytes() for p in probes if p.exists()})
    return files


def run_and_check(road, faulty, tmp_path, root, rules, old, new, settings=FAULT_SETTINGS):
    """Runs the launcher against the release published at root, with the
    files named in old holding old bytes; afterwards exactly the files in new
    are installed and nothing else changed, in the install or outside it.
    Today a file that does not unpack and a name that leads out are passed
    over: no box, the game starts."""
    server = faulty(root)
    server.set_rules(rules)
    inst = road.install()
    inst.write_ini(**settings)
    for name in old:
        (inst.path / name).parent.mkdir(parents=True, exist_ok=True)
        (inst.path / name).write_bytes(b"old " + name.encode())
    (tmp_path / PROBE).write_bytes(b"beside the install")
    before, around = tree(inst.path), outside(tmp_path, inst, road)

    run = road.run(inst)
    assert run.boxes == [] and run.code == 0
    assert len(inst.wait_game_runs()) == 1
    assert tree(inst.path) == dict(before, **new)  # no temporary or half-written file either
    assert outside(tmp_path, inst, road) == around
    return server


# With retries on, a file this large is staged under a name of its own,
# with a sidecar, so that a partial can wait for the next run.
RESUMABLE = {k: v for k, v in FAULT_SETTINGS.items() if k != "download_retries"}


@pytest.mark.parametrize("damage,settings", [
    (lambda data: bad_crc("b.pak", data), FAULT_SETTINGS),
    (lambda data: broken_deflate("b.pak", data), FAULT_SETTINGS),
    (lambda data: ERROR_PAGE, FAULT_SETTINGS),
    (lambda data: broken_deflate("b.pak", data), RESUMABLE),
], ids=["bad-crc", "broken-deflate", "error-page", "broken-deflate-resumable"])
def test_packed_file_that_does_not_unpack(road, faulty, tmp_path, damage, settings):
    data = os.urandom(1500000)
    rel = (ServedAs()
           .add("a.pak", os.urandom(20000))
           .add_served("data/b.pak", data, damage(data))
           .add("c.pak", os.urandom(20000)))
    new = rel.expected()
    del new["data/b.pak"]
    server = run_and_check(road, faulty, tmp_path, rel.publish(tmp_path / "www"), {}, rel.expected(), new,
                           settings)
    # The damaged body came whole, with status 200.
    [t] = server.transfers("/3d/data/b.pak")
    assert t["status"] == 200 and t["sent"] == len(rel.served(rel.files[1]))


@pytest.mark.parametrize("where,name", [
    ("files", "../" + PROBE),
    ("files", "C:\\" + PROBE),
    ("files", "/" + PROBE),
    ("files", "data/../../" + PROBE),
    ("icons", "../../../" + PROBE),
    ("icons", "C:\\" + PROBE),
])
def test_name_leading_out_is_not_fetched(road, faulty, tmp_path, where, name):
    rel = Release().add("a.pak", b"A" * 1000).icon("1.png", b"P" * 100)
    root = rel.publish(tmp_path / "www")
    # The escaping entry comes first in its list, and every path but the
    # rightful ones is served its body: a launcher that asked for it would
    # get something to write.
    evil = b"written outside by " + name.encode()
    entry = dict(name=name, data=evil, packed=where == "files", digest=md5(evil), items=[(PROBE, evil)])
    if where == "files":
        (root / "3d" / "files.txt").write_bytes(zip_bytes([("files.txt", rel.list_text([entry] + rel.files,
                                                                                         rel.served))]))
    else:
        (root / "swf" / "clan_icons_list.txt").write_bytes(rel.list_text([entry] + rel.icons, rel.served))
    (root / "evil").write_bytes(rel.served(entry))
    rightful = ["/3d/files.txt", "/3d/files-large.txt", "/swf/clan_icons_list.txt", "/3d/patches.txt", "/3d/a.pak",
                "/swf/1.png"]
    rules = dict({p: {"mode": "normal"} for p in rightful}, **{"*": {"mode": "normal", "file": "evil"}})
    server = run_and_check(road, faulty, tmp_path, root, rules, ["a.pak"], rel.expected())
    assert sorted(server.paths()) == sorted(rightful)
