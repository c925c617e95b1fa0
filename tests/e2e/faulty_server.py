"""A small HTTP server that misbehaves on demand, for what nginx won't do.

Run inside the test's network namespace:
    python3 faulty_server.py ROOT RULES.json LOG.jsonl [ADDRESS]

Serves files below ROOT on ADDRESS:80 (default 127.0.0.2) with a
Content-Length, like any server, except for the paths named in RULES, a JSON
object mapping a request path to one fault:
    {"mode": "nolength"}                 the body without Content-Length, then close
    {"mode": "status", "status": 404}    that status with an HTML body and its length
    {"mode": "short", "keep": N}         full Content-Length, N bytes, then close
    {"mode": "excess", "extra": N}       the file's length announced, N more bytes sent
    {"mode": "stall", "keep": N}         full Content-Length, N bytes, then silence
    {"mode": "stall_head"}               the request is read, nothing is answered
Every request is appended to LOG as one JSON line: method, path, headers.
"""
import json
import os
import socket
import socketserver
import sys
import threading
import time

ROOT, RULES_FILE, LOG = sys.argv[1], sys.argv[2], sys.argv[3]
ADDRESS = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.2"
log_lock = threading.Lock()


def rules():
    # Read on every request, so a test can change a fault between runs.
    try:
        with open(RULES_FILE) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def log(entry):
    with log_lock, open(LOG, "a") as f:
        f.write(json.dumps(entry) + "\n")


def head(status, reason, length=None, close=True):
    lines = [f"HTTP/1.1 {status} {reason}", "Content-Type: application/octet-stream"]
    if length is not None:
        lines.append(f"Content-Length: {length}")
    if close:
        lines.append("Connection: close")
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(65536)
            if not chunk:
                return None
            data += chunk
        text = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        first, *rest = text.split("\r\n")
        method, path, _ = first.split(" ", 2)
        headers = {}
        for line in rest:
            k, _, v = line.partition(":")
            headers[k.strip().lower()] = v.strip()
        return method, path, headers

    def handle(self):
        req = self.read_request()
        if req is None:
            return
        method, path, headers = req
        log({"method": method, "path": path, "headers": headers})
        rule = rules().get(path, {})
        mode = rule.get("mode", "normal")
        local = os.path.join(ROOT, path.lstrip("/"))
        body = None
        if os.path.isfile(local):
            with open(local, "rb") as f:
                body = f.read()
        s = self.request
        if mode == "status":
            page = b"<html><body><h1>%d</h1>" % rule["status"] + b"x" * 300 + b"</body></html>"
            s.sendall(head(rule["status"], "Error", len(page)) + page)
        elif body is None:
            page = b"<html>404 Not Found</html>"
            s.sendall(head(404, "Not Found", len(page)) + page)
        elif mode == "normal":
            s.sendall(head(200, "OK", len(body)) + body)
        elif mode == "nolength":
            s.sendall(head(200, "OK", None) + body)
        elif mode == "short":
            s.sendall(head(200, "OK", len(body)) + body[:rule["keep"]])
        elif mode == "excess":
            # One write, so the surplus travels with the body.
            s.sendall(head(200, "OK", len(body)) + body + b"\0" * rule["extra"])
        elif mode == "stall":
            s.sendall(head(200, "OK", len(body), close=False) + body[:rule.get("keep", 0)])
            time.sleep(rule.get("hold", 600))
        elif mode == "stall_head":
            time.sleep(rule.get("hold", 600))
        try:
            s.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


if __name__ == "__main__":
    with Server((ADDRESS, 80), Handler) as server:
        server.serve_forever()
