"""The launcher's window road end to end: the real TervalisOnline2D.exe under
Wine shows its splash window while the worker downloads from a server in the
test's network namespace; screenshots show the progress, xdotool drags the
window and presses its close box."""
import random
import subprocess
import sys
import time
from pathlib import Path

import pytest
from PIL import Image

from conftest import win_path
from splash_helpers import (BAR, FILE_LINE, SKIN, drag, expected_fill, fill_width, install_skins, press, region,
                            same, screenshot, wait_for)
from updates import FAULTY, Release, faulty, run_win, tree  # noqa: F401 (faulty is a fixture)

HERE = Path(__file__).resolve().parent
ORIGIN = (256, 184)  # the 512 x 400 sample skin centred on 1024 x 768
SLOW = "127.0.0.3"


@pytest.fixture
def www(tmp_path):
    d = tmp_path / "www"
    d.mkdir()
    return d


def settings(inst, host):
    inst.write_ini(update_server=host, icons_server=host, update_path="/3d/", icons_path="/swf/",
                   game_server="10.0.0.1")


def start(wine, inst):
    exe = win_path(inst.launcher)
    return wine.spawn(exe, f'"{exe}"'), f'"{exe}"'


def exit_code(proc, timeout=120):
    out, _ = proc.communicate(timeout=timeout)
    for line in out.decode(errors="replace").splitlines():
        if line.startswith("EXIT\t"):
            return int(line.split("\t")[1])
    raise AssertionError(f"no exit code: {out!r}")


@pytest.fixture
def stalled(netwine, win_install, faulty, www, xvfb):
    """The launcher with its window up, its one download stalled halfway."""
    inst = win_install()
    install_skins(inst, {"tervalis.png": SKIN.read_bytes()})
    rel = Release().add("data/big.pak", random.Random(3).randbytes(5000))
    size = len(rel.served(rel.files[0]))
    server = faulty(rel.publish(www))
    server.set_rules({"/3d/data/big.pak": {"mode": "stall", "keep": size // 2}})
    settings(inst, FAULTY)
    proc, _ = start(netwine, inst)
    fill = expected_fill(size // 2, size)
    shot = wait_for(lambda: (lambda s: s if fill_width(s, ORIGIN) == fill else None)(screenshot(xvfb)), 30)
    assert shot, f"the window never showed {size // 2} of {size} bytes"
    yield inst, proc, shot, fill
    if proc.poll() is None:
        proc.kill()


def test_stalled_download_shows_its_progress_and_file(stalled, xvfb):
    inst, proc, shot, fill = stalled
    skin = Image.open(SKIN).convert("RGB")
    # Centred at the skin's size, the skin's own pixels around the strips.
    assert same(region(shot, ORIGIN, (0, 30, 512, 300)), region(skin, (0, 0), (0, 30, 512, 300)))
    assert shot.getpixel(ORIGIN) == shot.getpixel((ORIGIN[0] - 1, ORIGIN[1]))  # see-through corner
    assert not same(region(shot, ORIGIN, FILE_LINE), region(skin, (0, 0), FILE_LINE))  # "data/big.pak"
    assert fill_width(shot, ORIGIN, row=BAR[3] - BAR[1] - 1) == fill


def test_press_outside_the_close_box_keeps_it_running_inside_ends_with_0(stalled, xvfb):
    inst, proc, _, _ = stalled
    press(xvfb, ORIGIN[0] + 485, ORIGIN[1] + 370)
    press(xvfb, ORIGIN[0] + 200, ORIGIN[1] + 100)
    time.sleep(1)
    assert proc.poll() is None
    press(xvfb, ORIGIN[0] + 490, ORIGIN[1] + 362)
    assert exit_code(proc, 30) == 0
    assert inst.game_runs() == []


def test_drag_then_close(stalled, xvfb):
    inst, proc, shot, fill = stalled
    drag(xvfb, (ORIGIN[0] + 100, ORIGIN[1] + 50), (ORIGIN[0] + 100 - 200, ORIGIN[1] + 50 + 150))
    moved = (ORIGIN[0] - 200, ORIGIN[1] + 150)
    after = wait_for(lambda: (lambda s: s if fill_width(s, moved) == fill else None)(screenshot(xvfb)), 10)
    assert after, "the window did not follow the pointer"
    assert same(region(after, moved, (0, 30, 512, 300)), region(shot, ORIGIN, (0, 30, 512, 300)))
    press(xvfb, moved[0] + 497, moved[1] + 370)
    assert exit_code(proc, 30) == 0


def test_closing_from_the_taskbar_ends_with_code_0(stalled, netwine):
    inst, proc, _, _ = stalled
    r = netwine.run([win_path(HERE.parents[1] / "build" / "win64" / "bin" / "splashtool.exe"), "close",
                     "TERVALIS3DUPDATER"])
    assert r.returncode == 0
    assert exit_code(proc, 30) == 0
    assert inst.game_runs() == []


@pytest.fixture
def slow_server(netns, www):
    """Factory: slow_server(root, rate) serves root on 127.0.0.3:80."""
    procs = []

    def start_server(root, rate):
        p = subprocess.Popen(netns.prefix() + [sys.executable, str(HERE / "slow_server.py"), str(root), SLOW,
                                               str(rate)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(p)
        for _ in range(100):
            r = subprocess.run(netns.prefix() + ["curl", "-s", "-o", "/dev/null", f"http://{SLOW}/"],
                               capture_output=True)
            if r.returncode == 0:
                return p
            time.sleep(0.05)
        raise RuntimeError("slow server did not start")

    yield start_server
    for p in procs:
        p.kill()
        p.wait()


def test_full_update_with_the_window_dragged_midway(netwine, win_install, slow_server, www, xvfb):
    rnd = random.Random(7)
    inst = win_install()
    install_skins(inst, {"tervalis.png": SKIN.read_bytes()})
    rel = Release()
    rel.add("data/a.bin", rnd.randbytes(700_000))
    rel.add("data/b.pak", rnd.randbytes(500_000))
    # Small to fetch, long to unpack, and last (no icons follow): the full
    # bar stays up meanwhile.
    rel.add("data/zeros.bin", b"\0" * 120_000_000)
    slow_server(rel.publish(www), 400_000)
    settings(inst, SLOW)

    proc, line = start(netwine, inst)
    fills, moved_at, origin = [], None, ORIGIN
    deadline = time.time() + 120
    while proc.poll() is None and time.time() < deadline:
        s = screenshot(xvfb)
        if s.getpixel((origin[0] + 497, origin[1] + 370)) == (240, 220, 220):  # the close box's cross
            fills.append(fill_width(s, origin))
            if moved_at is None and fills[-1] > 50:
                drag(xvfb, (origin[0] + 150, origin[1] + 60), (origin[0] + 150 + 60, origin[1] + 60 + 40))
                moved_at = len(fills)
                origin = (ORIGIN[0] + 60, ORIGIN[1] + 40)
        time.sleep(0.05)
    assert exit_code(proc, 60) == 0
    netwine.wait_all()

    assert moved_at is not None, f"the window was never dragged; fills {fills}"
    assert len(fills) > moved_at, "the window was not seen where it was dragged to"
    assert fills == sorted(fills), fills            # the bar only grows
    assert len(set(f for f in fills if 0 < f < 422)) >= 2, fills  # notifications kept coming
    assert fills[-1] == 422, fills                  # and it ended full
    runs = inst.wait_game_runs()
    assert [r["cmdline"] for r in runs] == [line + " /server=10.0.0.1 /port=3801"]
    got = tree(inst.path)
    for name, data in rel.expected().items():
        assert got.get(name) == data, (name, sorted(got))


def test_update_runs_without_any_skin(netwine, win_install, nginx, www):
    inst = win_install()
    install_skins(inst, {"notes.txt": b"no pictures here", "sub": None, "sub/x.png": SKIN.read_bytes()})
    rel = Release().add("data/a.bin", b"abc" * 1000)
    nginx(rel.publish(www))
    settings(inst, "127.0.0.1")
    assert run_win(netwine, inst).code == 0
    assert len(inst.wait_game_runs()) == 1
    assert (inst.path / "data" / "a.bin").read_bytes() == b"abc" * 1000
