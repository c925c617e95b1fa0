"""The Windows distribution: the archive holds what a player needs, the
installer, run silently under Wine, installs a launcher that works, and both
are Authenticode-signed when a certificate is given."""
import os
import shutil
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from conftest import BUILD_WIN, LAUNCHER, ROOT, win_path


def run_package(keep, env=None):
    """Runs scripts/package.sh and keeps copies of what it made in `keep`."""
    r = subprocess.run(["bash", str(ROOT / "scripts" / "package.sh")], capture_output=True, text=True, cwd=ROOT,
                       env={**os.environ, **(env or {})})
    assert r.returncode == 0, r.stderr
    keep.mkdir()
    made = {}
    for line in r.stdout.splitlines():
        if line.startswith("package: "):
            p = Path(ROOT / line.split(": ", 1)[1])
            made[p.suffix] = Path(shutil.copy(p, keep))
    with zipfile.ZipFile(made[".zip"]) as z:
        (keep / LAUNCHER).write_bytes(z.read(LAUNCHER))
    made["launcher"] = keep / LAUNCHER
    return made


@pytest.fixture(scope="module")
def package(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("package")
    unsigned = run_package(tmp / "unsigned")
    # A throw-away self-signed code-signing certificate.
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=TervalisOnline2D test signing", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", str(tmp / "key.pem"), "-out", str(tmp / "cert.pem")], check=True, capture_output=True)
    signed = run_package(tmp / "signed", {"TVL_SIGN_CERT": str(tmp / "cert.pem"), "TVL_SIGN_KEY": str(tmp / "key.pem")})
    return {"unsigned": unsigned, "signed": signed, "cert": tmp / "cert.pem"}


def verify(exe, cert):
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(exe)], capture_output=True, text=True)
    return r.returncode == 0 and "Signature verification: ok" in r.stdout


def test_signing(package, tmp_path):
    # verify checks the file's digest against the signature and the signer
    # against the test certificate; it cannot tell whether Windows would trust
    # that certificate.
    cert = package["cert"]
    for exe in (package["signed"]["launcher"], package["signed"][".exe"]):
        assert verify(exe, cert), exe
    tampered = bytearray(package["signed"]["launcher"].read_bytes())
    tampered[len(tampered) // 3] ^= 1
    (tmp_path / "tampered.exe").write_bytes(tampered)
    assert not verify(tmp_path / "tampered.exe", cert)
    # Without a certificate nothing is signed and the launcher ships as built.
    for exe in (package["unsigned"]["launcher"], package["unsigned"][".exe"]):
        assert not verify(exe, cert), exe
    assert package["unsigned"]["launcher"].read_bytes() == (BUILD_WIN / "bin" / LAUNCHER).read_bytes()


def test_archive_contents(package):
    with zipfile.ZipFile(package["signed"][".zip"]) as z:
        names = set(z.namelist())
        ini = z.read("TervalisOnline2D.ini").decode("cp1251")
    assert "TervalisOnline2D.exe" in names
    for key in ("update_server", "update_path", "icons_server", "icons_path", "game_server", "game_port",
                "editor_port", "socks_server", "socks_port"):
        assert f"\r\n{key}=" in ini, key
    assert "\r\ncheck_index=1\r\n" in ini  # the sample trusts the index of verified files


def install(wine, setup, target):
    # /D= must come last and unquoted, even with blanks: spell the command line out.
    exe = win_path(setup)
    assert wine.run_spawn(exe, f'"{exe}" /S /D={win_path(target)}') == 0
    wine.wait_all()


def test_silent_install_gives_a_working_launcher(wine, package, tmp_path):
    target = tmp_path / "Installed Game"
    install(wine, package["signed"][".exe"], target)
    assert (target / LAUNCHER).read_bytes() == package["signed"]["launcher"].read_bytes()
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
    install(wine, package["signed"][".exe"], target)
    assert "update_server=mine" in (target / "TervalisOnline2D.ini").read_text()
