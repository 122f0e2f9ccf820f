#!/usr/bin/env python3
# The benchmarks' loopback source: a proxy-style HTTP server for large bodies and the service, and FTP.
"""Loopback server for scripts/bench.sh, reached by Wine's WinINet as its HTTP proxy.

Usage: bench_server.py --port-file FILE --ftp-root DIR [--parent-pid PID]

Answers, for any host:
  GET  /               200, a small page (the connectivity probe)
  GET  /size/N         200, N bytes of the pattern i % 251, with Content-Length
  GET  /moved/N        302 to http://files.norvik.example/size/N, no body
  GET  /svc            200, a small page without Location (the service URL's redirect look)
  POST /svc            200, a service reply: StatusCode 1, a download URL and a file size
and serves DIR read-only over anonymous FTP. Writes "http=PORT" and "ftp=PORT" lines to FILE.

Unlike the wire tests' bench it records nothing and has no control API, so that the source is never
the bottleneck: bodies are sent from one precomputed block, with keep-alive.
"""

import argparse
import os
import socket
import socketserver
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'testbed'))
import loopback  # noqa: E402

BLOCK = memoryview(loopback.pattern(16384))  # about 4 MiB: few sends per body
PAGE = b'<html><body>bench</body></html>\r\n'
SERVICE_REPLY = (b'<!-- bench -->\r\n<reply>\r\n'
                 b'  <field name="StatusCode" value="1"/>\r\n'
                 b'  <field name="downloadURL" value="http://files.norvik.example/size/1048576"/>\r\n'
                 b'  <field name="filesize" value="1048576"/>\r\n'
                 b'</reply>\r\n')


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


def send_pattern(sock, size):
    # Each piece starts at a multiple of the period, so the pattern runs on unbroken.
    while size > 0:
        piece = min(size, len(BLOCK))
        sock.sendall(BLOCK[:piece])
        size -= piece


def answer(sock, method, path):
    head = 'HTTP/1.1 %d %s\r\nContent-Length: %d\r\n%s\r\n'
    if path.startswith('/size/'):
        size = int(path[len('/size/'):])
        sock.sendall((head % (200, 'OK', size, '')).encode())
        send_pattern(sock, size)
    elif path.startswith('/moved/'):
        location = 'Location: http://files.norvik.example/size/%s\r\n' % path[len('/moved/'):]
        sock.sendall((head % (302, 'Found', 0, location)).encode())
    elif path == '/svc' and method == 'POST':
        sock.sendall((head % (200, 'OK', len(SERVICE_REPLY), '')).encode() + SERVICE_REPLY)
    else:
        sock.sendall((head % (200, 'OK', len(PAGE), '')).encode() + PAGE)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock, buffer = self.request, bytearray()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            while True:
                head = read_head(sock, buffer)
                if head is None:
                    return
                lines = head.decode('latin-1').split('\r\n')
                method, target, _ = lines[0].split(' ', 2)
                length = 0
                for line in lines[1:]:
                    name, _, value = line.partition(':')
                    if name.strip().lower() == 'content-length':
                        length = int(value)
                while len(buffer) < length:
                    data = sock.recv(65536)
                    if not data:
                        return
                    buffer += data
                del buffer[:length]
                answer(sock, method, path_of(target))
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
    args = parser.parse_args()
    server = Server(('127.0.0.1', 0), Handler)
    ftp = loopback.FtpServer(args.ftp_root)
    return loopback.serve_until_stopped(server, args.port_file, args.parent_pid, http=server.server_address[1],
                                        ftp=ftp.port)


if __name__ == '__main__':
    sys.exit(main())
