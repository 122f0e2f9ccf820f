# The interop stage's real servers: nginx, squid and vsftpd started from the templates beside this file, their logs read back as entries, and the relay that cuts a transfer.
"""Real servers from the distribution as test peers, for tests/interop/run_interop.py.

They run on the private network that scripts/interop.sh makes (scripts/direct-net.sh), where the
product's host names resolve to 127.0.0.1, so they listen on their usual ports: nginx on 80 and 443,
squid on 3128 (open) and 3129 (Basic authentication), vsftpd on 21 (passive only) and 2121 (PORT too).
Each template's @NAME@ fields are filled in with the run's paths and ports. Every process started here
is stopped with its children (stop()), and its id is appended to a pid list that the shell runner
reads when the Python side could not clean up.
"""

import json
import os
import pwd
import re
import signal
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import loopback  # noqa: E402

START_SECONDS = 30
STOP_SECONDS = 10


def render(template, target, **values):
    """The template with each @NAME@ replaced; an unfilled field is an error, not a silent default."""
    with open(os.path.join(HERE, template)) as f:
        text = f.read()
    for name, value in values.items():
        text = text.replace('@%s@' % name, str(value))
    left = re.search(r'@[A-Z_]+@', text)
    if left:
        raise ValueError('%s: %s is not filled in' % (template, left.group(0)))
    loopback.write_atomically(target, text)
    return target


# --- processes ---

def children(pid):
    """The ids of every process whose parent is `pid`, their children included."""
    parents = {}
    for entry in os.listdir('/proc'):
        if entry.isdigit():
            try:
                with open('/proc/%s/stat' % entry) as f:
                    # The command name, in parentheses, may hold spaces: the fields after it are fixed.
                    fields = f.read().rsplit(')', 1)[1].split()
                parents.setdefault(int(fields[1]), []).append(int(entry))
            except (OSError, IndexError):
                pass
    found, todo = [], [pid]
    while todo:
        for child in parents.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def signal_all(pids, number):
    for pid in pids:
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


class Processes:
    """The run's server processes. Each is noted as it starts, before anything can fail, in `started`
    and in the pid list `run/pids` that the shell runner reads; stop_all() stops them, newest first,
    and removes the list."""

    def __init__(self, run):
        self.run = run
        self.pid_list = os.path.join(run, 'pids')
        self.started = []

    def start(self, name, command):
        process = Process(name, command, self.run)
        self.started.append(process)
        with open(self.pid_list, 'a') as f:
            f.write('%d\n' % process.process.pid)
        return process

    def named(self, name):
        return next(process for process in self.started if process.name == name)

    def stop_all(self):
        for process in reversed(self.started):
            process.stop()
        if os.path.exists(self.pid_list):
            os.remove(self.pid_list)


class Process:
    """One server process, with its output in run/NAME.out. stop() ends it and its children: SIGTERM to
    the server, then SIGKILL to whatever of the family is left after STOP_SECONDS."""

    def __init__(self, name, command, run):
        self.name = name
        self.output = os.path.join(run, name + '.out')
        with open(self.output, 'wb') as out:
            self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def wait_for_port(self, port):
        """Until something accepts on 127.0.0.1:port; RuntimeError, with the server's output, when the
        server ends first or nothing comes within START_SECONDS."""
        deadline = time.monotonic() + START_SECONDS
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError('%s ended (exit code %d) before it listened on %d:\n%s'
                                   % (self.name, self.process.returncode, port, self.said()))
            try:
                socket.create_connection(('127.0.0.1', port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError('%s did not listen on %d within %d s:\n%s' % (self.name, port, START_SECONDS, self.said()))

    def said(self):
        with open(self.output, errors='replace') as f:
            return f.read()[-4000:]

    def sessions(self):
        return children(self.process.pid)

    def stop(self):
        if self.process.poll() is not None:
            return
        family = self.sessions()
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        signal_all([pid for pid in family + self.sessions() if os.path.exists('/proc/%d' % pid)], signal.SIGKILL)


# --- the servers ---

def start_nginx(processes, demo_port, demo_files, files, certificate, key):
    run = processes.run
    for folder in ('body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'):
        os.makedirs(os.path.join(run, 'nginx-temp', folder), exist_ok=True)
    conf = render('nginx.conf.in', os.path.join(run, 'nginx.conf'), RUN=run, DEMO_PORT=demo_port,
                  DEMO_FILES=demo_files, FILES=files, CERTIFICATE=certificate, CERTIFICATE_KEY=key)
    # -e: its own error log from the start, before the configuration names one.
    nginx = processes.start('nginx', ['nginx', '-c', conf, '-p', run, '-e', os.path.join(run, 'nginx-error.log')])
    nginx.wait_for_port(80)
    nginx.wait_for_port(443)
    return nginx


SQUID_OPEN_PORT = 3128
SQUID_AUTH_PORT = 3129
PROXY_USER = 'tamsel'
PROXY_PASSWORD = 'open sesame'


def start_squid(processes):
    """squid, open on SQUID_OPEN_PORT and asking for PROXY_USER's Basic credentials on SQUID_AUTH_PORT.
    squid refuses to run as root, so its folder belongs to its own user."""
    folder = os.path.join(processes.run, 'squid')
    os.makedirs(folder, exist_ok=True)
    hashed = subprocess.run(['openssl', 'passwd', '-apr1', PROXY_PASSWORD], check=True, capture_output=True,
                            text=True).stdout.strip()
    loopback.write_atomically(os.path.join(folder, 'passwd'), '%s:%s\n' % (PROXY_USER, hashed))
    conf = render('squid.conf.in', os.path.join(folder, 'squid.conf'), RUN=folder, OPEN_PORT=SQUID_OPEN_PORT,
                  AUTH_PORT=SQUID_AUTH_PORT)
    user = pwd.getpwnam('proxy')
    for path in [folder] + [os.path.join(folder, name) for name in os.listdir(folder)]:
        os.chown(path, user.pw_uid, user.pw_gid)
    squid = processes.start('squid', ['squid', '-N', '-f', conf])
    squid.wait_for_port(SQUID_OPEN_PORT)
    squid.wait_for_port(SQUID_AUTH_PORT)
    return squid


def start_vsftpd(processes, name, port, root, allow_port, pasv_range, rate):
    folder = os.path.join(processes.run, name)
    empty = os.path.join(folder, 'empty')
    os.makedirs(empty, exist_ok=True)
    conf = render('vsftpd.conf.in', os.path.join(folder, 'vsftpd.conf'), RUN=folder, PORT=port, ROOT=root,
                  EMPTY=empty, PORT_ENABLE='YES' if allow_port else 'NO', PASV_MIN=pasv_range[0],
                  PASV_MAX=pasv_range[1], RATE=rate)
    vsftpd = processes.start(name, ['vsftpd', conf])
    vsftpd.wait_for_port(port)
    return vsftpd


# --- logs ---

class LogFile:
    """A server's log read as entries, from a mark on: mark() before a case, entries(mark) after it."""

    def __init__(self, path, parse):
        self.path = path
        self.parse = parse

    def mark(self):
        return os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def entries(self, mark=0):
        if not os.path.exists(self.path):
            return []
        with open(self.path, 'rb') as f:
            f.seek(mark)
            text = f.read().decode('utf-8', errors='replace')
        # A line still being written is left for the next read.
        lines = text.split('\n')[:-1]
        return [entry for entry in map(self.parse, lines) if entry is not None]


RANGE_START = re.compile(r'bytes=(\d+)-')


def parse_nginx(line):
    """One request: the fields of nginx.conf.in's log format, plus range_start (the first byte a
    `Range: bytes=N-` asked for, or None) and covers_to (where the bytes sent end in the file)."""
    entry = json.loads(line)
    match = RANGE_START.match(entry['range'])
    entry['range_start'] = int(match.group(1)) if match else None
    entry['covers_to'] = (entry['range_start'] or 0) + entry['bytes']
    return entry


SQUID_FIELDS = ('port', 'method', 'url', 'status', 'bytes', 'result', 'user')


def parse_squid(line):
    """One request as squid.conf.in's log format writes it: the squid port, method, URL, the status and
    bytes (head included) the client got, squid's result (TCP_MISS, TCP_DENIED, TCP_TUNNEL) and the user
    who logged in ('-' for none)."""
    values = line.split()
    if len(values) != len(SQUID_FIELDS):
        return None
    entry = dict(zip(SQUID_FIELDS, values))
    for name in ('port', 'status', 'bytes'):
        entry[name] = int(entry[name])
    return entry


VSFTPD_LINE = re.compile(r'^.*? \[pid (\d+)\] (?:\[[^\]]*\] )?(.*)$')
VSFTPD_COMMAND = re.compile(r'^FTP command: Client "[^"]*", "(\S+) ?(.*)"$')
VSFTPD_RESPONSE = re.compile(r'^FTP response: Client "[^"]*", "(\d{3})[ -]?(.*)"$')
VSFTPD_TRANSFER = re.compile(r'^(OK|FAIL) DOWNLOAD: Client "[^"]*", "([^"]*)", (\d+) bytes')


def parse_vsftpd(line):
    """One line of vsftpd's log (log_ftp_protocol and its transfer lines) as an event: `command`
    (command, arg), `response` (code, text), `download` (result OK or FAIL, path, bytes) or `connect`."""
    match = VSFTPD_LINE.match(line)
    if not match:
        return None
    pid, text = int(match.group(1)), match.group(2)
    if m := VSFTPD_COMMAND.match(text):
        return {'event': 'command', 'pid': pid, 'command': m.group(1).upper(), 'arg': m.group(2)}
    if m := VSFTPD_RESPONSE.match(text):
        return {'event': 'response', 'pid': pid, 'code': int(m.group(1)), 'text': m.group(2)}
    if m := VSFTPD_TRANSFER.match(text):
        return {'event': 'download', 'pid': pid, 'result': m.group(1), 'path': m.group(2), 'bytes': int(m.group(3))}
    if text.startswith('CONNECT:'):
        return {'event': 'connect', 'pid': pid}
    return None


# --- the cut ---

class CutRelay:
    """A TCP relay on 127.0.0.1:port in front of 127.0.0.1:upstream_port. Once armed, the next
    connection it accepts is dropped (closed both ways, as a broken link would) after `after` bytes from
    the server, head included; every other connection is relayed whole."""

    def __init__(self, port, upstream_port):
        self.upstream_port = upstream_port
        self.listener = socket.create_server(('127.0.0.1', port))
        self.lock = threading.Lock()
        self.armed = None
        self.cuts = 0
        threading.Thread(target=self.accept, daemon=True).start()

    def arm(self, after):
        with self.lock:
            self.armed = after

    def cut_count(self):
        with self.lock:
            return self.cuts

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return  # closed
            with self.lock:
                limit, self.armed = self.armed, None
            threading.Thread(target=self.relay, args=(client, limit), daemon=True).start()

    def relay(self, client, limit):
        try:
            upstream = socket.create_connection(('127.0.0.1', self.upstream_port))
        except OSError:
            client.close()
            return
        threading.Thread(target=self.pump, args=(client, upstream, None), daemon=True).start()
        self.pump(upstream, client, limit)

    def pump(self, source, sink, limit):
        sent = 0
        try:
            while limit is None or sent < limit:
                data = source.recv(65536 if limit is None else min(65536, limit - sent))
                if not data:
                    break
                sink.sendall(data)
                sent += len(data)
            else:
                with self.lock:
                    self.cuts += 1
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def close(self):
        self.listener.close()
