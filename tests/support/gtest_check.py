#!/usr/bin/env python3
# The check every GoogleTest program's ctest entry goes through: green only when each listed test ran and passed.
"""Usage: gtest_check.py PROGRAM-COMMAND... [-- RUN-COMMAND...]

Asks PROGRAM-COMMAND (the program, behind its emulator in a cross build) for its tests with
--gtest_list_tests, then runs RUN-COMMAND (by default PROGRAM-COMMAND; with-testbed.sh in front of it
for the tests that need the loopback server) with --gtest_output=xml:FILE. An exit code other than 0
is the answer as it is (77 stays "skipped"). An exit code of 0 is believed only when FILE reports every
listed test as run without a failure: Wine can end a program that crashed with 0, and GoogleTest writes
FILE only at the end of a whole run, so a crash after the first test leaves no FILE or too few tests.
When every test that ran skipped itself (GTEST_SKIP: what it needs, such as the small disk, is missing
on this machine), the answer is 77, so that ctest counts the entry as skipped rather than passed.
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

LIST_TIMEOUT = 120
PR_SET_PDEATHSIG = 1
# "Suite." or "  Name", each maybe followed by "  # GetParam() = ..." or "  # TypeParam = ...".
SUITE_LINE = re.compile(r'^(\S+)\.(?:\s+#.*)?$')
TEST_LINE = re.compile(r'^  (\S+)(?:\s+#.*)?$')


def listed_tests(text):
    """The Suite.Name of each test a --gtest_list_tests output names, in order. Other lines (gtest_main's
    "Running main() from ...", anything a program prints first) name none."""
    tests, suite = [], None
    for line in text.replace('\r', '').splitlines():
        suite_match, test_match = SUITE_LINE.match(line), TEST_LINE.match(line)
        if suite_match:
            suite = suite_match.group(1)
        elif test_match and suite is not None:
            tests.append(suite + '.' + test_match.group(1))
    return tests


def result_problems(listed, xml_path):
    """What the XML result says against the list: an empty list when every listed test ran and passed
    (a disabled one, DISABLED_ in its name, may be reported as not run)."""
    try:
        root = ElementTree.parse(xml_path).getroot()
    except FileNotFoundError:
        return ['no result file: the program ended before its last test (a crash?)']
    except ElementTree.ParseError as error:
        return ['the result file is unreadable: %s' % error]
    reported, problems = {}, []
    for suite in root.iter('testsuite'):
        for case in suite.iter('testcase'):
            name = '%s.%s' % (suite.get('name'), case.get('name'))
            reported[name] = case
            if case.find('failure') is not None or case.find('error') is not None:
                problems.append('%s failed' % name)
    for name in listed:
        case = reported.get(name)
        if case is None:
            problems.append('%s never reported' % name)
        elif case.get('status') != 'run' and 'DISABLED_' not in name:
            problems.append('%s not run (status %s)' % (name, case.get('status')))
    return problems


def all_skipped(xml_path):
    """Whether the tests of a result that has no problems all skipped themselves (those not run aside)."""
    root = ElementTree.parse(xml_path).getroot()
    ran = [case for case in root.iter('testcase') if case.get('status') == 'run']
    return bool(ran) and all(case.get('result') == 'skipped' for case in ran)


def end_with_this_process():
    """Run in each child before it starts: it gets SIGTERM when this process ends (ctest kills this one
    at a timeout), rather than running on and holding ctest's output open."""
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def list_program(command):
    """The tests the program names, or None (said why) when it cannot list them. Its output goes to a
    file, not a pipe: a Wine server started by the call may outlive it holding what it inherited."""
    with tempfile.TemporaryFile() as out:
        try:
            code = subprocess.run(command + ['--gtest_list_tests'], stdout=out, stderr=subprocess.STDOUT,
                                  timeout=LIST_TIMEOUT, preexec_fn=end_with_this_process).returncode
        except subprocess.TimeoutExpired:
            print('gtest_check: listing the tests took more than %d s' % LIST_TIMEOUT, file=sys.stderr)
            return None
        out.seek(0)
        text = out.read().decode('utf-8', errors='replace')
    tests = listed_tests(text)
    if code != 0 or not tests:
        print('gtest_check: %s --gtest_list_tests exited %d and listed %d tests:\n%s'
              % (' '.join(command), code, len(tests), text), file=sys.stderr)
        return None
    return tests


def main(argv):
    if '--' in argv:
        cut = argv.index('--')
        program, run = argv[:cut], argv[cut + 1:]
    else:
        program, run = argv, argv
    if not program or not run:
        print(__doc__, file=sys.stderr)
        return 2
    listed = list_program(program)
    if listed is None:
        return 1
    # A relative name: the program may be a Windows one under Wine, which maps the working folder.
    folder = tempfile.mkdtemp(prefix='gtest-result.', dir='.')
    try:
        result = os.path.join(os.path.basename(folder), 'result.xml')
        code = subprocess.run(run + ['--gtest_output=xml:' + result], preexec_fn=end_with_this_process).returncode
        if code != 0:
            return code
        problems = result_problems(listed, result)
        skipped = not problems and all_skipped(result)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    for problem in problems:
        print('gtest_check: ' + problem, file=sys.stderr)
    if problems:
        print('gtest_check: the program exited 0, but not each of its %d listed tests passed' % len(listed),
              file=sys.stderr)
        return 1
    if skipped:
        print('gtest_check: every test that ran skipped itself (%d listed)' % len(listed), file=sys.stderr)
        return 77
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
