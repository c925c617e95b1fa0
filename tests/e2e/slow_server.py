"""Serves files below ROOT on ADDRESS:80 at a limited rate, so that an update
lasts long enough to be watched (and its window dragged).

    python3 slow_server.py ROOT ADDRESS BYTES_PER_SECOND
"""
import os
import socketserver
import sys
import time

ROOT, ADDRESS, RATE = sys.argv[1], sys.argv[2], int(sys.argv[3])
CHUNK = 8192


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        line = self.rfile.readline().decode("latin-1")
        while self.rfile.readline() not in (b"\r\n", b"\n", b""):
            pass
        parts = line.split(" ")
        if len(parts) < 2:
            return
        local = os.path.join(ROOT, parts[1].split("?")[0].lstrip("/"))
        if not os.path.isfile(local):
            page = b"not found"
            self.wfile.write(b"HTTP/1.1 404 Not Found\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s"
                             % (len(page), page))
            return
        with open(local, "rb") as f:
            body = f.read()
        self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                         b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body))
        start = time.time()
        for i in range(0, len(body), CHUNK):
            self.wfile.write(body[i:i + CHUNK])
            self.wfile.flush()
            ahead = (i + CHUNK) / RATE - (time.time() - start)
            if ahead > 0:
                time.sleep(ahead)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


if __name__ == "__main__":
    with Server((ADDRESS, 80), Handler) as server:
        server.serve_forever()
