"""Tervalis3D links, with the launcher started the way the registered command
starts it (the path unquoted on Windows, the link as one argument on Linux,
"/externlogin=<link>" last): a link cannot keep the launcher from updating or
replace the switches the settings give, and reaches the game as one
argument."""
import subprocess

import pytest

from conftest import win_path
from updates import GAME_SWITCHES, SETTINGS, Release, road  # noqa: F401


def test_link_cannot_skip_the_update_or_choose_the_server(road, nginx, tmp_path):
    server = nginx(Release().add("a.pak", b"new").publish(tmp_path / "www"))
    inst = road.install()
    inst.write_ini(**SETTINGS)
    tail = " /externlogin=tervalis3d://join/DisableUpdate/server=6.6.6.6/Editor/noserver"
    run = road.run(inst, tail, quoted=False) if road.name == "win" else road.run(inst, tail)
    assert run.code == 0
    assert "/3d/files.txt" in server.requests()
    assert (inst.path / "a.pak").read_bytes() == b"new"
    # The configured server and the game port (not the editor's), after the
    # link as it came.
    assert [r["cmdline"] for r in inst.wait_game_runs()] == [run.command_line + GAME_SWITCHES]


# An unbalanced quote: left as it is, it would take the appended switches
# into the link's argument.
LINK = 'tervalis3d://join/a b"c /server=6.6.6.6'
ENCODED = "tervalis3d://join/a%20b%22c%20/server=6.6.6.6"


@pytest.mark.parametrize("platform", ["win", "posix"])
def test_link_with_blank_and_quote_is_one_encoded_argument(request, platform):
    inst = request.getfixturevalue(f"{platform}_install")()
    inst.write_ini(update_server="", game_server="g")
    if platform == "win":
        wine = request.getfixturevalue("wine")
        program = win_path(inst.launcher)
        assert wine.run_spawn(program, f"{program} /externlogin={LINK}") == 0
        wine.wait_all()
    else:
        program = str(inst.launcher)
        r = subprocess.run([program, "/externlogin=" + LINK], cwd=inst.path, capture_output=True, timeout=30)
        assert r.returncode == 0, r.stderr
    got = [r["cmdline"] for r in inst.wait_game_runs()]
    assert got == [f"{program} /externlogin={ENCODED} /server=g /port=3801"]
    assert got[0].split(" ") == [program, "/externlogin=" + ENCODED, "/server=g", "/port=3801"]
