#!/usr/bin/env python3
# The include direction of the product's folders, checked over their sources: includes point down.
"""Usage: check_includes.py ROOT

Reads every source under ROOT's product folders and fails, naming each file, line and include, when a
folder includes one it must not: agent/ and web/ nothing of include/, faces/, automation/ or module/ (web/
nothing of agent/ either); markup/ nothing but itself and base/; base/ nothing but itself; faces/ nothing
of automation/ or module/; automation/ nothing of module/; host/ nothing of the component but base/ and
include/. An include of the public header by its bare name (through an include path) is an include of
include/.
"""

import os
import re
import sys

PRODUCT = ['include', 'base', 'markup', 'web', 'agent', 'faces', 'automation', 'module', 'host']
# What each folder may not include.
FORBIDDEN = {
    'base': set(PRODUCT) - {'base'},
    'markup': set(PRODUCT) - {'markup', 'base'},
    'web': {'include', 'agent', 'faces', 'automation', 'module', 'host'},
    'agent': {'include', 'faces', 'automation', 'module', 'host'},
    'faces': {'automation', 'module', 'host'},
    'automation': {'module', 'host'},
    'host': {'markup', 'web', 'agent', 'faces', 'automation', 'module'},
}
SOURCE = re.compile(r'\.(h|hpp|c|cpp|in)$')
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]')


def folder_of(included, public_headers):
    """The product folder an include names, or None for the platform's and the standard library's."""
    first = included.replace('\\', '/').split('/')[0]
    if first in PRODUCT and '/' in included:
        return first
    return 'include' if included in public_headers else None


def violations(root):
    include = os.path.join(root, 'include')
    public_headers = set(os.listdir(include)) if os.path.isdir(include) else set()
    found = []
    for folder, forbidden in sorted(FORBIDDEN.items()):
        for directory, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(n for n in names if SOURCE.search(n)):
                path = os.path.join(directory, name)
                with open(path, encoding='utf-8', errors='replace') as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        target = match and folder_of(match.group(1), public_headers)
                        if target in forbidden:
                            found.append('%s:%d: %s/ includes %s (of %s/)' % (
                                os.path.relpath(path, root), number, folder, match.group(1), target))
    return found


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    found = violations(argv[1])
    for line in found:
        print(line)
    print('include direction: %d wrong include%s' % (len(found), '' if len(found) == 1 else 's'))
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
