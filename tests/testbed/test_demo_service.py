#!/usr/bin/env python3
# The demo download service over its sockets: mirrors in its replies, what its files host does to each
# code's file (breaks, a 503 that asks for a wait), what the mirrors do, and the details a report may carry.
import os
import re
import socket
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
sys.path.insert(0, os.path.join(ROOT, 'testbed'))
import loopback  # noqa: E402

SERVICE = 'http://service.norvik.example/activate'
FILES = 'http://files.norvik.example/files/'
MIRRORS = ('http://mirror1.norvik.example/files/', 'http://mirror2.norvik.example/files/')
FIELD = re.compile(r'<field name="([^"]*)" value="([^"]*)"/>')


class Reply:
    """One answer as it arrived: status, header lines by lower-case name, body, and whether the body is
    as long as its Content-Length said."""

    def __init__(self, raw):
        head, _, self.body = raw.partition(b'\r\n\r\n')
        lines = head.decode('latin-1').split('\r\n')
        self.status = int(lines[0].split()[1])
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(':')
            self.headers[name.strip().lower()] = value.strip()
        self.whole = int(self.headers.get('content-length', -1)) == len(self.body)


class DemoService(unittest.TestCase):
    """A service of each test's own, in a folder of its own: what one test's queries set up never reaches
    another."""

    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        port_file = os.path.join(self.work.name, 'ports')
        self.said_file = open(os.path.join(self.work.name, 'said.txt'), 'w+')
        self.process = subprocess.Popen([sys.executable, '-B', os.path.join(ROOT, 'testbed', 'demo_service.py'),
                                         '--work', self.work.name, '--port-file', port_file, '--big-mib', '1'],
                                        stdout=self.said_file)
        self.port = loopback.wait_for_ports(port_file, self.process)['http']

    def tearDown(self):
        self.process.terminate()
        self.process.wait(30)
        self.said_file.close()
        self.work.cleanup()

    def request(self, method, url, headers=(), body=b'', version='HTTP/1.0'):
        """One request through the service as the proxy, read until the service closes the connection."""
        lines = ['%s %s %s' % (method, url, version), 'Host: %s' % urllib.parse.urlsplit(url).hostname,
                 'Connection: close', 'Content-Length: %d' % len(body)] + list(headers)
        with socket.create_connection(('127.0.0.1', self.port), timeout=30) as connection:
            connection.sendall(('\r\n'.join(lines) + '\r\n\r\n').encode('latin-1') + body)
            raw = b''
            while chunk := connection.recv(1 << 16):
                raw += chunk
        return Reply(raw)

    def download(self, url, first=None):
        """A GET as the component's download sends it (HTTP/1.0), from byte `first` on when given."""
        return self.request('GET', url, ['Range: bytes=%d-' % first] if first is not None else [])

    def post(self, **form):
        """The service's reply fields to a form, in document order."""
        reply = self.request('POST', SERVICE, ['Content-Type: application/x-www-form-urlencoded'],
                             urllib.parse.urlencode(form).encode('latin-1'))
        self.assertEqual(200, reply.status)
        return FIELD.findall(reply.body.decode('utf-8'))

    def query(self, code):
        return self.post(ActivateCode=code, act='1')

    def source(self, name):
        with open(os.path.join(self.work.name, 'files', name), 'rb') as f:
            return f.read()

    def said(self):
        self.said_file.flush()
        with open(self.said_file.name, encoding='utf-8') as f:
            return f.read().splitlines()

    def test_replies_name_mirrors_after_the_download_url(self):
        cases = [
            ('DEMO-BIG-0001', 'tamsel-suite.bin', True),
            ('DEMO-FLAKY-0005', 'tamsel-patch.bin', True),
            ('DEMO-FAILOVER-0007', 'tamsel-drivers.bin', True),
            ('DEMO-SMALL-0002', 'tamsel-update.bin', False),
            ('DEMO-TAMPERED-0006', 'tamsel-tools.bin', False),
            ('DEMO-BUSY-0008', 'tamsel-fonts.bin', False),
        ]
        for code, name, mirrored in cases:
            with self.subTest(code):
                fields = self.query(code)
                names = [field for field, _ in fields]
                mirrors = [MIRRORS[0] + name, MIRRORS[1] + name] if mirrored else []
                self.assertEqual(['StatusCode', 'downloadURL'] + ['mirrorURL'] * len(mirrors) + ['filesize', 'sha256'],
                                 names)
                self.assertEqual(FILES + name, fields[1][1])
                self.assertEqual(mirrors, [value for field, value in fields if field == 'mirrorURL'])

    def test_mirrors_serve_the_same_bytes_with_the_same_validator(self):
        name = 'tamsel-drivers.bin'
        whole = self.source(name)
        etag = self.request('GET', FILES + name, version='HTTP/1.1').headers['etag']
        for mirror in MIRRORS:
            with self.subTest(mirror):
                reply = self.download(mirror + name)
                self.assertEqual((200, True, etag), (reply.status, reply.whole, reply.headers['etag']))
                self.assertEqual(whole, reply.body)
                part = self.request('GET', mirror + name, ['Range: bytes=1000-', 'If-Range: ' + etag])
                self.assertEqual((206, whole[1000:]), (part.status, part.body))

    def test_the_failover_file_breaks_at_30_percent_on_every_download_from_the_files_host(self):
        name = 'tamsel-drivers.bin'
        whole = self.source(name)
        cut = len(whole) * 30 // 100
        cases = [(None, 200, whole[:cut], 'a whole download'),
                 (None, 200, whole[:cut], 'again, with no query in between'),
                 (1000, 206, whole[1000:cut], 'a resume before the cut stops at it'),
                 (cut, 206, b'', 'a resume from the cut gets its head and nothing more'),
                 (len(whole) - 1, 206, b'', 'nor does one past it')]
        for first, status, body, why in cases:
            with self.subTest(why):
                reply = self.download(FILES + name, first)
                self.assertEqual((status, False, body), (reply.status, reply.whole, reply.body))
        self.assertEqual(5, sum('broke off %s at byte %d of %d (30 %%)' % (name, cut, len(whole)) in line
                                for line in self.said()))
        self.query('DEMO-FAILOVER-0007')
        self.assertEqual(whole, self.download(MIRRORS[1] + name).body, 'the mirrors serve it whole, after a query too')

    def test_the_busy_file_answers_503_once_per_query_and_then_serves_it(self):
        name = 'tamsel-fonts.bin'
        whole = self.source(name)
        served = self.download(FILES + name)
        self.assertEqual((200, whole), (served.status, served.body), 'no query: no wait')
        for count in (1, 2):
            with self.subTest(query=count):
                self.query('DEMO-BUSY-0008')
                self.assertEqual(200, self.request('GET', FILES + name, version='HTTP/1.1').status,
                                 'a look at the URL is no download')
                busy = self.download(FILES + name, 100)
                self.assertEqual((503, '2'), (busy.status, busy.headers.get('retry-after')))
                served = self.download(FILES + name, 100)
                self.assertEqual((206, whole[100:]), (served.status, served.body), 'the next download is served')
        self.assertEqual(2, sum('answered 503 with Retry-After: 2 for %s' % name in line for line in self.said()))

    def test_the_flaky_break_is_the_files_hosts_alone(self):
        name = 'tamsel-patch.bin'
        whole = self.source(name)
        self.query('DEMO-FLAKY-0005')
        self.assertEqual(whole, self.download(MIRRORS[0] + name).body, 'a mirror does not take the break')
        broken = self.download(FILES + name)
        self.assertEqual((False, whole[:len(whole) * 2 // 5]), (broken.whole, broken.body))
        self.assertEqual(whole, self.download(FILES + name).body, 'once per query')

    def test_a_report_logs_the_details_it_carries_and_answers_as_before(self):
        details = dict(attempts='3', source=MIRRORS[0] + 'tamsel-suite.bin', result='0x00000000',
                       resumedBytes='1048576', waitedMs='2000')
        plain = self.post(ActivateCode='DEMO-BIG-0001', act='2', success='false')
        detailed = self.post(ActivateCode='DEMO-BIG-0001', act='2', success='false', **details)
        self.assertEqual(plain, detailed)
        reports = [line for line in self.said() if line.startswith('service: report of ')]
        self.assertEqual(['service: report of DEMO-BIG-0001 (success=false): attempts=3 source=%s '
                          'result=0x00000000 resumedBytes=1048576 waitedMs=2000' % details['source']], reports)


if __name__ == '__main__':
    unittest.main(verbosity=2)
