#!/usr/bin/env python3
# The demo download service: probe page, lookup redirects, activation codes in SQLite, files over HTTP and FTP.
"""A local stand-in for the maker's web site and download service, for the demo and the host's tests.

Usage: demo_service.py --work DIR --port-file FILE [--parent-pid PID] [--big-mib N] [--rate-kib N]
                       [--busy-retry-after S]
                       [--named-code CODE NAME]...

Wine's WinINet reaches it as its HTTP proxy (http_proxy=http://127.0.0.1:PORT), so requests for any
host arrive in absolute form:
  http://www.norvik.example/                 the connectivity probe: 200
  http://www.norvik.example/lookup?SN=&LN=&TYPE=   302 to the product's page, or to the home page
                                             (http://www.norvik.example) for an unknown serial
  http://service.norvik.example/activate     multipart POSTs: act=1 query, act=2 report
  http://files.norvik.example/files/NAME     the files, with Content-Length and an ETag; "Range: bytes=N-"
                                             gets a 206 of the rest while If-Range names the ETag
  http://mirror1.norvik.example/files/NAME   the same files, bytes and ETags from two mirrors, which
  http://mirror2.norvik.example/files/NAME   never break, fail or make a client wait
  http://files.norvik.example/stream/NAME    the same files without a length, ended by closing
FTP (anonymous, read-only) serves the same files on 127.0.0.1. Codes with their allowed and used
download counts live in DIR/codes.sqlite3, seeded on start, so counts carry over across runs. Every
query's reply names the file's SHA-256, and for the big, flaky and failover codes the two mirrors'
URLs ("mirrorURL", after "downloadURL"). What the files host does with a file's download (its GET, as
the component sends it, in HTTP/1.0) depends on the code:
- each query of the flaky code makes the next whole download of its file break off at 40 %;
- the failover code's file breaks off at 30 % on every download from the files host, ranges included
  (one that starts past that point gets its head and no body): only the mirrors serve it whole;
- each query of the busy code makes the next download of its file answer 503 with "Retry-After: 2"
  (--busy-retry-after S names another wait);
- the tampered code's file is served with other bytes of the same length (one byte changed at 70 %),
  as a stale mirror or a meddling proxy would.
What the service does with ranges, breaks, waits and tampering it prints on stdout, one "service: ..."
line each, as it does a report (act=2) that carries the fields "attempts", "source", "result",
"resumedBytes" or "waitedMs".
--named-code CODE NAME adds CODE for the small file under a download URL that ends in NAME as it is
written (http://files.norvik.example/files/named/NAME, nothing escaped), as a careless service or
anything in its path might name it ("..\\..\\x.bin", "CON"); a GET of any URL of the files host whose
last segment is what is left of NAME in a request path (the client may resolve "..\\", undo escapes,
trim spaces) serves the small file.
The port file gets "http=n" and "ftp=n" lines once both servers listen. The service ends
when its parent process (or --parent-pid) is gone, or on SIGTERM/SIGINT.
"""

import argparse
import email.parser
import hashlib
import email.policy
import http.server
import logging
import os
import re
import signal
import sqlite3
import sys
import threading
import time
import urllib.parse
from xml.sax.saxutils import quoteattr

import loopback

HOME_PAGE_URL = 'http://www.norvik.example'
WEB_HOST = 'www.norvik.example'
SERVICE_HOST = 'service.norvik.example'
FILES_HOST = 'files.norvik.example'
MIRROR_HOSTS = ('mirror1.norvik.example', 'mirror2.norvik.example')

# The service's StatusCode values. The component accepts 1 for a query, 1 or 2 for a report.
STATUS_OK = 1
STATUS_FAILURE_NOTED = 2   # a report of a failed download: noted, not counted
STATUS_USED_UP = 3         # no downloads left for this code
STATUS_UNKNOWN_CODE = 4
STATUS_BAD_REQUEST = 5     # no "act" the service knows

# Serial number -> product page folder.
PRODUCTS = {
    'NTS-1000-2024': 'tamsel-1000',
    'NTS-2000-2024': 'tamsel-2000',
}

BIG_FILE = 'tamsel-suite.bin'
SMALL_FILE = 'tamsel-update.bin'
FTP_FILE = 'tamsel-manual.bin'
FLAKY_FILE = 'tamsel-patch.bin'
TAMPERED_FILE = 'tamsel-tools.bin'
FAILOVER_FILE = 'tamsel-drivers.bin'
BUSY_FILE = 'tamsel-fonts.bin'
# Odd sizes, so that a lost or doubled buffer shows in a byte count.
SMALL_SIZE = 200_003
FTP_SIZE = 150_001
FLAKY_SIZE = 20_000_003
TAMPERED_SIZE = 2_000_003
FAILOVER_SIZE = 5_000_003
BUSY_SIZE = 400_009
TAMPERED_AT = TAMPERED_SIZE * 7 // 10  # the one byte served changed
TAMPERED_DIR = 'tampered'  # beside the files: what is served for them instead
FAILOVER_CUT_PERCENT = 30  # where the files host always breaks the failover code's file off
BUSY_RETRY_AFTER = 2       # seconds the busy code's file server asks a client to wait, unless told otherwise

# code, file, scheme, downloads allowed, downloads used
SEED_CODES = [
    ('DEMO-BIG-0001', BIG_FILE, 'http', 100, 0),
    ('DEMO-SMALL-0002', SMALL_FILE, 'http', 50, 0),
    ('DEMO-FTP-0003', FTP_FILE, 'ftp', 50, 0),
    ('DEMO-USED-0004', SMALL_FILE, 'http', 1, 1),
    ('DEMO-FLAKY-0005', FLAKY_FILE, 'http', 50, 0),
    ('DEMO-TAMPERED-0006', TAMPERED_FILE, 'http', 50, 0),
    ('DEMO-FAILOVER-0007', FAILOVER_FILE, 'http', 50, 0),
    ('DEMO-BUSY-0008', BUSY_FILE, 'http', 50, 0),
]
FLAKY_CODES = {'DEMO-FLAKY-0005'}
BUSY_CODES = {'DEMO-BUSY-0008'}
MIRRORED_CODES = {'DEMO-BIG-0001', 'DEMO-FLAKY-0005', 'DEMO-FAILOVER-0007'}
# What a report of how a download went may add to "success"; logged when present.
REPORT_DETAILS = ('attempts', 'source', 'result', 'resumedBytes', 'waitedMs')

COPY_CHUNK = 1 << 16


# --- files ---

def make_files(files_dir, big_mib):
    os.makedirs(files_dir, exist_ok=True)
    # The files' bytes follow the test pattern, so that a lost or reordered chunk shows in a compare.
    loopback.write_pattern_file(os.path.join(files_dir, BIG_FILE), big_mib * 1024 * 1024)
    loopback.write_pattern_file(os.path.join(files_dir, SMALL_FILE), SMALL_SIZE)
    loopback.write_pattern_file(os.path.join(files_dir, FTP_FILE), FTP_SIZE)
    loopback.write_pattern_file(os.path.join(files_dir, FLAKY_FILE), FLAKY_SIZE)
    loopback.write_pattern_file(os.path.join(files_dir, TAMPERED_FILE), TAMPERED_SIZE)
    loopback.write_pattern_file(os.path.join(files_dir, FAILOVER_FILE), FAILOVER_SIZE)
    loopback.write_pattern_file(os.path.join(files_dir, BUSY_FILE), BUSY_SIZE)
    os.makedirs(os.path.join(files_dir, TAMPERED_DIR), exist_ok=True)
    with open(os.path.join(files_dir, TAMPERED_FILE), 'rb') as f:
        tampered = bytearray(f.read())
    tampered[TAMPERED_AT] ^= 0xFF
    served = os.path.join(files_dir, TAMPERED_DIR, TAMPERED_FILE)
    with open(served + '.new', 'wb') as f:
        f.write(tampered)
    os.replace(served + '.new', served)


def file_digests(files_dir):
    """{name: SHA-256 in hex} of every file the service names, as the service knows them."""
    digests = {}
    for name in os.listdir(files_dir):
        path = os.path.join(files_dir, name)
        if os.path.isfile(path):
            digest = hashlib.sha256()
            with open(path, 'rb') as f:
                while chunk := f.read(1 << 20):
                    digest.update(chunk)
            digests[name] = digest.hexdigest()
    return digests


# --- codes ---

class CodeBook:
    """Activation codes and their download counts, in SQLite. One connection per call: handler threads
    share nothing but the file, and each change is one statement."""

    def __init__(self, path, named_codes=()):
        self.path = path
        with self.connect() as db:
            db.execute('CREATE TABLE IF NOT EXISTS codes (code TEXT PRIMARY KEY, file TEXT NOT NULL, '
                       'scheme TEXT NOT NULL, allowed INTEGER NOT NULL, used INTEGER NOT NULL)')
            # Codes added since a database was made join it; the counts of the others stay.
            db.executemany('INSERT OR IGNORE INTO codes VALUES (?, ?, ?, ?, ?)', SEED_CODES)
            db.executemany('INSERT OR IGNORE INTO codes VALUES (?, ?, ?, ?, ?)',
                           [(code, name, 'http', 50, 0) for code, name in named_codes])

    def connect(self):
        return sqlite3.connect(self.path, timeout=30)

    def find(self, code):
        """(file, scheme, allowed, used) or None."""
        with self.connect() as db:
            return db.execute('SELECT file, scheme, allowed, used FROM codes WHERE code = ?', (code,)).fetchone()

    def count_download(self, code):
        """Counts one download if any is left; True when it was counted."""
        with self.connect() as db:
            changed = db.execute('UPDATE codes SET used = used + 1 WHERE code = ? AND used < allowed', (code,))
            return changed.rowcount == 1


# --- the service's answers ---

def markup_reply(fields):
    # A backslash escapes the next character in the component's reader: one that is meant is doubled.
    items = ''.join('<field name=%s value=%s/>' % (quoteattr(name), quoteattr(str(value).replace('\\', '\\\\')))
                    for name, value in fields)
    return '<!-- Norvik download service -->\n<reply>%s</reply>\n' % items


def answer_query(book, code, download_url):
    row = book.find(code)
    if row is None:
        return [('StatusCode', STATUS_UNKNOWN_CODE)]
    file, scheme, allowed, used = row
    if used >= allowed:
        return [('StatusCode', STATUS_USED_UP), ('dltotalcount', allowed), ('dltimes', used)]
    url, size, digest = download_url(file, scheme)
    mirrors = [('mirrorURL', url.replace('//%s/' % FILES_HOST, '//%s/' % host, 1))
               for host in MIRROR_HOSTS] if code in MIRRORED_CODES else []
    return [('StatusCode', STATUS_OK), ('downloadURL', url)] + mirrors + [('filesize', size), ('sha256', digest)]


def answer_report(book, code, success):
    if book.find(code) is None:
        return [('StatusCode', STATUS_UNKNOWN_CODE)]
    status = STATUS_FAILURE_NOTED
    if success:
        status = STATUS_OK if book.count_download(code) else STATUS_USED_UP
    _, _, allowed, used = book.find(code)
    return [('StatusCode', status), ('dltotalcount', allowed), ('dltimes', used)]


def answer_activation(book, form, download_url):
    code = form.get('ActivateCode', '')
    act = form.get('act')
    if act == '1':
        return answer_query(book, code, download_url)
    if act == '2':
        return answer_report(book, code, form.get('success') == 'true')
    return [('StatusCode', STATUS_BAD_REQUEST)]


def parse_form(content_type, body, query):
    """The form fields of a POST: the URL's query pairs, then the multipart or url-encoded body."""
    form = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
    if content_type.startswith('multipart/form-data'):
        head = b'Content-Type: ' + content_type.encode('latin-1') + b'\r\n\r\n'
        message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(head + body)
        for part in message.iter_parts() if message.is_multipart() else []:
            name = part.get_param('name', header='content-disposition')
            if name:
                form[name] = (part.get_payload(decode=True) or b'').decode('latin-1')
    else:
        form.update(urllib.parse.parse_qsl(body.decode('latin-1'), keep_blank_values=True))
    return form


def lookup_target(query):
    """Where the lookup redirects: the product's page, or the home page when the serial is unknown."""
    fields = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
    product = PRODUCTS.get(fields.get('SN', ''))
    if product is None:
        return HOME_PAGE_URL
    return 'http://%s/support/%s/%s/%s' % (WEB_HOST, product, fields.get('LN', ''), fields.get('TYPE', ''))


# --- HTTP ---

class DemoHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    server_version = 'NorvikDemo/1.0'

    def target(self):
        """(host, path, query): proxied requests are in absolute form, direct ones carry a Host header."""
        parts = urllib.parse.urlsplit(self.path)
        host = parts.hostname if parts.scheme else self.headers.get('Host', '').split(':')[0]
        return (host or '').lower(), parts.path or '/', parts.query

    def handle(self):
        try:
            super().handle()
        except ConnectionResetError:
            pass  # a client that drops a kept-alive connection while the server waits for its next request

    def do_GET(self):
        host, path, query = self.target()
        if host == WEB_HOST and path == '/':
            self.send_text(200, '<html><body>Norvik demo home</body></html>\n', 'text/html')
        elif host == WEB_HOST and path == '/lookup':
            self.send_text(302, 'moved\n', extra=[('Location', lookup_target(query))])
        elif host == WEB_HOST and path.startswith('/support/'):
            self.send_text(200, '<html><body>Support page %s</body></html>\n' % path, 'text/html')
        elif host == SERVICE_HOST and path == '/activate':
            self.send_text(200, 'The activation service takes POST requests.\n')
        elif host == FILES_HOST and self.server.is_named(path):
            self.send_file(SMALL_FILE)
        elif host == FILES_HOST and path.startswith('/files/'):
            self.send_file(path[len('/files/'):])
        elif host in MIRROR_HOSTS and path.startswith('/files/'):
            self.send_file(path[len('/files/'):], mirror=True)
        elif host == FILES_HOST and path.startswith('/stream/'):
            self.send_stream(path[len('/stream/'):])
        else:
            self.send_text(404, 'not found\n')

    def do_POST(self):
        host, path, query = self.target()
        length = self.headers.get('Content-Length')
        if length is None or not length.isdigit():
            self.send_text(411, 'a Content-Length is needed\n')
            return
        body = self.rfile.read(int(length))
        if host != SERVICE_HOST or path != '/activate':
            self.send_text(404, 'not found\n')
            return
        form = parse_form(self.headers.get('Content-Type', ''), body, query)
        reply = answer_activation(self.server.book, form, self.server.download_url)
        self.log_message('activation %r -> %r', form, reply)
        if form.get('act') == '1' and reply[0][1] == STATUS_OK:
            self.server.arm(form['ActivateCode'])
        details = [(name, form[name]) for name in REPORT_DETAILS if name in form]
        if form.get('act') == '2' and details:
            self.server.say('report of %s (success=%s): %s' % (form.get('ActivateCode', ''), form.get('success', ''),
                                                               ' '.join('%s=%s' % item for item in details)))
        self.send_text(200, markup_reply(reply), 'text/xml')

    def do_CONNECT(self):
        self.close_connection = True
        self.send_text(501, 'https is not part of the demo\n')

    def send_text(self, status, text, content_type='text/plain', extra=()):
        data = text.encode('utf-8')
        self.send_response(status)
        for name, value in list(extra) + [('Content-Type', content_type), ('Content-Length', str(len(data)))]:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def file_path(self, name):
        """The served file's path, or None (a 404 sent) when there is none of that name."""
        path = os.path.join(self.server.files_dir, name)
        if '/' in name or name.startswith('.') or not os.path.isfile(path):
            self.send_text(404, 'no such file\n')
            return None
        if name == TAMPERED_FILE:
            return os.path.join(self.server.files_dir, TAMPERED_DIR, name)
        return path

    def range_start(self, name, etag):
        """Where the asked range starts, or None for the whole file: no Range, one this service does not
        serve (it serves "bytes=N-", as resuming clients ask), or an If-Range that names another version."""
        match = re.fullmatch(r'bytes=(\d+)-', self.headers.get('Range', '').strip())
        if not match:
            return None
        if_range = self.headers.get('If-Range')
        if if_range is not None and if_range.strip() != etag:
            self.server.say('If-Range %s is not %s: all of %s (200)' % (if_range.strip(), etag, name))
            return None
        return int(match.group(1))

    def is_download(self):
        """Whether this GET is a download as the component makes it. Its download GET is HTTP/1.0; an
        HTTP/1.1 GET before it is a separate look at the URL's Location (the first interface's), whose
        body it never reads, so a break or a refusal there would show nothing."""
        return self.request_version == 'HTTP/1.0'

    def send_file(self, name, mirror=False):
        """A file of the files host, or of a mirror (mirror=True), which serves it as it is, always."""
        path = self.file_path(name)
        if path is None:
            return
        if not mirror and self.is_download() and self.server.take_busy(name):
            wait = self.server.busy_retry_after
            self.server.say('answered 503 with Retry-After: %d for %s, once after the query of its busy code'
                            % (wait, name))
            self.send_text(503, 'busy, come back later\n', extra=[('Retry-After', str(wait))])
            return
        with open(path, 'rb') as source:
            stat = os.fstat(source.fileno())
            size = stat.st_size
            etag = '"%x-%x"' % (size, stat.st_mtime_ns)
            first = self.range_start(name, etag)
            if first is not None and first >= size:
                self.server.say('bytes=%d- of %s is past its end: 416' % (first, name))
                self.send_text(416, 'past the end\n', extra=[('Content-Range', 'bytes */%d' % size)])
                return
            start = first or 0
            self.send_head(first is not None, etag, start, size)
            stop = self.break_point(name, size, first) if not mirror and self.is_download() else None
            if first is None and self.is_download() and name == TAMPERED_FILE:
                self.server.say('served %s with byte %d changed, other bytes than the service names'
                                % (name, TAMPERED_AT))
            if first is not None:
                self.server.say('served bytes %d-%d/%d of %s (206, for Range: bytes=%d-)'
                                % (start, size - 1, size, name, first))
            self.send_body(source, start, max(0, (size if stop is None else stop) - start))
            if stop is not None:
                self.close_connection = True
                self.say_break(name, stop, size)

    def send_head(self, partial, etag, start, size):
        self.send_response(206 if partial else 200)
        self.send_header('Content-Type', 'application/octet-stream')
        self.send_header('ETag', etag)
        self.send_header('Accept-Ranges', 'bytes')
        if partial:
            self.send_header('Content-Range', 'bytes %d-%d/%d' % (start, size - 1, size))
        self.send_header('Content-Length', str(size - start))
        self.end_headers()

    def break_point(self, name, size, first):
        """Where the files host breaks this download off, or None: the failover code's file at 30 % of it,
        always, whatever part was asked for; the flaky code's once after a query, in a whole download."""
        if name == FAILOVER_FILE:
            return size * FAILOVER_CUT_PERCENT // 100
        return self.server.take_break(name, size) if first is None else None

    def say_break(self, name, stop, size):
        if name == FAILOVER_FILE:
            self.server.say('broke off %s at byte %d of %d (%d %%), as the files host does on every download of it'
                            % (name, stop, size, FAILOVER_CUT_PERCENT))
        else:
            self.server.say('broke off %s after %d of %d bytes (%d %%), once, as its flaky code asks'
                            % (name, stop, size, round(stop * 100 / size)))

    def send_stream(self, name):
        """The file with no length announced: the end of the body is the end of the connection."""
        path = self.file_path(name)
        if path is None:
            return
        with open(path, 'rb') as source:
            self.send_response(200)
            self.send_header('Content-Type', 'application/octet-stream')
            self.send_header('Connection', 'close')
            self.end_headers()
            self.close_connection = True
            self.send_body(source, 0, os.fstat(source.fileno()).st_size)

    def send_body(self, source, start, count):
        if count == 0:
            return  # socket.sendfile reads a count of 0 as "to the end"
        try:
            self.copy(source, start, count)
        except (BrokenPipeError, ConnectionResetError):
            # The client stopped reading (a cancel, or a look at the headers only).
            self.close_connection = True

    def copy(self, source, start, count):
        rate = self.server.rate_bytes
        if not rate:
            self.connection.sendfile(source, offset=start, count=count)
            return
        source.seek(start)
        started, sent = time.monotonic(), 0
        while sent < count and (chunk := source.read(min(COPY_CHUNK, count - sent))):
            self.wfile.write(chunk)
            sent += len(chunk)
            time.sleep(max(0.0, started + sent / rate - time.monotonic()))

    def log_message(self, format, *args):
        logging.getLogger('demo').info('%s %s', self.address_string(), format % args)


class DemoServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, book, files_dir, rate_bytes, names=()):
        super().__init__(('127.0.0.1', 0), DemoHandler)
        self.book = book
        self.names = set(names)  # the names --named-code gives the small file
        self.named_files = {self.file_part(name) for name in names}
        self.files_dir = files_dir
        self.digests = file_digests(files_dir)
        self.rate_bytes = rate_bytes
        self.ftp_port = 0
        self.breaks = set()  # files whose next whole download breaks off
        self.busy = set()    # files whose next download is answered 503
        self.busy_retry_after = BUSY_RETRY_AFTER
        self.armed_lock = threading.Lock()

    def arm(self, code):
        """What a successful query of a code sets up for the next download of its file."""
        file = self.book.find(code)[0]
        with self.armed_lock:
            if code in FLAKY_CODES:
                self.breaks.add(file)
            if code in BUSY_CODES:
                self.busy.add(file)

    def take_break(self, file, size):
        """Where this transfer of `file` breaks off, when a break is armed for it; disarms it."""
        with self.armed_lock:
            if file not in self.breaks:
                return None
            self.breaks.discard(file)
        return size * 2 // 5

    def take_busy(self, file):
        """Whether this download of `file` is to be answered 503; disarms it."""
        with self.armed_lock:
            armed = file in self.busy
            self.busy.discard(file)
        return armed

    @staticmethod
    def say(text):
        print('service: ' + text, flush=True)

    @staticmethod
    def file_part(name):
        """The last segment of a name or request path before any query, escapes undone, backslashes read
        as slashes, spaces trimmed: what is left of a name however a client made a request of it."""
        path = urllib.parse.unquote(re.split('[?#]', name)[0]).replace('\\', '/')
        return path.rsplit('/', 1)[-1].strip()

    def is_named(self, path):
        """Whether a request path is what a client made of a name --named-code gives."""
        return self.file_part(path) in self.named_files

    def download_url(self, file, scheme):
        if file in self.names:
            # One folder down, so that what a client resolves "..\\..\\" to stays below the host.
            size = os.path.getsize(os.path.join(self.files_dir, SMALL_FILE))
            return 'http://%s/files/named/%s' % (FILES_HOST, file), size, self.digests[SMALL_FILE]
        size = os.path.getsize(os.path.join(self.files_dir, file))
        if scheme == 'ftp':
            return 'ftp://127.0.0.1:%d/%s' % (self.ftp_port, file), size, self.digests[file]
        return 'http://%s/files/%s' % (FILES_HOST, file), size, self.digests[file]


def main():
    parser = argparse.ArgumentParser(description='Local demo of the Norvik download service.')
    parser.add_argument('--work', required=True, help='folder for the code database, the files and the log')
    parser.add_argument('--port-file', required=True, help='where to write http=n and ftp=n')
    parser.add_argument('--parent-pid', type=int, default=os.getppid(), help='stop when this process ends')
    parser.add_argument('--big-mib', type=int, default=300, help='size of the big demo file in MiB')
    parser.add_argument('--rate-kib', type=int, default=0, help='limit HTTP file transfers to this many KiB/s')
    parser.add_argument('--busy-retry-after', type=int, default=BUSY_RETRY_AFTER,
                        help='the Retry-After, in seconds, of the busy code\'s 503')
    parser.add_argument('--named-code', nargs=2, action='append', default=[], metavar=('CODE', 'NAME'),
                        help='a code for the small file under a download URL ending in NAME, unescaped')
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    logging.basicConfig(filename=os.path.join(args.work, 'service.log'), level=logging.INFO,
                        format='%(asctime)s %(message)s')
    files_dir = os.path.join(args.work, 'files')
    make_files(files_dir, args.big_mib)
    book = CodeBook(os.path.join(args.work, 'codes.sqlite3'), args.named_code)

    server = DemoServer(book, files_dir, args.rate_kib * 1024, [name for _, name in args.named_code])
    server.busy_retry_after = args.busy_retry_after
    # pyftpdlib's warnings go to the service's log; the FTP thread ends with the process.
    server.ftp_port = loopback.FtpServer(files_dir, banner='Norvik demo files', log_level=logging.WARNING).port

    def stop(*_):
        # shutdown() waits for serve_forever, so it must come from another thread than the server's.
        threading.Thread(target=server.shutdown, daemon=True).start()

    # SIGINT keeps its default: under a script that started this in the background it stays ignored, so
    # that a Ctrl+C meant for the host does not cut the host's last report short.
    signal.signal(signal.SIGTERM, stop)
    loopback.watch_parent(args.parent_pid, on_gone=stop)
    loopback.write_port_file(args.port_file, http=server.server_address[1], ftp=server.ftp_port)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        if os.path.exists(args.port_file):
            os.remove(args.port_file)
    return 0


if __name__ == '__main__':
    sys.exit(main())
