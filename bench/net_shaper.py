"""A latency and bandwidth shaper in user space, for the network profile the
benches impose (these kernels have no traffic shaping, netem or tc).

    python3 net_shaper.py [--rtt-ms 50] [--mbit 100] LISTEN=UPSTREAM ...

Each LISTEN address (host:port) relays every connection to its UPSTREAM,
run inside the bench's network namespace between the launcher and nginx.
The model is one link with a round trip of rtt and a bandwidth of mbit in
each direction, shared by every connection:
  - a byte crosses after rtt/2, plus the time it waits for the link: every
    chunk takes size/bandwidth of its direction's link, in the order the
    relay read them;
  - a new connection carries nothing before one round trip has passed (the
    handshake the relay's local accept skipped), so the first answer comes
    two round trips after connect, as over a real link;
  - the relay reads no more from a side while a megabyte of its data waits
    to cross (the window a receiver would advertise);
  - an end of stream crosses as an end of stream, a reset as a reset, each
    after the data before it.
Prints "ready" once listening. --mbit 0 removes the bandwidth limit and
--rtt-ms 0 the delay (to measure the relay itself).
"""
import argparse
import asyncio
import socket
import struct
import sys
import time

CHUNK = 65536
WINDOW = 1 << 20
RESET, EOF = object(), object()


class Link:
    """One direction of the shared link: when it is free again."""

    def __init__(self, bits_per_second):
        self.rate = bits_per_second / 8 if bits_per_second else None
        self.free = 0.0

    def cross(self, now, size):
        """The time the last bit of a chunk read now has left the link."""
        if not self.rate:
            return now
        self.free = max(now, self.free) + size / self.rate
        return self.free


async def pump(reader, writer, link, delay, not_before, peer_done):
    """Moves one direction: reads, schedules, delivers."""
    queue = asyncio.Queue()
    waiting = [0]
    room = asyncio.Event()
    room.set()

    async def deliver():
        while True:
            at, item = await queue.get()
            pause = at - time.monotonic()
            if pause > 0:
                await asyncio.sleep(pause)
            if item is EOF:
                try:
                    writer.write_eof()
                    await writer.drain()
                except OSError:
                    pass
                return
            if item is RESET:
                sock = writer.get_extra_info("socket")
                try:
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                except OSError:
                    pass
                writer.transport.abort()
                return
            try:
                writer.write(item)
                await writer.drain()
            except OSError:
                return
            waiting[0] -= len(item)
            if waiting[0] < WINDOW:
                room.set()

    sender = asyncio.ensure_future(deliver())
    last = 0.0
    while True:
        await room.wait()
        try:
            data = await reader.read(CHUNK)
            item = data if data else EOF
        except (ConnectionResetError, BrokenPipeError, OSError):
            item = RESET
        now = time.monotonic()
        size = len(item) if isinstance(item, bytes) else 0
        at = max(link.cross(max(now, not_before), size), last) + delay
        last = at - delay
        await queue.put((at, item))
        if item is not EOF and item is not RESET:
            waiting[0] += size
            if waiting[0] >= WINDOW:
                room.clear()
            continue
        break
    await sender
    peer_done.set()


async def relay(client_reader, client_writer, upstream, links, rtt):
    host, port = upstream
    try:
        up_reader, up_writer = await asyncio.open_connection(host, port)
    except OSError:
        client_writer.transport.abort()
        return
    for w in (client_writer, up_writer):
        w.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    handshake = time.monotonic() + rtt
    done_up, done_down = asyncio.Event(), asyncio.Event()
    await asyncio.gather(
        pump(client_reader, up_writer, links[0], rtt / 2, handshake, done_up),
        pump(up_reader, client_writer, links[1], rtt / 2, handshake, done_down))
    for w in (client_writer, up_writer):
        if not w.transport.is_closing():
            w.close()


def address(text):
    host, _, port = text.rpartition(":")
    return host, int(port)


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rtt-ms", type=float, default=50)
    ap.add_argument("--mbit", type=float, default=100)
    ap.add_argument("maps", nargs="+")
    a = ap.parse_args()
    rtt = a.rtt_ms / 1000
    links = (Link(a.mbit * 1e6), Link(a.mbit * 1e6))  # up, down: shared by every connection
    servers = []
    for m in a.maps:
        listen, _, upstream = m.partition("=")
        up = address(upstream)
        host, port = address(listen)
        servers.append(await asyncio.start_server(
            lambda r, w, up=up: relay(r, w, up, links, rtt), host, port, reuse_address=True, backlog=128))
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
