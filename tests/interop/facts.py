# The words of the interop table: a case's steps, what it expects on disk, and the facts its servers must have logged.
"""Vocabulary of tests/interop/cases.py, and how a fact is checked against a server's log entries.

A case is a list of steps (a tamsel run, or something done to a served file in between), the files it
must leave on disk, and facts about the log entries the servers wrote while it ran:

    Saw('nginx', dict(method='GET', status=200), dict(status=206))  these entries, in this order
    Count('squid', 2, dict(method='POST'))                            exactly this many such entries
    Never('nginx', dict(authorization=NonEmpty()))                    no such entry

A pattern names fields of an entry (see testbed/interop/servers.py for each log's fields); a field's
expected value is a literal or a matcher (Below, NonEmpty, Prefix, ...). KEPT stands for the size of the
partial file a cut left, read after the step that made the cut.
"""

import re


# --- values ---

class Matcher:
    def __call__(self, value, kept):
        raise NotImplementedError


class Below(Matcher):
    def __init__(self, limit):
        self.limit = limit

    def __call__(self, value, kept):
        return isinstance(value, int) and value < self.limit

    def __repr__(self):
        return 'below %d' % self.limit


class NonEmpty(Matcher):
    def __call__(self, value, kept):
        return value not in ('', '-', None)

    def __repr__(self):
        return 'not empty'


class Empty(Matcher):
    def __call__(self, value, kept):
        return value in ('', '-', None)

    def __repr__(self):
        return 'empty'


class Prefix(Matcher):
    def __init__(self, text):
        self.text = text

    def __call__(self, value, kept):
        return isinstance(value, str) and value.startswith(self.text)

    def __repr__(self):
        return 'starting %r' % self.text


class Like(Matcher):
    """A string that the regular expression matches in full."""

    def __init__(self, pattern):
        self.pattern = re.compile(pattern)

    def __call__(self, value, kept):
        return isinstance(value, str) and self.pattern.fullmatch(value) is not None

    def __repr__(self):
        return 'like /%s/' % self.pattern.pattern


class OneOf(Matcher):
    def __init__(self, *values):
        self.values = values

    def __call__(self, value, kept):
        return value in self.values

    def __repr__(self):
        return 'one of %r' % (self.values,)


class NoneOf(Matcher):
    def __init__(self, *values):
        self.values = values

    def __call__(self, value, kept):
        return value not in self.values

    def __repr__(self):
        return 'none of %r' % (self.values,)


class Kept(Matcher):
    """The size of the partial file the cut left, plus `plus` (KEPT; `Rest(size)` is size - KEPT)."""

    def __init__(self, plus=0, minus_kept_from=None):
        self.plus = plus
        self.minus_kept_from = minus_kept_from

    def expected(self, kept):
        if kept is None:
            return None
        return self.minus_kept_from - kept if self.minus_kept_from is not None else kept + self.plus

    def __call__(self, value, kept):
        if isinstance(value, str) and value.isdigit():
            value = int(value)  # a number in a command's argument
        return kept is not None and value == self.expected(kept)

    def __repr__(self):
        return '%d - the kept size' % self.minus_kept_from if self.minus_kept_from is not None else 'the kept size'


KEPT = Kept()


def Rest(size):
    return Kept(minus_kept_from=size)


def matches(value, expected, kept):
    if isinstance(expected, Matcher):
        return expected(value, kept)
    return value == expected


class UnknownField(Exception):
    """A pattern names a field its log's entries do not have: a mistake in the table, which would
    otherwise make a Never fact pass whatever the server did."""


def fits(entry, pattern, kept):
    # vsftpd's entries are events of several kinds, each with its own fields.
    if 'event' in pattern and entry.get('event') != pattern['event']:
        return False
    for name, value in pattern.items():
        if name not in entry:
            raise UnknownField('the pattern %s names %r, which an entry %r does not have'
                               % (show_pattern(pattern), name, entry))
        if not matches(entry[name], value, kept):
            return False
    return True


def show_pattern(pattern):
    return '{%s}' % ', '.join('%s: %r' % item for item in pattern.items())


# --- facts about a log ---

class Saw:
    """The log holds entries that fit the patterns, in this order (others may come between)."""

    def __init__(self, log, *patterns):
        self.log = log
        self.patterns = patterns

    def check(self, entries, kept):
        index = 0
        for pattern in self.patterns:
            while index < len(entries) and not fits(entries[index], pattern, kept):
                index += 1
            if index == len(entries):
                return 'no %s entry %s%s' % (self.log, show_pattern(pattern),
                                             ' after the ones before it' if pattern is not self.patterns[0] else '')
            index += 1
        return None


class Count:
    """Exactly `times` entries of the log fit the pattern."""

    def __init__(self, log, times, pattern):
        self.log = log
        self.times = times
        self.pattern = pattern

    def check(self, entries, kept):
        found = sum(1 for entry in entries if fits(entry, self.pattern, kept))
        if found != self.times:
            return '%d %s entries %s, not %d' % (found, self.log, show_pattern(self.pattern), self.times)
        return None


def Never(log, pattern):
    return Count(log, 0, pattern)


# --- steps ---

class Local:
    """A path in the case's own download folder, as tamsel (a Windows program) is given it."""

    def __init__(self, name=''):
        self.name = name


class Served:
    """A file a server serves: `where` is 'files' (nginx's /interop/ and /slow/ folders), 'demo' (the demo
    service's files, nginx's /files/), 'ftp' (the passive-only vsftpd) or 'ftp-active' (the other one)."""

    def __init__(self, where, name):
        self.where = where
        self.name = name


class Digest:
    """The SHA-256 of a served file as it is when the step runs."""

    def __init__(self, served):
        self.served = served


class RelayCut:
    """The relay in front of nginx drops the step's first connection after `after` bytes."""

    def __init__(self, after):
        self.after = after


class SessionCut:
    """vsftpd's session processes are killed once the partial file beside Local(name) holds at least
    `at_least` bytes."""

    def __init__(self, server, name, at_least):
        self.server = server
        self.name = name
        self.at_least = at_least


class Run:
    """One run of tamsel.exe: its words (Local and Digest are filled in), the exit code it must
    end with (an int or a Matcher), texts its output must hold and texts it must never hold, the proxy it is given ('open', 'auth',
    'auth-anonymous' in http_proxy; 'registry': the open one in the prefix's Internet Settings; None: the
    hosts themselves), variables added to its environment and the cut made while it runs. A step with a cut
    must leave a partial file of the download behind (partial=NAME), whose size becomes KEPT."""

    def __init__(self, *words, exit=0, says=(), never_says=(), proxy=None, environment=None, cut=None, partial=None):
        self.words = words
        self.exit = exit
        self.says = says
        self.never_says = never_says
        self.proxy = proxy
        self.environment = environment or {}
        self.cut = cut
        self.partial = partial


class Replace:
    """The served file is replaced by other bytes of the same size, with a modification time `seconds`
    later than the old one; same_minute keeps both times inside one minute, as an FTP listing shows them."""

    def __init__(self, served, seconds, same_minute=False):
        self.served = served
        self.seconds = seconds
        self.same_minute = same_minute


class Case:
    """A row of the table: its name, why it is there, its steps, the files it must leave (local name:
    Served, compared by SHA-256; None: no such file) and the facts its servers logged."""

    def __init__(self, name, why, steps, disk, facts):
        self.name = name
        self.why = why
        self.steps = steps
        self.disk = disk
        self.facts = facts
