#!/usr/bin/env python3
# The loopback "internet" of the wire tests: a scripted HTTP proxy, TLS tunnels, FTP and a request log.
"""Loopback test server that Wine's WinINet reaches as its HTTP proxy.

Usage: server.py --port-file FILE [--parent-pid PID] [--cert-dir DIR] [--port N]

Proxied requests arrive in absolute form and are answered from scripted routes keyed by host and
path; CONNECT tunnels are wrapped in TLS with certificates of a test CA; an anonymous FTP server
starts on demand. Every request received is recorded byte for byte. Tests drive it through the
control API under /__testbed/ (see README.md beside this file).
"""

import argparse
import base64
import copy
import fcntl
import http
import os
import re
import secrets
import select
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

import loopback

PROBE_HOST = 'www.norvik.example'
CONTROL_PREFIX = '/__testbed/'
MAX_HEAD = 1 << 20
POLL_SECONDS = 0.1
PATTERN_CHUNK = loopback.pattern(1024)  # generated bodies are sent in pieces of this


# --- field lists: `name SP decimal-length LF bytes LF`, repeated; binary-safe both ways ---

def decode_fields(data):
    fields, pos = [], 0
    while pos < len(data):
        space = data.index(b' ', pos)
        newline = data.index(b'\n', space)
        name = data[pos:space].decode('ascii')
        length = int(data[space + 1:newline])
        start, end = newline + 1, newline + 1 + length
        if length < 0 or data[end:end + 1] != b'\n':
            raise ValueError('field %r: value does not end where its length says' % name)
        fields.append((name, data[start:end]))
        pos = end + 1
    return fields


def encode_fields(fields):
    return b''.join(b'%s %d\n%s\n' % (name.encode('ascii'), len(value), value)
                    for name, value in fields)


# --- routes ---

def _int(value):
    return int(value.decode('ascii'))


def _delay(value):
    text = value.decode('ascii')
    return None if text == 'never' else int(text) / 1000.0


def _trickle(value):
    """'bytes every-ms': the body sent a few bytes at a time, with a pause before each piece."""
    size, pause = value.decode('ascii').split(' ')
    return int(size), int(pause) / 1000.0


def _content_length(value):
    text = value.decode('ascii')
    return text if text in ('auto', 'none') else int(text)


class Route:
    """One scripted answer. Field names are those of the control API."""

    SETTERS = {
        'host': lambda r, v: setattr(r, 'host', v.decode('ascii').lower()),
        'target': lambda r, v: setattr(r, 'target', v.decode('latin-1')),
        'method': lambda r, v: setattr(r, 'method', v.decode('ascii')),
        'times': lambda r, v: setattr(r, 'times', _int(v)),
        'status': lambda r, v: setattr(r, 'status', _int(v)),
        'reason': lambda r, v: setattr(r, 'reason', v),
        'version': lambda r, v: setattr(r, 'version', v),
        'header': lambda r, v: r.headers.append(v),
        'body': lambda r, v: setattr(r, 'body', v),
        'generate': lambda r, v: setattr(r, 'generate', _int(v)),
        'content-length': lambda r, v: setattr(r, 'content_length', _content_length(v)),
        'delay': lambda r, v: setattr(r, 'delay', _delay(v)),
        'stall-after': lambda r, v: setattr(r, 'stall_after', _int(v)),
        'close-after': lambda r, v: setattr(r, 'close_after', _int(v)),
        'trickle': lambda r, v: setattr(r, 'trickle', _trickle(v)),
        'raw': lambda r, v: setattr(r, 'raw', v),
        'close': lambda r, v: setattr(r, 'close', v == b'1'),
        'ranges': lambda r, v: setattr(r, 'ranges', {b'1': True, b'any': 'any', b'no-whole': 'no-whole'}.get(v, False)),
        'flip': lambda r, v: setattr(r, 'flip', _int(v)),
        'slices': lambda r, v: setattr(r, 'slices', v.decode('ascii')),
        'rate': lambda r, v: setattr(r, 'rate', _int(v)),
    }

    def __init__(self, fields=(), **values):
        self.host, self.target, self.method, self.times = PROBE_HOST, None, None, None
        self.status, self.reason, self.version = 200, None, b'HTTP/1.1'
        self.headers, self.body, self.generate = [], b'', None
        self.content_length, self.delay = 'auto', 0.0
        self.stall_after, self.close_after, self.raw, self.close = None, None, None, False
        self.trickle = None
        self.ranges = False
        self.flip = None
        self.slices, self.rate = 'part', None
        for name, value in fields:
            if name not in self.SETTERS:
                raise ValueError('unknown route field %r' % name)
            self.SETTERS[name](self, value)
        self.__dict__.update(values)
        if not self.target or not self.target.startswith('/'):
            raise ValueError('a route needs a target that starts with "/"')
        if self.flip is not None:
            self._flip_byte()

    def _flip_byte(self):
        """Other bytes of the same length: the body made whole, with the byte at `flip` inverted."""
        body = bytearray(self.generate_bytes() if self.generate is not None else self.body)
        if not 0 <= self.flip < len(body):
            raise ValueError('flip %d is outside a body of %d bytes' % (self.flip, len(body)))
        body[self.flip] ^= 0xFF
        self.generate, self.body = None, bytes(body)

    def generate_bytes(self):
        """The whole generated body at once: for trickled bodies, which are small."""
        whole = PATTERN_CHUNK * (self.generate // len(PATTERN_CHUNK) + 1)
        return whole[:self.generate]

    def body_length(self):
        return self.generate if self.generate is not None else len(self.body)

    def head(self):
        reason = self.reason
        if reason is None:
            try:
                reason = http.HTTPStatus(self.status).phrase.encode('ascii')
            except ValueError:
                reason = b'Scripted'
        lines = [b'%s %d %s' % (self.version, self.status, reason)] + self.headers
        if self.content_length == 'auto':
            lines.append(b'Content-Length: %d' % self.body_length())
        elif self.content_length != 'none':
            lines.append(b'Content-Length: %d' % self.content_length)
        return b'\r\n'.join(lines) + b'\r\n\r\n'

    def keeps_connection(self):
        """A reply whose framing is wrong or missing ends the connection: the client cannot find
        where the next reply would start."""
        declared = self.content_length
        framed = declared == 'auto' or declared == self.body_length()
        return framed and not self.close


def default_route(host, target):
    if host == PROBE_HOST and target == '/':
        return Route(target='/', body=b'<html><body>Norvik</body></html>\r\n')
    return Route(target='/', status=404, body=b'not scripted: %s%s\n' % (
        host.encode('latin-1'), target.encode('latin-1')))


# --- shared state ---

class Bench:
    def __init__(self, certs):
        self.lock = threading.Lock()
        self.routes, self.records = [], []
        self.generation = 0  # bumped by reset; waiting connections of an older one give up
        self.connections = 0  # numbers the accepted connections, from 1; a tunnel keeps its own
        self.ftp = None
        self.certs = certs
        self.proxy_credentials = None  # the Proxy-Authorization value a proxied request must carry

    def reset(self):
        with self.lock:
            self.routes, self.records = [], []
            self.proxy_credentials = None
            self.generation += 1
            ftp, self.ftp = self.ftp, None
        if ftp:
            ftp.stop()

    def add_route(self, route):
        with self.lock:
            self.routes.append(route)

    def next_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def record(self, channel, host, target, raw, connection=0):
        with self.lock:
            self.records.append((channel, host, target, raw, connection))

    def encoded_records(self):
        with self.lock:
            records = list(self.records)
        fields = []
        for channel, host, target, raw, connection in records:
            fields += [('channel', channel.encode('ascii')), ('host', host.encode('latin-1')),
                       ('target', target.encode('latin-1')), ('raw', raw),
                       ('connection', b'%d' % connection)]
        return encode_fields(fields)

    def take_route(self, method, host, target):
        """Exact path+query before path alone; a route for the method before one for any method;
        then the earliest added. A route with `times` left at 0 is used up."""
        path = target.split('?', 1)[0]
        with self.lock:
            for wanted in (target, path):
                for by_method in (True, False):
                    for route in self.routes:
                        if (route.host == host and route.target == wanted and route.times != 0
                                and (route.method == method if by_method else route.method is None)):
                            if route.times is not None:
                                route.times -= 1
                            return route
        return None

    def start_ftp(self, root):
        # FTP commands are recorded like requests, on the channel 'ftp'.
        ftp = loopback.FtpServer(root, on_command=lambda line, command: self.record(
            'ftp', '127.0.0.1', command, line.encode('utf-8', 'surrogateescape')))
        with self.lock:
            old, self.ftp = self.ftp, ftp
        if old:
            old.stop()
        return ftp.port

    def stop_ftp(self):
        with self.lock:
            ftp, self.ftp = self.ftp, None
        if ftp:
            ftp.stop()


# --- connections ---

class Stream:
    """Buffered reading of requests from a plain or TLS socket."""

    def __init__(self, sock):
        self.sock, self.buffer = sock, bytearray()

    def _fill(self):
        data = self.sock.recv(65536)
        if not data:
            raise EOFError()
        self.buffer += data

    def read_head(self):
        """The request line and header lines through the blank line; None at a clean end."""
        while True:
            end = self.buffer.find(b'\r\n\r\n')
            if end >= 0:
                head = bytes(self.buffer[:end + 4])
                del self.buffer[:end + 4]
                return head
            if len(self.buffer) > MAX_HEAD:
                raise ValueError('request head too long')
            try:
                self._fill()
            except EOFError:
                if self.buffer:
                    raise
                return None

    def read_exact(self, count):
        while len(self.buffer) < count:
            self._fill()
        data = bytes(self.buffer[:count])
        del self.buffer[:count]
        return data


class Request:
    def __init__(self, head):
        lines = head[:-4].split(b'\r\n')
        parts = lines[0].decode('latin-1').split(' ')
        if len(parts) != 3:
            raise ValueError('bad request line')
        self.method, self.target, self.version = parts
        self.headers = []
        for line in lines[1:]:
            name, _, value = line.decode('latin-1').partition(':')
            self.headers.append((name.strip().lower(), value.strip()))

    def header(self, name):
        for key, value in self.headers:
            if key == name:
                return value
        return None

    def content_length(self):
        return int(self.header('content-length') or 0)

    def wants_close(self):
        tokens = ((self.header('connection') or '') + ',' + (self.header('proxy-connection') or ''))
        return 'close' in tokens.lower() or self.version == 'HTTP/1.0' and 'keep-alive' not in tokens.lower()


def split_authority(authority):
    """Host without user info or port, lower case."""
    host = authority.rpartition('@')[2]
    if host.startswith('['):
        return host[1:host.find(']')].lower()
    return host.partition(':')[0].lower()


def route_key(request, tunnel_host):
    """(host, path with query) of a request in absolute form, or in origin form inside a tunnel."""
    target = request.target
    scheme, sep, rest = target.partition('://')
    if sep and '/' not in scheme:
        authority, slash, path = rest.partition('/')
        return split_authority(authority), slash + path if slash else '/'
    host = tunnel_host or split_authority(request.header('host') or '')
    return host, target


def wait(bench, sock, seconds, generation):
    """Sleeps `seconds` (None: for ever). False when the client left or the bench was reset."""
    deadline = None if seconds is None else time.monotonic() + seconds
    while True:
        remaining = POLL_SECONDS if deadline is None else deadline - time.monotonic()
        if remaining <= 0:
            return True
        if bench.generation != generation:
            return False
        readable, _, _ = select.select([sock], [], [], min(POLL_SECONDS, remaining))
        if readable:  # a waiting client sends nothing: this is its close
            return False


def send_body(sock, route, limit):
    count = route.body_length() if limit is None else min(limit, route.body_length())
    if route.rate is not None:
        return send_at_rate(sock, route, count)
    if route.generate is None:
        sock.sendall(route.body[:count])
        return
    while count > 0:
        piece = min(count, len(PATTERN_CHUNK))
        sock.sendall(PATTERN_CHUNK[:piece])
        count -= piece


def send_at_rate(sock, route, count):
    """The first count bytes of the body at about route.rate bytes a second, a twentieth at a time."""
    whole = route.generate_bytes() if route.generate is not None else route.body
    piece = max(1, route.rate // 20)
    start_time = time.monotonic()
    for start in range(0, count, piece):
        ahead = start / route.rate - (time.monotonic() - start_time)
        if ahead > 0:
            time.sleep(ahead)
        sock.sendall(whole[start:min(start + piece, count)])


def validators(route):
    """The values of the route's ETag and Last-Modified header lines."""
    found = []
    for line in route.headers:
        name, _, value = line.partition(b':')
        if name.strip().lower() in (b'etag', b'last-modified'):
            found.append(value.strip().decode('latin-1'))
    return found


def ranged(route, request):
    """The route as it answers a request for the rest of its body: a 206 from the asked byte, or a 416
    past its end. The route itself when it does not serve ranges, the request asks for none, or its
    If-Range names another validator (then the whole body is the answer, as a server sends it); a
    route whose ranges are 'any' ignores If-Range, as a careless server or proxy does, and one whose
    ranges are 'no-whole' gives its part's Content-Range no whole length ("bytes N-M/*"), as a server
    that does not know it yet does."""
    match = re.fullmatch(r'bytes=(\d+)-(\d*)', request.header('range') or '')
    if not route.ranges or not match:
        return route
    if match.group(2) and route.slices != 'part':
        return sliced_otherwise(route, request)
    if_range = request.header('if-range')
    if if_range is not None and route.ranges != 'any' and if_range not in validators(route):
        return route
    whole = route.generate_bytes() if route.generate is not None else route.body
    first = int(match.group(1))
    last = min(int(match.group(2)), len(whole) - 1) if match.group(2) else len(whole) - 1
    part = copy.copy(route)
    part.generate, part.content_length = None, 'auto'
    if first >= len(whole):
        part.status, part.body = 416, b''
        part.headers = route.headers + [b'Content-Range: bytes */%d' % len(whole)]
    else:
        part.status, part.body = 206, whole[first:last + 1]
        length = b'*' if route.ranges == 'no-whole' else b'%d' % len(whole)
        part.headers = route.headers + [b'Content-Range: bytes %d-%d/%s' % (first, last, length)]
    return part


def sliced_otherwise(route, request):
    """The route's answer to a range with a last byte (a slice) when its `slices` say other than `part`:
    `whole` sends the whole body with 200, `etag` the part under another ETag (the file changed), a
    status number that status with a short body and no range."""
    if route.slices == 'whole':
        return route
    if route.slices == 'etag':
        part = copy.copy(route)
        part.headers = [h for h in route.headers if not h.lower().startswith(b'etag:')] + [b'ETag: "changed"']
        part.slices, part.ranges = 'part', 'any'  # the part of a file that changed since If-Range's validator
        return ranged(part, request)
    return Route(target=route.target, status=int(route.slices), body=b'not now\n', headers=[b'Retry-After: 1'])


def trickle_body(bench, sock, route, limit, generation):
    """Sends the body piece by piece with a pause before each; False when the client left."""
    size, pause = route.trickle
    whole = route.generate_bytes() if route.generate is not None else route.body
    count = len(whole) if limit is None else min(limit, len(whole))
    for start in range(0, count, size):
        if not wait(bench, sock, pause, generation):
            return False
        sock.sendall(whole[start:min(start + size, count)])
    return True


def answer(bench, sock, route, request):
    """Sends the scripted reply; True when the connection may carry another request."""
    generation = bench.generation
    if route.delay != 0 and not wait(bench, sock, route.delay, generation):
        return False
    if route.raw is not None:
        sock.sendall(route.raw)
        return False
    cut = route.stall_after if route.stall_after is not None else route.close_after
    if route.trickle is None and cut is None and route.generate is None and route.rate is None:
        # A whole fixed reply goes in one write, as a server writes a short one: a client that reads the
        # head and lets go finds the body already there, and its connection reusable, however the two
        # threads are scheduled.
        sock.sendall(route.head() + route.body[:route.body_length()])
        return route.keeps_connection() and not request.wants_close()
    sock.sendall(route.head())
    if route.trickle is not None:
        if not trickle_body(bench, sock, route, cut, generation):
            return False
    else:
        send_body(sock, route, cut)
    if route.stall_after is not None:
        wait(bench, sock, None, generation)
        return False
    if route.close_after is not None:
        return False
    return route.keeps_connection() and not request.wants_close()


PROXY_REALM = b'Norvik test proxy'


def require_proxy_auth(bench, fields):
    """Proxied requests (absolute form and CONNECT) must carry these Basic credentials from now on; an
    empty or missing user lifts the requirement."""
    values = dict(fields)
    user, password = values.get('user', b''), values.get('password', b'')
    if b':' in user:
        raise ValueError('a Basic user name holds no ":"')
    bench.proxy_credentials = b'Basic ' + base64.b64encode(user + b':' + password) if user else None


def proxy_refuses(bench, request):
    """Whether the proxy asks this request for credentials: one addressed to the proxy (absolute form, or
    CONNECT) whose Proxy-Authorization is not the one required. Requests inside a tunnel, and those in
    origin form (the hosts reached directly), are the servers' own."""
    wanted = bench.proxy_credentials
    scheme, sep, _ = request.target.partition('://')
    proxied = request.method == 'CONNECT' or bool(sep) and '/' not in scheme
    given = request.header('proxy-authorization')
    return wanted is not None and proxied and (given is None or given.encode('latin-1') != wanted)


def proxy_challenge():
    return Route(target='/', status=407, body=b'proxy credentials required\n',
                 headers=[b'Proxy-Authenticate: Basic realm="%s"' % PROXY_REALM])


def serve(bench, sock, channel, tunnel_host=None, connection=0):
    stream = Stream(sock)
    while True:
        head = stream.read_head()
        if head is None:
            return
        request = Request(head)
        raw = head + stream.read_exact(request.content_length())
        if channel == 'http' and not request.target.startswith(CONTROL_PREFIX) and proxy_refuses(bench, request):
            host, target = (split_authority(request.target), request.target) if request.method == 'CONNECT' \
                else route_key(request, tunnel_host)
            bench.record(channel, host, target, raw, connection)
            if not answer(bench, sock, proxy_challenge(), request):
                return
            continue
        if channel == 'http' and request.method == 'CONNECT':
            host = split_authority(request.target)
            bench.record(channel, host, request.target, raw, connection)
            return tunnel(bench, sock, host, connection)
        if channel == 'http' and request.target.startswith(CONTROL_PREFIX):
            return control(bench, sock, request, raw[len(head):])
        host, target = route_key(request, tunnel_host)
        bench.record(channel, host, target, raw, connection)
        route = bench.take_route(request.method, host, target) or default_route(host, target)
        if not answer(bench, sock, ranged(route, request), request):
            return


def tunnel(bench, sock, host, connection):
    sock.sendall(b'HTTP/1.1 200 Connection established\r\n\r\n')
    tls = bench.certs.context(host).wrap_socket(sock, server_side=True)
    try:
        serve(bench, tls, 'https', host, connection)
    finally:
        tls.close()


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            serve(self.server.bench, self.request, 'http', connection=self.server.bench.next_connection())
        except (OSError, EOFError, ValueError):
            pass  # the client went away or sent garbage: nothing to answer


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


# --- control API ---

def control(bench, sock, request, body):
    command = request.target[len(CONTROL_PREFIX):]
    status, reply = 200, b''
    try:
        if command == 'reset':
            bench.reset()
        elif command == 'route':
            bench.add_route(Route(decode_fields(body)))
        elif command == 'requests':
            reply = bench.encoded_records()
        elif command == 'ftp/start':
            root = dict(decode_fields(body)).get('root', b'').decode('utf-8')
            if not os.path.isdir(root):
                raise ValueError('ftp root %r is not a directory' % root)
            reply = encode_fields([('port', b'%d' % bench.start_ftp(root))])
        elif command == 'proxy-auth':
            require_proxy_auth(bench, decode_fields(body))
        elif command == 'symlink':
            paths = dict(decode_fields(body))
            os.symlink(paths['target'].decode('utf-8'), paths['link'].decode('utf-8'))
        elif command == 'unlink':
            os.unlink(dict(decode_fields(body))['link'].decode('utf-8'))
        elif command == 'ftp/stop':
            bench.stop_ftp()
        elif command == 'ca':
            reply = encode_fields([('trusted', bench.certs.ca_pem.encode()),
                                   ('untrusted', bench.certs.untrusted_pem.encode())])
        else:
            status, reply = 404, b'unknown control command\n'
    except (ValueError, KeyError, UnicodeDecodeError, OSError) as error:
        status, reply = 400, str(error).encode('utf-8') + b'\n'
    sock.sendall(Route(target='/', status=status, body=reply, close=True).head() + reply)


# --- TLS ---

class Certificates:
    """A test CA, a second CA that no client trusts, and leaf certificates made on first use.

    Hosts named untrusted.* get a leaf of the untrusted CA; hosts named othername.* get a leaf of the
    test CA made out for another name (elsewhere.example). The CA files are made once per folder
    (under a lock, because servers of parallel tests share it); leaves are written atomically."""

    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        self.contexts = {}
        os.makedirs(os.path.join(folder, 'leaves'), exist_ok=True)
        with open(os.path.join(folder, '.lock'), 'w') as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            for name, subject in (('ca', 'Norvik Test CA'), ('untrusted-ca', 'Norvik Untrusted CA')):
                if not os.path.exists(self.path(name + '.pem')):
                    self.make_ca(name, subject)
            if not os.path.exists(self.path('leaf.key')):
                openssl('genrsa', '-out', self.path('leaf.key.new'), '2048')
                os.replace(self.path('leaf.key.new'), self.path('leaf.key'))
        self.ca_pem = read_text(self.path('ca.pem'))
        self.untrusted_pem = read_text(self.path('untrusted-ca.pem'))

    def path(self, name):
        return os.path.join(self.folder, name)

    def make_ca(self, name, subject):
        openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '3650',
                '-keyout', self.path(name + '.key'), '-out', self.path(name + '.new'),
                '-subj', '/CN=' + subject,
                '-addext', 'basicConstraints=critical,CA:TRUE',
                '-addext', 'keyUsage=critical,keyCertSign,cRLSign')
        openssl('x509', '-in', self.path(name + '.new'), '-outform', 'DER',
                '-out', self.path(name + '.der'))
        os.replace(self.path(name + '.new'), self.path(name + '.pem'))

    def leaf(self, host):
        issuer = 'untrusted-ca' if host.startswith('untrusted.') else 'ca'
        name = 'elsewhere.example' if host.startswith('othername.') else host
        pem = os.path.join(self.folder, 'leaves', host + '.pem')
        if os.path.exists(pem):
            return pem
        with tempfile.TemporaryDirectory(dir=self.folder) as work:
            csr, ext, out = (os.path.join(work, n) for n in ('leaf.csr', 'leaf.ext', 'leaf.pem'))
            with open(ext, 'w') as f:
                f.write('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n'
                        'extendedKeyUsage=serverAuth\nsubjectAltName=DNS:%s\n' % name)
            openssl('req', '-new', '-key', self.path('leaf.key'), '-subj', '/CN=' + name, '-out', csr)
            openssl('x509', '-req', '-in', csr, '-CA', self.path(issuer + '.pem'),
                    '-CAkey', self.path(issuer + '.key'), '-set_serial', '0x' + secrets.token_hex(8),
                    '-days', '825', '-extfile', ext, '-out', out)
            os.replace(out, pem)
        return pem

    def context(self, host):
        if not host or '/' in host or host.startswith('.'):
            raise ValueError('bad tunnel host %r' % host)
        with self.lock:
            if host not in self.contexts:
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                context.load_cert_chain(self.leaf(host), self.path('leaf.key'))
                self.contexts[host] = context
            return self.contexts[host]


def openssl(*args):
    subprocess.run(('openssl',) + args, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def read_text(path):
    with open(path) as f:
        return f.read()


# --- process ---

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--port-file', required=True)
    parser.add_argument('--parent-pid', type=int)
    parser.add_argument('--cert-dir', help='where the test CAs live (made on first use)')
    parser.add_argument('--port', type=int, default=0, help='80 where the hosts reach it directly')
    args = parser.parse_args()

    cert_dir = args.cert_dir or tempfile.mkdtemp(prefix='testbed-certs.')
    server = Server(('127.0.0.1', args.port), Handler)
    server.bench = Bench(Certificates(cert_dir))
    return loopback.serve_until_stopped(server, args.port_file, args.parent_pid, http=server.server_address[1])


if __name__ == '__main__':
    sys.exit(main())
