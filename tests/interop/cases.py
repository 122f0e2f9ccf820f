# The interop table: tamsel.exe against nginx, squid and vsftpd, one row per case, with what each server must have logged.
"""The cases of the interop stage (run by run_interop.py; the vocabulary is facts.py).

Servers, on a private network where the product's host names are 127.0.0.1:
  nginx        files.norvik.example on 80 and 443 (/interop/ the stage's files, /slow/ the same at 1 MiB/s,
               /slow-noetag/ without an ETag, /files/ the demo service's files); www. and service.norvik.example
               reverse-proxied to the demo download service
  relay        files.norvik.example:8080, in front of nginx's port 80: drops a connection when told to
  squid        127.0.0.1:3128 open, 127.0.0.1:3129 with Basic authentication (user tamsel)
  vsftpd       files.norvik.example:21, passive only (PORT refused)
  vsftpd-port  files.norvik.example:2121, PORT and PASV
Each row's files are its own, so that rows do not depend on each other's order.
"""

import servers  # the testbed's interop servers, on the path run_interop.py sets
from facts import (Case, Count, Digest, Empty, KEPT, Like, Local, Never, NonEmpty, NoneOf, OneOf, Prefix,
                   RelayCut, Replace, Rest, Run, Saw, Served, SessionCut)

FILES = 'http://files.norvik.example'
TLS_FILES = 'https://files.norvik.example'
RELAYED = 'http://files.norvik.example:8080'
SERVICE = 'http://service.norvik.example/activate'
PROBE = 'http://www.norvik.example/'
FTP = 'ftp://files.norvik.example'
FTP_PORT = 'ftp://files.norvik.example:2121'

# The stage's own files (name: size), made anew for every run by run_interop.py. Odd sizes, so that a
# lost or doubled buffer shows. .txt files are text, the others random bytes.
NGINX_FILES = {
    'plain.bin': 300_001,
    'notes.txt': 200_003,
    'cut-etag.bin': 1_500_007,
    'cut-date.bin': 1_500_007,
    'changing.bin': 1_500_007,
    'squid-cut.bin': 1_500_007,
}
FTP_FILES = {
    'vsftpd': {'pub/manual.bin': 400_003, 'pub/replaced.bin': 1_000_003},
    'vsftpd-port': {'pub/resumed.bin': 1_000_003},
}
DEMO_FILE = 'tamsel-update.bin'  # DEMO-SMALL-0002's file
DEMO_SIZE = 200_003

# tamsel's exit codes (README, "The command-line host").
EXIT_NO_SESSION = 10
EXIT_FAIL = 15    # E_FAIL: FetchToFileEx's answer for a transfer that broke off
EXIT_BROKEN = 32  # AGENT_E_BROKEN: FetchToFileVerified's
EXIT_PROXY_AUTH = 36  # AGENT_E_PROXY_AUTH: the proxy asks for credentials the component lacks
CUT_AFTER = 256 * 1024
SESSION_CUT_AT = 64 * 1024
HTTP_DATE = Like(r'\w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d GMT')
STRONG_ETAG = Like(r'"[^"]+"')


def served(name):
    return Served('nginx', name)


def size(name):
    return NGINX_FILES[name]


def fetch_verified(url, name, *options, **run):
    return Run('fetch', url, Local(name), *options, '--sha256', Digest(served(name)), **run)


def cut_and_resume(url, name, proxy=None, between=()):
    """A verified, resumable download cut by the relay, whatever `between` does, then the same again."""
    return [fetch_verified(url, name, '--resume', exit=EXIT_BROKEN, cut=RelayCut(CUT_AFTER), partial=name,
                           proxy=proxy),
            *between,
            fetch_verified(url, name, '--resume', proxy=proxy)]


def get_demo(proxy=None, *options, **run):
    return Run('get', SERVICE, 'DEMO-SMALL-0002', Local(), *options, proxy=proxy, **run)


DEMO_ON_DISK = {DEMO_FILE: Served('demo', DEMO_FILE)}
NO_CREDENTIALS_AT_ORIGIN = [Never('nginx', dict(authorization=NonEmpty())),
                            Never('nginx', dict(proxy_authorization=NonEmpty()))]

CASES = [
    Case('nginx-http', 'a plain download from a real web server, sent once, with its own validators',
         [fetch_verified(FILES + '/interop/plain.bin', 'plain.bin')],
         {'plain.bin': served('plain.bin')},
         [Saw('nginx', dict(host='www.norvik.example', method='GET', path='/', status=200)),
          Saw('nginx', dict(host='files.norvik.example', method='GET', path='/interop/plain.bin', status=200,
                            bytes=size('plain.bin'), etag=STRONG_ETAG, last_modified=HTTP_DATE, completion='OK')),
          Count('nginx', 1, dict(path='/interop/plain.bin'))]),

    Case('nginx-https-strict', 'https with strict TLS: nginx\'s certificate chains to the CA the prefix trusts',
         [fetch_verified(TLS_FILES + '/interop/plain.bin', 'plain.bin', '--strict-tls')],
         {'plain.bin': served('plain.bin')},
         [Saw('nginx', dict(scheme='https', method='GET', path='/interop/plain.bin', status=200,
                            bytes=size('plain.bin')))]),

    Case('nginx-gzip-text', 'text from a server that compresses for clients that ask: the file arrives as '
         'its own bytes (nginx compresses it for a client that asks; the stage checks that first)',
         [fetch_verified(FILES + '/interop/notes.txt', 'notes.txt')],
         {'notes.txt': served('notes.txt')},
         [Saw('nginx', dict(path='/interop/notes.txt', status=200, bytes=size('notes.txt'),
                            content_encoding=Empty()))]),

    Case('nginx-cut-resume-etag', 'a transfer cut mid-file, resumed with Range and If-Range on nginx\'s ETag',
         cut_and_resume(RELAYED + '/slow/cut-etag.bin', 'cut-etag.bin'),
         {'cut-etag.bin': served('cut-etag.bin')},
         [Saw('nginx', dict(path='/slow/cut-etag.bin', status=200, range='', completion=''),
              dict(path='/slow/cut-etag.bin', status=206, range_start=KEPT, if_range=STRONG_ETAG,
                   covers_to=size('cut-etag.bin'), completion='OK'))]),

    Case('nginx-cut-resume-last-modified', 'without an ETag the resume goes by Last-Modified, which nginx '
         'honours in If-Range',
         cut_and_resume(RELAYED + '/slow-noetag/cut-date.bin', 'cut-date.bin'),
         {'cut-date.bin': served('cut-date.bin')},
         [Saw('nginx', dict(path='/slow-noetag/cut-date.bin', status=200, range='', etag=Empty(),
                            last_modified=HTTP_DATE, completion=''),
              dict(path='/slow-noetag/cut-date.bin', status=206, range_start=KEPT, if_range=HTTP_DATE,
                   covers_to=size('cut-date.bin')))]),

    Case('nginx-cut-changed', 'the file changes (same size, new bytes) between the cut and the resume: '
         'nginx answers the If-Range with the whole new file, and the download starts over',
         cut_and_resume(RELAYED + '/slow/changing.bin', 'changing.bin',
                        between=[Replace(served('changing.bin'), seconds=2)]),
         {'changing.bin': served('changing.bin')},
         [Saw('nginx', dict(path='/slow/changing.bin', status=200, range='', completion=''),
              dict(path='/slow/changing.bin', status=200, range_start=KEPT, if_range=STRONG_ETAG,
                   bytes=size('changing.bin')))]),

    Case('nginx-demo-get', 'the whole get flow through nginx as the service\'s reverse proxy and file host',
         [get_demo(says=('verified sha256', 'reported success'))],
         DEMO_ON_DISK,
         [Saw('nginx', dict(method='POST', host='service.norvik.example', path='/activate', status=200),
              dict(method='GET', path='/files/' + DEMO_FILE, status=200, bytes=DEMO_SIZE),
              dict(method='POST', host='service.norvik.example', path='/activate', status=200))]),

    Case('squid-open-get', 'the whole get flow through squid as the system\'s proxy',
         [get_demo(proxy='open', says=('verified sha256', 'reported success'))],
         DEMO_ON_DISK,
         [Saw('squid', dict(port=3128, method='POST', url=SERVICE, status=200),
              dict(port=3128, method='GET', url=FILES + '/files/' + DEMO_FILE, status=200),
              dict(port=3128, method='POST', url=SERVICE, status=200)),
          Saw('nginx', dict(method='GET', path='/files/' + DEMO_FILE, status=200, bytes=DEMO_SIZE,
                            via=NonEmpty()))]),

    Case('squid-registry-get', 'the whole get flow through squid set as the proxy in the registry, where '
         'Internet Options puts it (ProxyEnable, ProxyServer), with no http_proxy',
         [get_demo(proxy='registry', says=('verified sha256', 'reported success'))],
         DEMO_ON_DISK,
         [Saw('squid', dict(port=3128, method='POST', url=SERVICE, status=200),
              dict(port=3128, method='GET', url=FILES + '/files/' + DEMO_FILE, status=200),
              dict(port=3128, method='POST', url=SERVICE, status=200))]),

    Case('squid-open-https', 'https with strict TLS through squid\'s CONNECT tunnel',
         [fetch_verified(TLS_FILES + '/interop/plain.bin', 'plain.bin', '--strict-tls', proxy='open')],
         {'plain.bin': served('plain.bin')},
         [Saw('squid', dict(method='CONNECT', url='files.norvik.example:443', status=200, result='TCP_TUNNEL')),
          Saw('nginx', dict(scheme='https', path='/interop/plain.bin', status=200, bytes=size('plain.bin')))]),

    Case('squid-open-cut-resume', 'a cut behind squid, resumed through it: squid passes Range and If-Range on',
         cut_and_resume(RELAYED + '/slow/squid-cut.bin', 'squid-cut.bin', proxy='open'),
         {'squid-cut.bin': served('squid-cut.bin')},
         [Saw('squid', dict(method='GET', url=RELAYED + '/slow/squid-cut.bin'),
              dict(method='GET', url=RELAYED + '/slow/squid-cut.bin', status=206)),
          Saw('nginx', dict(path='/slow/squid-cut.bin', status=200, range='', completion=''),
              dict(path='/slow/squid-cut.bin', status=206, range_start=KEPT, if_range=STRONG_ETAG, via=NonEmpty(),
                   covers_to=size('squid-cut.bin')))]),

    Case('squid-auth-fetch', 'a download behind squid with Basic authentication, the credentials in the '
         'system\'s proxy setting: WinINet answers the 407 itself',
         [fetch_verified(FILES + '/interop/plain.bin', 'plain.bin', proxy='auth')],
         {'plain.bin': served('plain.bin')},
         [Saw('squid', dict(port=3129, method='GET', url=FILES + '/interop/plain.bin', status=407,
                            result=Prefix('TCP_DENIED')),
              dict(port=3129, method='GET', url=FILES + '/interop/plain.bin', status=200, user='tamsel')),
          *NO_CREDENTIALS_AT_ORIGIN]),

    Case('squid-auth-get', 'the whole get flow behind squid with Basic authentication: the service\'s POSTs '
         'pass too, and the credentials never reach the origin',
         [get_demo(proxy='auth', says=('verified sha256', 'reported success'))],
         DEMO_ON_DISK,
         [Count('squid', 2, dict(port=3129, method='POST', url=SERVICE, status=200, user='tamsel')),
          Count('nginx', 2, dict(method='POST', path='/activate', status=200)),
          *NO_CREDENTIALS_AT_ORIGIN]),

    Case('squid-auth-no-credentials', 'squid asks for credentials that the system\'s setting does not hold: '
         'the probe\'s 407 is a proxy asking to log in (AGENT_E_PROXY_AUTH, 0x80042F09), not a missing '
         'internet; nothing reaches the origin',
         [get_demo(proxy='auth-anonymous', exit=EXIT_PROXY_AUTH, says=('0x80042F09', 'HTTP status 407'))],
         {DEMO_FILE: None},
         [Saw('squid', dict(port=3129, method='GET', url=PROBE, status=407, result=Prefix('TCP_DENIED'), user='-')),
          Never('squid', dict(status=200)),
          Never('nginx', dict())]),

    Case('squid-auth-proxy-user', 'the host gives the agent the proxy\'s credentials (tamsel --proxy-user, the '
         'password from TAMSEL_PROXY_PASSWORD) where the system holds none: a wrong password is a proxy '
         'refusing (AGENT_E_PROXY_AUTH), the right one passes every request; no password is ever printed',
         [get_demo('auth-anonymous', '--proxy-user', servers.PROXY_USER, exit=EXIT_PROXY_AUTH,
                   environment={'TAMSEL_PROXY_PASSWORD': 'not it'}, says=('0x80042F09',), never_says=('not it',)),
          get_demo('auth-anonymous', '--proxy-user', servers.PROXY_USER,
                   environment={'TAMSEL_PROXY_PASSWORD': servers.PROXY_PASSWORD},
                   says=('verified sha256', 'reported success'), never_says=(servers.PROXY_PASSWORD,))],
         DEMO_ON_DISK,
         [Count('squid', 2, dict(port=3129, method='POST', url=SERVICE, status=200, user=servers.PROXY_USER)),
          Saw('squid', dict(port=3129, method='GET', url=PROBE, status=200, user=servers.PROXY_USER)),
          Count('nginx', 2, dict(method='POST', path='/activate', status=200)),
          *NO_CREDENTIALS_AT_ORIGIN]),

    Case('vsftpd-passive', 'FTP from a server that refuses PORT: the download goes passive',
         [Run('fetch', FTP + '/pub/manual.bin', Local('manual.bin'), '--sha256',
              Digest(Served('vsftpd', 'pub/manual.bin')))],
         {'manual.bin': Served('vsftpd', 'pub/manual.bin')},
         [Saw('vsftpd', dict(event='command', command=OneOf('PASV', 'EPSV')),
              dict(event='download', result='OK', path='/pub/manual.bin', bytes=400_003))]),

    Case('vsftpd-replaced-same-minute', 'the file is replaced by another of the same size within the same '
         'minute between a cut and the resume: the listing cannot tell, MDTM\'s seconds can, and the resume '
         'starts over instead of splicing two files',
         [Run('fetch', FTP + '/pub/replaced.bin', Local('replaced.bin'), '--resume', exit=EXIT_FAIL,
              cut=SessionCut('vsftpd', 'replaced.bin', SESSION_CUT_AT), partial='replaced.bin'),
          Replace(Served('vsftpd', 'pub/replaced.bin'), seconds=30, same_minute=True),
          Run('fetch', FTP + '/pub/replaced.bin', Local('replaced.bin'), '--resume')],
         {'replaced.bin': Served('vsftpd', 'pub/replaced.bin')},
         [Saw('vsftpd', dict(event='download', result='OK', path='/pub/replaced.bin', bytes=1_000_003))]),

    Case('vsftpd-port-cut-resume', 'an FTP transfer cut mid-file and resumed with REST, from a server that '
         'takes PORT and PASV',
         [Run('fetch', FTP_PORT + '/pub/resumed.bin', Local('resumed.bin'), '--resume', exit=EXIT_FAIL,
              cut=SessionCut('vsftpd-port', 'resumed.bin', SESSION_CUT_AT), partial='resumed.bin'),
          Run('fetch', FTP_PORT + '/pub/resumed.bin', Local('resumed.bin'), '--resume')],
         {'resumed.bin': Served('vsftpd-port', 'pub/resumed.bin')},
         [Saw('vsftpd-port', dict(event='command', command='REST', arg=KEPT),
              dict(event='download', result='OK', path='/pub/resumed.bin', bytes=Rest(1_000_003)))]),
]
