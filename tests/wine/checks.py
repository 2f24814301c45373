"""What the Wine drivers (scenarios.py, observed.py) share: the paths inside
a prefix, the seeds and expected trees of this folder, the checks that
collect failures, and a lab (one prefix and its checks).

Standard library only.
"""

import difflib
import os
import time

import winelab

HERE = os.path.dirname(os.path.abspath(__file__))
# The shared modelling system as installed: the machine model's one image,
# which plgreg and the unit tests compile in.
SEED_SHARED_SYSTEM = os.path.join(os.path.dirname(os.path.dirname(HERE)),
                                  "machine", "images", "shared_system.reg")

MODULE_PATH = "C:\\Program Files\\Pellagor\\plgproduct.dll"
VOLATILE_HELPER_PATH = "C:\\plgtest\\make_volatile_key.exe"
CALLER_PATH = "C:\\plgtest\\call_export.exe"

# Every box registration shows: this caption, MB_ICONERROR | MB_SETFOREGROUND,
# US English.
CAPTION, STYLE, LANGUAGE = "Registration Error", 0x10010, 0x0409
REGSVR32_DLLREGISTER_FAILED = 5
SELFREG_E_CLASS = 0x80040201
ERROR_CHILD_MUST_BE_VOLATILE = 1021


def read_reg_file(path):
    with open(path, "rb") as f:
        return winelab.parse_reg(f.read())


def expected(name):
    """The hand-written tree expected/NAME."""
    return read_reg_file(os.path.join(HERE, "expected", name))


class Checks:
    def __init__(self):
        self.failures = []

    def true(self, condition, message):
        if not condition:
            self.failures.append(message)
            print("FAIL:", message)
        return condition

    def equal(self, actual, wanted, what):
        return self.true(actual == wanted, "%s: expected %r, got %r" % (what, wanted, actual))

    def sequence(self, actual, wanted, what):
        """Lists compared item by item, so that a missing or an extra item shows."""
        if actual == wanted:
            return True
        diff = "\n".join(difflib.unified_diff([repr(x) for x in wanted],
                                              [repr(x) for x in actual],
                                              "expected", "actual", lineterm=""))
        return self.true(False, "%s differ:\n%s" % (what, diff))

    def tree(self, actual, wanted, what):
        """Whole-tree comparison: a missing and an extra entry both show."""
        want, got = winelab.describe_tree(wanted), winelab.describe_tree(actual)
        if want == got:
            return True
        diff = "\n".join(difflib.unified_diff(want, got, "expected", "actual", lineterm=""))
        return self.true(False, "%s differs:\n%s" % (what, diff))

    def same_tree(self, actual, wanted, what):
        """Like `tree`, for large trees: the diff shows only the keys that
        differ."""
        keys = {k.lower() for k in set(actual) ^ set(wanted)}
        keys |= {k.lower() for k in set(actual) & set(wanted) if actual[k] != wanted[k]}
        if not keys:
            return True
        def part(tree):
            return {k: v for k, v in tree.items() if k.lower() in keys}
        return self.tree(part(actual), part(wanted), what)

    def exit_code(self, run, wanted, what):
        if not self.equal(run.returncode, wanted, what + " exit code"):
            print(run.describe())

    def message_boxes(self, boxes, what):
        """Every box: no owner, the error caption, style and language."""
        for owner, text, caption, style, language in boxes:
            self.equal((owner, caption, hex(style), hex(language)),
                       (0, CAPTION, hex(STYLE), hex(LANGUAGE)),
                       "%s: message box %r" % (what, text))


# Keys beneath Software\\Tolvanics that the volatile helper creates, and
# with them the company key itself, all volatile: nothing non-volatile can
# be created there any more. Seeds imported afterwards only fill them in.
VOLATILE_COMPANY_KEYS = ("Software\\Tolvanics\\Kelsys\\38.0\\Dir",
                         "Software\\Tolvanics\\Kelsys\\38.0\\Options")


class BaseLab:
    """What a check works with: its prefix, copied from the template, and
    its checks (its own unless given)."""

    # The option that names make_volatile_key.exe.
    volatile_helper_option = "volatile_helper"

    def __init__(self, args, name, checks=None):
        self.args = args
        self.checks = checks or Checks()
        self.prefix = winelab.Prefix.copy_of(args.template, os.path.join(args.work, name))

    def tool(self, option, windows_path):
        """Installs the host file given as --OPTION at `windows_path`."""
        host_file = getattr(self.args, option)
        if not host_file:
            raise winelab.WineError("this check needs --%s" % option.replace("_", "-"))
        return self.prefix.install(host_file, windows_path)

    def make_company_volatile(self):
        """Makes Software\\Tolvanics volatile (VOLATILE_COMPANY_KEYS). Call it
        inside a persistent server: volatile keys live as long as theirs."""
        self.tool(self.volatile_helper_option, VOLATILE_HELPER_PATH)
        self.prefix.run(VOLATILE_HELPER_PATH, *VOLATILE_COMPANY_KEYS, check=True)

    def call_export(self, export):
        """The export called directly, traced: (HRESULT text, message boxes)."""
        self.tool("caller", CALLER_PATH)
        run = self.prefix.run(CALLER_PATH, MODULE_PATH, export, debug="+relay", check=True)
        return run.stdout.strip(), winelab.message_boxes(run.stderr)

    def finish(self, name, started):
        """Prints how the check named `name`, begun at `started`, went;
        removes the prefix if it passed and keeps it with its logs if not.
        The exit code."""
        elapsed = time.monotonic() - started
        if self.checks.failures:
            print("%s: %d failure(s) in %.1f s; prefix and logs kept in %s" % (
                name, len(self.checks.failures), elapsed, self.prefix.path))
            return 1
        self.prefix.remove()
        print("%s: passed in %.1f s" % (name, elapsed))
        return 0
