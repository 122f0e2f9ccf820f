#!/usr/bin/env python3
# The loopback test server's own behaviour: routing, framing, recording, holds, TLS tunnels and FTP.
import base64
import ftplib
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'testbed', 'server.py')
sys.path.insert(0, os.path.dirname(SERVER))
import loopback  # noqa: E402
import server as testbed  # noqa: E402


def fields(*pairs):
    return testbed.encode_fields([(n, v if isinstance(v, bytes) else v.encode()) for n, v in pairs])


class Loopback:
    """The server as a child process, for the whole test class."""

    def __init__(self):
        self.work = tempfile.TemporaryDirectory()
        port_file = os.path.join(self.work.name, 'port')
        self.process = subprocess.Popen([sys.executable, SERVER, '--port-file', port_file,
                                         '--parent-pid', str(os.getpid()),
                                         '--cert-dir', os.path.join(self.work.name, 'certs')])
        self.port = loopback.wait_for_ports(port_file, self.process)['http']
        self.certs = os.path.join(self.work.name, 'certs')

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.work.cleanup()

    def connect(self):
        return socket.create_connection(('127.0.0.1', self.port), timeout=10)

    def control(self, command, body=b''):
        with self.connect() as s:
            s.sendall(b'POST /__testbed/%s HTTP/1.1\r\nContent-Length: %d\r\n\r\n%s'
                      % (command.encode(), len(body), body))
            status, _, reply = read_reply(s, until_close=True)
        return status, reply

    def route(self, *pairs):
        status, reply = self.control('route', fields(*pairs))
        assert status == 200, reply
        return status

    def requests(self):
        items = testbed.decode_fields(self.control('requests')[1])
        return [tuple(v for _, v in items[i:i + 4]) for i in range(0, len(items), 5)]

    def connections(self):
        items = testbed.decode_fields(self.control('requests')[1])
        return [int(items[i + 4][1]) for i in range(0, len(items), 5)]


def read_reply(sock, until_close=False):
    """(status, head, body) of one reply framed by its Content-Length, or by the close."""
    data = b''
    while b'\r\n\r\n' not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise EOFError('closed before the head ended: %r' % data)
        data += chunk
    head, _, body = data.partition(b'\r\n\r\n')
    length = None
    for line in head.split(b'\r\n')[1:]:
        name, _, value = line.partition(b':')
        if name.lower() == b'content-length':
            length = int(value)
    while until_close or length is None or len(body) < length:
        chunk = sock.recv(1 << 20)
        if not chunk:
            break
        body += chunk
    return int(head.split(b' ')[1]), head, body


def proxied(sock, url, extra=b''):
    sock.sendall(b'GET %s HTTP/1.1\r\nHost: x\r\n\r\n' % url.encode() + extra)
    return read_reply(sock)


class ServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.loopback = Loopback()

    @classmethod
    def tearDownClass(cls):
        cls.loopback.stop()

    def setUp(self):
        self.assertEqual(self.loopback.control('reset')[0], 200)

    def fetch(self, url):
        with self.loopback.connect() as s:
            return proxied(s, url)

    def test_routes_prefer_exact_query_then_method_then_order(self):
        b = self.loopback
        b.route(('target', '/p'), ('body', 'path'))
        b.route(('target', '/p?a=1'), ('body', 'exact'))
        b.route(('target', '/m'), ('body', 'any'))
        b.route(('target', '/m'), ('method', 'GET'), ('body', 'get'))
        b.route(('target', '/t'), ('times', '1'), ('status', '302'))
        b.route(('target', '/t'), ('body', 'second'))
        b.route(('host', 'Other.Example'), ('target', '/'), ('body', 'other'))
        cases = [('http://www.norvik.example/p?a=1', 200, b'exact'),
                 ('http://www.norvik.example:80/p?b=2', 200, b'path'),
                 ('http://www.norvik.example/m', 200, b'get'),
                 ('http://www.norvik.example/t', 302, b''),
                 ('http://www.norvik.example/t', 200, b'second'),
                 ('http://other.example:8080', 200, b'other'),
                 ('http://www.norvik.example/', 200, b'<html><body>Norvik</body></html>\r\n'),
                 ('http://elsewhere.example/', 404, None)]
        for url, status, body in cases:
            with self.subTest(url=url):
                got = self.fetch(url)
                self.assertEqual(got[0], status)
                if body is not None:
                    self.assertEqual(got[2], body)

    def test_records_exact_bytes_of_each_request_but_not_control_calls(self):
        body = b'\x00a\r\n\r\nb\xff'
        raw = (b'POST http://www.norvik.example/up?x HTTP/1.1\r\nX-B: 2\r\nx-a:  1 \r\n'
               b'Content-Length: %d\r\n\r\n' % len(body) + body)
        with self.loopback.connect() as s:
            s.sendall(raw)
            read_reply(s)
            s.sendall(b'GET http://www.norvik.example/ HTTP/1.1\r\n\r\n')
            read_reply(s)
        self.assertEqual(self.loopback.requests(), [
            (b'http', b'www.norvik.example', b'/up?x', raw),
            (b'http', b'www.norvik.example', b'/', b'GET http://www.norvik.example/ HTTP/1.1\r\n\r\n')])
        with self.loopback.connect() as s:
            s.sendall(b'GET http://www.norvik.example/ HTTP/1.1\r\n\r\n')
            read_reply(s)
        first, second, third = self.loopback.connections()
        self.assertEqual(first, second, 'two requests on one connection')
        self.assertGreater(third, second, 'a new connection gets a new number')
        self.loopback.control('reset')
        self.assertEqual(self.loopback.requests(), [])

    def test_framing_as_scripted(self):
        b = self.loopback
        b.route(('target', '/auto'), ('header', 'X-Odd:no space'), ('body', 'abc'))
        b.route(('target', '/none'), ('content-length', 'none'), ('body', 'abcdef'))
        b.route(('target', '/short'), ('content-length', '2'), ('body', 'abcdef'))
        b.route(('target', '/raw'), ('raw', 'ICY 200 OK\r\n\r\nxyz'))
        b.route(('target', '/cut'), ('generate', '1000'), ('close-after', '10'))
        with b.connect() as s:
            status, head, body = proxied(s, 'http://www.norvik.example/auto')
            self.assertEqual(head, b'HTTP/1.1 200 OK\r\nX-Odd:no space\r\nContent-Length: 3')
            # A well-framed reply keeps the connection for the next request.
            self.assertEqual(proxied(s, 'http://www.norvik.example/auto')[2], b'abc')
        for target, expected in (('/none', b'abcdef'), ('/short', b'abcdef'),
                                 ('/raw', b'ICY 200 OK\r\n\r\nxyz'), ('/cut', bytes(range(10)))):
            with self.subTest(target=target), b.connect() as s:
                s.sendall(b'GET http://www.norvik.example%s HTTP/1.1\r\n\r\n' % target.encode())
                received = b''
                while True:  # each of these replies ends by closing the connection
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    received += chunk
                self.assertTrue(received.endswith(expected), received)

    def test_generated_body_follows_the_pattern_across_chunks(self):
        size = 3 * len(testbed.PATTERN_CHUNK) + 7
        self.loopback.route(('target', '/big'), ('generate', str(size)))
        status, head, body = self.fetch('http://www.norvik.example/big')
        self.assertEqual(len(body), size)
        self.assertEqual(body, bytes(i % 251 for i in range(size)))
        # A flipped byte keeps the length and changes that byte only, in a ranged answer too.
        self.loopback.route(('target', '/flipped'), ('generate', str(size)), ('flip', str(size - 1)), ('ranges', '1'))
        status, head, body = self.fetch('http://www.norvik.example/flipped')
        self.assertEqual(body, bytes(i % 251 for i in range(size - 1)) + bytes([((size - 1) % 251) ^ 0xFF]))

    def test_ranges_heed_if_range_unless_told_to_ignore_it(self):
        b = self.loopback
        for target, ranges in (('/heeds', '1'), ('/ignores', 'any')):
            b.route(('target', target), ('header', 'ETag: "v2"'), ('generate', '10'), ('ranges', ranges))
        asked = b'Range: bytes=4-\r\nIf-Range: "v1"\r\n\r\n'
        for target, status, body in (('/heeds', 200, bytes(range(10))), ('/ignores', 206, bytes(range(4, 10)))):
            with self.subTest(target=target), b.connect() as s:
                s.sendall(b'GET http://www.norvik.example%s HTTP/1.1\r\n' % target.encode() + asked)
                got_status, head, got_body = read_reply(s)
                self.assertEqual((got_status, got_body), (status, body), head)

    def test_a_slice_is_its_bytes_or_what_the_route_says_instead(self):
        b = self.loopback
        for target, slices in (('/part', 'part'), ('/whole', 'whole'), ('/etag', 'etag'), ('/busy', '429')):
            b.route(('target', target), ('header', 'ETag: "v1"'), ('generate', '10'), ('ranges', '1'),
                    ('slices', slices))
        for target, status, body, etag in (('/part', 206, bytes(range(3, 6)), b'"v1"'),
                                           ('/whole', 200, bytes(range(10)), b'"v1"'),
                                           ('/etag', 206, bytes(range(3, 6)), b'"changed"'),
                                           ('/busy', 429, b'not now\n', None)):
            with self.subTest(target=target), b.connect() as s:
                s.sendall(b'GET http://www.norvik.example%s HTTP/1.1\r\nRange: bytes=3-5\r\n'
                          b'If-Range: "v1"\r\n\r\n' % target.encode())
                got_status, head, got_body = read_reply(s)
                self.assertEqual((got_status, got_body), (status, body), head)
                etags = [line[6:].strip() for line in head.split(b'\r\n') if line.lower().startswith(b'etag:')]
                self.assertEqual(etags, [etag] if etag else [], head)
        # An open range is the rest, whatever the slices say.
        with b.connect() as s:
            s.sendall(b'GET http://www.norvik.example/busy HTTP/1.1\r\nRange: bytes=7-\r\n\r\n')
            self.assertEqual(read_reply(s)[::2], (206, bytes(range(7, 10))))

    def test_a_range_of_unknown_whole_says_so_and_still_heeds_if_range(self):
        b = self.loopback
        b.route(('target', '/star'), ('header', 'ETag: "v1"'), ('generate', '10'), ('ranges', 'no-whole'))
        for validator, status, ranges, body in (('"v1"', 206, [b'Content-Range: bytes 4-9/*'], bytes(range(4, 10))),
                                                ('"v2"', 200, [], bytes(range(10)))):
            with self.subTest(validator=validator), b.connect() as s:
                s.sendall(b'GET http://www.norvik.example/star HTTP/1.1\r\nRange: bytes=4-\r\n'
                          b'If-Range: %s\r\n\r\n' % validator.encode())
                got_status, head, got_body = read_reply(s)
                self.assertEqual((got_status, got_body), (status, body), head)
                self.assertEqual([line for line in head.split(b'\r\n') if line.startswith(b'Content-Range')], ranges)

    def test_symlink_links_a_path_to_another_and_unlink_removes_the_link(self):
        with tempfile.TemporaryDirectory() as folder:
            link, target = os.path.join(folder, 'link'), os.path.join(folder, 'target')
            status, reply = self.loopback.control('symlink', fields(('link', link), ('target', target)))
            self.assertEqual(status, 200, reply)
            self.assertEqual(os.readlink(link), target)
            self.assertEqual(self.loopback.control('symlink', fields(('link', link), ('target', target)))[0], 400)
            self.assertEqual(self.loopback.control('unlink', fields(('link', link)))[0], 200)
            self.assertFalse(os.path.lexists(link))

    def test_held_connections_end_on_reset_and_delays_answer_late(self):
        b = self.loopback
        b.route(('target', '/never'), ('delay', 'never'))
        b.route(('target', '/stall'), ('generate', '100'), ('stall-after', '5'))
        held = []
        for target in ('/never', '/stall'):
            s = b.connect()
            s.sendall(b'GET http://www.norvik.example%s HTTP/1.1\r\n\r\n' % target.encode())
            held.append(s)
        time.sleep(0.5)
        started = time.monotonic()
        b.control('reset')
        received = []
        for s in held:
            with s:
                received.append(b'')
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    received[-1] += chunk
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(received[0], b'')
        self.assertTrue(received[1].endswith(b'Content-Length: 100\r\n\r\n' + bytes(range(5))), received[1])
        b.route(('target', '/late'), ('delay', '300'), ('body', 'late'))  # after the reset
        started = time.monotonic()
        self.assertEqual(self.fetch('http://www.norvik.example/late')[2], b'late')
        self.assertGreaterEqual(time.monotonic() - started, 0.3)

    def test_control_rejects_what_it_cannot_read(self):
        for body in (fields(('target', '/x'), ('colour', 'red')), b'target 5\n/x\n', fields(('body', 'no target'))):
            with self.subTest(body=body):
                self.assertEqual(self.loopback.control('route', body)[0], 400)
        self.assertEqual(self.loopback.control('nonsense')[0], 404)

    def tunnel(self, host, cafile, extra=b''):
        context = ssl.create_default_context(cafile=os.path.join(self.loopback.certs, cafile))
        raw = self.loopback.connect()
        raw.sendall(b'CONNECT %s:443 HTTP/1.1\r\nHost: %s:443\r\n%s\r\n' % (host.encode(), host.encode(), extra))
        self.assertEqual(raw.recv(4096), b'HTTP/1.1 200 Connection established\r\n\r\n')
        try:
            return context.wrap_socket(raw, server_hostname=host)
        except ssl.SSLError:
            raw.close()
            raise

    def test_tunnel_serves_routes_over_tls_for_the_connected_host(self):
        self.loopback.route(('target', '/s?q'), ('body', 'secret'))
        with self.tunnel('www.norvik.example', 'ca.pem') as tls:
            tls.sendall(b'GET /s?q HTTP/1.1\r\nHost: www.norvik.example\r\n\r\n')
            self.assertEqual(read_reply(tls)[2], b'secret')
        self.assertEqual([(c, h, t) for c, h, t, _ in self.loopback.requests()],
                         [(b'http', b'www.norvik.example', b'www.norvik.example:443'),
                          (b'https', b'www.norvik.example', b'/s?q')])
        connect, inside = self.loopback.connections()
        self.assertEqual(connect, inside, 'a tunnel\'s requests are its CONNECT\'s connection')

    def test_proxy_auth_challenges_proxied_requests_and_connects_until_they_carry_the_credentials(self):
        b = self.loopback
        self.assertEqual(b.control('proxy-auth', fields(('user', 'ann'), ('password', 'pa:ss')))[0], 200)
        right = b'Proxy-Authorization: Basic ' + base64.b64encode(b'ann:pa:ss') + b'\r\n'
        wrong = b'Proxy-Authorization: Basic ' + base64.b64encode(b'ann:nope') + b'\r\n'
        with b.connect() as s:
            # One connection: a challenged request leaves it open for the answer.
            for extra, status in ((b'', 407), (wrong, 407), (right, 200)):
                s.sendall(b'GET http://www.norvik.example/ HTTP/1.1\r\n%s\r\n' % extra)
                got, head, _ = read_reply(s)
                self.assertEqual(got, status, extra)
                if status == 407:
                    self.assertIn(b'\r\nProxy-Authenticate: Basic realm="Norvik test proxy"', head)
            s.sendall(b'CONNECT www.norvik.example:443 HTTP/1.1\r\n\r\n')
            self.assertEqual(read_reply(s)[0], 407, 'a tunnel is asked for the credentials too')
        with self.tunnel('www.norvik.example', 'ca.pem', right) as tls:
            tls.sendall(b'GET / HTTP/1.1\r\nHost: www.norvik.example\r\n\r\n')
            self.assertEqual(read_reply(tls)[0], 200, 'inside the tunnel the server answers, not the proxy')
        with b.connect() as s:
            s.sendall(b'GET / HTTP/1.1\r\nHost: www.norvik.example\r\n\r\n')
            self.assertEqual(read_reply(s)[0], 200, 'a request in origin form goes to the host itself')
        # Every attempt is in the log, the refused ones included.
        self.assertEqual([t for _, _, t, _ in b.requests()],
                         [b'/', b'/', b'/', b'www.norvik.example:443', b'www.norvik.example:443', b'/', b'/'])
        self.assertEqual(b.control('proxy-auth', fields(('user', 'a:b')))[0], 400)
        b.control('reset')
        self.assertEqual(self.fetch('http://www.norvik.example/')[0], 200, 'a reset lifts the requirement')

    def test_untrusted_host_is_signed_by_the_other_authority(self):
        with self.assertRaises(ssl.SSLCertVerificationError):
            self.tunnel('untrusted.norvik.example', 'ca.pem').close()
        with self.tunnel('untrusted.norvik.example', 'untrusted-ca.pem') as tls:
            tls.sendall(b'GET / HTTP/1.1\r\n\r\n')
            self.assertEqual(read_reply(tls)[0], 404)

    def test_ftp_serves_a_folder_and_records_commands(self):
        with tempfile.TemporaryDirectory() as root:
            with open(os.path.join(root, 'f.bin'), 'wb') as f:
                f.write(b'\x00\x01payload')
            status, reply = self.loopback.control('ftp/start', fields(('root', root)))
            self.assertEqual(status, 200, reply)
            port = int(dict(testbed.decode_fields(reply))['port'])
            with ftplib.FTP() as ftp:
                ftp.connect('127.0.0.1', port, timeout=10)
                ftp.login()
                chunks = []
                ftp.retrbinary('RETR f.bin', chunks.append)
            self.assertEqual(b''.join(chunks), b'\x00\x01payload')
            commands = [t for c, _, t, _ in self.loopback.requests() if c == b'ftp']
            self.assertIn(b'RETR', commands)
            self.assertEqual(self.loopback.control('ftp/stop')[0], 200)
            with self.assertRaises(OSError):
                socket.create_connection(('127.0.0.1', port), timeout=5).close()


if __name__ == '__main__':
    unittest.main()
