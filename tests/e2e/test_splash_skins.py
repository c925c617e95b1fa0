"""Skin choice on a real file system under Wine: which files of data/updater
count as skins, in which order, and that the window shows the chosen one."""
from PIL import Image

from splash_helpers import Probe, install_skins, png_bytes, region, same, screenshot, wait_for


def picture(colour, size=(120, 90)):
    return Image.new("RGB", size, colour)


def test_list_in_byte_order_without_undecodable_files_or_subdirectories(wine, win_install):
    inst = win_install()
    install_skins(inst, {
        "a.png": png_bytes(picture((10, 0, 0))),
        "Z.png": png_bytes(picture((20, 0, 0))),
        "b.bmp": None,                                   # a directory named like an image
        "_.gif": None,
        "c.bmp": b"",                                    # empty
        "x.png": b"not a picture at all\n",              # named like one, isn't
        "notes.txt": b"hello",
        "sub/deeper.png": png_bytes(picture((30, 0, 0))),
        "\u0410.png": png_bytes(picture((40, 0, 0))),    # Cyrillic A: byte 0xC0 in the ANSI code page
        "a.png.bak": png_bytes(picture((50, 0, 0))),
        "noextension": png_bytes(picture((60, 0, 0))),
    })
    p = Probe(wine, inst.path)
    try:
        assert p.skins == ["data/updater\\Z.png", "data/updater\\a.png", "data/updater\\a.png.bak",
                           "data/updater\\noextension", "data/updater\\\u0410.png"]
        assert p.skin in p.skins
    finally:
        p.close()


def test_the_only_decodable_image_is_always_chosen_and_shown(wine, win_install, xvfb):
    inst = win_install()
    only = picture((70, 140, 210), (200, 150))
    install_skins(inst, {"only.jpg": png_bytes(only), "broken.png": b"\x89PNG\r\n\x1a\n broken",
                         "sub/other.png": png_bytes(picture((1, 2, 3), (200, 150)))})
    for _ in range(3):
        p = Probe(wine, inst.path)
        try:
            assert p.skins == ["data/updater\\only.jpg"]
            assert p.skin == "data/updater\\only.jpg"
            assert p.rect == ((1024 - 200) // 2, (768 - 150) // 2, 200, 150)
            p.sync()
            shot = wait_for(lambda: (lambda s: s if s.getpixel((p.origin[0] + 10, p.origin[1] + 10))
                                     == (70, 140, 210) else None)(screenshot(xvfb)), 5)
            assert shot
            assert same(region(shot, p.origin, (0, 0, 200, 150)), only)
        finally:
            p.close()


def test_no_skin_gives_no_picture(wine, win_install, xvfb):
    inst = win_install()
    install_skins(inst, {"readme.txt": b"x"})
    before = screenshot(xvfb)
    p = Probe(wine, inst.path)
    try:
        assert p.skins == [] and p.skin == ""
        # Still a window (the update runs behind it), but of no size: the
        # system's smallest captioned window is not forced on it.
        assert p.rect[2:] == (0, 0)
        p.show(file="data/x.pak", total=100, done=50)
        assert p.alive()
        assert same(screenshot(xvfb), before)
    finally:
        p.close()


def test_a_tiny_skin_keeps_its_size(wine, win_install, xvfb):
    inst = win_install()
    tiny = picture((90, 30, 160), (40, 12))
    install_skins(inst, {"tiny.png": png_bytes(tiny)})
    p = Probe(wine, inst.path)
    try:
        assert p.rect == (492, 378, 40, 12)
        p.sync()
        shot = wait_for(lambda: (lambda s: s if s.getpixel((500, 380)) == (90, 30, 160) else None)(
            screenshot(xvfb)), 5)
        assert shot
        assert same(region(shot, (492, 378), (0, 0, 40, 12)), tiny)
        assert shot.getpixel((532, 380)) != (90, 30, 160)
    finally:
        p.close()
