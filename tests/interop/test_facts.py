#!/usr/bin/env python3
# The interop table's facts against log lines the real servers wrote: a fact that cannot fail would let a case pass whatever the server did.
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, '..', '..', 'testbed', 'interop')]
import servers  # noqa: E402
from facts import KEPT, Count, Like, Never, NonEmpty, OneOf, Rest, Saw, UnknownField  # noqa: E402

# Lines as nginx, squid and vsftpd wrote them in a run of the stage (a cut, then its resume).
NGINX = [servers.parse_nginx(line) for line in (
    '{"host":"files.norvik.example","scheme":"http","port":"80","method":"GET","path":"/slow/cut.bin",'
    '"protocol":"HTTP/1.0","status":200,"bytes":1048576,"range":"","if_range":"","accept_encoding":"",'
    '"authorization":"","proxy_authorization":"","via":"","etag":"\\"6b17f5f5-16e367\\"",'
    '"last_modified":"Tue, 08 Dec 2026 12:20:05 GMT","content_encoding":"","completion":""}',
    '{"host":"files.norvik.example","scheme":"http","port":"80","method":"GET","path":"/slow/cut.bin",'
    '"protocol":"HTTP/1.0","status":206,"bytes":1238123,"range":"bytes=261884-","if_range":"\\"6b17f5f5-16e367\\"",'
    '"accept_encoding":"","authorization":"","proxy_authorization":"","via":"1.1 interop.squid (squid/5.7)",'
    '"etag":"\\"6b17f5f5-16e367\\"","last_modified":"Tue, 08 Dec 2026 12:20:05 GMT","content_encoding":"",'
    '"completion":"OK"}',
)]
SQUID = [servers.parse_squid(line) for line in (
    '3129 GET http://files.norvik.example/interop/plain.bin 407 3603 TCP_DENIED -',
    '3129 GET http://files.norvik.example/interop/plain.bin 200 300375 TCP_MISS tamsel',
    '3128 - error:transaction-end-before-headers 0 0 NONE_NONE -',
)]
VSFTPD = [servers.parse_vsftpd(line) for line in (
    'Tue Dec  8 13:13:55 2026 [pid 26307] [ftp] FTP command: Client "127.0.0.1", "REST 196608"',
    'Tue Dec  8 13:13:55 2026 [pid 26307] [ftp] FTP response: Client "127.0.0.1", "350 Restart position accepted (196608)."',
    'Tue Dec  8 13:13:55 2026 [pid 26307] [ftp] FTP command: Client "127.0.0.1", "PASV"',
    'Tue Dec  8 13:13:58 2026 [pid 26307] [ftp] OK DOWNLOAD: Client "127.0.0.1", "/pub/a.bin", 803392 bytes, 228.94Kbyte/sec',
)]
LOGS = {'nginx': NGINX, 'squid': SQUID, 'vsftpd': VSFTPD}
KEPT_BYTES = 261884


class Facts(unittest.TestCase):
    def test_each_fact_holds_or_fails_as_the_entries_say(self):
        cut, resume = (dict(path='/slow/cut.bin', status=status) for status in (200, 206))
        rows = [
            # fact, kept, holds, why
            (Saw('nginx', cut, resume), KEPT_BYTES, True, 'in order'),
            (Saw('nginx', resume, cut), KEPT_BYTES, False, 'out of order'),
            (Saw('nginx', dict(status=206, range_start=KEPT, covers_to=1_500_007)), KEPT_BYTES, True,
             'a 206 from the kept bytes to the end'),
            (Saw('nginx', dict(status=206, range_start=KEPT)), KEPT_BYTES + 1, False, 'asked from elsewhere'),
            (Saw('nginx', dict(status=206, range_start=KEPT)), None, False, 'no cut, so nothing was kept'),
            (Saw('nginx', dict(completion='', etag=Like(r'"[^"]+"'))), None, True, 'the cut request, unfinished'),
            (Never('nginx', dict(via=NonEmpty())), None, False, 'the resume came through squid'),
            (Never('nginx', dict(authorization=NonEmpty())), None, True, 'no credentials at the origin'),
            (Count('nginx', 2, dict(path='/slow/cut.bin')), None, True, 'two requests'),
            (Count('nginx', 1, dict(path='/slow/cut.bin')), None, False, 'not one'),
            (Saw('squid', dict(status=407, result='TCP_DENIED'), dict(status=200, user='tamsel', port=3129)), None,
             True, 'a 407, then the request as the user'),
            (Never('squid', dict(method='POST')), None, True, 'squid\'s own error lines are entries too'),
            (Saw('vsftpd', dict(event='command', command='REST', arg=KEPT),
                 dict(event='download', result='OK', bytes=Rest(1_000_000))), 196608, True, 'REST, then the rest'),
            (Saw('vsftpd', dict(event='download', result='OK', bytes=Rest(1_000_000))), 0, False, 'not all of it'),
            (Saw('vsftpd', dict(event='command', command=OneOf('PASV', 'EPSV'))), None, True, 'passive'),
            (Never('vsftpd', dict(event='command', command='PORT')), None, True, 'never active'),
        ]
        for fact, kept, holds, why in rows:
            problem = fact.check(LOGS[fact.log], kept)
            self.assertEqual(holds, problem is None, '%s: %s' % (why, problem))
            if problem:
                self.assertIn(fact.log, problem, why)

    def test_a_field_no_entry_has_is_a_mistake_not_a_pass(self):
        for log, pattern in (('nginx', dict(authorisation=NonEmpty())), ('squid', dict(username='tamsel')),
                             ('vsftpd', dict(event='download', size=5))):
            with self.assertRaises(UnknownField, msg=pattern):
                Never(log, pattern).check(LOGS[log], None)


if __name__ == '__main__':
    unittest.main()
