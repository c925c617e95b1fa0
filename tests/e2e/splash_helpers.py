"""Helpers for the splash-window tests: screenshots of the Xvfb screen, mouse
input through xdotool, and the splashtool probe, which opens the real splash
window (the product's code) with an Updater whose progress the test sets and
announces itself, as the download code would."""
import io
import os
import struct
import subprocess
import time
from pathlib import Path

from PIL import Image

from conftest import BUILD_WIN, ROOT, win_path

SKIN = ROOT / "res" / "skin" / "tervalis.png"
RED = (200, 10, 20)
TEXT = (200, 200, 200)
MAGENTA = (255, 0, 255)
BAR = (27, 361, 449, 375)       # left, top, right, bottom (exclusive)
FILE_LINE = (30, 345, 452, 361)
CLOSE_BOX = (486, 359, 509, 382)


def screenshot(display):
    png = subprocess.run(["import", "-display", display, "-window", "root", "png:-"], capture_output=True,
                         check=True).stdout
    return Image.open(io.BytesIO(png)).convert("RGB")


def region(img, origin, box):
    x, y = origin
    return img.crop((x + box[0], y + box[1], x + box[2], y + box[3]))


def same(a, b):
    return a.size == b.size and a.tobytes() == b.tobytes()


def wait_for(check, timeout=10.0, step=0.1):
    """check() until it returns something true; returns that, or the last
    value after the timeout."""
    deadline = time.time() + timeout
    while True:
        got = check()
        if got or time.time() > deadline:
            return got
        time.sleep(step)


def xdotool(display, *args):
    subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display), check=True)


def press(display, x, y):
    xdotool(display, "mousemove", str(x), str(y))
    time.sleep(0.1)
    xdotool(display, "mousedown", "1")
    time.sleep(0.1)
    xdotool(display, "mouseup", "1")


def drag(display, start, end, steps=4):
    xdotool(display, "mousemove", str(start[0]), str(start[1]))
    time.sleep(0.1)
    xdotool(display, "mousedown", "1")
    time.sleep(0.1)
    for i in range(1, steps + 1):
        x = start[0] + (end[0] - start[0]) * i // steps
        y = start[1] + (end[1] - start[1]) * i // steps
        xdotool(display, "mousemove", str(x), str(y))
        time.sleep(0.1)
    xdotool(display, "mouseup", "1")
    time.sleep(0.1)


def fill_width(img, origin, row=0):
    """Red pixels from the bar's left edge along one of its rows."""
    x0, y = origin[0] + BAR[0], origin[1] + BAR[1] + row
    n = 0
    while n < BAR[2] - BAR[0] and img.getpixel((x0 + n, y)) == RED:
        n += 1
    return n


def expected_fill(done, total):
    """The bar's fill for done of total: the fraction in single precision
    times 422, truncated, capped at 422."""
    fraction = struct.unpack("f", struct.pack("f", done / total))[0]
    return min(422, int(fraction * 422.0))


def install_skins(inst, skins):
    """skins: name -> bytes, or name -> None for a directory, in data/updater."""
    d = Path(inst.path) / "data" / "updater"
    d.mkdir(parents=True, exist_ok=True)
    for name, data in skins.items():
        if data is None:
            (d / name).mkdir(parents=True, exist_ok=True)
        else:
            (d / name).parent.mkdir(parents=True, exist_ok=True)
            (d / name).write_bytes(data)
    return d


def png_bytes(img):
    buf = io.BytesIO()
    img.save(buf, "PNG")
    return buf.getvalue()


class Probe:
    """splashtool probe in an install folder."""

    def __init__(self, wine, cwd, show=None):
        args = [win_path(BUILD_WIN / "bin" / "splashtool.exe"), "probe"] + ([str(show)] if show is not None else [])
        self.proc = wine.popen(args, cwd=cwd,
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        listed = self._line("SKINS")[6:]
        self.skins = listed.split("|") if listed else []
        self.skin = self._line("SKIN")[5:]
        w = self._line("WINDOW").split()
        self.rect = tuple(int(v) for v in w[1:5])
        self.origin = self.rect[:2]

    def _line(self, tag):
        line = self.proc.stdout.readline().decode("cp1251").rstrip("\r\n")
        assert line.startswith(tag), f"expected {tag}, got {line!r}"
        return line

    def send(self, *commands):
        for c in commands:
            self.proc.stdin.write((c + "\n").encode("cp1251"))
        self.proc.stdin.flush()

    def sync(self):
        """Waits until every notification posted so far has been painted;
        returns (left, top, width, height, cursor)."""
        self.send("sync")
        f = self._line("SYNC").split()
        self.state = f[7]  # shown, iconic or hidden
        # The window's pixels reach the X server on Wine's next flush.
        time.sleep(0.15)
        return tuple(int(v) for v in f[1:5]) + (f[5],)

    def where(self):
        """(left, top, notifications streamed so far), answered at once
        however busy the window is."""
        self.send("where")
        return tuple(int(v) for v in self._line("WHERE").split()[1:4])

    def show(self, file=None, total=None, done=None):
        if file is not None:
            self.send("file " + file)
        if total is not None:
            self.send(f"total {total}")
        if done is not None:
            self.send(f"done {done}")
        self.send("post")
        return self.sync()

    def alive(self):
        return self.proc.poll() is None

    def wait(self, timeout=20):
        return self.proc.wait(timeout=timeout)

    def close(self):
        if self.alive():
            try:
                self.send("quit")
                self.proc.wait(timeout=10)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
