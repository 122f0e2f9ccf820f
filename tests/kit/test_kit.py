#!/usr/bin/env python3
# The vendor kit as an integrator unpacks it: the files its page lists and no others, sums that match,
# each program built for the machine its folder names, the page's examples and version written in.
"""Usage: test_kit.py ZIP   (as scripts/package.sh makes it; scripts/test.sh runs both)"""

import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

ZIP = None
# IMAGE_FILE_MACHINE_I386 and IMAGE_FILE_MACHINE_AMD64.
MACHINES = {'bin/x86/': 0x014C, 'bin/x64/': 0x8664}
EXAMPLES = ('examples/get.cpp', 'examples/fetch.c', 'examples/get.vbs', 'examples/get.js', 'examples/get.ps1')
# The compilers the examples' mingw-w64 commands name, for each width.
TRIPLES = ('i686-w64-mingw32', 'x86_64-w64-mingw32')


def pe_machine(data):
    """The Machine field of a PE file's COFF header, or None when the bytes are no PE file."""
    if data[:2] != b'MZ':
        return None
    offset = struct.unpack_from('<I', data, 0x3C)[0]
    if data[offset:offset + 4] != b'PE\0\0':
        return None
    return struct.unpack_from('<H', data, offset + 4)[0]


class Kit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = os.path.basename(ZIP)[:-len('.zip')]
        cls.version = cls.top.rsplit('-', 1)[1]
        with zipfile.ZipFile(ZIP) as kit:
            cls.files = {name[len(cls.top) + 1:]: kit.read(name)
                         for name in kit.namelist() if not name.endswith('/')}
            cls.outside = [name for name in kit.namelist() if not name.startswith(cls.top + '/')]
        cls.page = cls.files.get('INTEGRATING.md', b'').decode('utf-8')

    def test_holds_exactly_the_files_its_page_lists(self):
        self.assertEqual([], self.outside, 'everything in one folder named after the kit')
        table = self.page.split('\n## ', 1)[0]
        listed = set()
        for row in table.splitlines():
            if row.startswith('| `'):
                listed.update(re.findall(r'`([^`]+)`', row.split('|')[1]))
        self.assertIn('bin/x86/NorvikTamselAgent.dll', listed, 'the page lists the kit')
        self.assertEqual(sorted(listed), sorted(self.files))

    def test_sums_cover_every_file_and_match(self):
        lines = self.files['SHA256SUMS'].decode('ascii').splitlines()
        summed = {}
        for line in lines:
            digest, name = line.split('  ', 1)
            summed[name] = digest
        self.assertEqual(sorted(set(self.files) - {'SHA256SUMS'}), sorted(summed))
        for name, digest in summed.items():
            self.assertEqual(hashlib.sha256(self.files[name]).hexdigest(), digest, name)

    def test_each_program_is_built_for_its_folder(self):
        for folder, machine in MACHINES.items():
            for program in ('NorvikTamselAgent.dll', 'tamsel.exe'):
                self.assertEqual(machine, pe_machine(self.files[folder + program]), folder + program)

    def test_page_carries_its_version_and_examples(self):
        self.assertIn('# NorvikTamselAgent %s for integrators' % self.version, self.page)
        self.assertNotIn('@VERSION@', self.page)
        self.assertNotIn('<!-- include', self.page)
        for example in EXAMPLES:
            self.assertIn(self.files[example].decode('utf-8'), self.page, example)
        # The DLL's version block says the kit's version (UTF-16 in its resources).
        for folder in MACHINES:
            self.assertIn(self.version.encode('utf-16-le'), self.files[folder + 'NorvikTamselAgent.dll'])

    def test_compiled_examples_build_with_the_command_their_comment_gives(self):
        """The comment's mingw-w64 command, run in the unpacked kit's examples folder with nothing added
        but the cross compiler's prefix: no library beyond what the command names."""
        folder = tempfile.mkdtemp(prefix='tamsel-kit.')
        try:
            with zipfile.ZipFile(ZIP) as kit:
                kit.extractall(folder)
            examples = os.path.join(folder, self.top, 'examples')
            for example in ('get.cpp', 'fetch.c'):
                source = self.files['examples/' + example].decode('utf-8')
                match = re.search(r'mingw-w64: ((g\+\+|gcc) [^\n;*]*?)\s*(\*/)?$', source, re.M)
                self.assertIsNotNone(match, example + ' gives no mingw-w64 command')
                words = match.group(1).split()
                for triple in TRIPLES:
                    with self.subTest(example=example, triple=triple):
                        output = '%s-%s.exe' % (example, triple)
                        command = ['%s-%s' % (triple, words[0])] + words[1:] + ['-o', output]
                        built = subprocess.run(command, cwd=examples, capture_output=True, text=True)
                        self.assertEqual(0, built.returncode, ' '.join(command) + '\n' + built.stderr)
                        with open(os.path.join(examples, output), 'rb') as f:
                            self.assertEqual(MACHINES['bin/x86/' if triple.startswith('i686') else 'bin/x64/'],
                                             pe_machine(f.read()))
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    ZIP = sys.argv.pop(1)
    unittest.main(verbosity=2)
