"""HTTPS for the end-to-end tests: a test CA made with openssl at test time
(never committed), server certificates it issues (good, for another name,
expired) and one from a CA nobody trusts, and a network namespace in which
the system trusts the test CA.

How the launchers trust the test CA only inside a test: every command of
the test's namespace runs in a private mount namespace of its own
(`unshare -m --propagation private`), where a copy of the system's CA
bundle with the test CA appended is bind-mounted over
/etc/ssl/certs/ca-certificates.crt and a hosts file naming the test host
over /etc/hosts. libcurl reads that bundle as the system's CA store; Wine
fills its root store from the same file when a process of the test prefix
starts (and the prefix is the test's own clone, deleted afterwards).
Nothing outside the namespace sees either file: the machine's trust and
names are unchanged.

Keys are RSA: Wine 8's crypt32 refuses an ECDSA signature whose r or s is
shorter than 32 bytes (one signature in 128), which left a test CA out of
Wine's root store now and then and failed the handshake with 12057.
"""
import atexit
import functools
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import NetNs, Nginx, server_pool

HOST = "update.test"  # the test host, 127.0.0.1 inside the namespace
SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


@functools.lru_cache(maxsize=None)
def rsa_key(role):
    """One RSA key per role and process: making one takes most of a second,
    and certificates, not keys, are what each test needs fresh."""
    folder = tempfile.mkdtemp(prefix="tvl-tls-key-")
    atexit.register(shutil.rmtree, folder, True)
    path = Path(folder) / f"{role}.key"
    openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path, cwd=path.parent)
    return path


class CertAuthority:
    """A CA in workdir; issue() makes a server certificate it signs."""

    def __init__(self, workdir, name="Tervalis Test CA"):
        self.dir = Path(workdir)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.cert, self.key = self.dir / "ca.pem", self.dir / "ca.key"
        shutil.copy(rsa_key(name), self.key)
        openssl("req", "-x509", "-key", self.key, "-out", self.cert, "-days", "2", "-subj", f"/CN={name}",
                "-addext", "basicConstraints=critical,CA:true", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                cwd=self.dir)
        (self.dir / "index.txt").write_text("")
        (self.dir / "serial").write_text("1000\n")

    def issue(self, name, dns=HOST, expired=False):
        """(certificate, key) for a server named dns; expired: valid only in
        2020."""
        key, csr, cert = self.dir / f"{name}.key", self.dir / f"{name}.csr", self.dir / f"{name}.pem"
        shutil.copy(rsa_key("server"), key)
        openssl("req", "-new", "-key", key, "-out", csr, "-subj", f"/CN={dns}", cwd=self.dir)
        conf = self.dir / "ca.cnf"
        conf.write_text(f"""
[ca]
default_ca = test
[test]
dir = {self.dir}
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir
certificate = {self.cert}
private_key = {self.key}
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
x509_extensions = server
[any]
commonName = supplied
[server]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:{dns}
""")
        dates = ["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"] if expired else ["-days", "2"]
        openssl("ca", "-batch", "-config", conf, "-in", csr, "-out", cert, "-notext", *dates, cwd=self.dir)
        return cert, key


class TlsNs(NetNs):
    """A network namespace whose commands see the test CA in the system's
    bundle and HOST in /etc/hosts (see the module's note)."""

    def __init__(self, workdir, ca, address="127.0.0.1"):
        """address: where HOST leads (a relay, in the benchmarks)."""
        super().__init__()
        self.workdir = Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.bundle, self.hosts = self.workdir / "ca-certificates.crt", self.workdir / "hosts"
        self.bundle.write_bytes(Path(SYSTEM_BUNDLE).read_bytes() + b"\n" + Path(ca.cert).read_bytes())
        self.hosts.write_text(f"127.0.0.1 localhost\n{address} {HOST}\n")

    def prefix(self):
        script = (f"mount --bind {self.bundle} {SYSTEM_BUNDLE} && mount --bind {self.hosts} /etc/hosts && "
                  'exec "$@"')
        return super().prefix() + ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "tls"]


def tls_server(ns, root, workdir, cert, key, redirect=""):
    """nginx with HTTP on port 80 and HTTPS with HTTP/2 on 443, logging each
    request's connection and protocol. redirect: "to-https" answers every
    plain request with a redirect to HTTPS, "to-http" the other way round."""
    rule = {"": "", "to-https": f"if ($scheme = http) {{ return 301 https://{HOST}$request_uri; }}",
            "to-http": f"if ($scheme = https) {{ return 301 http://{HOST}$request_uri; }}"}[redirect]
    log = Path(workdir) / "tls_access.log"
    return Nginx(ns, root, workdir,
                 http_extra="log_format tls '$remote_addr - - [$time_local] \"$request\" $status $body_bytes_sent "
                            "conn=$connection proto=$server_protocol scheme=$scheme';",
                 extra=f"listen 127.0.0.1:443 ssl http2; ssl_certificate {cert}; ssl_certificate_key {key}; "
                       f"access_log {log} tls; {rule}")


def tls_log(server):
    """(request path, connection, protocol, scheme) of each request nginx
    logged, less the readiness probes."""
    log = server.workdir / "tls_access.log"
    out = []
    for line in (log.read_text().splitlines() if log.exists() else []):
        fields = dict(f.split("=", 1) for f in line.rsplit('"', 1)[1].split() if "=" in f)
        path = line.split('"')[1].split(" ")[1]
        if path != "/":
            out.append((path, fields["conn"], fields["proto"], fields["scheme"]))
    return out


@pytest.fixture
def ca(tmp_path):
    return CertAuthority(tmp_path / "ca")


@pytest.fixture
def netns(tmp_path, ca):
    """Overrides the plain namespace: the test CA is trusted inside."""
    if not shutil.which("unshare"):
        pytest.skip("unshare is missing")
    ns = TlsNs(tmp_path / "tls", ca)
    yield ns
    ns.close()


@pytest.fixture
def https_server(netns, tmp_path):
    """Factory: https_server(root, cert, key, redirect="")."""
    with server_pool(lambda args, i: tls_server(netns, args[0], tmp_path / f"tls{i}", *args[1:])) as start:
        yield lambda root, cert, key, redirect="": start((root, cert, key, redirect))
