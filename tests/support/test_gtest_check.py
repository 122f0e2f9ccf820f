#!/usr/bin/env python3
# gtest_check.py against fake GoogleTest programs: a run that ends early never reads as green.
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'gtest_check.py')

# A GoogleTest program as the check sees it: its list (with gtest_main's first line and Wine's CR LF),
# then a run that writes the XML of the tests named in argv[1] (none: no XML, "fail:" marks a failure,
# "skip:" a test that skipped itself) and exits with argv[2].
FAKE = textwrap.dedent('''\
    import sys
    reported, code = sys.argv[1], int(sys.argv[2])
    if '--gtest_list_tests' in sys.argv:
        sys.stdout.write('Running main() from gtest_main.cc\\r\\nFetch.\\r\\n  Whole\\r\\n  Resumed\\r\\n'
                         'Sizes/Table.  # TypeParam = int\\r\\n  Row  # GetParam() = 3\\r\\n'
                         'Later.\\r\\n  DISABLED_Slow\\r\\n')
        sys.exit(0)
    output = [a for a in sys.argv if a.startswith('--gtest_output=xml:')][0][len('--gtest_output=xml:'):]
    if reported != 'none':
        cases = ''
        for name in reported.split(','):
            failed, skipped = name.startswith('fail:'), name.startswith('skip:')
            suite, _, test = name.replace('fail:', '').replace('skip:', '').rpartition('.')
            status = 'notrun' if 'DISABLED_' in test else 'run'
            result = 'skipped' if skipped else 'completed'
            cases += '<testsuite name="%s"><testcase name="%s" status="%s" result="%s">%s</testcase></testsuite>' % (
                suite, test, status, result, '<failure message="no"/>' if failed else '')
        with open(output, 'w') as f:
            f.write('<?xml version="1.0"?><testsuites>%s</testsuites>' % cases)
    sys.exit(code)
''')
ALL = 'Fetch.Whole,Fetch.Resumed,Sizes/Table.Row,Later.DISABLED_Slow'


class Check(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.fake = os.path.join(self.work.name, 'fake.py')
        with open(self.fake, 'w') as f:
            f.write(FAKE)

    def tearDown(self):
        self.work.cleanup()

    def check(self, reported, code):
        program = [sys.executable, '-B', self.fake, reported, str(code)]
        return subprocess.run([sys.executable, '-B', CHECK] + program, cwd=self.work.name, capture_output=True,
                              text=True, timeout=60)

    def test_exit_code_against_what_the_result_reports(self):
        cases = [
            (ALL, 0, 0, '', 'every listed test ran and passed (the disabled one not run)'),
            ('Fetch.Whole', 0, 1, 'Fetch.Resumed never reported', 'a crash after the first test, exit 0'),
            ('none', 0, 1, 'no result file', 'ended before writing any result, exit 0'),
            ('Fetch.Whole,fail:Fetch.Resumed,Sizes/Table.Row,Later.DISABLED_Slow', 0, 1,
             'Fetch.Resumed failed', 'a failure in the result outweighs exit 0'),
            (ALL.replace(',Later.DISABLED_Slow', ''), 0, 1, 'Later.DISABLED_Slow never reported',
             'a disabled test is listed, so it must be reported'),
            ('Fetch.Whole', 3, 3, '', 'a failing exit code is the answer as it is'),
            ('none', 77, 77, '', 'a skipped test stays skipped'),
            ('skip:Fetch.Whole,skip:Fetch.Resumed,skip:Sizes/Table.Row,Later.DISABLED_Slow', 0, 77,
             'every test that ran skipped itself (4 listed)', 'every test that ran skipped itself: skipped'),
            ('skip:Fetch.Whole,Fetch.Resumed,Sizes/Table.Row,Later.DISABLED_Slow', 0, 0, '',
             'one skipped among tests that passed: passed'),
            ('skip:Fetch.Whole,fail:Fetch.Resumed,skip:Sizes/Table.Row,Later.DISABLED_Slow', 0, 1,
             'Fetch.Resumed failed', 'a failure among skipped tests: failed'),
        ]
        for reported, code, expected, message, why in cases:
            with self.subTest(why):
                done = self.check(reported, code)
                self.assertEqual(expected, done.returncode, done.stderr)
                self.assertIn(message, done.stderr)
        self.assertEqual([], [name for name in os.listdir(self.work.name) if name != 'fake.py'],
                         'no result folder is left behind')

    def test_a_program_that_cannot_list_fails_before_it_runs(self):
        with open(self.fake, 'w') as f:
            f.write('import sys\nif "--gtest_list_tests" not in sys.argv: open("ran", "w").close()\n')
        done = self.check('none', 0)
        self.assertEqual(1, done.returncode, done.stderr)
        self.assertIn('listed 0 tests', done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.work.name, 'ran')))


if __name__ == '__main__':
    unittest.main(verbosity=2)
