#!/usr/bin/env python3
# Runs the interop table: starts the real servers, runs each case's tamsel.exe steps under Wine and checks the bytes on disk and what the servers logged.
"""Usage: run_interop.py --build DIR --work DIR --wine-run SCRIPT [NAME...]

Run by scripts/interop.sh on a private network where the product's host names are 127.0.0.1 (run it
that way; alone it would listen on the machine's own ports). --build is the i686 build folder (its
tamsel.exe, NorvikTamselAgent.dll and tamsel_trust_ca.exe), --work the stage's folder: its Wine
prefix and test CA stay there between runs, its run/ folder (servers' configurations, logs, files,
downloads) is made anew each run and kept afterwards for a look. NAMEs pick cases (a prefix of the
name is enough); without, every case runs. Prints one line per case and ends with
"interop: N passed, M failed"; exits 0 only when every case passed.
"""

import argparse
import ftplib
import gzip
import hashlib
import http.client
import os
import random
import shutil
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
sys.path[:0] = [os.path.join(ROOT, 'testbed'), os.path.join(ROOT, 'testbed', 'interop')]
import loopback  # noqa: E402
import servers  # noqa: E402
from server import Certificates  # noqa: E402  (the testbed's test CA, whose leaf nginx serves)
import cases  # noqa: E402
from facts import Digest, Local, RelayCut, Replace, Served, SessionCut, UnknownField  # noqa: E402

INTERNET_SETTINGS = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
RUN_SECONDS = 90        # one tamsel run, a guard: a hung one fails its case
SETTLE_SECONDS = 3      # how long a log may take to show a request that has ended
RELAY_PORT = 8080
FTP_RATE = 1024 * 1024  # bytes per second per FTP session
FTP_SERVERS = {
    # name: (port, takes PORT, passive ports)
    'vsftpd': (21, False, (30000, 30049)),
    'vsftpd-port': (2121, True, (30050, 30099)),
}
PROXIES = {
    'open': 'http://127.0.0.1:%d' % servers.SQUID_OPEN_PORT,
    'registry': None,  # the open squid, in the prefix's registry instead (set for the step)
    # Wine's WinINet takes proxy credentials from http_proxy's user information only (its registry
    # setting, ProxyServer, holds a host and port): this is how a user's system setting gives them.
    'auth': 'http://%s:%s@127.0.0.1:%d' % (servers.PROXY_USER, servers.PROXY_PASSWORD, servers.SQUID_AUTH_PORT),
    'auth-anonymous': 'http://127.0.0.1:%d' % servers.SQUID_AUTH_PORT,
}


class CaseFailed(Exception):
    pass


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, 'rb') as f:
        while chunk := f.read(1 << 20):
            digest.update(chunk)
    return digest.hexdigest()


def file_bytes(name, size, generation=0):
    """The stage's files: text for .txt, random bytes otherwise; each name and generation its own."""
    rng = random.Random('%s/%d' % (name, generation))
    if name.endswith('.txt'):
        lines = []
        while sum(map(len, lines)) < size:
            lines.append('%06d the quick brown fox, generation %d, jumps over %d lazy dogs\n'
                         % (len(lines), generation, rng.randrange(1000)))
        return ''.join(lines).encode()[:size]
    return rng.randbytes(size)


class Stage:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.run = os.path.join(self.work, 'run')
        self.prefix = os.path.join(self.work, 'wineprefix')
        self.build = os.path.abspath(args.build)
        self.processes = None
        self.relay = None
        self.logs = {}
        self.roots = {}
        self.generations = {}  # (where, name): how often a served file was replaced
        # Whatever time it is, the files' times lie an hour back, 5 s into a minute: a replacement 30 s
        # later stays inside that minute, as an FTP listing shows it.
        self.file_time = (int(time.time()) // 60 - 60) * 60 + 5

    # --- start and stop ---

    def start(self):
        shutil.rmtree(self.run, ignore_errors=True)
        os.makedirs(self.run)
        os.chmod(self.run, 0o755)
        self.processes = servers.Processes(self.run)
        self.make_files()
        certificates = Certificates(os.path.join(self.work, 'certs'))
        demo_port = self.start_demo()
        servers.start_nginx(self.processes, demo_port, self.roots['demo'], self.roots['nginx'],
                            certificates.leaf('files.norvik.example'), certificates.path('leaf.key'))
        servers.start_squid(self.processes)
        for name, (port, allow_port, pasv) in FTP_SERVERS.items():
            servers.start_vsftpd(self.processes, name, port, self.roots[name], allow_port, pasv, FTP_RATE)
        self.relay = servers.CutRelay(RELAY_PORT, 80)
        self.logs = {
            'nginx': servers.LogFile(os.path.join(self.run, 'nginx-access.log'), servers.parse_nginx),
            'squid': servers.LogFile(os.path.join(self.run, 'squid', 'access.log'), servers.parse_squid),
        }
        for name in FTP_SERVERS:
            self.logs[name] = servers.LogFile(os.path.join(self.run, name, 'vsftpd.log'), servers.parse_vsftpd)
        self.check_gzip()
        self.trust_ca(os.path.join(self.work, 'certs', 'ca.der'))
        # A run ended in the middle of a registry row may have left the proxy set.
        self.set_registry_proxy(None)

    def stop(self):
        if self.relay:
            self.relay.close()
        if self.processes:
            self.processes.stop_all()

    def make_files(self):
        self.roots = {'nginx': os.path.join(self.run, 'files'), 'demo': os.path.join(self.run, 'service', 'files')}
        layout = {'nginx': cases.NGINX_FILES}
        for name in FTP_SERVERS:
            self.roots[name] = os.path.join(self.run, name + '-root')
            layout[name] = cases.FTP_FILES[name]
        for where, files in layout.items():
            for name, size in files.items():
                self.write_served(Served(where, name), file_bytes(name, size), self.file_time)
        # vsftpd serves only what the anonymous user may read, from a root that user cannot write.
        for where in FTP_SERVERS:
            for folder, _, _ in os.walk(self.roots[where]):
                os.chmod(folder, 0o755)

    def served_path(self, served):
        return os.path.join(self.roots[served.where], served.name)

    def write_served(self, served, data, mtime):
        path = self.served_path(served)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path + '.new', 'wb') as f:
            f.write(data)
        os.chmod(path + '.new', 0o644)
        os.utime(path + '.new', (mtime, mtime))
        os.replace(path + '.new', path)

    def start_demo(self):
        folder = os.path.join(self.run, 'service')
        os.makedirs(folder, exist_ok=True)
        port_file = os.path.join(folder, 'ports')
        demo = self.processes.start('demo-service', [sys.executable, '-B',
                                                     os.path.join(ROOT, 'testbed', 'demo_service.py'), '--work', folder,
                                                     '--port-file', port_file, '--big-mib', '1',
                                                     '--parent-pid', str(os.getpid())])
        return loopback.wait_for_ports(port_file, demo.process)['http']

    def check_gzip(self):
        """The gzip row proves something only if nginx does compress the file for a client that asks."""
        connection = http.client.HTTPConnection('127.0.0.1', 80, timeout=10)
        connection.request('GET', '/interop/notes.txt', headers={'Host': 'files.norvik.example',
                                                                 'Accept-Encoding': 'gzip'})
        reply = connection.getresponse()
        body = reply.read()
        connection.close()
        with open(self.served_path(Served('nginx', 'notes.txt')), 'rb') as f:
            if reply.getheader('Content-Encoding') != 'gzip' or gzip.decompress(body) != f.read():
                raise RuntimeError('nginx does not gzip notes.txt for a client that asks: check nginx.conf.in')

    def trust_ca(self, ca):
        """Makes the stage's prefix trust the test CA that nginx's certificate chains to (once per CA)."""
        marker = os.path.join(self.prefix, '.interop-ca-' + sha256_of(ca)[:16])
        if os.path.exists(marker):
            return
        helper = os.path.join(self.build, 'tests', 'support', 'tamsel_trust_ca.exe')
        code, out, err = self.wine(helper, loopback.windows_path(ca))
        if code != 0:
            raise RuntimeError('could not trust the test CA in %s (exit code %d):\n%s%s'
                               % (self.prefix, code, out, err))
        open(marker, 'w').close()

    # --- running tamsel ---

    def wine(self, program, *words, proxy=None, added=None):
        environment = dict(os.environ, WINEDEBUG='-all', LC_ALL='C.UTF-8')
        for name in ('http_proxy', 'https_proxy', 'HTTP_PROXY', 'HTTPS_PROXY', 'no_proxy', 'NO_PROXY'):
            environment.pop(name, None)
        if proxy and PROXIES[proxy]:
            environment['http_proxy'] = PROXIES[proxy]
        environment.update(added or {})
        return loopback.run_program([self.args.wine_run, self.prefix, program] + list(words), environment,
                                    RUN_SECONDS)

    def set_registry_proxy(self, server):
        """The proxy as Internet Options sets it (ProxyEnable, ProxyServer under Internet Settings, which
        WinINet reads for INTERNET_OPEN_TYPE_PRECONFIG); None turns it off."""
        values = [('ProxyEnable', 'REG_DWORD', '1' if server else '0')]
        if server:
            values.append(('ProxyServer', 'REG_SZ', server))
        for name, kind, value in values:
            code, out, err = self.wine('reg', 'add', INTERNET_SETTINGS, '/v', name, '/t', kind, '/d', value, '/f')
            if code != 0:
                raise RuntimeError('reg add %s %s failed (exit code %d):\n%s%s' % (name, value, code, out, err))

    def tamsel(self, words, proxy, added=None):
        return self.wine(os.path.join(self.build, 'bin', 'tamsel.exe'), '--dll',
                         loopback.windows_path(os.path.join(self.build, 'bin', 'NorvikTamselAgent.dll')),
                         *words, proxy=proxy, added=added)

    def word(self, word, folder):
        if isinstance(word, Local):
            return loopback.windows_path(os.path.join(folder, word.name)) + ('' if word.name else '\\')
        if isinstance(word, Digest):
            return sha256_of(self.served_path(word.served))
        return word

    # --- one case ---

    def run_case(self, case):
        folder = os.path.join(self.run, 'downloads', case.name)
        os.makedirs(folder)
        marks = {name: log.mark() for name, log in self.logs.items()}
        kept = None
        for number, step in enumerate(case.steps, 1):
            if isinstance(step, Replace):
                self.replace(step)
                continue
            kept = self.run_step(step, number, folder, kept)
        problems = self.check_disk(case, folder)
        problems += self.check_logs(case, marks, kept)
        if problems:
            raise CaseFailed('\n'.join(problems))

    def run_step(self, step, number, folder, kept):
        cut = self.arm(step.cut, folder)
        words = [self.word(word, folder) for word in step.words]
        if step.proxy == 'registry':
            self.set_registry_proxy('127.0.0.1:%d' % servers.SQUID_OPEN_PORT)
        try:
            code, out, err = self.tamsel(words, step.proxy, step.environment)
        except subprocess.TimeoutExpired:
            raise CaseFailed('step %d: tamsel %s did not end within %d s' % (number, ' '.join(words), RUN_SECONDS))
        finally:
            cut_problem = cut() if cut else None
            if step.proxy == 'registry':
                self.set_registry_proxy(None)
        said = out + err
        expected = step.exit
        if not (expected(code, kept) if callable(expected) else code == expected):
            raise CaseFailed('step %d: tamsel %s exited %d, expected %r\n%s' % (number, ' '.join(words), code,
                                                                           expected, indent(said)))
        missing = [text for text in step.says if text not in said]
        if missing:
            raise CaseFailed('step %d: tamsel %s did not say %r\n%s' % (number, ' '.join(words), missing, indent(said)))
        leaked = [text for text in step.never_says if text in said]
        if leaked:
            raise CaseFailed('step %d: tamsel %s said %r\n%s' % (number, ' '.join(words), leaked, indent(said)))
        if cut_problem:
            raise CaseFailed('step %d: %s' % (number, cut_problem))
        if step.partial:
            partial = os.path.join(folder, step.partial + '.tamsel-partial')
            kept = os.path.getsize(partial) if os.path.exists(partial) else 0
            if kept == 0:
                raise CaseFailed('step %d: the cut left no partial file of %s to resume' % (number, step.partial))
        return kept

    def arm(self, cut, folder):
        """Prepares the step's cut; answers a call that, after the step, says what went wrong with it."""
        if isinstance(cut, RelayCut):
            before = self.relay.cut_count()
            self.relay.arm(cut.after)

            def relay_done():
                self.relay.arm(None)
                if self.relay.cut_count() == before:
                    return 'the relay never cut: the transfer ended before %d bytes' % cut.after
                return None
            return relay_done
        if isinstance(cut, SessionCut):
            return self.cut_sessions(cut, folder)
        return None

    def cut_sessions(self, cut, folder):
        """Kills the FTP server's sessions once the partial file holds `at_least` bytes."""
        server = self.processes.named(cut.server)
        partial = os.path.join(folder, cut.name + '.tamsel-partial')
        done = threading.Event()
        made = []

        def watch():
            while not done.wait(0.01):
                if os.path.exists(partial) and os.path.getsize(partial) >= cut.at_least:
                    servers.signal_all(server.sessions(), signal.SIGKILL)
                    made.append(os.path.getsize(partial))
                    return
        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()

        def sessions_done():
            done.set()
            watcher.join()
            if not made:
                return 'nothing to cut: the partial file never reached %d bytes' % cut.at_least
            return None
        return sessions_done

    def replace(self, step):
        path = self.served_path(step.served)
        old = os.stat(path)
        mtime = int(old.st_mtime) + step.seconds
        if step.same_minute and mtime // 60 != int(old.st_mtime) // 60:
            raise RuntimeError('%s: %d s later is another minute' % (step.served.name, step.seconds))
        before = self.ftp_view(step.served) if step.served.where in FTP_SERVERS else None
        key = (step.served.where, step.served.name)
        self.generations[key] = self.generations.get(key, 0) + 1
        self.write_served(step.served, file_bytes(step.served.name, old.st_size, self.generations[key]), mtime)
        if before:
            self.check_ftp_view(step, before, self.ftp_view(step.served))

    def ftp_view(self, served):
        """What an FTP client can learn of a served file without reading it: its listing line, SIZE and
        MDTM (asked passively, with Python's own client)."""
        port = FTP_SERVERS[served.where][0]
        folder, name = os.path.split(served.name)
        with ftplib.FTP() as ftp:
            ftp.connect('127.0.0.1', port, timeout=10)
            ftp.login()
            ftp.voidcmd('TYPE I')
            lines = []
            ftp.retrlines('LIST /' + folder, lines.append)
            listing = [line for line in lines if line.endswith(' ' + name)]
            return listing, ftp.size('/' + served.name), ftp.voidcmd('MDTM /' + served.name)

    @staticmethod
    def check_ftp_view(step, before, after):
        """A same-minute replacement is the case it stands for only while the listing shows both files
        alike and only MDTM's seconds tell them apart."""
        if step.same_minute and (before[:2] != after[:2] or before[2] == after[2]):
            raise CaseFailed('the replacement of %s is not what the case needs (listing, SIZE and MDTM '
                             'before: %r, after: %r)' % (step.served.name, before, after))

    def check_disk(self, case, folder):
        problems = []
        for name, served in case.disk.items():
            local = os.path.join(folder, name)
            if served is None:
                if os.path.exists(local):
                    problems.append('%s is on disk; it should not be' % name)
            elif not os.path.exists(local):
                problems.append('%s is not on disk' % name)
            elif sha256_of(local) != sha256_of(self.served_path(served)):
                problems.append('%s on disk (%d bytes, sha256 %s) is not the served %s (%d bytes, sha256 %s)'
                                % (name, os.path.getsize(local), sha256_of(local), served.name,
                                   os.path.getsize(self.served_path(served)), sha256_of(self.served_path(served))))
        return problems

    def check_logs(self, case, marks, kept):
        """The facts, against the entries each log got since the case began; a log may lag a little
        behind a request that has ended, so failing facts are read again until SETTLE_SECONDS pass."""
        deadline = time.monotonic() + SETTLE_SECONDS
        while True:
            entries = {name: log.entries(marks[name]) for name, log in self.logs.items()}
            try:
                failed = [(fact, problem) for fact in case.facts if (problem := fact.check(entries[fact.log], kept))]
            except UnknownField as mistake:
                return [str(mistake)]
            if not failed or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        problems = []
        for fact, problem in failed:
            shown = entries[fact.log][-12:]
            problems.append('%s; its entries of this case%s:\n%s' % (
                problem, ' (the last 12)' if len(entries[fact.log]) > 12 else '',
                indent('\n'.join(map(str, shown)) or '(none)')))
        return problems


def indent(text):
    return '\n'.join('    ' + line for line in text.rstrip('\n').split('\n'))


def parse_arguments():
    parser = argparse.ArgumentParser(description='The interop table against real servers.')
    parser.add_argument('--build', required=True, help='the i686 build folder')
    parser.add_argument('--work', required=True, help='the stage\'s folder (prefix, CA, run/)')
    parser.add_argument('--wine-run', required=True, help='scripts/wine-run.sh')
    parser.add_argument('names', nargs='*', help='cases to run (a prefix of the name is enough)')
    return parser.parse_args()


def main():
    args = parse_arguments()
    chosen = [case for case in cases.CASES if not args.names or any(case.name.startswith(n) for n in args.names)]
    if not chosen:
        print('interop: no case is named %s' % ' or '.join(args.names), file=sys.stderr)
        return 2

    # A TERM or HUP from the runner ends the run through the same clean-up as an error does.
    def end(number, _):
        raise SystemExit(128 + number)
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, end)

    stage = Stage(args)
    passed, failed = [], []
    started = time.monotonic()
    try:
        versions = subprocess.run(['dpkg-query', '-W', '-f', '${Package} ${Version}, ', 'nginx', 'squid', 'vsftpd'],
                                  capture_output=True, text=True).stdout.rstrip(', ')
        print('interop: starting %s on the private network' % versions, flush=True)
        stage.start()
        print('interop: servers up in %.1f s' % (time.monotonic() - started), flush=True)
        for case in chosen:
            begun = time.monotonic()
            try:
                stage.run_case(case)
                passed.append(case.name)
                print('PASS %-32s %5.1f s' % (case.name, time.monotonic() - begun), flush=True)
            except CaseFailed as failure:
                failed.append(case.name)
                print('FAIL %-32s %5.1f s  (%s)\n%s' % (case.name, time.monotonic() - begun, case.why,
                                                        indent(str(failure))), flush=True)
    finally:
        # A second signal (the shell runner's TERM after a Ctrl+C) must not cut the clean-up short.
        for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            signal.signal(number, signal.SIG_IGN)
        stage.stop()
    print('interop: %.0f s; logs and downloads in %s' % (time.monotonic() - started, stage.run))
    if failed:
        print('interop: failed: %s' % ' '.join(failed))
    print('interop: %d passed, %d failed' % (len(passed), len(failed)))
    return 0 if not failed else 1


if __name__ == '__main__':
    sys.exit(main())
