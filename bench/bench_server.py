#!/usr/bin/env python3
# The benchmarks' loopback source: a proxy-style HTTP server for large bodies and the service, and FTP.
"""Loopback server for scripts/bench.sh, reached by Wine's WinINet as its HTTP proxy.

Usage: bench_server.py --port-file FILE --ftp-root DIR [--parent-pid PID] [--latency-ms MS --log FILE]
                       [--rate-per-connection BYTES] [--port N]

Answers, for any host:
  GET  /               200, a small page (the connectivity probe)
  GET  /size/N         200, N bytes of the pattern i % 251, with Content-Length and an ETag; "Range:
                       bytes=S-" gets a 206 of the rest while If-Range (if any) names that ETag
  GET  /cuts/N/P1,P2.. /size/N, the connection cut after the byte before the first point Pi past the
                       part's start: a download resumed from where it was cut runs to the next point
                       (offsets in the file, ascending; past the last one the body is whole)
  GET  /ranged/N       N bytes with Accept-Ranges: bytes and an ETag; "Range: bytes=A-B" (or "A-") gets
                       a 206 of those bytes
  GET  /moved/N        302 to http://files.norvik.example/size/N, no body
  GET  /svc[/N]        200, a small page without Location (the service URL's redirect look)
  POST /svc[/N]        200, a service reply: StatusCode 1, the download URL /size/N (1 MiB without N)
                       on files.norvik.example, and its size
  POST /svc-here/N     the same, the download URL on svc.norvik.example, the service's own host
and serves DIR read-only over anonymous FTP. Writes "http=PORT" and "ftp=PORT" lines to FILE.

Unlike the wire tests' bench it keeps no request log and has no control API, so that the source is
never the bottleneck: bodies are sent from one precomputed block, with keep-alive.

--latency-ms plays a link with that round-trip time: a new connection waits one round trip before its
first request is read (the connection's handshake), and every reply one more (the request's way there
and back). --log then gets a line for each connection ("connect") and each request ("GET /path"), so
that a benchmark can count both. --rate-per-connection caps what each connection's bodies send to
about that many bytes a second, as a host or an ISP caps each connection of a real link.
"""

import argparse
import os
import re
import socket
import socketserver
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'testbed'))
import loopback  # noqa: E402

BLOCK = memoryview(loopback.pattern(16384))  # about 4 MiB: few sends per body
HEAD = 'HTTP/1.1 %d %s\r\nContent-Length: %d\r\n%s\r\n'
PAGE = b'<html><body>bench</body></html>\r\n'
SERVICE_REPLY = ('<!-- bench -->\r\n<reply>\r\n'
                 '  <field name="StatusCode" value="1"/>\r\n'
                 '  <field name="downloadURL" value="http://%s.norvik.example/size/%d"/>\r\n'
                 '  <field name="filesize" value="%d"/>\r\n'
                 '</reply>\r\n')


class Link:
    """The played link: its round-trip time and the log of what crossed it (both off by default)."""
    latency = 0.0
    rate = 0  # bytes a second on each connection; 0: no cap
    log = None
    lock = threading.Lock()

    @classmethod
    def note(cls, line):
        if cls.log is not None:
            with cls.lock:
                cls.log.write(line + '\n')
                cls.log.flush()

    @classmethod
    def wait(cls):
        if cls.latency > 0:
            time.sleep(cls.latency)


def read_head(sock, buffer):
    while b'\r\n\r\n' not in buffer:
        data = sock.recv(65536)
        if not data:
            return None
        buffer += data
    end = buffer.index(b'\r\n\r\n') + 4
    head = bytes(buffer[:end])
    del buffer[:end]
    return head


def path_of(target):
    if '://' in target:
        rest = target.split('://', 1)[1]
        slash = rest.find('/')
        return rest[slash:] if slash >= 0 else '/'
    return target


def send_pattern(sock, size, first=0):
    # Each piece starts where the pattern stands at its offset, so the pattern runs on unbroken.
    paced = Pace()
    at = first
    while size > 0:
        offset = at % loopback.PATTERN_PERIOD
        piece = min(size, len(BLOCK) - offset, paced.piece())
        paced.wait(piece)
        sock.sendall(BLOCK[offset:offset + piece])
        at += piece
        size -= piece


class Cut(Exception):
    """The connection is to be cut here, as a broken link would."""


def send_file(sock, size, fields, cuts=()):
    """N bytes of the pattern, or the rest from a "Range: bytes=S-" under a matching If-Range (206), sent
    up to the first cut past the start, if any."""
    etag = '"bench-%d"' % size
    match = re.fullmatch(r'bytes=(\d+)-', fields.get('range', ''))
    if_range = fields.get('if-range')
    start = int(match.group(1)) if match and (if_range is None or if_range == etag) else 0
    if start >= size:
        start = 0
    extra = 'ETag: %s\r\nAccept-Ranges: bytes\r\n' % etag
    if match and start:
        extra += 'Content-Range: bytes %d-%d/%d\r\n' % (start, size - 1, size)
        status = (206, 'Partial Content')
    else:
        status = (200, 'OK')
    sock.sendall((HEAD % (status + (size - start, extra))).encode())
    stop = min([cut for cut in cuts if cut > start] or [size])
    send_pattern(sock, stop - start, start)
    if stop < size:
        raise Cut()


class Pace:
    """One body's sends kept to the link's rate per connection: a twentieth of a second's worth at a
    time, each sent once its time has come."""

    def __init__(self):
        self.start, self.sent = time.monotonic(), 0

    def piece(self):
        return max(1, Link.rate // 20) if Link.rate else len(BLOCK)

    def wait(self, size):
        if Link.rate:
            ahead = self.sent / Link.rate - (time.monotonic() - self.start)
            if ahead > 0:
                time.sleep(ahead)
        self.sent += size


def answer_ranged(sock, size, range_header):
    """A file of size bytes that takes ranges: the whole with 200, or the part a Range names with 206."""
    extra = 'Accept-Ranges: bytes\r\nETag: "p%d"\r\n' % size
    match = re.fullmatch(r'bytes=(\d+)-(\d*)', range_header or '')
    if match is None or int(match.group(1)) >= size:
        sock.sendall(('HTTP/1.1 200 OK\r\nContent-Length: %d\r\n%s\r\n' % (size, extra)).encode())
        send_pattern(sock, size)
        return
    first = int(match.group(1))
    last = min(int(match.group(2)), size - 1) if match.group(2) else size - 1
    sock.sendall(('HTTP/1.1 206 Partial Content\r\nContent-Length: %d\r\nContent-Range: bytes %d-%d/%d\r\n%s\r\n'
                  % (last - first + 1, first, last, size, extra)).encode())
    send_pattern(sock, last - first + 1, first)


def answer(sock, method, path, fields):
    head = HEAD
    if path.startswith('/ranged/'):
        answer_ranged(sock, int(path[len('/ranged/'):]), fields.get('range'))
    elif path.startswith('/size/'):
        send_file(sock, int(path[len('/size/'):]), fields)
    elif path.startswith('/cuts/'):
        size, _, points = path[len('/cuts/'):].partition('/')
        send_file(sock, int(size), fields, [int(p) for p in points.split(',') if p])
    elif path.startswith('/moved/'):
        location = 'Location: http://files.norvik.example/size/%s\r\n' % path[len('/moved/'):]
        sock.sendall((head % (302, 'Found', 0, location)).encode())
    elif path.startswith('/svc-here/') and method == 'POST':
        size = int(path[len('/svc-here/'):])
        reply = (SERVICE_REPLY % ('svc', size, size)).encode()
        sock.sendall((head % (200, 'OK', len(reply), '')).encode() + reply)
    elif (path == '/svc' or path.startswith('/svc/')) and method == 'POST':
        size = int(path[len('/svc/'):]) if path.startswith('/svc/') else 1048576
        reply = (SERVICE_REPLY % ('files', size, size)).encode()
        sock.sendall((head % (200, 'OK', len(reply), '')).encode() + reply)
    else:
        sock.sendall((head % (200, 'OK', len(PAGE), '')).encode() + PAGE)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock, buffer = self.request, bytearray()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        Link.note('connect')
        Link.wait()
        try:
            while True:
                head = read_head(sock, buffer)
                if head is None:
                    return
                lines = head.decode('latin-1').split('\r\n')
                method, target, _ = lines[0].split(' ', 2)
                fields = {}
                for line in lines[1:]:
                    name, _, value = line.partition(':')
                    fields[name.strip().lower()] = value.strip()
                length = int(fields.get('content-length', 0))
                while len(buffer) < length:
                    data = sock.recv(65536)
                    if not data:
                        return
                    buffer += data
                del buffer[:length]
                Link.note('%s %s' % (method, path_of(target)))
                Link.wait()
                answer(sock, method, path_of(target), fields)
        except Cut:
            sock.shutdown(socket.SHUT_RDWR)
        except (OSError, ValueError):
            pass  # the client left, possibly in the middle of a body it did not want


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--port-file', required=True)
    parser.add_argument('--ftp-root', required=True)
    parser.add_argument('--parent-pid', type=int)
    parser.add_argument('--latency-ms', type=float, default=0)
    parser.add_argument('--log')
    parser.add_argument('--rate-per-connection', type=int, default=0)
    parser.add_argument('--port', type=int, default=0)
    args = parser.parse_args()
    Link.latency = args.latency_ms / 1000.0
    Link.rate = args.rate_per_connection
    if args.log:
        Link.log = open(args.log, 'a', encoding='ascii')
    server = Server(('127.0.0.1', args.port), Handler)
    ftp = loopback.FtpServer(args.ftp_root)
    return loopback.serve_until_stopped(server, args.port_file, args.parent_pid, http=server.server_address[1],
                                        ftp=ftp.port)


if __name__ == '__main__':
    sys.exit(main())
