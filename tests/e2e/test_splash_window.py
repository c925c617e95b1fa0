"""The splash window on the screen: the real window code, driven through the
splashtool probe (which plays the worker: sets progress, posts WM_USER), with
pixel checks on screenshots of the Xvfb screen and mouse input by xdotool."""
import time

import pytest
from PIL import Image

from splash_helpers import (BAR, FILE_LINE, MAGENTA, RED, SKIN, TEXT, Probe, drag, fill_width,
                            install_skins, png_bytes, press, region, same, screenshot, wait_for)

GiB = 1 << 30


@pytest.fixture
def probe(wine, win_install):
    """The probe over the sample skin in a fresh install."""
    inst = win_install()
    install_skins(inst, {"tervalis.png": SKIN.read_bytes()})
    p = Probe(wine, inst.path)
    yield p
    p.close()


def test_window_centred_at_the_skin_size_with_see_through_magenta(wine, win_install, xvfb):
    before = screenshot(xvfb)
    inst = win_install()
    skin = Image.new("RGB", (300, 200), (30, 60, 90))
    for x in range(300):
        skin.putpixel((x, 0), MAGENTA)          # top row see-through
    skin.paste(MAGENTA, (100, 80, 140, 120))   # and a hole in the middle
    skin.putpixel((5, 5), (254, 0, 255))       # one step off magenta: opaque
    install_skins(inst, {"s.png": png_bytes(skin)})
    p = Probe(wine, inst.path)
    try:
        # 1024 x 768 screen: ((1024 - 300) / 2, (768 - 200) / 2).
        assert p.rect == (362, 284, 300, 200)
        p.sync()
        shot = wait_for(lambda: (lambda s: s if s.getpixel((362 + 50, 284 + 50)) == (30, 60, 90) else None)(
            screenshot(xvfb)))
        assert shot, "the skin never appeared"
        x0, y0 = 362, 284
        for x in range(0, 300, 7):
            for y in range(1, 200, 9):
                want = skin.getpixel((x, y))
                got = shot.getpixel((x0 + x, y0 + y))
                if want == MAGENTA:
                    assert got == before.getpixel((x0 + x, y0 + y)), (x, y)
                else:
                    assert got == want, (x, y)
        for x in range(300):
            assert shot.getpixel((x0 + x, y0)) == before.getpixel((x0 + x, y0))
        assert shot.getpixel((x0 + 5, y0 + 5)) == (254, 0, 255)
        # Just outside the window: untouched.
        assert shot.getpixel((x0 - 1, y0 + 50)) == before.getpixel((x0 - 1, y0 + 50))
        assert shot.getpixel((x0 + 300, y0 + 50)) == before.getpixel((x0 + 300, y0 + 50))
    finally:
        p.close()


@pytest.mark.parametrize("done,total,fill", [
    (0, 1000, 0),
    (500, 1000, 211),
    (1023, 1024, 421),
    (1536000, 4096000, 158),
    (5000, 4000, 422),          # more than listed: a full bar, no further
    (0, 30 * GiB, 0),           # an update of 30 GiB: start, middle, end
    (10 * GiB, 30 * GiB, 140),
    (30 * GiB, 30 * GiB, 422),
])
def test_bar_fill_width(probe, xvfb, done, total, fill):
    probe.show(file="data/maps/world.pak", total=total, done=done)
    shot = wait_for(lambda: (lambda s: s if fill_width(s, probe.origin) == fill else None)(screenshot(xvfb)), 5)
    assert shot, f"fill {fill_width(screenshot(xvfb), probe.origin)}, want {fill}"
    x0, y0 = probe.origin
    # Red fills the bar's whole height, and stops at the fill.
    for y in range(BAR[1], BAR[3]):
        if fill:
            assert shot.getpixel((x0 + BAR[0], y0 + y)) == RED
        assert shot.getpixel((x0 + BAR[0] + fill, y0 + y)) != RED
    # Nothing red left of the bar or below it.
    assert shot.getpixel((x0 + BAR[0] - 1, y0 + 365)) != RED
    assert shot.getpixel((x0 + BAR[0] + 5, y0 + BAR[3])) != RED


def text_columns(img, origin, box):
    """Columns of box that hold a pixel of the text colour."""
    x0, y0 = origin
    cols = [x for x in range(box[0], box[2]) if any(img.getpixel((x0 + x, y0 + y)) == TEXT
                                                     for y in range(box[1], box[3]))]
    return cols


def test_amounts_text_centred_on_238_and_absent_without_total(probe, xvfb):
    probe.show(file="a", total=4096000, done=1536000)   # "1500 / 4000 kb"
    shot = screenshot(xvfb)
    cols = text_columns(shot, probe.origin, BAR)
    assert cols, "no amounts text"
    assert abs((cols[0] + cols[-1] + 1) / 2 - 238) <= 2, (cols[0], cols[-1])
    assert cols[-1] - cols[0] > 40

    # With the total back at 0 the bar area keeps what it showed.
    bare = region(screenshot(xvfb), probe.origin, BAR)
    probe.show(file="other.pak", total=0)
    shot = screenshot(xvfb)
    assert same(region(shot, probe.origin, BAR), bare)


def test_amounts_of_30_gib_fit_the_bar(probe, xvfb):
    probe.show(file="a", total=30 * GiB, done=15 * GiB)   # "15360 / 30720 MB"
    cols = text_columns(screenshot(xvfb), probe.origin, BAR)  # clipped to the bar: an edge hit means cut
    assert cols, "no amounts text"
    assert abs((cols[0] + cols[-1] + 1) / 2 - 238) <= 2, (cols[0], cols[-1])
    assert BAR[0] < cols[0] and cols[-1] < BAR[2] - 1 and cols[-1] - cols[0] > 60, (cols[0], cols[-1])


def test_file_line_names_the_file_and_says_checking_for_the_lists(probe, xvfb):
    def line_after(name):
        _, _, _, _, cursor = probe.show(file=name)
        return region(screenshot(xvfb), probe.origin, FILE_LINE), cursor

    skin_line = region(Image.open(SKIN).convert("RGB"), (0, 0), FILE_LINE)
    empty, cursor = line_after("")
    assert same(empty, skin_line) and cursor == "arrow"
    named, cursor = line_after("data/maps/world.pak")
    assert not same(named, skin_line) and cursor == "arrow"
    assert text_columns(screenshot(xvfb), probe.origin, FILE_LINE)[0] in (30, 31)
    # A file really called so is shown as it is: the reference picture.
    checking, cursor = line_after("checking update...")
    assert cursor == "arrow"
    for name in ("files.txt", "FILES.TXT", "Clan_Icons_List.txt", "clan_icons_list.txt"):
        got, cursor = line_after(name)
        assert same(got, checking), name
        assert cursor == "busy", name
    got, cursor = line_after("data/files.txt")
    assert not same(got, checking) and cursor == "arrow"
    # Each paint starts from the clean skin: a shorter name leaves no rest.
    line_after("a very long file name that covers much of the line.pak")
    short, _ = line_after("x")
    empty_again, _ = line_after("")
    assert same(empty_again, skin_line)
    assert not same(short, empty_again)


def test_drag_moves_the_window_by_the_pointer_distance(probe, xvfb):
    x, y, w, h, _ = probe.sync()
    drag(xvfb, (x + 100, y + 50), (x + 100 + 137, y + 50 - 61))
    assert wait_for(lambda: probe.sync()[:2] == (x + 137, y - 61), 5), probe.sync()
    # Moving without a button does not move it.
    from splash_helpers import xdotool
    xdotool(xvfb, "mousemove", str(x + 137 + 20), str(y - 61 + 20))
    time.sleep(0.3)
    assert probe.sync()[:2] == (x + 137, y - 61)
    # The picture moved with it.
    shot = screenshot(xvfb)
    assert same(region(shot, (x + 137, y - 61), (100, 100, 200, 150)),
                region(Image.open(SKIN).convert("RGB"), (0, 0), (100, 100, 200, 150)))


def test_drag_keeps_working_while_notifications_flood_in(probe, xvfb):
    # A fast download posts a notification for every 8 KiB chunk, tens of
    # thousands a second; the window must follow the mouse while they come.
    x, y, _, _, _ = probe.show(file="data/big.pak", total=100000000, done=1000)
    probe.send("stream 50000")
    _, _, before = wait_for(lambda: (lambda w: w if w[2] else None)(probe.where()), 5)
    drag(xvfb, (x + 100, y + 50), (x + 140, y + 90))
    moved = wait_for(lambda: (lambda w: w if w[:2] == (x + 40, y + 40) else None)(probe.where()), 20)
    assert moved, probe.where()
    # Notifications kept coming during the drag and after the move.
    assert moved[2] > before
    assert wait_for(lambda: probe.where()[2] > moved[2], 5)
    probe.send("stop")
    probe._line("STOPPED")
    assert probe.sync()[:2] == (x + 40, y + 40)


@pytest.mark.parametrize("point", [(486, 359), (508, 381), (497, 370)])
def test_press_in_the_close_box_ends_with_code_0(probe, xvfb, point):
    x, y, _, _, _ = probe.show(file="data/big.pak", total=1000, done=10)
    press(xvfb, x + point[0], y + point[1])
    assert probe.wait(20) == 0


@pytest.mark.parametrize("point", [(485, 359), (509, 370), (490, 358), (490, 382), (100, 50)])
def test_press_outside_the_close_box_does_not_end(probe, xvfb, point):
    x, y, _, _, _ = probe.sync()
    press(xvfb, x + point[0], y + point[1])
    time.sleep(0.5)
    assert probe.alive()
    assert probe.sync()[:2] == (x, y)


def test_skin_missing_or_replaced_at_paint_time(wine, win_install, xvfb):
    inst = win_install()
    d = install_skins(inst, {"tervalis.png": SKIN.read_bytes()})
    p = Probe(wine, inst.path)
    try:
        p.show(file="first.pak", total=1000, done=500)
        first = screenshot(xvfb)
        assert fill_width(first, p.origin) == 211
        # The update is replacing the skin: nothing to draw on, the strips
        # stay as they were.
        (d / "tervalis.png").rename(d / "away.png")
        p.show(file="second.pak", total=1000, done=1000)
        shot = screenshot(xvfb)
        assert same(region(shot, p.origin, BAR), region(first, p.origin, BAR))
        assert same(region(shot, p.origin, FILE_LINE), region(first, p.origin, FILE_LINE))
        # A new picture in its place is drawn from the next paint on.
        new = Image.open(SKIN).convert("RGB")
        new.paste((0, 90, 0), (0, 330, 512, 390))
        (d / "tervalis.png").write_bytes(png_bytes(new))
        p.show(file="", total=1000, done=0)
        shot = screenshot(xvfb)
        assert same(region(shot, p.origin, FILE_LINE), region(new, (0, 0), FILE_LINE))
        assert shot.getpixel((p.origin[0] + 200, p.origin[1] + 365)) == (0, 90, 0)
    finally:
        p.close()


def test_started_minimised_the_window_is_shown_restored(wine, win_install, xvfb):
    inst = win_install()
    install_skins(inst, {"tervalis.png": SKIN.read_bytes()})
    p = Probe(wine, inst.path, show=2)  # SW_SHOWMINIMIZED
    try:
        x, y, w, h, _ = p.sync()
        assert p.state == "shown"
        assert (x, y, w, h) == (256, 184, 512, 400)
        shot = screenshot(xvfb)
        assert same(region(shot, (x, y), (0, 30, 512, 300)),
                    region(Image.open(SKIN).convert("RGB"), (0, 0), (0, 30, 512, 300)))
    finally:
        p.close()


def test_system_close_destroys_the_window_and_quits_with_0(probe, wine):
    from conftest import BUILD_WIN, win_path
    probe.sync()
    r = wine.run([win_path(BUILD_WIN / "bin" / "splashtool.exe"), "close", "TERVALIS3DUPDATER"])
    assert r.returncode == 0
    assert probe._line("QUIT") == "QUIT 0"
    assert probe.wait(20) == 0
