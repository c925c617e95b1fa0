#!/usr/bin/env python3
"""Requests that reach the origin when launchers start against an unchanged
release through a cache: the origin is nginx with docs/nginx/tervalis-update.conf,
a caching proxy in front of it (nginx proxy_cache on port 8080) that keeps
what the origin's Cache-Control allows and, like most CDNs, ignores the
client's no-cache. A launcher with a release key (build/native-signed:
release.sig for a minute, objects for a year) against the launcher without
one (build/native-release, today's by-name road: the lists are no-cache),
N starts each after one warm-up start, natively, in a private network
namespace. The release is published and signed by the real publisher.

Usage: cdn_cache.py [STARTS] (default 1000). Prints "<name>: <ratio>x vs
<baseline> (...)"; the ratio is origin requests per start, signed against
by name (goal: at most 1% of the starts for the signed road)."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
import transfer_bench as tb  # noqa: E402  namespaces, nginx, the launchers' builds

STARTS = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
WORK = tb.WORK / "cdn"
INI = ("[Connection]\r\nupdate_server=http://127.0.0.1:8080\r\nupdate_path=/3d/\r\n"
       "icons_server=http://127.0.0.1:8080\r\nicons_path=/swf/\r\ngame_server=g\r\n")


def publish():
    """A small release, signed, in WORK/srv; returns the origin's site conf."""
    rel, icons, srv = WORK / "release", WORK / "icons", WORK / "srv"
    for i in range(20):
        (rel / "data").mkdir(parents=True, exist_ok=True)
        (rel / "data" / f"f{i}.dat").write_bytes(os.urandom(1000 + 100 * i))
    icons.mkdir(parents=True, exist_ok=True)
    (icons / "1.png").write_bytes(b"icon")
    subprocess.run([str(tb.NATIVE / "tervalis-publish"), "-q", "--sign-key", str(tb.RELEASE_KEY), "--icons",
                    str(icons), "--icons-output", str(srv / "icons"), str(rel), str(srv / "update")],
                   check=True, stdout=subprocess.DEVNULL)
    conf = (ROOT / "docs/nginx/tervalis-update.conf").read_text()
    return (conf.replace("/srv/tervalis/update/", f"{srv}/update/").replace("/srv/tervalis/icons/", f"{srv}/icons/")
            .replace("/var/log/nginx/tervalis-update.access.log", str(WORK / "origin.log"))
            .replace("listen 80;", "listen 127.0.0.1:80;").replace("listen [::]:80;", ""))


def start_nginx(ns, site):
    (WORK / "site.conf").write_text(site)
    (WORK / "nginx.conf").write_text(f"""
daemon off; user root; worker_processes 1; pid {WORK}/nginx.pid; error_log {WORK}/error.log warn;
events {{ worker_connections 64; }}
http {{
  client_body_temp_path {WORK}/body; proxy_temp_path {WORK}/proxy; fastcgi_temp_path {WORK}/fcgi;
  uwsgi_temp_path {WORK}/uwsgi; scgi_temp_path {WORK}/scgi;
  proxy_cache_path {WORK}/cache keys_zone=cdn:4m inactive=1d;
  include {WORK}/site.conf;
  server {{
    listen 127.0.0.1:8080;
    access_log off;
    location / {{ proxy_pass http://127.0.0.1:80; proxy_cache cdn; proxy_cache_lock on; }}
  }}
}}
""")
    proc = subprocess.Popen(ns.prefix() + ["nginx", "-c", str(WORK / "nginx.conf")], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    subprocess.run(ns.prefix() + ["curl", "-s", "--retry", "50", "--retry-connrefused", "--retry-delay", "0", "-o",
                                  "/dev/null", "http://127.0.0.1:8080/"])
    return proc


def origin_requests():
    log = WORK / "origin.log"
    return len(log.read_text().splitlines()) if log.exists() else 0


def starts(ns, launcher, name):
    """Origin requests during STARTS starts of an install that is current
    after its first start."""
    inst = WORK / name
    tb.make_install(inst, launcher, tb.NATIVE / "stub_game", INI)
    run = ns.prefix() + [str(inst / launcher.name)]
    subprocess.run(run, cwd=inst, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    before = origin_requests()
    for _ in range(STARTS):
        subprocess.run(run, cwd=inst, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return origin_requests() - before


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    WORK.mkdir(parents=True)
    ns = tb.h.NetNs()
    proc = start_nginx(ns, publish())
    try:
        signed = starts(ns, tb.NATIVE_SIGNED / "TervalisOnline2D", "signed")
        plain = starts(ns, tb.NATIVE / "TervalisOnline2D", "plain")
    finally:
        proc.terminate()
        proc.wait(timeout=10)
        ns.close()
    share = signed / STARTS
    print(f"cdn-origin: {share / (plain / STARTS):.4f}x vs by-name road (origin requests per start through a cache, "
          f"{STARTS} starts each: with a key {signed} = {100 * share:.2f}% of the starts, goal <= 1%; "
          f"without a key {plain} = {100 * plain / STARTS:.0f}%)")
    shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    main()
