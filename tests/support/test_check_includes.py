#!/usr/bin/env python3
# check_includes.py against made-up trees: each wrong direction is caught, named, and the right ones pass.
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'check_includes.py')


class IncludeDirection(unittest.TestCase):
    def run_on(self, files):
        """The check's exit code and output for a tree of {path: text}, with the public header in include/."""
        with tempfile.TemporaryDirectory() as root:
            for path, text in dict({'include/NorvikTamselAgent.h': '#pragma once\n'}, **files).items():
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), 'w') as source:
                    source.write(text)
            done = subprocess.run([sys.executable, '-B', CHECK, root], capture_output=True, text=True, timeout=60)
        return done.returncode, done.stdout

    def test_includes_that_point_down_pass(self):
        code, output = self.run_on({
            'base/Result.h': '#include <windows.h>\n#include "base/Handle.h"\n',
            'markup/ReplyField.cpp': '#include "markup/ReplyField.h"\n#include "base/Result.h"\n',
            'web/FixedUrls.h.in': '#include <string>\n',
            'agent/AgentObject.cpp': '#include "agent/AgentObject.h"\n#include "web/WebSession.h"\n'
                                     '#include "markup/ReplyField.h"\n',
            'faces/OpsFace.h': '#include "agent/AgentObject.h"\n#include "include/NorvikTamselAgent.h"\n',
            'automation/AutomationFace.cpp': '#include "faces/Ops3Result.h"\n#include "NorvikTamselAgent.h"\n',
            'module/AgentComObject.cpp': '#include "automation/AutomationFace.h"\n#include "faces/Ops3Face.h"\n',
            'host/main.cpp': '#include "base/Handle.h"\n#include "include/NorvikTamselAgent.h"\n',
        })
        self.assertEqual(code, 0, output)

    def test_each_wrong_direction_is_named(self):
        cases = [
            ('agent/AgentObject.h', '#include "include/NorvikTamselAgent.h"'),
            ('agent/LocalFile.cpp', '  #  include <NorvikTamselAgent.h>'),  # the bare name, through an include path
            ('agent/Answers.h', '#include "faces/OpsResult.h"'),
            ('web/Exchange.cpp', '#include "automation/ErrorInfo.h"'),
            ('web/WebSession.h', '#include "agent/Answers.h"'),
            ('markup/Entities.cpp', '#include "web/UrlSplit.h"'),
            ('base/Handle.h', '#include "markup/Scanning.h"'),
            ('faces/OpsFace.h', '#include "module/ComModule.h"'),
            ('faces/HostProgress.cpp', '#include "automation/ScriptProgress.h"'),
            ('automation/ErrorInfo.cpp', '#include "module/AgentComObject.h"'),
            ('host/Commands.cpp', '#include "agent/AgentObject.h"'),
        ]
        for path, line in cases:
            with self.subTest(path=path, include=line):
                code, output = self.run_on({path: '// a file\n#include <string>\n' + line + '\n'})
                self.assertEqual(code, 1, output)
                self.assertIn(path + ':3:', output, 'the file and line are named')
                self.assertIn('1 wrong include', output)


if __name__ == '__main__':
    unittest.main()
