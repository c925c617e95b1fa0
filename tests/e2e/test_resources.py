"""What the executable carries: window title and class strings, the two 64 x 64
icons and the Russian language of its resources."""
from conftest import BUILD_WIN, LAUNCHER, win_path


def test_launcher_resources(wine):
    r = wine.run([wine.tool(), "res", win_path(BUILD_WIN / "bin" / LAUNCHER)])
    assert r.returncode == 0, r.stderr
    fields = dict(line.split("\t", 1) for line in r.stdout.decode().splitlines())
    assert fields["STR103"] == "TervalisUpdater3D"
    assert fields["STR109"] == "TERVALIS3DUPDATER"
    assert fields["ICON107"] == "64x64 32bpp"
    assert fields["ICON5"] == "64x64 32bpp"
    assert fields["LANG"] == "1049"
