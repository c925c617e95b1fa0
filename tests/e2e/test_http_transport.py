"""The two real transports (WinINet under Wine, libcurl natively) driven by
httptool against the faulty server, which logs every request: what resuming
and concurrent fetching need of them. Also the server's own faults, which
the update tests build on."""
import os
import subprocess
import sys

import pytest

from conftest import BUILD_NATIVE, BUILD_WIN, ROOT, win_path
from updates import FAULTY, FaultyServer

SIZE = 300000


class Tool:
    """httptool on one road; get() returns (heads, ends) as lists of dicts."""

    def __init__(self, ns, wine=None, host=FAULTY):
        self.ns, self.wine, self.host = ns, wine, host

    def get(self, path, *opts, out=None):
        opts = list(opts) + ([f"out={win_path(out) if self.wine else out}"] if out else [])
        if self.wine:
            r = self.wine.run([str(BUILD_WIN / "bin" / "httptool.exe"), self.host, path, *opts])
        else:
            r = subprocess.run(self.ns.prefix() + [str(BUILD_NATIVE / "bin" / "httptool"), self.host, path, *opts],
                               capture_output=True, timeout=120)
        assert r.returncode == 0, r.stderr
        heads, ends = [], []
        for line in r.stdout.decode().splitlines():
            kind, thread, n, *fields = line.split("\t")
            row = dict(f.split("=", 1) for f in fields)
            (heads if kind == "HEAD" else ends).append(row)
        return heads, ends


@pytest.fixture(params=["win", "posix"])
def tool(request, netns):
    if request.param == "win":
        return Tool(netns, request.getfixturevalue("netwine"))
    return Tool(netns)


@pytest.fixture
def server(netns, tmp_path):
    www = tmp_path / "www"
    (www / "d").mkdir(parents=True)
    (www / "d" / "big.bin").write_bytes(os.urandom(SIZE))
    (www / "d" / "new.bin").write_bytes(os.urandom(SIZE))
    s = FaultyServer(netns, www, tmp_path / "faulty", keepalive=True)
    yield s
    s.stop()


def test_ranges_and_validators(tool, server, tmp_path):
    data = (server.root / "d" / "big.bin").read_bytes()
    [whole], [end] = tool.get("/d/big.bin")
    assert (whole["status"], whole["length"], end["bytes"]) == ("200", str(SIZE), str(SIZE))
    etag, modified = whole["etag"], whole["modified"]
    assert etag.startswith('"') and modified.endswith("GMT")

    # Guarded by either validator, the tail comes as a 206.
    for validator in (etag, modified):
        [part], [end] = tool.get("/d/big.bin", "from=123456", f"if-range={validator}", out=tmp_path / "tail")
        assert (part["status"], part["range"], part["length"]) == ("206", f"123456-{SIZE - 1}/{SIZE}",
                                                                   str(SIZE - 123456))
        assert end["outcome"] == "ended" and (tmp_path / "tail").read_bytes() == data[123456:]
    # A validator the file no longer has: the whole file.
    [again], [end] = tool.get("/d/big.bin", "from=123456", 'if-range="stale"')
    assert (again["status"], again["range"], end["bytes"]) == ("200", "", str(SIZE))

    sent = [r["headers"] for r in server.requests()[-3:]]
    assert [h.get("range") for h in sent] == ["bytes=123456-"] * 3
    assert [h.get("if-range") for h in sent] == [etag, modified, '"stale"']
    assert "range" not in server.requests()[1]["headers"]  # a whole fetch asks for no range


def test_reset_mid_body_keeps_what_arrived(tool, server, tmp_path):
    # What was read before the reset reaches the sink: a retry can resume
    # from there. A reset drops what the receiver had not read yet, so the
    # count may fall short of what the server sent.
    server.set_rules({"/d/big.bin": {"mode": "reset", "after": 100000}})
    [head], [end] = tool.get("/d/big.bin", out=tmp_path / "part")
    assert head["status"] == "200" and end["outcome"] in ("broken", "ended")
    got = (tmp_path / "part").read_bytes()
    assert 0 < len(got) <= 100000 and str(len(got)) == end["bytes"]
    assert got == (server.root / "d" / "big.bin").read_bytes()[:len(got)]
    [t] = server.transfers("/d/big.bin")
    assert (t["sent"], t["reset"]) == (100000, True)
    print("reset after 100000 sent:", end)


def test_concurrent_requests_and_reused_connections(tool, server):
    # Each answer waits, so requests that run at once overlap at the server.
    server.set_rules({"*": {"delay": 0.4}})
    heads, ends = tool.get("/d/big.bin", "from=299000", "threads=4", "repeat=2", "reuse")
    assert [e["outcome"] for e in ends] == ["ended"] * 8
    assert server.max_active() == 4
    # Each thread's second request went over the connection of its first.
    assert len({r["conn"] for r in server.requests() if r["path"] != "/"}) == 4


def test_connections_are_not_reused_unless_asked(server, netns):
    # libcurl: every request its own connection, as before (WinINet under
    # Wine pools connections whatever the handles say).
    Tool(netns).get("/d/big.bin", "from=299990", "repeat=3")
    assert len({r["conn"] for r in server.requests() if r["path"] != "/"}) == 3


def test_server_faults(server, netns):
    """The faulty server's own behaviour, through the native transport."""
    tool = Tool(netns)
    new = (server.root / "d" / "new.bin").read_bytes()
    server.set_rules({
        "/d/big.bin": {"steps": [{"mode": "status", "status": 503}, {"mode": "reset", "after": 1000},
                                 {"file": "d/new.bin"}]},
        "/d/plain": {"file": "d/big.bin", "ignore_range": True, "no_validators": True},
    })
    statuses = [tool.get("/d/big.bin", "from=10")[0][0]["status"] for _ in range(3)]
    assert statuses == ["503", "206", "206"]
    [h], _ = tool.get("/d/big.bin", "from=10", "if-range=\"old\"")
    assert h["status"] == "200" and h["etag"] != ""
    [h], _ = tool.get("/d/big.bin", f"from={SIZE}")
    assert (h["status"], h["length"]) == ("416", "0")
    [h], [e] = tool.get("/d/plain", "from=10")
    assert (h["status"], h["etag"], h["modified"], e["bytes"]) == ("200", "", "", str(SIZE))
    sent = [t["sent"] for t in server.transfers("/d/big.bin")]
    assert sent[:3] == [len(b"<html><body><h1>503</h1>") + 300 + len(b"</body></html>"), 1000, SIZE - 10]
    assert (server.root / "d" / "new.bin").read_bytes() == new

    # A reset every 400000 bytes across all answers: the second whole file
    # breaks 100000 bytes in.
    server.set_rules({"_reset_every": 400000})
    ends = [tool.get("/d/new.bin")[1][0]["bytes"] for _ in range(2)]
    assert ends == [str(SIZE), "100000"]


def test_bench_shaper_relays_bytes_and_resets(server, netns, tmp_path):
    """The benches' shaper (bench/net_shaper.py) in front of the server: the
    bytes come through unchanged, and a reset reaches the client as a break
    (its delays and rates are measured by transfer_bench.py shaper)."""
    shaper = subprocess.Popen(netns.prefix() + [sys.executable, str(ROOT / "bench" / "net_shaper.py"), "--rtt-ms",
                                                "40", "--mbit", "0", "127.0.0.4:80=127.0.0.2:80"],
                              stdout=subprocess.PIPE)
    try:
        assert shaper.stdout.readline().strip() == b"ready"
        tool = Tool(netns, host="127.0.0.4")
        [h], [e] = tool.get("/d/big.bin", out=tmp_path / "got")
        assert (tmp_path / "got").read_bytes() == (server.root / "d" / "big.bin").read_bytes()
        server.set_rules({"/d/big.bin": {"mode": "reset", "after": 100000}})
        [h], [e] = tool.get("/d/big.bin")
        assert e["outcome"] == "broken" and int(e["bytes"]) <= 100000
    finally:
        shaper.kill()
        shaper.wait()
