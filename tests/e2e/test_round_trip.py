"""Publisher and launcher together: a release published with tervalis-publish
and served by nginx ends, byte for byte, in an empty install updated by the
real launcher, and the progress total matches what was received."""

import pytest

from conftest import win_path
from publish_helpers import run_publish

FILES = {
    "game.cfg": b"[game]\r\nversion=1\r\n",
    "data/maps/a b.map": b"castle " * 5000,
    "data/packs/noise.pak": bytes(range(256)) * 4000,
    "data/empty.txt": b"",
    "Scripts/Deep Er/x.lua": b"print(1)",
}
ICONS = {"clan_001.png": b"\x89PNG one", "clans/2.png": b"\x89PNG two"}


def write(root, files):
    for name, data in files.items():
        p = root / name
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)


@pytest.fixture
def served(tmp_path, nginx):
    write(tmp_path / "release", FILES)
    write(tmp_path / "icons", ICONS)
    www = tmp_path / "www"
    r = run_publish(tmp_path / "release", www / "3d", "--icons", tmp_path / "icons", "--icons-output", www / "swf")
    assert r.returncode == 0, r.stderr
    return nginx(www)


def test_empty_install_ends_identical_to_the_release(netwine, win_install, served):
    inst = win_install()
    inst.write_ini(update_server="127.0.0.1", icons_server="127.0.0.1", game_server="g")
    exe = win_path(inst.launcher)
    code = netwine.run_spawn(exe, f'"{exe}"')
    netwine.wait_all()
    assert code == 0
    for name, data in FILES.items():
        assert (inst.path / name).read_bytes() == data, name
    for name, data in ICONS.items():
        assert (inst.path / "data" / "textures" / name).read_bytes() == data, name
    assert len(inst.game_runs()) == 1
    # A second start finds everything current and fetches only the lists,
    # and the empty file, which has no digest to compare and is always fetched.
    before = len(served.requests())
    code = netwine.run_spawn(exe, f'"{exe}"')
    netwine.wait_all()
    assert code == 0
    assert served.requests()[before:] == ["/3d/files.txt", "/3d/files-large.txt", "/swf/clan_icons_list.txt",
                                           "/3d/data/empty.txt"]
    assert len(inst.game_runs()) == 2
