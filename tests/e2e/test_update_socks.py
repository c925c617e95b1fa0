"""The SOCKS road. Wine's WinINet ignores a "socks=" proxy and connects
directly, so the Windows request arguments are proved by the unit tests of
the WinINet transport; here the POSIX build goes through a real SOCKS
server (dante) on loopback."""
from updates import NO, SETTINGS, PosixRoad, Release, socks  # noqa: F401

import pytest


@pytest.fixture
def posix_road(netns, posix_install):
    return PosixRoad(netns, posix_install)


def publish(nginx, tmp_path):
    rel = Release().add("a.pak", b"A" * 5000).icon("1.png", b"icon")
    return rel, nginx(rel.publish(tmp_path / "www"))


def test_downloads_go_through_the_proxy(posix_road, nginx, socks, tmp_path):
    rel, server = publish(nginx, tmp_path)
    inst = posix_road.install()
    inst.write_ini(**SETTINGS, socks_server="127.0.0.1", socks_port="1080")
    run = posix_road.run(inst)
    assert run.code == 0
    assert (inst.path / "a.pak").read_bytes() == b"A" * 5000
    # One relayed connection per request: three lists (one absent), two files.
    assert len(socks.relayed()) == 5
    # The game hears of the proxy too.
    [game] = inst.wait_game_runs()
    assert " /proxyServer=127.0.0.1 /proxyPort=1080" in game["cmdline"]


def test_no_proxy_without_socks_server(posix_road, nginx, socks, tmp_path):
    # Even with the environment pointing every protocol at the proxy.
    rel, server = publish(nginx, tmp_path)
    inst = posix_road.install()
    inst.write_ini(**SETTINGS, socks_server="", socks_port="1080")
    proxy = "socks4://127.0.0.1:1080"
    env = {k: proxy for k in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY")}
    run = posix_road.run(inst, env=env)
    assert run.code == 0
    assert (inst.path / "a.pak").read_bytes() == b"A" * 5000
    assert socks.relayed() == []
    assert len(server.requests()) == 6  # the fixture's probe, three lists (one absent), two files


def test_unreachable_proxy_is_a_failed_transfer(posix_road, nginx, tmp_path):
    # Nothing listens on the proxy port: the list cannot be fetched, although
    # the server itself is reachable, so the proxy is really in the way.
    rel, server = publish(nginx, tmp_path)
    inst = posix_road.install()
    inst.write_ini(**SETTINGS, socks_server="127.0.0.1", socks_port="1081")
    run = posix_road.run(inst, answers=[NO])
    assert run.boxes[0][0] == "Error downloading file"
    assert run.code == -1
    assert len(server.requests()) == 1
