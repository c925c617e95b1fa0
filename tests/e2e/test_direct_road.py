"""The direct road: with /disableupdate, /noserver, /editor or an empty
update_server the launcher starts the game at once with its own command line
plus the connection switches, and exits with code 0."""
import subprocess

import pytest

from conftest import win_path

SETTINGS = dict(update_server="127.0.0.1", game_server="10.1.2.3", game_port="4000", editor_port="5000")


def start(wine, inst, tail="", quoted=True, cwd=None):
    exe = win_path(inst.launcher)
    line = (f'"{exe}"' if quoted else exe) + tail
    code = wine.run_spawn(exe, line, cwd=cwd)
    wine.wait_all()
    return line, code


@pytest.mark.parametrize("switch,port", [
    (" /disableupdate", "4000"),
    (" /NoServer", "4000"),
    (" /editor", "5000"),
    (" /DISABLEUPDATE /x", "4000"),
    (" /EdItOr", "5000"),
    (" /name=a/noserver", "4000"),  # hidden inside another argument
])
def test_switch_takes_the_direct_road(wine, win_install, switch, port):
    inst = win_install()
    inst.write_ini(**SETTINGS)
    line, code = start(wine, inst, switch)
    assert code == 0
    runs = inst.game_runs()
    assert len(runs) == 1
    assert runs[0]["cmdline"] == line + f" /server=10.1.2.3 /port={port}"
    assert runs[0]["cwd"].rstrip("\\").lower() == win_path(inst.path).lower()


def test_empty_update_server_takes_the_direct_road(wine, win_install):
    inst = win_install()
    inst.write_ini(update_server="", game_server="g", socks_server="px", socks_port="1080")
    line, code = start(wine, inst, " /externlogin=Tervalis3D://token")
    assert code == 0
    assert [r["cmdline"] for r in inst.game_runs()] == [
        line + " /server=g /proxyServer=px /proxyPort=1080 /port=3801"]


def test_user_switches_win_over_settings(wine, win_install):
    inst = win_install()
    inst.write_ini(**SETTINGS, socks_server="px")
    line, code = start(wine, inst, " /noserver /SERVER=mine /proxyserver=p2 /port=1")
    assert code == 0
    assert [r["cmdline"] for r in inst.game_runs()] == [line + " /port=4000"]


def test_exit_code_is_zero_without_the_game(wine, win_install):
    inst = win_install(game=False)
    inst.write_ini(**SETTINGS)
    _, code = start(wine, inst, " /disableupdate")
    assert code == 0
    assert inst.game_runs() == []


def test_path_with_spaces_and_another_working_directory(wine, win_install, tmp_path):
    inst = win_install("Program Files/Tervalis Online")
    inst.write_ini(**SETTINGS)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    # A settings file in the caller's directory must not be read.
    (elsewhere / "TervalisOnline2D.ini").write_text("[Connection]\ngame_server=wrong\n")
    line, code = start(wine, inst, " /disableupdate", cwd=elsewhere)
    assert code == 0
    runs = inst.game_runs()
    assert [r["cmdline"] for r in runs] == [line + " /server=10.1.2.3 /port=4000"]
    assert runs[0]["cwd"].rstrip("\\").lower() == win_path(inst.path).lower()


def test_unquoted_start_passes_the_unquoted_path(wine, win_install):
    inst = win_install()
    inst.write_ini(**SETTINGS)
    line, code = start(wine, inst, " /editor", quoted=False)
    assert code == 0
    assert [r["cmdline"] for r in inst.game_runs()] == [line + " /server=10.1.2.3 /port=5000"]
    assert not line.startswith('"')


@pytest.mark.parametrize("length", [255, 259])
def test_long_executable_path(wine, win_install, tmp_path, length):
    # The executable's path no longer fits 255 characters but still fits the
    # system's limit for starting a program: the launcher must work.
    base = len(win_path(tmp_path / "x")) + len("\\") + len("\\TervalisOnline2D.exe")
    inst = win_install("x/" + "d" * (length - base))
    inst.write_ini(**SETTINGS)
    exe = win_path(inst.launcher)
    assert len(exe) == length
    line, code = start(wine, inst, " /disableupdate")
    assert code == 0
    runs = inst.game_runs()
    assert [r["cmdline"] for r in runs] == [line + " /server=10.1.2.3 /port=4000"]
    assert runs[0]["cwd"].rstrip("\\").lower() == win_path(inst.path).lower()


# ------------------------------------------------------------ POSIX build

def run_posix(inst, *args, cwd=None):
    r = subprocess.run([str(inst.launcher), *args], cwd=cwd or inst.path, capture_output=True, timeout=30)
    return r


def test_posix_direct_road(posix_install, tmp_path):
    inst = posix_install()
    inst.write_ini(**SETTINGS)
    r = run_posix(inst, "/Editor", "with space", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    runs = inst.wait_game_runs(1)
    assert len(runs) == 1
    assert runs[0]["cmdline"] == f'{inst.launcher} /Editor "with space" /server=10.1.2.3 /port=5000'
    assert runs[0]["cwd"] == str(inst.path)


def test_posix_exit_code_is_zero_without_the_game(posix_install):
    inst = posix_install(game=False)
    inst.write_ini(update_server="")
    assert run_posix(inst).returncode == 0
