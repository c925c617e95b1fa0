"""A small HTTP server that misbehaves on demand, for what nginx won't do.

Run inside the test's network namespace:
    python3 faulty_server.py ROOT RULES.json LOG.jsonl [ADDRESS] [--keepalive]

Serves files below ROOT on ADDRESS:80 (default 127.0.0.2) like any server:
Content-Length, an ETag (from the content; from time and size past 1 GiB)
and Last-Modified, single byte
ranges ("Range: bytes=N-" or "N-M") guarded by If-Range, 416 for a range
past the end. With --keepalive a connection serves request after request;
otherwise every response closes it.

RULES is a JSON object read on every request, so a test can change it
between runs. A key that is a request path maps to one fault for every
request of that path, or to {"steps": [fault, ...]}: the k-th request of the
path gets steps[k] (the last one repeats). "*" is the fault of every path
without its own. A fault:
    {"mode": "normal"}                   the file (the default)
    {"mode": "nolength"}                 the body without Content-Length, then close
    {"mode": "status", "status": 404}    that status with an HTML body and its length
    {"mode": "short", "keep": N}         full Content-Length, N bytes, then close
    {"mode": "excess", "extra": N}       the file's length announced, N more bytes sent
    {"mode": "stall", "keep": N}         full Content-Length, N bytes, then silence
    {"mode": "stall", "keep": N, "until": PATH}  ... until PATH exists, then the rest
    {"mode": "stall_head"}               the request is read, nothing is answered
    {"mode": "reset", "after": N}        full head, N body bytes, then a connection reset
and, beside the mode:
    "file": "other/path"                 serve that file (below ROOT) instead: a new version
    "ignore_range": true                 answer ranges with the whole file (200)
    "no_validators": true                no ETag and no Last-Modified
    "delay": S                           wait S seconds before answering
    "rate": B                            send the body at B bytes a second
The key "_trace": true logs every piece of body the server hands to its
socket ("event": "chunk", "sent", "t"), for rates over time; its sockets
then keep a small send buffer (16 KiB asked, which Linux doubles), so that
what the log shows has left for the client instead of waiting in the
kernel. The key
"_reset_every": K resets the connection that carries the K-th, 2K-th,
... body byte the server sends (all paths and connections together), after
that byte.

LOG gets one JSON line when a request arrives (id, connection, method, path,
headers, the number of requests being answered at that moment, itself
included) and one when its answer ends (id, "event": "end", status, body
bytes sent, whether the connection was reset, the fault it was given).
"""
import email.utils
import fcntl
import hashlib
import json
import os
import socket
import socketserver
import struct
import sys
import termios
import threading
import time

args = [a for a in sys.argv[1:] if not a.startswith("--")]
ROOT, RULES_FILE, LOG = args[0], args[1], args[2]
ADDRESS = args[3] if len(args) > 3 else "127.0.0.2"
KEEPALIVE = "--keepalive" in sys.argv
CHUNK = 65536

lock = threading.Lock()
state = {"requests": 0, "connections": 0, "active": 0, "sent_total": 0, "per_path": {}}
etag_cache = {}


def rules():
    try:
        with open(RULES_FILE) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def log(entry):
    with lock, open(LOG, "a") as f:
        f.write(json.dumps(entry) + "\n")


def validators(local):
    st = os.stat(local)
    key = (local, st.st_mtime_ns, st.st_size)
    with lock:
        tag = etag_cache.get(key)
    if tag is None and st.st_size >= 1 << 30:
        # As nginx makes it: reading a huge file for its tag costs seconds.
        tag = '"%x-%x"' % (st.st_mtime_ns // 1000000000, st.st_size)
    if tag is None:
        h = hashlib.md5()
        with open(local, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
        tag = '"' + h.hexdigest()[:16] + '"'
        with lock:
            etag_cache[key] = tag
    return tag, email.utils.formatdate(st.st_mtime, usegmt=True)


def head(status, reason, length=None, close=True, extra=()):
    lines = [f"HTTP/1.1 {status} {reason}", "Content-Type: application/octet-stream", *extra]
    if length is not None:
        lines.append(f"Content-Length: {length}")
    lines.append("Connection: close" if close else "Connection: keep-alive")
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def parse_range(value, size):
    """(first, last) of a single "bytes=N-" or "bytes=N-M" range; None when
    there is none that we take; "unsatisfiable" past the end."""
    if not value or not value.startswith("bytes=") or "," in value:
        return None
    first, _, last = value[6:].partition("-")
    if not first.isdigit() or (last and not last.isdigit()):
        return None
    first = int(first)
    last = min(int(last), size - 1) if last else size - 1
    if first >= size:
        return "unsatisfiable"
    return (first, last) if last >= first else None


def reset(sock):
    # Let the bytes already written reach the client first: a reset drops
    # whatever is still queued.
    deadline = time.time() + 5
    while time.time() < deadline:
        try:
            if struct.unpack("i", fcntl.ioctl(sock, termios.TIOCOUTQ, b"\0\0\0\0"))[0] == 0:
                break
        except OSError:
            break
        time.sleep(0.002)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        while b"\r\n\r\n" not in self.pending:
            try:
                chunk = self.request.recv(65536)
            except OSError:
                return None
            if not chunk:
                return None
            self.pending += chunk
        raw, self.pending = self.pending.split(b"\r\n\r\n", 1)
        first, *rest = raw.decode("latin-1").split("\r\n")
        method, path, _ = first.split(" ", 2)
        headers = {}
        for line in rest:
            k, _, v = line.partition(":")
            headers[k.strip().lower()] = v.strip()
        return method, path, headers

    def handle(self):
        # Head and body go out in separate writes: without this, a kept-alive
        # connection waits for the client's delayed acknowledgement each time.
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if rules().get("_trace"):
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 16384)
        self.pending = b""
        with lock:
            state["connections"] += 1
            self.conn = state["connections"]
        while True:
            req = self.read_request()
            if req is None:
                return
            if not self.answer(*req):
                return

    def send_body(self, src, first, count, fault, reset_every):
        """Sends count bytes of src from first; returns (sent, was_reset)."""
        s = self.request
        after = fault.get("after") if fault.get("mode") == "reset" else None
        rate = fault.get("rate")
        # Paced in small steps, each sent when its time has come: a body
        # smaller than a chunk still takes its time.
        step = min(CHUNK, max(1024, rate // 20)) if rate else CHUNK
        sent = 0
        start = time.time()
        with open(src, "rb") as f:
            f.seek(first)
            while sent < count:
                if rate:
                    ahead = sent / rate - (time.time() - start)
                    if ahead > 0:
                        time.sleep(ahead)
                n = min(step, count - sent)
                cut = False
                if after is not None and sent + n >= after:
                    n, cut = after - sent, True
                if reset_every:
                    with lock:
                        room = reset_every - state["sent_total"] % reset_every
                        if n >= room:
                            n, cut = room, True
                        state["sent_total"] += n
                data = f.read(n)
                try:
                    s.sendall(data)
                except OSError:
                    return sent, False
                sent += len(data)
                if fault.get("_trace"):
                    log({"event": "chunk", "sent": len(data), "t": time.time()})
                if cut:
                    reset(s)
                    return sent, True
        return sent, False

    def answer(self, method, path, headers):
        """Answers one request; False when the connection is done."""
        all_rules = rules()
        with lock:
            state["requests"] += 1
            rid = state["requests"]
            k = state["per_path"].get(path, 0)
            state["per_path"][path] = k + 1
            state["active"] += 1
            active = state["active"]
        log({"id": rid, "conn": self.conn, "method": method, "path": path, "headers": headers, "active": active,
             "t": time.time()})
        rule = all_rules.get(path, all_rules.get("*", {}))
        steps = rule.get("steps", [rule])
        fault = steps[min(k, len(steps) - 1)] if steps else {}
        if all_rules.get("_trace"):
            fault = dict(fault, _trace=True)
        status, sent, was_reset, keep = 0, 0, False, False
        try:
            status, sent, was_reset, keep = self.respond(path, headers, fault, all_rules.get("_reset_every"))
        finally:
            with lock:
                state["active"] -= 1
            log({"id": rid, "event": "end", "status": status, "sent": sent, "reset": was_reset,
                 "fault": dict(fault, mode=fault.get("mode", "normal")), "t": time.time()})
        if not keep:
            try:
                self.request.shutdown(socket.SHUT_WR)
            except OSError:
                pass
        return keep

    def respond(self, path, headers, fault, reset_every):
        mode = fault.get("mode", "normal")
        if fault.get("delay"):
            time.sleep(fault["delay"])
        local = os.path.join(ROOT, (fault.get("file") or path).lstrip("/"))
        s = self.request
        close = not KEEPALIVE or headers.get("connection", "").lower() == "close"
        if mode == "status":
            page = b"<html><body><h1>%d</h1>" % fault["status"] + b"x" * 300 + b"</body></html>"
            s.sendall(head(fault["status"], "Error", len(page), close) + page)
            return fault["status"], len(page), False, not close
        if mode == "stall_head":
            time.sleep(fault.get("hold", 600))
            return 0, 0, False, False
        if not os.path.isfile(local):
            page = b"<html>404 Not Found</html>"
            s.sendall(head(404, "Not Found", len(page), close) + page)
            return 404, len(page), False, not close
        size = os.path.getsize(local)
        extra = ["Accept-Ranges: bytes"]
        etag, modified = validators(local)
        if not fault.get("no_validators"):
            extra += [f"ETag: {etag}", f"Last-Modified: {modified}"]
        status, first, count = 200, 0, size
        wanted = None if fault.get("ignore_range") else parse_range(headers.get("range"), size)
        if_range = headers.get("if-range")
        if wanted and if_range and if_range not in (etag, modified):
            wanted = None  # the file changed: the whole of it
        if wanted == "unsatisfiable":
            s.sendall(head(416, "Range Not Satisfiable", 0, close, [f"Content-Range: bytes */{size}"]))
            return 416, 0, False, not close
        if wanted:
            status, first, count = 206, wanted[0], wanted[1] - wanted[0] + 1
            extra.append(f"Content-Range: bytes {first}-{wanted[1]}/{size}")
        reason = "OK" if status == 200 else "Partial Content"
        if mode == "normal" or mode == "reset":
            s.sendall(head(status, reason, count, close, extra))
            sent, was_reset = self.send_body(local, first, count, fault, reset_every)
            return status, sent, was_reset, not close and not was_reset and sent == count
        if mode == "nolength":
            s.sendall(head(status, reason, None, True, extra))
            sent, _ = self.send_body(local, first, count, {}, None)
        elif mode == "short":
            s.sendall(head(status, reason, count, True, extra))
            sent, _ = self.send_body(local, first, min(count, fault["keep"]), {}, None)
        elif mode == "excess":
            # One write, so the surplus travels with the body.
            with open(local, "rb") as f:
                f.seek(first)
                body = f.read(count)
            s.sendall(head(status, reason, count, True, extra) + body + b"\0" * fault["extra"])
            sent = count + fault["extra"]
        elif mode == "stall":
            s.sendall(head(status, reason, count, False, extra))
            keep = min(count, fault.get("keep", 0))
            sent, _ = self.send_body(local, first, keep, {}, None)
            if fault.get("until"):
                # A gate the test opens once it has seen what it wanted.
                while not os.path.exists(fault["until"]):
                    time.sleep(0.02)
                more, _ = self.send_body(local, first + keep, count - keep, {}, None)
                return status, sent + more, False, not close
            time.sleep(fault.get("hold", 600))
        else:
            raise ValueError("unknown mode " + mode)
        return status, sent, False, False


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    request_queue_size = 64


if __name__ == "__main__":
    with Server((ADDRESS, 80), Handler) as server:
        server.serve_forever()
