"""Start-up before the decision: the URL scheme in the registry and the
system checks, with the real launcher under Wine (and the POSIX build's
stand-ins natively)."""
import os
import shutil
import subprocess

import pytest

from conftest import BUILD_WIN, win_path

TOOL = win_path(BUILD_WIN / "bin" / "splashtool.exe")
OLD_WINDOWS = ("Incorrect Windows version", "Your OS is too old. Needs Windows 98 or higher to run properly")
NO_DIRECTX = ("DirectX error",
              "Can't initialize DirectX 9.0, make sure that proper version installed to your system")


def registry(wine):
    """HKCR\\Tervalis3D as {key: {value: (type, size, bytes)}}, or None."""
    r = wine.run([TOOL, "regdump", "Tervalis3D"])
    if r.returncode == 1:
        return None
    assert r.returncode == 0, r
    out, key = {}, None
    for line in r.stdout.decode().splitlines():
        if line.startswith("KEY "):
            key = line[4:]
            out[key] = {}
        elif line.startswith("VALUE "):
            rest = line[6:]
            # "(default)" or a name that may hold blanks, then type size hex
            name, typ, size, data = rest.rsplit(" ", 3)
            out[key][name] = (int(typ), int(size), bytes.fromhex(data))
    return out


def expected_registry(path_bytes):
    command = path_bytes + b" /externlogin=%1\0"
    return {
        "Tervalis3D": {"URL Protocol": (1, 1, b"\0")},
        "Tervalis3D\\Shell": {"(default)": (1, 17, b"TervalisOnline2D\0")},
        "Tervalis3D\\Shell\\TervalisOnline2D": {},
        "Tervalis3D\\Shell\\TervalisOnline2D\\command": {"(default)": (1, len(command), command)},
    }


def start(wine, inst, line, env=None):
    code = wine.run_spawn(win_path(inst.launcher), line, env=env)
    wine.wait_all()
    return code


def test_quoted_start_registers_the_scheme(wine, win_install):
    inst = win_install("Games/T")
    inst.write_ini(update_server="127.0.0.1")
    exe = win_path(inst.launcher)
    assert start(wine, inst, f'"{exe}" /editor') == 0
    assert registry(wine) == expected_registry(exe.encode())
    assert len(inst.wait_game_runs()) == 1  # and the start went on as usual

    # Moved: the next start registers the new place.
    moved = win_install("Other Place")
    moved.write_ini(update_server="")
    exe2 = win_path(moved.launcher)
    assert start(wine, moved, f'"{exe2}"') == 0
    assert registry(wine) == expected_registry(exe2.encode())


@pytest.mark.parametrize("make_line", [
    lambda exe: f"{exe} /disableupdate",                          # unquoted
    lambda exe: f'"{exe} /disableupdate',                         # no closing quote
    lambda exe: f'{exe} /noserver /externlogin=tervalis3d://login/abc',  # a start through the scheme
    lambda exe: f' "{exe}" /disableupdate',                       # not the first character
])
def test_other_command_lines_write_nothing(wine, win_install, make_line):
    inst = win_install()
    inst.write_ini(update_server="127.0.0.1")
    assert start(wine, inst, make_line(win_path(inst.launcher))) == 0
    assert registry(wine) is None
    assert len(inst.wait_game_runs()) == 1


def test_two_quotes_register_an_empty_path(wine, win_install):
    inst = win_install()
    inst.write_ini(update_server="")
    assert start(wine, inst, '"" /x') == 0
    assert registry(wine) == expected_registry(b"")


def test_relative_quoted_path_is_registered_as_given(wine, win_install):
    inst = win_install()
    inst.write_ini(update_server="")
    code = wine.run_spawn(win_path(inst.launcher), '"game\\TervalisOnline2D.exe" /noserver',
                          cwd=inst.path.parent)
    wine.wait_all()
    assert code == 0
    assert registry(wine) == expected_registry(b"game\\TervalisOnline2D.exe")


# ------------------------------------------------------------ system checks

def set_version(wine, version):
    r = wine.run(["reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\TervalisOnline2D.exe", "/v", "Version",
                  "/t", "REG_SZ", "/d", version, "/f"])
    assert r.returncode == 0


def refuse_direct3d(inst):
    shutil.copy(BUILD_WIN / "bin" / "d3d9_refuse" / "d3d9.dll", inst.path / "d3d9.dll")
    return {"WINEDLLOVERRIDES": "mscoree,mshtml=;d3d9=n,b"}


def refused_start(wine, inst, env=None):
    """A quoted start that should be refused with one box and nothing else:
    returns (box, exit code, Wine's settings-file trace)."""
    env = dict(env or {})
    env["WINEDEBUG"] = "-all,+profile"
    exe = win_path(inst.launcher)
    job = wine.run_job(exe, f'"{exe}"', answers=[1], env=env)
    wine.wait_all()
    [box] = job.boxes
    return box, job.code, job.stderr


def assert_nothing_else_happened(wine, inst, trace):
    assert "TervalisOnline2D.ini" not in trace       # no setting read
    assert registry(wine) is None                     # no scheme registered
    assert not (inst.path / "data" / "update").exists()  # no Updater
    assert inst.game_runs() == []


@pytest.mark.parametrize("version", ["nt40", "win95"])
def test_old_windows_is_refused_before_anything_else(wine, win_install, version):
    inst = win_install()
    inst.write_ini(update_server="127.0.0.1")
    set_version(wine, version)
    box, code, trace = refused_start(wine, inst)
    assert box == OLD_WINDOWS
    assert code == 0
    assert_nothing_else_happened(wine, inst, trace)


def test_old_windows_box_wins_over_missing_direct3d(wine, win_install):
    inst = win_install()
    inst.write_ini(update_server="127.0.0.1")
    set_version(wine, "nt40")
    box, code, trace = refused_start(wine, inst, refuse_direct3d(inst))
    assert box == OLD_WINDOWS and code == 0


def test_missing_direct3d_is_refused_before_anything_else(wine, win_install):
    inst = win_install()
    inst.write_ini(update_server="127.0.0.1")
    box, code, trace = refused_start(wine, inst, refuse_direct3d(inst))
    assert box == NO_DIRECTX
    assert code == 0
    assert_nothing_else_happened(wine, inst, trace)


@pytest.mark.parametrize("version", ["win98", "winme", "win2k", "win10"])
def test_windows_98_and_later_pass(wine, win_install, version):
    inst = win_install()
    inst.write_ini(update_server="127.0.0.1")
    set_version(wine, version)
    env = {"WINEDEBUG": "-all,+profile"}
    exe = win_path(inst.launcher)
    job = wine.run_job(exe, f'"{exe}" /disableupdate', env=env)
    wine.wait_all()
    assert job.code == 0
    assert "TervalisOnline2D.ini" in job.stderr  # the trace sees settings reads
    assert len(inst.wait_game_runs()) == 1
    assert registry(wine) is not None


# ------------------------------------------------------------ POSIX build

def posix_env(tmp_path, display):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(XDG_DATA_HOME=str(tmp_path / "xdg-data"), XDG_CONFIG_HOME=str(tmp_path / "xdg-config"),
               HOME=str(tmp_path / "home"))
    if display:
        env["DISPLAY"] = display
    return env


def test_posix_registers_a_desktop_handler_in_a_graphical_session(posix_install, tmp_path):
    inst = posix_install()
    inst.write_ini(update_server="")
    cfg = tmp_path / "xdg-config"
    cfg.mkdir()
    (cfg / "mimeapps.list").write_text("[Default Applications]\ntext/html=firefox.desktop\n")
    r = subprocess.run([str(inst.launcher), "/editor"], cwd=tmp_path, env=posix_env(tmp_path, ":99"),
                       capture_output=True, timeout=60)
    assert r.returncode == 0
    entry = (tmp_path / "xdg-data" / "applications" / "tervalis3d-launcher.desktop").read_text()
    assert f"\nExec={inst.launcher} /externlogin=%u\n" in entry
    assert "\nMimeType=x-scheme-handler/tervalis3d;\n" in entry
    assert "\nName=TervalisOnline2D\n" in entry
    assert (cfg / "mimeapps.list").read_text() == (
        "[Default Applications]\ntext/html=firefox.desktop\n"
        "x-scheme-handler/tervalis3d=tervalis3d-launcher.desktop;\n")
    assert len(inst.wait_game_runs()) == 1


def test_posix_headless_start_writes_no_desktop_files(posix_install, tmp_path):
    inst = posix_install()
    inst.write_ini(update_server="")
    r = subprocess.run([str(inst.launcher)], cwd=tmp_path, env=posix_env(tmp_path, None), capture_output=True,
                       timeout=60)
    assert r.returncode == 0
    assert not (tmp_path / "xdg-data").exists() and not (tmp_path / "xdg-config").exists()
    assert len(inst.wait_game_runs()) == 1


def test_posix_game_that_needs_a_display_is_refused_without_one(posix_install, tmp_path):
    inst = posix_install(game=False)
    inst.write_ini(update_server="")
    log = inst.path / "graphical.log"
    game = inst.path / "TervalisOnline2D.bin"
    # A game linked against a graphics library (its image names it).
    game.write_text(f"#!/bin/sh\n# needs libGL.so.1\necho started >> {log}\n")
    game.chmod(0o755)
    r = subprocess.run([str(inst.launcher)], cwd=tmp_path, env=posix_env(tmp_path, None), capture_output=True,
                       timeout=60)
    assert r.returncode == 0
    assert f"[{NO_DIRECTX[0]}] {NO_DIRECTX[1]}" in r.stderr.decode()
    assert not log.exists()
    # With a display it starts.
    r = subprocess.run([str(inst.launcher)], cwd=tmp_path, env=posix_env(tmp_path, ":99"), capture_output=True,
                       timeout=60)
    assert r.returncode == 0
    import time
    for _ in range(100):
        if log.exists():
            break
        time.sleep(0.05)
    assert log.read_text() == "started\n"
