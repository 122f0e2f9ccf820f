#!/usr/bin/env python3
# The servers' shared helpers (testbed/loopback.py) and their shell side (scripts/lib.sh) agreeing with each other.
import ftplib
import io
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
LIB_SH = os.path.join(ROOT, 'scripts', 'lib.sh')
sys.path.insert(0, os.path.join(ROOT, 'testbed'))
import loopback  # noqa: E402


def shell(script, *args):
    """Runs `script` in bash with scripts/lib.sh sourced; answers (exit code, stdout, stderr)."""
    done = subprocess.run(['bash', '-c', '. "$0"; ' + script, LIB_SH] + list(args),
                          capture_output=True, text=True, timeout=30)
    return done.returncode, done.stdout, done.stderr


def python(code, *args):
    """A child Python with testbed/ on its path."""
    return subprocess.Popen([sys.executable, '-B', '-c', 'import sys; sys.path.insert(0, %r); import loopback\n%s'
                             % (os.path.join(ROOT, 'testbed'), code)] + list(args))


class PortFiles(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.work.name, 'ports')

    def tearDown(self):
        self.work.cleanup()

    def test_python_writes_what_python_and_the_shell_read(self):
        loopback.write_port_file(self.path, http=40123, ftp=2121)
        self.assertEqual(loopback.read_port_file(self.path), {'http': 40123, 'ftp': 2121})
        for name, port in (('http', '40123'), ('ftp', '2121')):
            self.assertEqual(shell('port_in "$1" "$2"', self.path, name), (0, port + '\n', ''))
        self.assertEqual(os.listdir(self.work.name), ['ports'], 'the temporary file is renamed away')

    def test_waiting_gets_a_late_file_and_gives_up_on_a_server_that_ended(self):
        writer = python('import time; time.sleep(0.5); loopback.write_port_file(sys.argv[1], http=8080)', self.path)
        self.assertEqual(loopback.wait_for_ports(self.path, writer), {'http': 8080})
        writer.wait()

        quitter = python('sys.exit(3)')
        started = time.monotonic()
        with self.assertRaisesRegex(RuntimeError, 'exit code 3'):
            loopback.wait_for_ports(self.path + '.never', quitter)
        self.assertLess(time.monotonic() - started, 10, 'an ended server is not waited for')

        sleeper = subprocess.Popen(['sleep', '30'])
        try:
            with self.assertRaisesRegex(RuntimeError, 'within'):
                loopback.wait_for_ports(self.path + '.never', sleeper, seconds=0.3)
        finally:
            sleeper.kill()
            sleeper.wait()

    def test_the_shell_waits_the_same_way(self):
        # "$3" stands in for the server; it is killed after the wait so that it holds no pipe.
        wait = '$3 >/dev/null 2>&1 & server=$!; wait_for_port_file "$1" $server "$2"; s=$?; kill $server; exit $s'
        code, _, err = shell(wait, self.path + '.never', '10', 'true')
        self.assertEqual(1, code)
        self.assertIn('ended before it wrote', err)
        code, _, err = shell(wait, self.path + '.never', '1', 'sleep 30')
        self.assertEqual(1, code)
        self.assertIn('within 1 s', err)
        code, _, _ = shell('(sleep 0.3; echo http=1 >"$1") & ' + wait, self.path, '10', 'sleep 30')
        self.assertEqual(0, code)


class Pattern(unittest.TestCase):
    def test_pattern_files_follow_the_period_across_blocks_and_are_made_once(self):
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, 'f.bin')
            size = 2 * len(loopback.pattern(4096)) + 7  # past two of the writer's blocks
            loopback.write_pattern_file(path, size)
            with open(path, 'rb') as f:
                self.assertEqual(f.read(), bytes(i % 251 for i in range(size)))

            with open(path, 'wb') as f:
                f.write(b'\xff' * size)
            loopback.write_pattern_file(path, size)
            with open(path, 'rb') as f:
                self.assertEqual(f.read(1), b'\xff', 'a file of the right size is kept')

            loopback.write_pattern_file(path, 10)
            with open(path, 'rb') as f:
                self.assertEqual(f.read(), bytes(range(10)), 'one of another size is made again')
            self.assertEqual(os.listdir(work), ['f.bin'])


class WindowsPaths(unittest.TestCase):
    def test_python_and_the_shell_map_paths_alike(self):
        cases = [('/tmp/a b/../c.bin', 'Z:\\tmp\\c.bin'), ('/', 'Z:\\'),
                 ('rel/x', 'Z:' + os.getcwd().replace('/', '\\') + '\\rel\\x')]
        for path, expected in cases:
            with self.subTest(path=path):
                self.assertEqual(loopback.windows_path(path), expected)
                self.assertEqual(shell('windows_path "$1"', path), (0, expected, ''))


class ParentWatch(unittest.TestCase):
    def test_acts_once_the_watched_process_is_gone(self):
        parent = subprocess.Popen(['sleep', '60'])
        gone = threading.Event()
        loopback.watch_parent(parent.pid, on_gone=gone.set)
        child = python('loopback.watch_parent(int(sys.argv[1])); import time; time.sleep(60)', str(parent.pid))
        try:
            time.sleep(1)
            self.assertFalse(gone.is_set(), 'the parent is still there')
            self.assertIsNone(child.poll())
            parent.kill()
            parent.wait()  # a zombie would still answer kill(pid, 0)
            self.assertTrue(gone.wait(5))
            self.assertEqual(0, child.wait(5), 'by default the process ends')
        finally:
            for process in (parent, child):
                if process.poll() is None:
                    process.kill()
                    process.wait()


class Ftp(unittest.TestCase):
    def test_serves_a_folder_read_only_with_its_banner_and_stops(self):
        with tempfile.TemporaryDirectory() as root:
            with open(os.path.join(root, 'f.bin'), 'wb') as f:
                f.write(b'\x00payload')
            commands = []
            server = loopback.FtpServer(root, banner='Test banner', on_command=lambda line, cmd: commands.append(cmd))
            try:
                with ftplib.FTP() as ftp:
                    self.assertIn('Test banner', ftp.connect('127.0.0.1', server.port, timeout=10))
                    ftp.login()
                    chunks = []
                    ftp.retrbinary('RETR f.bin', chunks.append)
                    self.assertEqual(b''.join(chunks), b'\x00payload')
                    with self.assertRaises(ftplib.error_perm):
                        ftp.storbinary('STOR new.bin', io.BytesIO(b'x'))
                self.assertEqual(sorted(os.listdir(root)), ['f.bin'])
                self.assertEqual(commands[:2], ['USER', 'PASS'])
            finally:
                server.stop()
            with self.assertRaises(OSError):
                socket.create_connection(('127.0.0.1', server.port), timeout=5).close()


if __name__ == '__main__':
    unittest.main()
