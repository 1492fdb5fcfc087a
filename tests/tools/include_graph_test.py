#!/usr/bin/python3
"""The source-shape check finds what it is there to find: small trees made
here, each breaking one rule, and one that breaks none."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "include_graph.py")


def run(files, *arguments):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        done = subprocess.run([sys.executable, SCRIPT, "--root", root, *arguments], capture_output=True,
                              text=True)
        return done.returncode, done.stdout


def function(name, lines):
    return "int %s()\n{\n%s    return 0;\n}\n" % (name, "    int a = 0;\n" * lines)


class IncludeGraph(unittest.TestCase):
    def test_a_sound_tree_passes(self):
        code, out = run({
            "server/a.h": "#pragma once\n",
            "server/a.cpp": '#include "server/a.h"\n' + function("A", 10),
            "embedded/b.cpp": '#include "server/a.h"\n#include <vector>\n' + function("B", 55),
        })
        self.assertEqual(code, 0, out)

    def test_a_cycle_through_a_header_and_its_source_is_found(self):
        # a.cpp includes b.h, b.cpp includes a.h: neither header includes the other.
        code, out = run({
            "registration/a.h": "#pragma once\n",
            "registration/a.cpp": '#include "registration/a.h"\n#include "registration/b.h"\n',
            "registration/b.h": "#pragma once\n",
            "registration/b.cpp": '#include "registration/b.h"\n#include "registration/a.h"\n',
        })
        self.assertEqual(code, 1)
        self.assertIn("include cycle among: registration/a registration/b", out)

    def test_a_folder_that_includes_one_above_it_is_found(self):
        code, out = run({
            "app/m.h": "#pragma once\n",
            "server/s.cpp": '#include "app/m.h"\n',
            "embedded/e.cpp": '#include "bridge/x.h"\n',
        })
        self.assertEqual(code, 1)
        self.assertIn("server/s.cpp:1 includes app/m.h", out)
        self.assertIn("embedded/e.cpp:1 includes bridge/x.h", out)

    def test_long_functions_are_found_wherever_they_stand(self):
        body = "    int a = 0;\n" * 60
        code, out = run({
            "check/c.cpp": function("Short", 20) + "namespace {\n" + function("Hidden", 60) + "}\n",
            "server/h.h": "class C\n{\npublic:\n    void Inline()\n    {\n" + body + "    }\n};\n",
            "server/t.cpp": "HRESULT Guarded()\ntry {\n" + body + "}\nCATCH_RETURN_HRESULT()\n" +
                            function("After", 3),
        })
        self.assertEqual(code, 1)
        self.assertIn("check/c.cpp:", out)
        self.assertIn("Hidden is 63 lines", out)
        self.assertIn("Inline is 62 lines", out)
        self.assertIn("Guarded is 62 lines", out)
        self.assertNotIn("Short", out)
        self.assertNotIn("After", out)

    def test_braces_in_text_and_comments_do_not_count(self):
        code, out = run({
            "server/q.cpp": 'const char* kOpen = "{{{";\n// }\nchar c = \'}\';\n/* { */\n' +
                            'const char* kRaw = R"x({)x";\n' + function("Fine", 30),
        })
        self.assertEqual(code, 0, out)


if __name__ == "__main__":
    unittest.main()
