"""The Windows distribution: the archive holds what a player needs, and the
installer, run silently under Wine, installs a launcher that works."""
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from conftest import ROOT, win_path


@pytest.fixture(scope="module")
def package():
    r = subprocess.run(["bash", str(ROOT / "scripts" / "package.sh")], capture_output=True, text=True, cwd=ROOT)
    assert r.returncode == 0, r.stderr
    made = [Path(ROOT / line.split(": ", 1)[1]) for line in r.stdout.splitlines() if line.startswith("package: ")]
    return {p.suffix: p for p in made}


def test_archive_contents(package):
    with zipfile.ZipFile(package[".zip"]) as z:
        names = set(z.namelist())
        ini = z.read("TervalisOnline2D.ini").decode("cp1251")
    assert "TervalisOnline2D.exe" in names
    for key in ("update_server", "update_path", "icons_server", "icons_path", "game_server", "game_port",
                "editor_port", "socks_server", "socks_port"):
        assert f"\r\n{key}=" in ini, key


def install(wine, setup, target):
    # /D= must come last and unquoted, even with blanks: spell the command line out.
    exe = win_path(setup)
    assert wine.run_spawn(exe, f'"{exe}" /S /D={win_path(target)}') == 0
    wine.wait_all()


def test_silent_install_gives_a_working_launcher(wine, package, tmp_path):
    target = tmp_path / "Installed Game"
    install(wine, package[".exe"], target)
    assert (target / "TervalisOnline2D.exe").is_file()
    assert (target / "TervalisOnline2D.ini").is_file()
    assert (target / "Uninstall.exe").is_file()
    assert (target / "data" / "update").is_dir()
    # The installed launcher takes the direct road and starts the game.
    stub = ROOT / "build" / "win64" / "bin" / "stub_game.exe"
    (target / "TervalisOnline2D.bin").write_bytes(stub.read_bytes())
    exe = win_path(target / "TervalisOnline2D.exe")
    code = wine.run_spawn(exe, f'"{exe}" /disableupdate')
    wine.wait_all()
    assert code == 0
    # The launcher does not wait for the game: give its log a moment.
    log_file = target / "stub_game.log"
    deadline = time.time() + 15
    while not log_file.exists() and time.time() < deadline:
        time.sleep(0.1)
    log = log_file.read_text()
    assert f'CMDLINE "{exe}" /disableupdate /server=' in log

    # A changed settings file survives a reinstall.
    (target / "TervalisOnline2D.ini").write_text("[Connection]\r\nupdate_server=mine\r\n")
    install(wine, package[".exe"], target)
    assert "update_server=mine" in (target / "TervalisOnline2D.ini").read_text()
