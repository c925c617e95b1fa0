"""Signed releases through a cache and from mirrors, on real servers: one
nginx in the test's namespace is the origin (port 80), a proxy_cache in
front of it that holds everything for ten minutes whatever the origin says,
release.sig excepted (8080) or included (8081), and two mirrors (8082: the
current release, 8083: an older one). The real publisher writes each
release into the origin's folder."""
import contextlib
import random
import shutil
import subprocess
import time

import pytest

from conftest import Nginx
from publish_helpers import run_publish
from test_signed_release import FILE_CAPTION, KEY, REFUSED_CAPTION, ROLLBACK, make_road, write
from updates import ASK_TEXT, NO, OK, SETTINGS, tree

CACHED, CACHED_ALL = "http://127.0.0.1:8080", "http://127.0.0.1:8081"
MIRROR, OLD_MIRROR = "127.0.0.1:8082", "127.0.0.1:8083"
DOWN = "http://127.0.0.1:81"  # nothing listens there


def servers_conf(work, mirror, old_mirror):
    cached = ("proxy_pass http://127.0.0.1:80; proxy_cache tvl; proxy_cache_valid any 10m; "
              "proxy_ignore_headers Cache-Control Expires Set-Cookie X-Accel-Expires Vary;")
    return f"""
  proxy_cache_path {work}/cache keys_zone=tvl:1m inactive=1h;
  log_format asked '$request_uri pragma=$http_pragma cache-control=$http_cache_control';
  server {{ listen 127.0.0.1:8080; access_log {work}/cache.log asked;
    location / {{ {cached} }}
    location = /3d/release.sig {{ proxy_pass http://127.0.0.1:80; }} }}
  server {{ listen 127.0.0.1:8081; access_log {work}/cache.log; location / {{ {cached} }} }}
  server {{ listen 127.0.0.1:8082; access_log {work}/mirror.log; root {mirror}; }}
  server {{ listen 127.0.0.1:8083; access_log {work}/mirror.log; root {old_mirror}; }}
"""


class Releases:
    """Release n of a small game, published signed into the origin's folder."""

    def __init__(self, tmp):
        self.tmp, self.www = tmp, tmp / "www"
        self.src, self.icons = tmp / "release", tmp / "icons"

    @staticmethod
    def files(n):
        # a.pak does not compress: a slow server takes a while over it.
        return {"a.pak": random.Random(n).randbytes(200000), "data/b.dat": b"b data " * 300,
                "data/textures/7.png": b"icon %d" % n}

    def publish(self, n, *extra):
        for name, data in self.files(n).items():
            write(self.icons / "7.png" if name.endswith(".png") else self.src / name, data)
        r = run_publish(self.src, self.www / "3d", "--sign-key", KEY, "--icons", self.icons, "--icons-output",
                        self.www / "swf", "-q", *extra)
        assert r.returncode == 0, r.stderr
        return r

    def object_of(self, name):
        for line in (self.www / "3d" / "release.sig").read_text().split("\n")[4:]:
            f = line.split("\t")
            if len(f) == 4 and f[0] == "update" and f[3] == name:
                return self.www / "3d" / "objects" / f[2][:2] / f[2]
        raise KeyError(name)

    def mirror(self, name):
        """A copy of what the origin serves now, as a mirror holds it."""
        shutil.copytree(self.www, self.tmp / name, ignore=shutil.ignore_patterns(".publish-*"))


@contextlib.contextmanager
def origin(netns, rel, extra=""):
    for m in ("mirror", "old-mirror"):
        (rel.tmp / m).mkdir(exist_ok=True)
    server = Nginx(netns, rel.www, rel.tmp / "nginx", extra=extra,
                   http_extra=servers_conf(rel.tmp / "nginx", rel.tmp / "mirror", rel.tmp / "old-mirror"))
    try:
        yield server
    finally:
        server.stop()


def at_release(inst, n):
    files = tree(inst.path)
    return all(files.get(name) == data for name, data in Releases.files(n).items())


def settle(road, inst, **keys):
    """One launcher run that must end with the game started and no box."""
    inst.write_ini(**{**SETTINGS, **keys})
    run = road.run(inst)
    assert run.code == 0 and run.boxes == [], run.boxes
    return run


@pytest.mark.parametrize("road_name", ["posix", "win"])
def test_a_cache_hands_out_whole_releases(request, road_name, netns, tmp_path):
    road = make_road(request, road_name, signed=True)
    keyless = make_road(request, road_name, signed=False)
    rel = Releases(tmp_path)
    rel.publish(1)
    with origin(netns, rel):
        cached = dict(update_server=CACHED, icons_server=CACHED)
        warm, plain = road.install("warm"), keyless.install("plain")
        settle(road, warm, **cached)
        settle(keyless, plain, **cached)
        assert at_release(warm, 1) and at_release(plain, 1)
        # Objects go without the no-cache headers (a CDN may honour them);
        # everything else a launcher asks for keeps them.
        asked = (rel.tmp / "nginx" / "cache.log").read_text().splitlines()
        assert asked and all(("pragma=- cache-control=-" in line) == ("/objects/" in line) for line in asked
                             if road_name == "posix" or "/objects/" in line), asked
        # The cache that keeps release.sig too holds release 1's.
        subprocess.run(netns.prefix() + ["curl", "-sf", "-o", "/dev/null", CACHED_ALL + "/3d/release.sig"], check=True)

        rel.publish(2)
        fresh, stale = road.install("fresh"), road.install("stale")
        for inst in (warm, fresh):
            settle(road, inst, **cached)
            assert at_release(inst, 2), inst.path
        # A cached manifest gives its own release whole, never a mix.
        settle(road, stale, update_server=CACHED_ALL, icons_server=CACHED_ALL)
        assert at_release(stale, 1)
        # Without a key the cached lists still name release 1: nothing to do.
        settle(keyless, plain, **cached)
        assert at_release(plain, 1)


@pytest.mark.parametrize("road_name", ["posix", "win"])
def test_mirrors_stand_in_for_a_failing_server(request, road_name, netns, tmp_path):
    road = make_road(request, road_name, signed=True)
    rel = Releases(tmp_path)
    rel.publish(1)
    rel.mirror("old-mirror")
    rel.publish(2)
    rel.mirror("mirror")
    with origin(netns, rel):
        down = road.install("down")
        settle(road, down, update_server=DOWN, icons_server=DOWN, update_mirrors=MIRROR)
        assert at_release(down, 2)
        log = (down.path / "TervalisOnline2D.log").read_text(errors="replace")
        assert "from http://" + MIRROR in log

        # One object missing at the origin, another damaged: each comes from
        # the mirror, the rest from the origin.
        rel.object_of("a.pak").unlink()
        damaged = rel.object_of("data/b.dat")
        damaged.write_bytes(damaged.read_bytes()[:-1] + b"!")
        faulty = road.install("faulty")
        settle(road, faulty, update_mirrors=MIRROR)
        assert at_release(faulty, 2)

        # The origin down and the only mirror behind what was installed.
        down.write_ini(**{**SETTINGS, "update_server": DOWN, "icons_server": DOWN, "update_mirrors": OLD_MIRROR})
        before = tree(down.path)
        run = road.run(down, answers=[OK, NO])
        assert [tuple(b) for b in run.boxes] == [(REFUSED_CAPTION, ROLLBACK), (FILE_CAPTION, ASK_TEXT)]
        assert run.code == -1
        assert tree(down.path) == before


@pytest.mark.parametrize("road_name", ["posix", "win"])
def test_a_launcher_that_read_the_previous_manifest_completes(request, road_name, netns, tmp_path):
    # Release 3 is published while the launcher, holding release 2's
    # manifest, is still on its first file: the objects it fetches after
    # that are release 2's, kept for it.
    road = make_road(request, road_name, signed=True)
    rel = Releases(tmp_path)
    rel.publish(1)
    rel.publish(2)
    with origin(netns, rel, extra="limit_rate 40k;"):
        inst = road.install()
        inst.write_ini(**SETTINGS)
        proc = road.start(inst)
        staging = inst.path / "data" / "update"

        def receiving():  # a transfer's staging file is there (Windows writes its bytes late)
            return staging.exists() and any(p.name != "release.txt" for p in staging.iterdir())

        while not receiving():
            assert proc.poll() is None, "the launcher ended before its first file"
            time.sleep(0.01)
        rel.publish(3)
        assert proc.wait(timeout=60) == 0
        assert at_release(inst, 2)
