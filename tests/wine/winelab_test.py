"""How winelab runs programs under Wine, checked with a stand-in for wine
that answers from a script: a run Wine never started is tried once more, a
program's own failure is not."""

import os
import shutil
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winelab  # noqa: E402

NOT_STARTED = ("Application could not be started, or no application associated "
               "with the specified file.\nShellExecuteEx failed: Internal error.")


class RegRunsTest(unittest.TestCase):

    def prefix_answering(self, *answers):
        """A prefix whose `wine` gives the (exit code, output) answers in turn
        and logs each call's arguments."""
        folder = tempfile.mkdtemp(prefix="winelab_test_")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        self.calls = os.path.join(folder, "calls")
        script = ["#!/bin/sh", 'echo "$*" >> %s' % self.calls,
                  'n=$(wc -l < %s)' % self.calls]
        for number, (code, text) in enumerate(answers, 1):
            script.append('[ "$n" = %d ] && { printf "%%s\\n" "%s"; exit %d; }'
                          % (number, text, code))
        script.append("exit 99")
        wine = os.path.join(folder, "wine")
        with open(wine, "w") as f:
            f.write("\n".join(script) + "\n")
        os.chmod(wine, os.stat(wine).st_mode | stat.S_IXUSR)
        self.addCleanup(setattr, winelab, "WINE", winelab.WINE)
        winelab.WINE = wine
        return winelab.Prefix(os.path.join(folder, "prefix"))

    def call_count(self):
        with open(self.calls) as f:
            return len(f.read().splitlines())

    def test_runs_wine_never_started_are_tried_again(self):
        # (what runs, its first answer): start.exe's refusal for any program;
        # a silent exit 1 only for reg, whose commands may be repeated.
        cases = [(lambda p: p.reg_import("seed.reg"), (1, NOT_STARTED)),
                 (lambda p: p.reg_import("seed.reg"), (1, "")),
                 (lambda p: p.run("regsvr32", "/s", "m.dll", check=True), (1, NOT_STARTED))]
        for number, (run, first) in enumerate(cases):
            with self.subTest(case=number):
                run(self.prefix_answering(first, (0, "")))
                self.assertEqual(self.call_count(), 2)
        prefix = self.prefix_answering((3, ""), (0, ""))
        self.assertEqual(prefix.run("regsvr32", "/s", "m.dll").returncode, 3)
        self.assertEqual(self.call_count(), 1)

    def test_a_refusal_by_reg_is_reported_at_once(self):
        prefix = self.prefix_answering((1, "reg: Unable to import the registry file"),
                                       (0, ""))
        with self.assertRaisesRegex(winelab.WineError, "Unable to import"):
            prefix.reg_import("seed.reg")
        self.assertEqual(self.call_count(), 1)
        prefix = self.prefix_answering((1, "reg: Unable to find the specified key"))
        self.assertIsNone(prefix.reg_export_text("HKLM\\Software\\Absent"))
        self.assertEqual(self.call_count(), 1)


if __name__ == "__main__":
    unittest.main()
