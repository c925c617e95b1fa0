"""Updates over HTTPS against nginx with TLS and HTTP/2, with certificates
from a test CA made for the test (tls.py says how the launchers trust it
only inside the test): both builds verify the certificate, follow a
redirect from HTTP to HTTPS and refuse one back; the POSIX build shares one
HTTP/2 connection between its transfers, also through a SOCKS proxy."""
import pytest

from tls import HOST, CertAuthority, https_server, netns, ca, tls_log  # noqa: F401
from updates import NO, OK, SETTINGS, PosixRoad, Release, road, socks, support_runs, tree  # noqa: F401

SECURE = dict(SETTINGS, update_server=f"https://{HOST}", icons_server=f"https://{HOST}", download_connections="4")


def release():
    rel = Release()
    for i in range(12):
        rel.add(f"data/f{i}.pak", bytes([i]) * (20000 + i))
    return rel.icon("1.png", b"icon")


def installed(inst, rel):
    got = tree(inst.path)
    return {name: got.get(name) for name in rel.expected()}


def test_update_over_https(road, https_server, ca, tmp_path):
    rel = release()
    server = https_server(rel.publish(tmp_path / "www"), *ca.issue("good"))
    inst = road.install()
    inst.write_ini(**SECURE)
    run = road.run(inst)
    assert run.code == 0
    assert installed(inst, rel) == rel.expected()
    assert inst.wait_game_runs()
    logged = tls_log(server)
    assert {scheme for _, _, _, scheme in logged} == {"https"}
    if road.name == "posix":
        # HTTP/2, and the release's files all on one connection.
        files = [(conn, proto) for path, conn, proto, _ in logged if path in rel.object_paths()]
        assert len(files) == len(rel.object_paths())
        assert {proto for _, proto in files} == {"HTTP/2.0"}
        assert len({conn for conn, _ in files}) == 1


@pytest.mark.parametrize("case, reason", [
    ("other name", "issued for another name"),
    ("expired", "expired"),
    ("unknown CA", "authority"),
])
def test_bad_certificate_is_refused(road, https_server, ca, tmp_path, case, reason):
    rel = release()
    if case == "unknown CA":
        cert = CertAuthority(tmp_path / "stranger", name="Stranger CA").issue("good")
    else:
        cert = ca.issue("bad", dns="other.test" if case == "other name" else HOST, expired=case == "expired")
    server = https_server(rel.publish(tmp_path / "www"), *cert)
    inst = road.install()
    inst.write_ini(**SECURE)
    run = road.run(inst, answers=[OK, NO])
    caption, text = run.boxes[0]
    assert caption == "Secure connection refused"
    assert f"The secure connection to {HOST} was refused: " in text and reason in text
    assert run.code == -1
    assert installed(inst, rel) == {name: None for name in rel.expected()}
    assert tls_log(server) == []
    # Refused once, never retried.
    [lines] = support_runs(inst)
    assert sum("SECURE CONNECTION REFUSED " + HOST in line for line in lines) == 1
    assert not any(line.startswith("retry") for line in lines)


def test_http_redirected_to_https(road, https_server, ca, tmp_path):
    rel = release()
    server = https_server(rel.publish(tmp_path / "www"), *ca.issue("good"), redirect="to-https")
    inst = road.install()
    # The bare host: plain HTTP on port 80, which sends the launcher on.
    inst.write_ini(**dict(SECURE, update_server=HOST, icons_server=HOST))
    run = road.run(inst)
    assert run.code == 0
    assert installed(inst, rel) == rel.expected()
    fetched = {path for path, _, _, scheme in tls_log(server) if scheme == "https"}
    assert set(rel.object_paths()) <= fetched


def test_https_redirected_to_http_is_refused(road, https_server, ca, tmp_path):
    rel = release()
    server = https_server(rel.publish(tmp_path / "www"), *ca.issue("good"), redirect="to-http")
    inst = road.install()
    inst.write_ini(**SECURE)
    run = road.run(inst, answers=[OK, NO])
    caption, text = run.boxes[0]
    assert caption == "Secure connection refused"
    assert "redirected the secure connection to plain HTTP" in text
    assert run.code == -1
    assert installed(inst, rel) == {name: None for name in rel.expected()}
    # The plain request was never sent.
    assert [scheme for _, _, _, scheme in tls_log(server)] == ["https"]


def test_https_through_socks(netns, posix_install, https_server, ca, socks, tmp_path):
    # Wine's WinINet connects directly whatever proxy it is given (the
    # Windows request arguments are proved by its unit tests).
    rel = release()
    server = https_server(rel.publish(tmp_path / "www"), *ca.issue("good"))
    road = PosixRoad(netns, posix_install)
    inst = road.install()
    inst.write_ini(**SECURE, socks_server="127.0.0.1", socks_port="1080")
    run = road.run(inst)
    assert run.code == 0
    assert installed(inst, rel) == rel.expected()
    assert socks.relayed()
    assert {proto for _, _, proto, _ in tls_log(server)} == {"HTTP/2.0"}
