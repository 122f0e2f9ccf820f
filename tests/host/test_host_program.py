#!/usr/bin/env python3
# tamsel.exe run as a user runs it under Wine: arguments, error messages and exit codes, and the
# whole get flow against the demo download service.
# The kit's get.vbs and get.js run the same flow under Wine's script host (cscript with Wine's own
# VBScript and JScript engines) through the automation interface.
"""Usage: test_host_program.py --wine-run SCRIPT --prefix DIR --host EXE --dll DLL --service PY"""

import argparse
import hashlib
import os
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'testbed'))
from loopback import read_output as text, run_program, wait_for_ports, windows_path  # noqa: E402

ARGS = None
SERVICE_URL = 'http://service.norvik.example/activate'
LOOKUP_URL = 'http://www.norvik.example/lookup'
RUN_TIMEOUT = 120
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'kit', 'examples')


def host_command(*words, dll=True):
    command = [ARGS.wine_run, ARGS.prefix, ARGS.host]
    if dll:
        command += ['--dll', windows_path(ARGS.dll)]
    return command + list(words)


def wine_environment(proxy=None):
    # A UTF-8 locale: Wine turns the Unix arguments into the program's UTF-16 ones through it.
    environment = dict(os.environ, WINEDEBUG='-all', LC_ALL='C.UTF-8')
    for name in ('http_proxy', 'TAMSEL_PROXY_PASSWORD'):
        environment.pop(name, None)
    if proxy:
        environment['http_proxy'] = proxy
    return environment


def run_host(*words, dll=True, proxy=None):
    """Runs tamsel.exe and answers (exit code, stdout, stderr)."""
    return run_program(host_command(*words, dll=dll), wine_environment(proxy), RUN_TIMEOUT)


def is_64_bit(path):
    with open(path, 'rb') as f:
        head = f.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], 'little')
    return head[offset + 4:offset + 6] == b'\x64\x86'  # IMAGE_FILE_MACHINE_AMD64


def run_script(script, *words, proxy=None):
    """Runs a kit example under cscript of the DLL's width and answers (exit code, what it echoed).

    `wine cscript` starts the 32-bit script host even in a 64-bit prefix, so a 64-bit DLL's scripts go
    to the 64-bit loader, in the prefix that earlier runs made ready."""
    environment = wine_environment(proxy)
    host = [ARGS.wine_run, ARGS.prefix]
    if is_64_bit(ARGS.dll):
        host = [shutil.which('wine64') or '/usr/lib/wine/wine64']
        environment.update(WINEPREFIX=ARGS.prefix, WINEDLLOVERRIDES='mscoree,mshtml=')
    command = host + ['cscript', '//nologo', windows_path(os.path.join(EXAMPLES, script))]
    with tempfile.TemporaryFile() as out:
        code = subprocess.run(command + list(words), stdout=out, stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT,
                              env=environment).returncode
        return code, text(out)


def run_wine(*words):
    return subprocess.run([ARGS.wine_run, ARGS.prefix] + list(words), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT, env=wine_environment()).returncode


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class DemoService:
    """The demo service in a work folder of its own, stopped on exit."""

    def __init__(self, work, *options):
        self.work = work
        port_file = os.path.join(work, 'ports')
        os.makedirs(work, exist_ok=True)
        self.said_path = os.path.join(work, 'said.txt')
        with open(self.said_path, 'w') as said:
            self.process = subprocess.Popen([sys.executable, '-B', ARGS.service, '--work', work,
                                             '--port-file', port_file, '--big-mib', '2'] + list(options),
                                            stdout=said)
        self.proxy = 'http://127.0.0.1:%d' % wait_for_ports(port_file, self.process)['http']

    def source(self, name):
        with open(os.path.join(self.work, 'files', name), 'rb') as f:
            return f.read()

    def said(self):
        """The lines the service printed about ranges and breaks, so far."""
        with open(self.said_path, encoding='utf-8') as f:
            return f.read().splitlines()

    def used(self, code):
        with sqlite3.connect(os.path.join(self.work, 'codes.sqlite3')) as db:
            return db.execute('SELECT used FROM codes WHERE code = ?', (code,)).fetchone()[0]

    def stop(self):
        self.process.terminate()
        self.process.wait(30)


FLAKY = 'tamsel-patch.bin'
BREAK_LINE = re.compile(r'service: broke off %s after (\d+) of (\d+) bytes' % re.escape(FLAKY))
RANGE_LINE = re.compile(r'service: served bytes (\d+)-(\d+)/(\d+) of %s \(206' % re.escape(FLAKY))


def matches(pattern, lines):
    return [m for m in map(pattern.match, lines) if m]


REPORT_LINE = re.compile(r'service: report of (\S+) \(success=(\w+)\): attempts=(\d+) source=(\d+) '
                         r'result=([0-9A-F]{8}) resumedBytes=(\d+) waitedMs=(\d+)$')
RETRY_LINE = r'tamsel: retrying in (\d+(?:\.\d)?) s from %s: %s\r?\n'
BROKE_OFF = 'the transfer broke off or stalled'


def last_report(service, code):
    """What the last report of code told the service:
    (success, attempts, source, result, resumedBytes, waitedMs)."""
    reports = [m for m in matches(REPORT_LINE, service.said()) if m.group(1) == code]
    assert reports, 'no report of %s with the download\'s details: %s' % (code, service.said())
    m = reports[-1]
    return (m.group(2), int(m.group(3)), int(m.group(4)), m.group(5), int(m.group(6)), int(m.group(7)))


def remaining_count(output):
    match = re.search(r'remaining downloads: (-?\d+)', output)
    return int(match.group(1)) if match else None


class Arguments(unittest.TestCase):
    """What the host says before it makes an agent: help, usage errors, a DLL it cannot use."""

    def test_help_lists_every_command_and_the_exit_codes(self):
        code, out, _ = run_host('--help', dll=False)
        self.assertEqual(0, code)
        for command in ('lookup', 'query', 'fetch', 'report', 'get'):
            self.assertRegex(out, r'\n  %s ' % command)
        self.assertIn('10  AGENT_E_NO_SESSION', out)
        self.assertIn('13  AGENT_E_SERVICE_STATUS', out)
        self.assertIn('28  AGENT_E_SIZE_MISMATCH', out)
        self.assertIn('30  AGENT_E_CERTIFICATE', out)
        self.assertIn('35  AGENT_E_INSECURE_REDIRECT', out)
        self.assertIn('36  AGENT_E_PROXY_AUTH', out)

    def test_command_help_shows_its_usage(self):
        code, out, _ = run_host('get', '--help', dll=False)
        self.assertEqual(0, code)
        self.assertIn('usage: tamsel [--dll PATH] get SERVICE_URL CODE FOLDER [--attempts N] [--max-wait S]', out)
        for option in ('--attempts N', '--retries N', '--max-wait S', '--rate BYTES/S',
                       'AGENT_E_RETRY_LATER (exit code 37)'):
            self.assertIn(option, out)

    def test_usage_errors_exit_with_2(self):
        cases = [
            ((), 'usage: tamsel'),
            (('frobnicate',), 'unknown command "frobnicate"'),
            (('lookup', LOOKUP_URL, 'serial'), 'lookup takes 4 arguments, got 2'),
            (('get', SERVICE_URL, 'CODE', 'folder', 'extra'), 'get takes 3 arguments, got 4'),
            (('report', SERVICE_URL, 'CODE', 'maybe'), '"success" or "failure", not "maybe"'),
            (('--bogus', 'lookup'), 'unknown option --bogus'),
            (('lookup', '--dll'), '--dll needs the path'),
            (('fetch', 'http://x/f', 'f', '--retries', '2'), '--retries is not an option of fetch'),
            (('get', SERVICE_URL, 'CODE', 'folder', '--retries', '32'), '--retries needs a count from 0 to 31'),
            (('get', SERVICE_URL, 'CODE', 'folder', '--attempts', '0'), '--attempts needs a count from 1 to 32'),
            (('get', SERVICE_URL, 'CODE', 'folder', '--attempts', '33'), '--attempts needs a count from 1 to 32'),
            (('get', SERVICE_URL, 'CODE', 'folder', '--max-wait', '0'),
             '--max-wait needs a number of seconds from 1 to 86400'),
            (('fetch', 'http://x/f', 'f', '--max-wait', '1.5'), '--max-wait needs a number of seconds from 1 to 86400'),
            (('get', SERVICE_URL, 'CODE', 'folder', '--connections', '5'), '--connections needs a count from 1 to 4'),
            (('report', SERVICE_URL, 'CODE', 'success', '--connections', '2'), '--connections is not an option of report'),
            (('get', SERVICE_URL, 'CODE', 'folder', '--rate', '4294967296'),
             '--rate needs a number of bytes per second (0: no cap)'),
            (('query', SERVICE_URL, 'CODE', '--attempts', '3'), '--attempts is not an option of query'),
            (('fetch', 'http://x/f', 'f', '--expect-size', '-5'), '--expect-size needs a size in bytes'),
            (('report', SERVICE_URL, 'CODE', 'success', '--proxy-user'), '--proxy-user needs a user name'),
            # No TAMSEL_PROXY_PASSWORD and no console to type it at (input is not one): nothing is sent.
            (('--proxy-user', 'someone', 'report', SERVICE_URL, 'CODE', 'success'),
             '--proxy-user needs the password in TAMSEL_PROXY_PASSWORD or typed at a console'),
        ]
        for words, message in cases:
            code, out, err = run_host(*words, dll=False)
            self.assertEqual(2, code, words)
            self.assertIn(message, err, words)
            self.assertEqual('', out, words)

    def test_a_dll_that_cannot_serve_is_named_with_its_reason(self):
        with tempfile.TemporaryDirectory() as folder:
            not_a_dll = os.path.join(folder, 'notes.dll')
            with open(not_a_dll, 'w') as f:
                f.write('not a program\n')
            cases = [
                (windows_path(os.path.join(folder, 'missing.dll')), 21, 'ERROR_FILE_NOT_FOUND'),
                (windows_path(not_a_dll), 24, 'ERROR_BAD_EXE_FORMAT'),
                ('C:\\windows\\system32\\kernel32.dll', 25, 'ERROR_PROC_NOT_FOUND'),
            ]
            for dll, exit_code, name in cases:
                code, _, err = run_host('--dll', dll, 'lookup', LOOKUP_URL, 's', 'l', 't', dll=False)
                self.assertEqual(exit_code, code, dll)
                self.assertIn('cannot create the agent from %s: %s' % (dll, name), err)


class Registration(unittest.TestCase):
    """Without --dll the host finds the component through its registration, like any host."""

    def test_unregistered_then_registered(self):
        dll = windows_path(ARGS.dll)
        run_wine('regsvr32', '/u', '/s', dll)
        try:
            code, _, err = run_host('lookup', LOOKUP_URL, 's', 'l', 't', dll=False)
            self.assertEqual(18, code, err)
            self.assertIn('run regsvr32 NorvikTamselAgent.dll first', err)

            self.assertEqual(0, run_wine('regsvr32', '/s', dll))
            service = DemoService(tempfile.mkdtemp(prefix='tamsel-demo.'))
            try:
                code, out, err = run_host('lookup', LOOKUP_URL, 'NTS-1000-2024', 'en', 'manual', dll=False,
                                          proxy=service.proxy)
            finally:
                service.stop()
                shutil.rmtree(service.work, ignore_errors=True)
            self.assertEqual(0, code, err)
            self.assertEqual('http://www.norvik.example/support/tamsel-1000/en/manual\n', out)
        finally:
            run_wine('regsvr32', '/u', '/s', dll)


class AgainstTheDemoService(unittest.TestCase):
    """Each operation and the get flow through the component, against the demo download service."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='tamsel-demo.')
        cls.service = DemoService(cls.work)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def host(self, *words):
        return run_host(*words, proxy=self.service.proxy)

    def folder(self):
        path = tempfile.mkdtemp(dir=self.work, prefix='downloads.')
        return path

    def test_get_downloads_the_file_and_the_remaining_count_goes_down(self):
        folder = self.folder()
        counts = []
        for _ in range(2):
            code, out, err = self.host('get', SERVICE_URL, 'DEMO-SMALL-0002', windows_path(folder))
            self.assertEqual(0, code, err)
            with open(os.path.join(folder, 'tamsel-update.bin'), 'rb') as f:
                self.assertEqual(self.service.source('tamsel-update.bin'), f.read())
            self.assertIn('reported success', out)
            self.assertIn('verified sha256 %s\n' % hashlib.sha256(self.service.source('tamsel-update.bin')).hexdigest(),
                          out, 'the service names the digest, so get proves it')
            counts.append(remaining_count(out))
        self.assertEqual([49, 48], counts, 'seeded with 50 downloads')
        self.assertIn('100% [', err, 'the progress bar reached its end')

    def test_get_over_ftp(self):
        folder = self.folder()
        code, out, err = self.host('get', SERVICE_URL, 'DEMO-FTP-0003', windows_path(folder))
        self.assertEqual(0, code, err)
        with open(os.path.join(folder, 'tamsel-manual.bin'), 'rb') as f:
            self.assertEqual(self.service.source('tamsel-manual.bin'), f.read())
        self.assertIsNotNone(remaining_count(out))

    def test_get_refused_code_downloads_and_counts_nothing(self):
        folder = self.folder()
        cases = [('DEMO-USED-0004', '(service status 3)'), ('NO-SUCH-CODE', '(service status 4)')]
        for service_code, status in cases:
            code, _, err = self.host('get', SERVICE_URL, service_code, windows_path(folder))
            self.assertEqual(13, code, err)
            self.assertIn('query failed: AGENT_E_SERVICE_STATUS (0x80042F02)', err)
            self.assertIn(status, err)
        self.assertEqual([], os.listdir(folder))
        self.assertEqual(1, self.service.used('DEMO-USED-0004'))

    def test_get_into_a_missing_folder_asks_nothing(self):
        used = self.service.used('DEMO-SMALL-0002')
        missing = windows_path(os.path.join(self.work, 'no-such-folder'))
        code, _, err = self.host('get', SERVICE_URL, 'DEMO-SMALL-0002', missing)
        self.assertEqual(4, code, err)
        self.assertIn('does not exist', err)
        self.assertEqual(used, self.service.used('DEMO-SMALL-0002'))

    def test_report_failure_counts_nothing(self):
        used = self.service.used('DEMO-FTP-0003')
        code, out, err = self.host('report', SERVICE_URL, 'DEMO-FTP-0003', 'failure')
        self.assertEqual(0, code, err)
        self.assertIn('reported failure; remaining downloads: %d' % (50 - used), out)
        self.assertEqual(used, self.service.used('DEMO-FTP-0003'))

    def test_lookup_and_query(self):
        code, out, err = self.host('lookup', LOOKUP_URL, 'NTS-2000-2024', 'de', 'driver')
        self.assertEqual((0, 'http://www.norvik.example/support/tamsel-2000/de/driver\n'), (code, out), err)
        code, out, err = self.host('lookup', LOOKUP_URL, 'UNKNOWN-SERIAL', 'en', 'manual')
        self.assertEqual(14, code, err)
        self.assertIn('E_INVALIDARG', err)
        code, out, err = self.host('query', SERVICE_URL, 'DEMO-SMALL-0002')
        self.assertEqual(0, code, err)
        self.assertIn('download URL: http://files.norvik.example/files/tamsel-update.bin\n', out)
        self.assertIn('file size:    200003 bytes', out)

    def test_get_resumes_a_broken_transfer_into_a_folder_named_in_another_script(self):
        folder = os.path.join(self.folder(), 'Загрузки 下载')
        os.mkdir(folder)
        used = self.service.used('DEMO-FLAKY-0005')
        code, out, err = self.host('get', SERVICE_URL, 'DEMO-FLAKY-0005', windows_path(folder))
        self.assertEqual(0, code, err)
        # The component retried, in the same call, on the same source: a break is worth a wait there.
        waits = re.findall(RETRY_LINE % ('the download URL', BROKE_OFF), err)
        self.assertEqual(1, len(waits), err)
        self.assertLessEqual(float(waits[0]), 1.0, 'the first backoff is at most 1 s')
        self.assertIn('2 attempts, the last from the download URL', out)
        success, attempts, source, result, resumed, waited = last_report(self.service, 'DEMO-FLAKY-0005')
        self.assertEqual(('true', 2, 0, '00000000', 0), (success, attempts, source, result, resumed),
                         'a resume within the call keeps no bytes of an earlier call')
        self.assertLessEqual(waited, 1100)
        # The first download broke off at 40 %; the second asked for the rest and got exactly it.
        said = self.service.said()
        breaks, ranges = matches(BREAK_LINE, said), matches(RANGE_LINE, said)
        self.assertEqual(1, len(breaks), said)
        self.assertEqual(1, len(ranges), said)
        broken_at, size = int(breaks[0].group(1)), int(breaks[0].group(2))
        self.assertEqual(size * 2 // 5, broken_at)
        self.assertEqual((broken_at, size - 1, size), tuple(int(ranges[0].group(i)) for i in (1, 2, 3)))
        # One whole file under its own name, nothing left beside it, one success reported and counted.
        self.assertEqual([FLAKY], os.listdir(folder))
        with open(os.path.join(folder, FLAKY), 'rb') as f:
            self.assertEqual(self.service.source(FLAKY), f.read())
        self.assertIn('saved %s\\%s (%d bytes)' % (windows_path(folder), FLAKY, size), out)
        self.assertEqual(1, out.count('reported success'), out)
        self.assertEqual(used + 1, self.service.used('DEMO-FLAKY-0005'))

    def test_get_without_retries_fails_at_the_break_and_the_next_get_resumes(self):
        folder = self.folder()
        used = self.service.used('DEMO-FLAKY-0005')
        code, out, err = self.host('get', '--retries', '0', SERVICE_URL, 'DEMO-FLAKY-0005', windows_path(folder))
        self.assertEqual(32, code, err)
        self.assertIn('fetch failed: AGENT_E_BROKEN (0x80042F06)', err)
        self.assertNotIn('retrying', err, '--retries 0 is a single attempt')
        self.assertEqual(('false', 1, 0, '80042F06', 0, 0), last_report(self.service, 'DEMO-FLAKY-0005'))
        self.assertIn('reported failure', out)
        self.assertEqual(used, self.service.used('DEMO-FLAKY-0005'))
        # No file under the final name; what arrived waits in the partial file for the next run.
        self.assertFalse(os.path.exists(os.path.join(folder, FLAKY)))
        with open(os.path.join(folder, FLAKY + '.tamsel-partial'), 'rb') as f:
            kept = f.read()
        self.assertEqual(self.service.source(FLAKY)[:len(kept)], kept)
        self.assertGreater(len(kept), 0)

        code, out, err = self.host('get', SERVICE_URL, 'DEMO-FLAKY-0005', windows_path(folder))
        self.assertEqual(0, code, err)
        self.assertIn(len(kept), [int(m.group(1)) for m in matches(RANGE_LINE, self.service.said())])
        self.assertEqual(('true', 1, 0, '00000000', len(kept), 0), last_report(self.service, 'DEMO-FLAKY-0005'),
                         'the bytes of the first run are the ones resumed')
        self.assertEqual([FLAKY], os.listdir(folder))
        self.assertEqual(used + 1, self.service.used('DEMO-FLAKY-0005'))

    def test_get_refuses_a_tampered_file_and_keeps_the_one_there(self):
        folder = self.folder()
        kept = os.path.join(folder, 'tamsel-tools.bin')
        with open(kept, 'wb') as f:
            f.write(b'the version from before')
        used = self.service.used('DEMO-TAMPERED-0006')
        code, out, err = self.host('get', SERVICE_URL, 'DEMO-TAMPERED-0006', windows_path(folder))
        self.assertEqual(31, code, err)
        self.assertIn('fetch failed: AGENT_E_DIGEST_MISMATCH (0x80042F05)', err)
        self.assertNotIn('retrying', err, 'wrong bytes are not worth a retry, and there is no other source')
        self.assertIn('reported failure', out)
        self.assertEqual(used, self.service.used('DEMO-TAMPERED-0006'))
        self.assertEqual(['tamsel-tools.bin'], os.listdir(folder), 'no partial file or record is left')
        with open(kept, 'rb') as f:
            self.assertEqual(b'the version from before', f.read())

    def test_get_finishes_from_a_mirror_in_the_same_call(self):
        # The files host breaks the file off at 30 % every time, a resume too: after its second failure
        # the download URL gives way to the first mirror, which goes on from the bytes kept (the digest
        # proves the whole).
        folder = self.folder()
        name = 'tamsel-drivers.bin'
        code, out, err = self.host('get', SERVICE_URL, 'DEMO-FAILOVER-0007', windows_path(folder))
        self.assertEqual(0, code, err)
        self.assertIn('   mirror 1 http://mirror1.norvik.example/files/%s\n' % name, out.replace('\r', ''))
        self.assertEqual(1, len(re.findall(RETRY_LINE % ('the download URL', BROKE_OFF), err)), err)
        self.assertEqual(1, len(re.findall(RETRY_LINE % ('mirror 1', BROKE_OFF), err)), err)
        self.assertNotIn('mirror 2', err)
        with open(os.path.join(folder, name), 'rb') as f:
            self.assertEqual(hashlib.sha256(self.service.source(name)).hexdigest(),
                             hashlib.sha256(f.read()).hexdigest())
        self.assertIn('verified sha256 ', out)
        self.assertEqual([name], os.listdir(folder))
        success, attempts, source, result, resumed, waited = last_report(self.service, 'DEMO-FAILOVER-0007')
        self.assertEqual(('true', 3, 1, '00000000', 0), (success, attempts, source, result, resumed))
        self.assertLessEqual(waited, 3100, 'two backoffs, of at most 1 s and 2 s')

    def test_get_waits_as_a_busy_server_asks_or_ends_with_retry_later(self):
        name = 'tamsel-fonts.bin'
        # Asked for 2 s with 1 s allowed and no mirror: exit code 37 at once, the time asked for told.
        folder = self.folder()
        code, out, err = self.host('get', SERVICE_URL, 'DEMO-BUSY-0008', windows_path(folder), '--max-wait', '1')
        self.assertEqual(37, code, err)
        self.assertIn('fetch failed: AGENT_E_RETRY_LATER (0x80042F08)', err)
        self.assertIn('the server asked to be asked again in 2 s', err)
        self.assertNotIn('retrying', err)
        self.assertIn('reported failure', out)
        self.assertEqual(('false', 1, 0, '80042F08', 0, 0), last_report(self.service, 'DEMO-BUSY-0008'))
        self.assertEqual([], os.listdir(folder))
        # The next query arms the 503 again; by default the 2 s are waited out on the same source.
        code, out, err = self.host('get', SERVICE_URL, 'DEMO-BUSY-0008', windows_path(folder))
        self.assertEqual(0, code, err)
        reason = r'the server answered an HTTP status other than 200 \(HTTP status 503\)'
        self.assertEqual(['2'], re.findall(RETRY_LINE % ('the download URL', reason), err), err)
        with open(os.path.join(folder, name), 'rb') as f:
            self.assertEqual(hashlib.sha256(self.service.source(name)).hexdigest(),
                             hashlib.sha256(f.read()).hexdigest())
        success, attempts, source, result, resumed, waited = last_report(self.service, 'DEMO-BUSY-0008')
        self.assertEqual(('true', 2, 0, '00000000', 0), (success, attempts, source, result, resumed))
        self.assertGreaterEqual(waited, 2000)
        # fetch given a policy option retries as get does (the query arms the 503 once more).
        self.assertEqual(0, self.host('query', SERVICE_URL, 'DEMO-BUSY-0008')[0])
        code, out, err = self.host('fetch', 'http://files.norvik.example/files/' + name,
                                   windows_path(os.path.join(folder, 'fetched.bin')), '--attempts', '2')
        self.assertEqual(0, code, err)
        self.assertEqual(['2'], re.findall(RETRY_LINE % ('the download URL', reason), err), err)
        self.assertIn('2 attempts, the last from the download URL', out)

    def test_fetch_verifies_a_digest_in_either_case(self):
        target = os.path.join(self.folder(), 'update.bin')
        url = 'http://files.norvik.example/files/tamsel-update.bin'
        digest = hashlib.sha256(self.service.source('tamsel-update.bin')).hexdigest()
        code, out, err = self.host('fetch', url, windows_path(target), '--sha256', digest.upper())
        self.assertEqual(0, code, err)
        self.assertIn('verified sha256 %s\n' % digest, out)
        wrong = ('0' if digest[0] != '0' else '1') + digest[1:]
        code, out, err = self.host('fetch', '--resume', url, windows_path(target) + '.2', '--sha256', wrong)
        self.assertEqual(31, code, err)
        self.assertEqual(['update.bin'], os.listdir(os.path.dirname(target)))
        code, _, err = self.host('fetch', url, windows_path(target), '--sha256', digest[1:])
        self.assertEqual(2, code, err)
        self.assertIn('--sha256 needs 64 hexadecimal digits', err)

    def test_fetch_checks_an_expected_size(self):
        target = os.path.join(self.folder(), 'update.bin')
        url = 'http://files.norvik.example/files/tamsel-update.bin'
        code, _, err = self.host('fetch', '--resume', '--expect-size', '200003', url, windows_path(target))
        self.assertEqual(0, code, err)
        code, _, err = self.host('fetch', url, windows_path(target), '--expect-size', '200002')
        self.assertEqual(28, code, err)
        self.assertIn('AGENT_E_SIZE_MISMATCH (0x80042F03)', err)
        # Refused on the announced length: the file from before is untouched.
        with open(target, 'rb') as f:
            self.assertEqual(self.service.source('tamsel-update.bin'), f.read())

    def test_fetch_of_a_missing_file_names_the_http_status(self):
        folder = self.folder()
        target = os.path.join(folder, 'never.bin')
        code, _, err = self.host('fetch', 'http://files.norvik.example/files/never.bin', windows_path(target))
        self.assertEqual(12, code, err)
        self.assertIn('AGENT_E_HTTP_STATUS (0x80042F01)', err)
        self.assertIn('(HTTP status 404)', err)
        self.assertFalse(os.path.exists(target))

    def test_no_internet_without_the_proxy(self):
        # Nothing listens on that port: the connectivity probe cannot see its 200.
        code, _, err = run_host('lookup', LOOKUP_URL, 's', 'l', 't', proxy='http://127.0.0.1:%d' % free_port())
        self.assertEqual(10, code, err)
        self.assertIn('AGENT_E_NO_SESSION (0x80042EFF): cannot reach the internet', err)


class SlowService(unittest.TestCase):
    """Against a service that sends 512 KiB/s and asks for 30 s when busy: Ctrl+C during a download and
    during a wait, and the progress line of a body whose length nobody announced."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='tamsel-demo.')
        # The 2 MiB file takes 4 s; the busy code's server asks for a wait long enough to press Ctrl+C in.
        cls.service = DemoService(cls.work, '--rate-kib', '512', '--busy-retry-after', '30')

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def interrupted(self, words, marker):
        """Runs the host with words and presses Ctrl+C once its stderr holds marker: (code, out, err)."""
        # The prefix's wineserver must already run: started inside the host's process group below,
        # it would take the Ctrl+C as its own signal to quit.
        run_host('--help', dll=False)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            host = subprocess.Popen(host_command(*words), stdout=out, stderr=err,
                                    env=wine_environment(self.service.proxy), start_new_session=True)
            # Like a terminal, the signal goes to the whole process group: a 64-bit program runs in a
            # child of the loader started first.
            deadline = time.monotonic() + RUN_TIMEOUT
            while marker not in text(err):
                self.assertIsNone(host.poll(), 'the host ended before %r: %s' % (marker, text(err)))
                self.assertLess(time.monotonic(), deadline, 'no %r' % marker)
                time.sleep(0.1)
            os.killpg(host.pid, signal.SIGINT)
            host.wait(RUN_TIMEOUT)
            return host.returncode, text(out), text(err)

    def test_cancel_keeps_the_bytes_and_reports_failure(self):
        folder = tempfile.mkdtemp(dir=self.work, prefix='downloads.')
        # The first progress report means the transfer runs.
        code, out, err = self.interrupted(('get', SERVICE_URL, 'DEMO-BIG-0001', windows_path(folder)), '%')
        self.assertEqual(3, code, err)
        self.assertIn('cancelled', err)
        self.assertIn('reported failure', out)
        # get downloads beside the final name: the bytes that arrived wait there for the next get.
        self.assertFalse(os.path.exists(os.path.join(folder, 'tamsel-suite.bin')))
        with open(os.path.join(folder, 'tamsel-suite.bin.tamsel-partial'), 'rb') as f:
            kept = f.read()
        source = self.service.source('tamsel-suite.bin')
        self.assertGreater(len(kept), 0)
        self.assertLess(len(kept), len(source))
        self.assertEqual(source[:len(kept)], kept)
        self.assertEqual(0, self.service.used('DEMO-BIG-0001'))

    def test_cancel_during_a_wait_ends_it_before_the_next_attempt(self):
        folder = tempfile.mkdtemp(dir=self.work, prefix='downloads.')
        # The server's 30 s would be waited out but for the Ctrl+C.
        code, out, err = self.interrupted(('get', SERVICE_URL, 'DEMO-BUSY-0008', windows_path(folder)),
                                          'retrying in 30 s from the download URL')
        self.assertEqual(3, code, err)
        self.assertIn('cancelled', err)
        self.assertIn('reported failure', out)
        self.assertEqual(('false', 1, 0, '80004004', 0), last_report(self.service, 'DEMO-BUSY-0008')[:5],
                         'one attempt, E_ABORT: the second never started')
        self.assertEqual([], os.listdir(folder))

    def test_fetch_without_a_length_shows_bytes_and_rate(self):
        target = os.path.join(self.work, 'streamed.bin')
        code, out, err = run_host('fetch', 'http://files.norvik.example/stream/tamsel-suite.bin',
                                  windows_path(target), proxy=self.service.proxy)
        self.assertEqual(0, code, err)
        with open(target, 'rb') as f:
            self.assertEqual(self.service.source('tamsel-suite.bin'), f.read())
        # The last drawing: every byte, at a rate near the service's 512 KiB/s; no bar without a length.
        last = err.split('\r')[-1].strip()
        match = re.fullmatch(r'2\.0 MiB received, (\d+\.\d) KiB/s', last)
        self.assertIsNotNone(match, err)
        self.assertTrue(256 < float(match.group(1)) < 1024, last)
        self.assertNotIn('%', err)


# Download URLs whose last segment is no plain file in the folder get is given, as a careless service
# or anything in its path may name them: (code, the URL's last segment, exit code, why). tamsel and every
# example refuse them alike, before anything is downloaded or reported.
NAMED_DOWNLOADS = [
    ('NAMED-UP-0001', '..\\..\\escaped.bin', 4, 'two folders up'),
    ('NAMED-ESCAPED-0002', '%2e%2e%5c%2e%2e%5cescaped.bin', 0, 'nothing is unescaped: a plain name in the folder'),
    ('NAMED-DRIVE-0003', 'C:\\escaped.bin', 4, 'a drive'),
    ('NAMED-UNC-0004', '\\\\127.0.0.1\\c$\\escaped.bin', 4, 'a UNC path'),
    ('NAMED-DEVICE-0005', 'NUL.bin', 4, 'a device, whatever its extension'),
    ('NAMED-DOTS-0006', 'escaped.bin..', 4, 'trailing dots, which Windows drops'),
    # A reply's values are trimmed: a space ends the name only before a query.
    ('NAMED-SPACE-0007', 'escaped.bin ?v=2', 4, 'a trailing space, which Windows drops'),
]
REFUSED_NAME = 'names no usable file name; nothing downloaded'


def tree(folder):
    """{path under folder: bytes} of every file below it."""
    files = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(parent, name), 'rb') as f:
                files[os.path.relpath(os.path.join(parent, name), folder)] = f.read()
    return files


class ScriptHost(unittest.TestCase):
    """get.vbs and get.js, as the kit ships them, against the demo service: both engines pass the
    query's sources to DownloadFrom (VBScript's array, JScript's own), call the OnProgress handler, read
    what the download did, report it, read the error text and exit with the host's codes."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='tamsel-demo.')
        named = [word for code, name, _, _ in NAMED_DOWNLOADS for word in ('--named-code', code, name)]
        cls.service = DemoService(cls.work, *named)
        run_wine('regsvr32', '/s', windows_path(ARGS.dll))

    @classmethod
    def tearDownClass(cls):
        run_wine('regsvr32', '/u', '/s', windows_path(ARGS.dll))
        cls.service.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def get(self, script, code, folder, *options):
        return run_script(script, SERVICE_URL, code, windows_path(folder), *options, proxy=self.service.proxy)

    def test_whole_download_into_a_folder_named_in_other_scripts(self):
        for script in ('get.vbs', 'get.js'):
            with self.subTest(script):
                folder = tempfile.mkdtemp(dir=self.work, prefix='Загрузки 下载 ' + script + '.')
                used = self.service.used('DEMO-FLAKY-0005')
                code, out = self.get(script, 'DEMO-FLAKY-0005', folder)
                self.assertEqual(0, code, out)
                with open(os.path.join(folder, FLAKY), 'rb') as f:
                    self.assertEqual(self.service.source(FLAKY), f.read())
                self.assertEqual([FLAKY], os.listdir(folder), 'no partial file left')
                # The break at 40 % is resumed inside the one call, from the same source; the handler saw
                # both attempts and the end.
                self.assertIn('from 3 sources', out, 'the download URL and the two mirrors')
                self.assertIn('attempts 2, the last from the download URL\n', out)
                self.assertNotIn('kept', out, 'nothing was kept from an earlier call')
                digest = hashlib.sha256(self.service.source(FLAKY)).hexdigest()
                self.assertIn('verified sha256 ' + digest, out, 'the service named the digest: the download proved it')
                progress = re.findall(r'^progress (\d+)% ', out, re.M)
                self.assertGreaterEqual(len(progress), 10, out)
                self.assertEqual('100', progress[-1])
                self.assertIn('39', progress, 'the last report before the break')
                self.assertEqual(used + 1, self.service.used('DEMO-FLAKY-0005'))
                self.assertEqual(remaining_count(out), 50 - used - 1)

    def test_a_failing_source_and_a_busy_server_are_got_past_in_one_call_and_reported(self):
        cases = [
            # The files host breaks this file off at 30 % every time: once more on the same source (which
            # breaks at once), then the first mirror goes on from the byte reached, the digest proving the whole.
            ('DEMO-FAILOVER-0007', 'tamsel-drivers.bin', 'attempts 3, the last from mirror 1\n',
             'attempts=3 source=1 result=00000000 resumedBytes=0'),
            # The file server answers 503 with Retry-After: 2 once: waited out, then the same source.
            ('DEMO-BUSY-0008', 'tamsel-fonts.bin', 'attempts 2, the last from the download URL, the server asked '
             'to wait 2 s\n', 'attempts=2 source=0 result=00000000 resumedBytes=0'),
        ]
        for script in ('get.vbs', 'get.js'):
            for service_code, name, summary, reported in cases:
                with self.subTest(script=script, code=service_code):
                    folder = tempfile.mkdtemp(dir=self.work, prefix='sources.')
                    used = self.service.used(service_code)
                    code, out = self.get(script, service_code, folder)
                    self.assertEqual(0, code, out)
                    self.assertEqual([name], os.listdir(folder), 'the file alone, no partial file left')
                    with open(os.path.join(folder, name), 'rb') as f:
                        self.assertEqual(self.service.source(name), f.read())
                    self.assertIn(summary, out)
                    self.assertIn('reported success; remaining downloads: %d' % (50 - used - 1), out)
                    said = [line for line in self.service.said() if line.startswith('service: report of ' + service_code)]
                    self.assertTrue(said and reported in said[-1], said)
                    waited = int(re.search(r'waitedMs=(\d+)', said[-1]).group(1))
                    if service_code == 'DEMO-BUSY-0008':
                        self.assertGreaterEqual(waited, 1990, said[-1])

    def test_failures_show_their_description_and_exit_code(self):
        cases = [
            ('DEMO-SMALL-0002', ('/stop:50',), 3, 'download: the download was cancelled after '),
            ('DEMO-USED-0004', (), 13, 'query: the download service refused the code (service status 3) (0x80042F02)'),
            ('DEMO-SMÅLL-0002', (), 14, 'query: the argument code holds a character other than printable ASCII'),
            ('DEMO-TAMPERED-0006', (), 31, "download: the file's bytes are not the ones the service named"),
        ]
        for script in ('get.vbs', 'get.js'):
            for service_code, options, exit_code, message in cases:
                with self.subTest(script=script, code=service_code):
                    folder = tempfile.mkdtemp(dir=self.work, prefix='downloads.')
                    used = self.service.used('DEMO-SMALL-0002')
                    code, out = self.get(script, service_code, folder, *options)
                    self.assertEqual(exit_code, code, out)
                    self.assertIn(message, out)
                    self.assertFalse(os.path.exists(os.path.join(folder, 'tamsel-update.bin')), out)
                    self.assertEqual(used, self.service.used('DEMO-SMALL-0002'), 'a failure counts nothing')
                    if exit_code == 3:
                        # Stopped where the handler asked: at 50 % or later, before the end.
                        percents = [int(p) for p in re.findall(r'^progress (\d+)% ', out, re.M)]
                        self.assertTrue(50 <= percents[-1] < 100, out)

    def test_a_download_url_naming_no_plain_file_writes_nothing_outside_the_folder(self):
        programs = {
            'tamsel': lambda code, folder: run_host('get', SERVICE_URL, code, windows_path(folder),
                                                    proxy=self.service.proxy),
            'get.vbs': lambda code, folder: self.get('get.vbs', code, folder),
            'get.js': lambda code, folder: self.get('get.js', code, folder),
        }
        drive_c = os.path.join(ARGS.prefix, 'drive_c', 'escaped.bin')
        for service_code, name, exit_code, why in NAMED_DOWNLOADS:
            for program, run in programs.items():
                with self.subTest(program=program, name=name, why=why):
                    # The user's files: one two folders above the target folder, one in it.
                    above = tempfile.mkdtemp(dir=self.work, prefix='above.')
                    folder = os.path.join(above, 'downloads', 'target')
                    os.makedirs(folder)
                    for path in (os.path.join(above, 'escaped.bin'), os.path.join(folder, 'escaped.bin')):
                        with open(path, 'wb') as f:
                            f.write(b"the user's own file")
                    before, used = tree(above), self.service.used(service_code)
                    code, *said = run(service_code, folder)
                    said = '\n'.join(said)
                    self.assertEqual(exit_code, code, said)
                    expected = dict(before)
                    if exit_code == 0:
                        expected[os.path.join('downloads', 'target', name)] = self.service.source('tamsel-update.bin')
                    else:
                        self.assertIn(REFUSED_NAME, said)
                    self.assertEqual(sorted(expected), sorted(tree(above)), said)
                    self.assertEqual(expected, tree(above), 'the files above and in the folder are as they were')
                    self.assertFalse(os.path.exists(drive_c), said)
                    self.assertEqual(used + (exit_code == 0), self.service.used(service_code),
                                     'a refused name is neither downloaded nor reported')


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ('--wine-run', '--prefix', '--host', '--dll', '--service'):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    try:
        unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
    finally:
        # The prefix is this test's own: its persistent wineserver goes with it.
        subprocess.run(['wineserver', '-k'], env=dict(os.environ, WINEPREFIX=ARGS.prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


if __name__ == '__main__':
    main()
