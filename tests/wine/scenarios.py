#!/usr/bin/env python3
"""The module under Wine: the real registry, loaded by the real regsvr32.

  scenarios.py template DIR
      Boots the template prefix that every later command copies.
  scenarios.py contract --template DIR --work DIR EXE [GTEST_ARGS...]
      Runs the registry contract suite EXE in a copy of the template.
  scenarios.py scenario NAME --template DIR --work DIR --dll DLL
               [--helper make_volatile_key.exe] [--caller call_export.exe]
               [--plgreg PLGREG]
      Runs one scenario (see SCENARIOS) in a copy of the template.
  scenarios.py list
      Prints the scenarios' names, one per line, in the order they are
      defined; the build makes one test of each.
  scenarios.py main --dll DLL --prefix DIR
      Boots a fresh prefix at DIR, seeds the shared modelling system,
      registers the module with regsvr32 /s and prints what it wrote.

A scenario seeds its prefix from .reg files in seed/ and the machine
model's image of the shared system (machine/images/), runs regsvr32, and
compares `reg export` output with the hand-written files in expected/.
Message boxes are read from a relay trace restricted to MessageBoxExA (and
RegCreateKeyExA where a scenario looks at keys being created). A scenario's
prefix is removed when it passes and kept, with its logs, when it fails.
"""

import argparse
import collections
import concurrent.futures
import filecmp
import json
import os
import re
import subprocess
import sys
import time

import screen
import winelab
from checks import (ERROR_CHILD_MUST_BE_VOLATILE, HERE, MODULE_PATH, REGSVR32_DLLREGISTER_FAILED,
                    SEED_SHARED_SYSTEM, SELFREG_E_CLASS, BaseLab, expected,
                    read_reg_file)

SEED_OTHER_PRODUCT = os.path.join(HERE, "seed", "other_product.reg")
# The shared system in both views: the image, then seed/two_views.reg, which
# gives the 32-bit view's release another label (V11) and adds a 32-bit
# registration of this product version.
SEED_TWO_VIEWS = [SEED_SHARED_SYSTEM, os.path.join(HERE, "seed", "two_views.reg")]
SEED_OTHER_VERSION = os.path.join(HERE, "seed", "other_version_current.reg")
SEED_OTHER_VERSION_REGISTERED = os.path.join(HERE, "seed", "other_version_registered.reg")
SEED_OTHERS_ADDED = os.path.join(HERE, "seed", "others_added.reg")

SECOND_MODULE_PATH = "C:\\Tools\\Pellagor 38\\plgproduct.dll"

COMPANY_KEY = "HKLM\\Software\\Tolvanics"
KELSYS_KEY = COMPANY_KEY + "\\Kelsys"
OPTIONS_KEY = KELSYS_KEY + "\\38.0\\Options"
PRODUCT_KEY = COMPANY_KEY + "\\Pellagor"
EXPORTED_ROOT = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics"

SKIPPED = 77  # the test's SKIP_RETURN_CODE

# regsvr32's exit code when DllInstall fails.
REGSVR32_DLLINSTALL_FAILED = 5
# The ANSI registry calls the module makes, for a trace that must show none.
REGISTRY_CALLS = ["RegCreateKeyExA", "RegOpenKeyExA", "RegOpenKeyA", "RegQueryValueExA",
                  "RegSetValueExA", "RegDeleteKeyA", "RegDeleteValueA"]

# The keys under HKEY_CLASSES_ROOT that registration writes, for `main`.
CLASSES_KEYS = [
    "Pellagor Language", ".plgf", ".hvxl", "Tolvane Model Library",
    "CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}",
    "CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}",
    "PLG Application", "PLG Application 3800",
    "CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}",
]


class Lab(BaseLab):
    """What a scenario works with: its prefix and its checks."""

    volatile_helper_option = "helper"

    def install_module(self):
        return self.prefix.install(self.args.dll, MODULE_PATH)

    def regsvr32(self, *switches, module=MODULE_PATH):
        """regsvr32 with the given switches, traced: (run, message boxes)."""
        run = self.prefix.run("regsvr32", *switches, module, debug="+relay,+eventlog")
        return run, winelab.message_boxes(run.stderr)

    def import_plan(self, step, machine, what):
        """Imports plgreg's `plan STEP` for the image `machine` (a tree) and
        returns the snapshot after it; the plan must show no message."""
        image = self.write_reg("machine-%s.reg" % step, machine)
        plan = os.path.join(self.prefix.logs, "plan-%s.reg" % step)
        with open(plan, "wb") as out:
            run = subprocess.run([self.args.plgreg, "plan", step, "--machine", image,
                                  "--module-path", MODULE_PATH, "--format", "reg"],
                                 stdout=out, stderr=subprocess.PIPE, timeout=60)
        self.checks.equal((run.returncode, run.stderr.decode("utf-8", "replace")), (0, ""),
                          "%s: plgreg plan %s (exit code, messages)" % (what, step))
        self.prefix.reg_import(plan)
        return self.snapshot()

    def write_reg(self, name, tree):
        """`tree` as a .reg file named `name` among the prefix's logs; its path."""
        path = os.path.join(self.prefix.logs, name)
        with open(path, "wb") as f:
            f.write(winelab.encode_reg_text(winelab.format_reg(tree)))
        return path

    def seed(self, *reg_files):
        """Imports the files and starts tracing the calls `quiet_regsvr32`
        looks at."""
        for reg_file in reg_files:
            self.prefix.reg_import(reg_file)
        self.prefix.trace_calls(["MessageBoxExA", "RegCreateKeyExA", "RegDeleteKeyA"])

    def snapshot(self):
        """HKLM\\Software as `reg export` writes it, its Classes key named
        HKEY_CLASSES_ROOT (which is that key under Wine)."""
        return winelab.classes_as_root(self.prefix.reg_export("HKLM\\Software"))

    def quiet_regsvr32(self, switches, before, module=MODULE_PATH):
        """Runs regsvr32 SWITCHES and returns the snapshot after it. It must
        exit 0, show no message, and change nothing outside the product's
        keys; the trace must show the module's registry calls, so that "no
        message" does not come from a dead trace."""
        what = "regsvr32 %s %s" % (" ".join(switches), module)
        run, boxes = self.regsvr32(*switches, module=module)
        self.checks.exit_code(run, 0, what)
        self.checks.equal([box[1] for box in boxes], [], what + ": messages")
        self.checks.equal(winelab.events(run.stderr), [], what + ": events")
        traced = "RegDeleteKeyA" if "/u" in switches else "RegCreateKeyExA"
        self.checks.true(winelab.calls(run.stderr, traced), what + ": no traced " + traced)
        after = self.snapshot()
        outside = winelab.changes_outside_product(before, after)
        self.checks.true(not outside, "%s changed keys that are not the product's:\n  %s"
                         % (what, "\n  ".join(outside)))
        return after


SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__] = function
    return function


@scenario
def register_unregister(lab):
    """Registration writes the product key and the Options entry beside
    another product's; unregistration removes the entry and the product
    version key and leaves the other product and the empty product key;
    neither shows a message. Each is done twice, the second time by calling
    the export directly for its HRESULT: the contents stay the same."""
    checks, prefix = lab.checks, lab.prefix
    lab.install_module()
    prefix.reg_import(SEED_SHARED_SYSTEM)
    prefix.reg_import(SEED_OTHER_PRODUCT)
    prefix.trace_calls(["MessageBoxExA", "RegCreateKeyExA", "RegDeleteValueA"])

    run, boxes = lab.regsvr32("/s")
    checks.exit_code(run, 0, "regsvr32 /s")
    checks.equal([box[1] for box in boxes], [], "messages shown by registration")
    # The trace is live: "no message" is not just an empty trace.
    creates = winelab.key_creations(run.stderr)
    checks.true(("Software\\Tolvanics", 0) in [(c.subkey, c.status) for c in creates],
                "no traced RegCreateKeyExA of Software\\Tolvanics")
    # Once more, called directly: S_OK itself, and the same contents.
    checks.equal(lab.call_export("DllRegisterServer"), ("hresult=0x00000000", []),
                 "second registration (result, messages)")
    registered = prefix.reg_export(COMPANY_KEY) or {}
    checks.tree(winelab.subtree(registered, EXPORTED_ROOT + "\\Kelsys"),
                expected("registered_kelsys.reg"), "Kelsys key after registration")
    for key in ("Pellagor", "Pellagor\\38.0"):
        checks.true(EXPORTED_ROOT + "\\" + key in registered,
                    "registration did not create Software\\Tolvanics\\" + key)

    run, boxes = lab.regsvr32("/u", "/s")
    checks.exit_code(run, 0, "regsvr32 /u /s")
    checks.equal([box[1] for box in boxes], [], "messages shown by unregistration")
    checks.true(any('"plg"' in args for args in winelab.calls(run.stderr, "RegDeleteValueA")),
                "no traced RegDeleteValueA of \"plg\"")
    checks.equal(lab.call_export("DllUnregisterServer"), ("hresult=0x00000000", []),
                 "second unregistration (result, messages)")
    checks.tree(prefix.reg_export(COMPANY_KEY), expected("unregistered_tolvanics.reg"),
                "company key after unregistration")


@scenario
def quiet_option(lab):
    """regsvr32 /n /i:quiet, on the same machine, leaves exactly the trees
    that plain regsvr32 leaves, registering and unregistering, with no
    message; an unknown option is refused before anything is read or
    written."""
    checks, prefix = lab.checks, lab.prefix
    lab.install_module()
    prefix.reg_import(SEED_SHARED_SYSTEM)
    prefix.reg_import(SEED_OTHER_PRODUCT)
    before = lab.snapshot()
    prefix.trace_calls(REGISTRY_CALLS)
    run, _ = lab.regsvr32("/s", "/n", "/i:quiet,verbose")
    checks.exit_code(run, REGSVR32_DLLINSTALL_FAILED, "regsvr32 /i:quiet,verbose")
    checks.equal([f for f in REGISTRY_CALLS if winelab.calls(run.stderr, f)], [],
                 "registry calls with an unknown option")
    checks.same_tree(lab.snapshot(), before, "machine after an unknown option")

    lab.seed()
    plain = lab.quiet_regsvr32(["/s"], before)
    plain_removed = lab.quiet_regsvr32(["/u", "/s"], plain)
    quiet = lab.quiet_regsvr32(["/s", "/n", "/i:quiet"], plain_removed)
    checks.same_tree(quiet, plain, "quiet registration against plain registration")
    quiet_removed = lab.quiet_regsvr32(["/u", "/s", "/n", "/i: Quiet"], quiet)
    checks.same_tree(quiet_removed, plain_removed,
                     "quiet unregistration against plain unregistration")


@scenario
def volatile_company_key(lab):
    """With Software\\Tolvanics a volatile key, the product key cannot be
    created beneath it: registration says so, goes on with the Options
    entry and the remaining steps, and regsvr32 reports the failure."""
    checks, prefix = lab.checks, lab.prefix
    lab.install_module()
    prefix.trace_calls(["MessageBoxExA", "RegCreateKeyExA"])
    with prefix.persistent_server():
        lab.make_company_volatile()
        prefix.reg_import(SEED_SHARED_SYSTEM)
        prefix.reg_import(SEED_OTHER_PRODUCT)
        probe = prefix.run("reg", "add", COMPANY_KEY + "\\Probe", "/f")
        if not checks.true(probe.returncode != 0,
                           "a non-volatile key could be created under the company key"):
            return

        run, boxes = lab.regsvr32("/s")
        checks.exit_code(run, REGSVR32_DLLREGISTER_FAILED, "regsvr32 /s")
        texts = [box[1] for box in boxes]
        checks.true(texts[:1] == ["Unable to create Application Name key"],
                    "first message: expected 'Unable to create Application Name key', "
                    "got %r" % texts[:1])
        checks.equal(texts.count("Unable to create Application Name key"), 1,
                     "times the product key failure was shown")
        for text in ("Unable to open HKEY_LOCAL_MACHINE", "Unable to open modeler options key",
                     "Unable to enter value in modeler options key"):
            checks.true(text not in texts, "unexpected message %r" % text)
        checks.message_boxes(boxes, "registration")
        # What the registry answered: the product key refused as a
        # non-volatile child, the Options key opened as it exists.
        creates = {c.subkey: c.status for c in winelab.key_creations(run.stderr)}
        checks.equal(creates.get("Pellagor"), ERROR_CHILD_MUST_BE_VOLATILE,
                     "RegCreateKeyExA of Pellagor")
        checks.equal(creates.get("Kelsys\\38.0\\Options"), 0,
                     "RegCreateKeyExA of Kelsys\\38.0\\Options")

        # The export itself, called again: the same failure, its HRESULT.
        result, again = lab.call_export("DllRegisterServer")
        checks.equal(result, "hresult=0x%08x" % SELFREG_E_CLASS, "DllRegisterServer result")
        checks.equal([box[1] for box in again], texts, "messages of the second registration")

        tree = prefix.reg_export(COMPANY_KEY) or {}
        checks.tree(winelab.subtree(tree, EXPORTED_ROOT + "\\Kelsys\\38.0\\Options"),
                    expected("volatile_options.reg"), "Options key")
        checks.true(EXPORTED_ROOT + "\\Pellagor" not in tree,
                    "the product key exists under the volatile company key")
    print("messages shown: %d, first %r" % (len(texts), texts[:2]))

# ---------------------------------------------------------------------------
# The installer's scenarios: regsvr32 /s and /u /s on seeded machines, each
# run checked by `quiet_regsvr32`, the results compared with expected/.

CLASSES_ROOT = "HKEY_CLASSES_ROOT"
# The module's view of a machine: the company key and every key under
# HKEY_CLASSES_ROOT that it writes, each with its subtree.
VIEW_ROOTS = [EXPORTED_ROOT] + [path for path, _, _ in winelab.OWNED_KEYS
                                if path.startswith(CLASSES_ROOT + "\\")]


def module_view(tree):
    return winelab.merge(*(winelab.subtree(tree, root) for root in VIEW_ROOTS))


def classes(tree):
    return winelab.subtree(tree, CLASSES_ROOT)


def registered_two_views(*overrides):
    """The module's view after registration on seed/two_views.reg."""
    return winelab.merge(expected("registered_product.reg"),
                         expected("registered_classes.reg"), *overrides)


@scenario
def clean_registration(lab):
    """The shared system in both views, releases V12 (native) and V11
    (32-bit): registration writes exactly the expected company tree and
    class keys, with one Open verb per release, and leaves the 32-bit view
    alone. Also checks that Wine's HKEY_CLASSES_ROOT export is the machine's
    Classes key, on which every other comparison relies."""
    checks = lab.checks
    lab.install_module()
    lab.seed(*SEED_TWO_VIEWS)
    registered = lab.quiet_regsvr32(["/s"], lab.snapshot())
    checks.tree(module_view(registered), registered_two_views(), "module's keys")
    checks.same_tree(classes(registered), lab.prefix.reg_export("HKCR"),
                     "HKLM\\Software\\Classes against the export of HKEY_CLASSES_ROOT")


@scenario
def register_twice(lab):
    """A second registration leaves what the first left, and takes away a
    verb added by hand beneath the document ProgID in between."""
    checks, prefix = lab.checks, lab.prefix
    lab.install_module()
    lab.seed(*SEED_TWO_VIEWS)
    first = lab.quiet_regsvr32(["/s"], lab.snapshot())
    prefix.reg_set_string("HKCR\\Pellagor Language\\shell\\Print\\command", "", "print.exe")
    touched = lab.snapshot()
    checks.true("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Print\\command" in touched,
                "the hand-made verb was not written")
    second = lab.quiet_regsvr32(["/s"], touched)
    checks.tree(module_view(second), registered_two_views(), "module's keys")
    checks.same_tree(second, first, "HKLM\\Software after the second registration")


@scenario
def unregister_restores_classes(lab):
    """Register, then unregister, with no other product in the Options key:
    HKEY_CLASSES_ROOT is again exactly what it was, and the company tree
    keeps only the empty product key and the emptied Options key."""
    checks = lab.checks
    lab.install_module()
    lab.seed(*SEED_TWO_VIEWS)
    before = lab.snapshot()
    registered = lab.quiet_regsvr32(["/s"], before)
    unregistered = lab.quiet_regsvr32(["/u", "/s"], registered)
    checks.same_tree(classes(unregistered), classes(before), "HKEY_CLASSES_ROOT")
    checks.tree(winelab.subtree(unregistered, EXPORTED_ROOT),
                expected("unregistered_product.reg"), "company key")
    checks.same_tree(unregistered, winelab.merge(before, expected("unregistered_product.reg")),
                     "HKLM\\Software")


@scenario
def other_product_left(lab):
    """Another product stays in the Options key: unregistration removes this
    product's entries but leaves the library suffix .hvxl and the library
    document ProgID; its Options value stays."""
    checks = lab.checks
    lab.install_module()
    lab.seed(*SEED_TWO_VIEWS, SEED_OTHER_PRODUCT)
    before = lab.snapshot()
    registered = lab.quiet_regsvr32(["/s"], before)
    checks.tree(module_view(registered), registered_two_views(read_reg_file(SEED_OTHER_PRODUCT)),
                "module's keys after registration")
    unregistered = lab.quiet_regsvr32(["/u", "/s"], registered)
    checks.same_tree(classes(unregistered),
                     winelab.merge(classes(before), expected("other_product_left.reg")),
                     "HKEY_CLASSES_ROOT after unregistration")
    checks.tree(winelab.subtree(unregistered, EXPORTED_ROOT),
                expected("unregistered_tolvanics.reg"), "company key after unregistration")


@scenario
def other_version_current(lab):
    """After this version's registration another one (37.0) takes the
    version marker: unregistration keeps the shared class registrations,
    removes the verb labelled V12 (not V11), this version's ProgID and the
    automation class key, and the product version key."""
    checks, prefix = lab.checks, lab.prefix
    lab.install_module()
    lab.seed(*SEED_TWO_VIEWS)
    before = lab.snapshot()
    lab.quiet_regsvr32(["/s"], before)
    prefix.reg_import(SEED_OTHER_VERSION)
    marked = lab.snapshot()
    checks.equal(marked.get("HKEY_CLASSES_ROOT\\PLG Application\\CurVer"),
                 {"@": ("sz", "PLG Application 3700")}, "version marker after the seed")
    unregistered = lab.quiet_regsvr32(["/u", "/s"], marked)
    checks.same_tree(classes(unregistered),
                     winelab.merge(classes(before), expected("other_version_left.reg")),
                     "HKEY_CLASSES_ROOT after unregistration")
    checks.tree(winelab.subtree(unregistered, EXPORTED_ROOT),
                expected("unregistered_product.reg"), "company key after unregistration")


@scenario
def no_shared_system(lab):
    """No shared modelling system at all: registration still writes every
    entry, with empty directories and no release verb, and shows nothing;
    unregistration gives HKEY_CLASSES_ROOT back as it was."""
    checks = lab.checks
    lab.install_module()
    lab.seed()
    before = lab.snapshot()
    registered = lab.quiet_regsvr32(["/s"], before)
    checks.tree(module_view(registered), expected("no_shared_system.reg"), "module's keys")
    unregistered = lab.quiet_regsvr32(["/u", "/s"], registered)
    checks.same_tree(classes(unregistered), classes(before), "HKEY_CLASSES_ROOT")
    checks.tree(winelab.subtree(unregistered, EXPORTED_ROOT),
                expected("no_shared_system_unregistered.reg"), "company key")


@scenario
def two_locations(lab):
    """Registered from one folder, then from another: the second path is the
    one in Customization "DLL" and in the three DefaultIcon entries;
    everything else is as after one registration."""
    checks, prefix = lab.checks, lab.prefix
    lab.install_module()
    prefix.install(lab.args.dll, SECOND_MODULE_PATH)
    lab.seed(*SEED_TWO_VIEWS)
    first = lab.quiet_regsvr32(["/s"], lab.snapshot())
    checks.tree(module_view(first), registered_two_views(), "module's keys, first location")
    second = lab.quiet_regsvr32(["/s"], first, module=SECOND_MODULE_PATH)
    checks.tree(module_view(second), registered_two_views(expected("second_location.reg")),
                "module's keys, second location")


@scenario
def unregister_unregistered(lab):
    """Unregistering a module that was never registered, on a machine with
    the shared system and another product: nothing changes anywhere under
    HKLM\\Software (HKEY_CLASSES_ROOT included), and no message is shown."""
    lab.install_module()
    lab.seed(*SEED_TWO_VIEWS, SEED_OTHER_PRODUCT)
    before = lab.snapshot()
    after = lab.quiet_regsvr32(["/u", "/s"], before)
    lab.checks.same_tree(after, before, "HKLM\\Software")


# plgreg's plans against the real registry: (name, seeds, file imported
# between registration and unregistration).
PLAN_CASES = [
    ("two views", SEED_TWO_VIEWS, None),
    ("other product", SEED_TWO_VIEWS + [SEED_OTHER_PRODUCT], None),
    ("other version current", SEED_TWO_VIEWS, SEED_OTHER_VERSION),
    ("no shared system", [], None),
]


def image_of(tree):
    """A machine image for plgreg: what the module reads and writes, in
    both views."""
    return winelab.merge(module_view(tree), winelab.subtree(
        tree, "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics"))


@scenario
def plgreg_plans(lab):
    """For each case: one prefix registered and unregistered by regsvr32,
    another seeded the same and given plgreg's plans with `reg import`
    (register planned on the seeds; unregister planned on the image of the
    registered machine). After each step both prefixes hold the same
    HKLM\\Software, HKEY_CLASSES_ROOT included."""
    checks, args = lab.checks, lab.args
    if not args.plgreg or not os.path.isfile(args.plgreg):
        print("SKIPPED: no host build of plgreg at %r (build the host preset first)"
              % args.plgreg)
        return SKIPPED
    for number, (case, seeds, between) in enumerate(PLAN_CASES):
        real = Lab(args, "plgreg_plans-%d-regsvr32" % number, checks)
        planned = Lab(args, "plgreg_plans-%d-plgreg" % number, checks)

        def by_regsvr32():
            real.install_module()
            real.seed(*seeds)
            registered = real.quiet_regsvr32(["/s"], real.snapshot())
            if between:
                real.prefix.reg_import(between)
                registered = real.snapshot()
            return registered, real.quiet_regsvr32(["/u", "/s"], registered)

        def by_plans():
            for seed in seeds:
                planned.prefix.reg_import(seed)
            seed_image = winelab.merge(*(read_reg_file(seed) for seed in seeds))
            registered = planned.import_plan("register", seed_image, case)
            if between:
                planned.prefix.reg_import(between)
                registered = planned.snapshot()
            return registered, planned.import_plan("unregister", image_of(registered), case)

        # The two prefixes share nothing: run them side by side.
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            real_run, planned_run = pool.submit(by_regsvr32), pool.submit(by_plans)
            (registered, unregistered), (plan_registered, plan_unregistered) = (
                real_run.result(), planned_run.result())
        checks.same_tree(plan_registered, registered, "%s: after registration" % case)
        checks.same_tree(plan_unregistered, unregistered, "%s: after unregistration" % case)
        if not checks.failures:
            real.prefix.remove()
            planned.prefix.remove()
    return None


# ---------------------------------------------------------------------------
# The Windows Installer package under Wine's msiexec: the same machines as
# above, installed, repaired and removed by `msiexec /qn /l*v`.

PACKAGING = os.path.join(HERE, "..", "..", "packaging")
PACKAGE_SOURCE = os.path.join(PACKAGING, "Pellagor.wxs")
PRODUCT_ICON = os.path.join(HERE, "..", "..", "resources", "artwork", "icon413.ico")
PACKAGE_PATH = "C:\\plgtest\\Pellagor.msi"
EXIT_CODE_PATH = "C:\\plgtest\\exit_code.exe"
# plgreg.exe kept outside the product folder, to run after the removal.
TOOL_COPY_PATH = "C:\\plgtest\\plgreg.exe"
# The package's default folder: this major's own.
PACKAGE_FOLDER = "C:\\Program Files\\Pellagor\\38.0\\"
INSTALLED_MODULE_PATH = PACKAGE_FOLDER + "plgproduct.dll"
INSTALLED_TOOL_PATH = PACKAGE_FOLDER + "plgreg.exe"
PAYLOAD = ["plgproduct.dll", "plgreg.exe"]
PRODUCT_NAME = "Pellagor 38.0"
# What Add/Remove Programs shows of the installed product besides its name.
ARP_VALUES = {"InstallLocation": ("sz", PACKAGE_FOLDER),
              "NoModify": ("dword", 1),
              "Comments": ("sz", "Registers Pellagor with the Kelsys modelling system 38.0.")}
# A failed installation: Windows Installer ends with ERROR_INSTALL_FAILURE;
# Wine 8's msiexec passes the failed action's ERROR_FUNCTION_FAILED on.
ERROR_INSTALL_FAILURE, ERROR_FUNCTION_FAILED = 1603, 1627
# Wine 8's msiexec, given /f and a product code: "Product code treatment not
# implemented yet", and exit code 1 (ERROR_INVALID_FUNCTION).
WINE_REPAIR_REFUSED = "Product code treatment not implemented yet"
# Where the installer keeps its own records of installed products.
UNINSTALL_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
INSTALLER_RECORDS = ["HKEY_CLASSES_ROOT\\Installer", UNINSTALL_KEY,
                     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer"]
# Where the custom actions keep their rollback records, and who may write
# them (SYSTEM and Administrators), as the log shows the rights read back.
ROLLBACK_RECORDS = "HKEY_LOCAL_MACHINE\\Software\\Pellagor Rollback"
# Where the new build leaves its marker for the older build's removal.
UPGRADE_MARKERS = "HKEY_LOCAL_MACHINE\\Software\\Pellagor Upgrade"
MARKER_LEFT = re.compile(re.escape("Pellagor: upgrade marker %s\\" % UPGRADE_MARKERS)
                         + r"\{[0-9A-F-]{36}\} left for")
RECORD_RIGHTS = ("Pellagor: rollback records in %s, rights D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)"
                 % ROLLBACK_RECORDS)
# The Action ended line of a failed action: 0 in Wine's log, 3 in Windows's.
FAILED_ACTION = r"Action ended [0-9:]+: %s\. Return value [03]\."
SUCCEEDED_ACTION = r"Action ended [0-9:]+: %s\. Return value 1\."
STARTED_ACTION = r"Action start [0-9:]+: %s\."


def same_file(one, other):
    """Whether the file `other` exists and holds the bytes of `one`."""
    return os.path.isfile(other) and filecmp.cmp(one, other, shallow=False)


def packed_guid(guid):
    """A GUID as the installer's records key it: each group reversed, the
    last two by pairs of digits."""
    parts = guid.strip("{}").split("-")
    pairs = parts[3] + parts[4]
    return (parts[0][::-1] + parts[1][::-1] + parts[2][::-1]
            + "".join(pairs[i + 1] + pairs[i] for i in range(0, len(pairs), 2)))


def without_installer_records(tree):
    prefixes = [key.lower() for key in INSTALLER_RECORDS]
    return {key: values for key, values in tree.items()
            if not any(key.lower() == p or key.lower().startswith(p + "\\") for p in prefixes)}


def installed_products(tree):
    """(DisplayName, DisplayVersion, InstallLocation) of every installed
    Pellagor product, of any major, sorted."""
    return sorted(tuple(values.get(name, ("sz", None))[1]
                        for name in ("DisplayName", "DisplayVersion", "InstallLocation"))
                  for key, values in winelab.subtree(tree, UNINSTALL_KEY).items()
                  if values.get("DisplayName", ("", ""))[1].startswith("Pellagor"))


def installed_versions(tree):
    """DisplayVersion of every installed Pellagor product, sorted."""
    return [version for _, version, _ in installed_products(tree)]


def moved(tree, folder):
    """`tree` with the module in `folder` where it names MODULE_PATH."""
    return {key: {name: (kind, data.replace(MODULE_PATH, folder + "plgproduct.dll"))
                  if kind == "sz" else (kind, data) for name, (kind, data) in values.items()}
            for key, values in tree.items()}


def installed_registration(*overrides, folder=PACKAGE_FOLDER):
    """The module's view after the package registered the module in `folder`
    on seed/two_views.reg."""
    return moved(registered_two_views(*overrides), folder)


def package_property(package, name):
    table = subprocess.run(["msiinfo", "export", package, "Property"], check=True,
                           stdout=subprocess.PIPE, text=True, timeout=60).stdout
    for line in table.splitlines():
        fields = line.rstrip("\r").split("\t")
        if fields[0] == name:
            return fields[1]
    raise winelab.WineError("%s has no property %s" % (package, name))


MsiRun = collections.namedtuple("MsiRun", "code log seconds stderr")


class PackageLab(Lab):
    """A scenario of the package: the prefix, the package in it, msiexec."""

    def __init__(self, args, name, checks=None):
        super().__init__(args, name, checks)
        self.tool("exit_code", EXIT_CODE_PATH)
        self.tool("msi", PACKAGE_PATH)
        self.product_code = package_property(args.msi, "ProductCode")
        self.version = package_property(args.msi, "ProductVersion")
        self.runs = 0

    def build_package(self, name, sources=(PACKAGE_SOURCE,), **defines):
        """A package built here by packaging/build_msi.py, installed in the
        prefix; its path there. The defines default to the built package's:
        this build's module and plgreg.exe, its icon and its version."""
        output = os.path.join(self.prefix.logs, name)
        defines = dict(dict(ModuleFile=os.path.abspath(self.args.dll),
                            ToolFile=os.path.abspath(self.args.tool),
                            SetupFile=os.path.abspath(self.args.setup), ProductIcon=PRODUCT_ICON,
                            ProductVersion=self.version), **defines)
        command = [sys.executable, os.path.join(PACKAGING, "build_msi.py"), "--output", output]
        for key, value in defines.items():
            command += ["--define", "%s=%s" % (key, value)]
        run = subprocess.run(command + list(sources), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, timeout=120)
        if run.returncode != 0:
            raise winelab.WineError("build_msi.py %s: %s" % (name, run.stdout))
        return self.prefix.install(output, "C:\\plgtest\\" + name)

    def next_build(self, step):
        """This package built as the build `step` numbers later: (its path in
        the prefix, its version)."""
        major, minor, build = self.version.split(".")
        version = "%s.%s.%d" % (major, minor, int(build) + step)
        return self.build_package("Pellagor-%s-x64.msi" % version,
                                  ProductVersion=version), version

    def files_in(self, folder):
        """The payload's files present in `folder`."""
        return [name for name in PAYLOAD
                if os.path.exists(self.prefix.unix_path(folder + name))]

    def other_payload(self, name):
        """plgreg.exe with one byte more at its end (it runs the same): a
        payload of its own for a package of the same version; its path."""
        copy = os.path.join(self.prefix.logs, name)
        with open(self.args.tool, "rb") as source, open(copy, "wb") as target:
            target.write(source.read() + b"\0")
        return copy

    def installed(self):
        """DisplayVersion of each installed Pellagor, sorted."""
        return installed_versions(self.snapshot())

    def msiexec(self, *arguments, wanted=0, debug=None):
        """msiexec ARGUMENTS /qn /l*v LOG through exit_code.exe, which sees the
        whole exit code: an MsiRun."""
        self.runs += 1
        log = "C:\\plgtest\\msiexec-%d.log" % self.runs
        what = "msiexec " + " ".join(arguments)
        started = time.monotonic()
        run = self.prefix.run(EXIT_CODE_PATH, "msiexec", *arguments, "/qn", "/l*v", log,
                              debug=debug, timeout=180)
        seconds = time.monotonic() - started
        code = int(run.stdout.split("exit=")[1]) if "exit=" in run.stdout else None
        if wanted is not None and not self.checks.equal(code, wanted, what + " exit code"):
            print(run.describe())
        try:
            with open(self.prefix.unix_path(log), "rb") as f:
                text = winelab.decode_reg_text(f.read())
        except OSError:
            text = ""
        print("%s: exit code %s in %.1f s" % (what, code, seconds))
        return MsiRun(code, text, seconds, run.stderr)

    def verify(self, tool, wanted, state, *arguments):
        """plgreg verify ARGUMENTS on the live registry, as a fleet's
        detection check runs it, in both formats: the exit code, and the
        state in the text's last line and in the JSON, which is printed."""
        run = self.prefix.run(tool, "verify", *arguments)
        self.checks.exit_code(run, wanted, "plgreg verify")
        lines = run.stdout.strip().splitlines()
        self.checks.true(lines and lines[-1].startswith(state + ": "),
                         "plgreg verify: last line %r, expected the state %r"
                         % (lines[-1:], state))
        run = self.prefix.run(tool, "verify", "--format", "json", *arguments)
        self.checks.exit_code(run, wanted, "plgreg verify --format json")
        try:
            result = json.loads(run.stdout)
        except ValueError:
            result = {}
        self.checks.equal(result.get("state"), state, "plgreg verify --format json: state")
        print("%s verify --format json%s (exit code %d):\n%s"
              % (tool, "".join(" " + a for a in arguments), run.returncode, run.stdout.strip()))
        return result

    def detect(self, tool, wanted, *arguments):
        """plgreg detect on the live registry, as Intune and Configuration
        Manager run a detection script: exit 0 and `wanted` on standard
        output (a line for installed, "" for not installed), nothing on
        standard error; printed."""
        run = self.prefix.run(tool, "detect", *arguments)
        print("%s detect%s (exit code %d): stdout %r, stderr %r"
              % (tool, "".join(" " + a for a in arguments), run.returncode, run.stdout,
                 run.stderr.strip()))
        self.checks.exit_code(run, 0, "plgreg detect")
        self.checks.equal((run.stdout, run.stderr), (wanted, ""), "plgreg detect: output")

    def short_name(self, folder, name):
        """The 8.3 name that Wine gives the file `name` in `folder`, as
        `dir /x` shows it."""
        run = self.prefix.run("cmd", "/c", "dir", "/x", folder, check=True)
        for line in run.stdout.splitlines():
            fields = line.split()
            if fields[-1:] == [name] and len(fields) >= 2 and "~" in fields[-2]:
                return fields[-2]
        raise winelab.WineError("dir /x %s shows no short name of %s:\n%s"
                                % (folder, name, run.stdout))

    def module_file_present(self):
        return os.path.exists(self.prefix.unix_path(INSTALLED_MODULE_PATH))


PACKAGE_SCENARIOS = set()


def package_scenario(function):
    """A scenario that runs in a PackageLab."""
    PACKAGE_SCENARIOS.add(function.__name__)
    return scenario(function)


def install_package(lab, *seeds, properties=()):
    """Seeds the machine, installs the package with the public `properties`
    ("NAME=VALUE"): (before, after)."""
    lab.seed(*seeds)
    before = lab.snapshot()
    lab.msiexec("/i", PACKAGE_PATH, *properties)
    return before, lab.snapshot()


def check_installed(lab, before, after, wanted, what):
    """The module's keys as `wanted`, nothing outside them changed but the
    installer's records, the product installed once."""
    checks = lab.checks
    checks.tree(module_view(after), wanted, "%s: module's keys" % what)
    outside = winelab.changes_outside_product(without_installer_records(before),
                                              without_installer_records(after))
    checks.true(not outside, "%s changed keys that are not the product's:\n  %s"
                % (what, "\n  ".join(outside)))
    checks.equal(installed_versions(after), [lab.version], "%s: installed versions" % what)
    checks.true(lab.module_file_present(), "%s: the module file is missing" % what)
    checks.true(not winelab.subtree(after, ROLLBACK_RECORDS),
                "%s: the commit left a rollback record" % what)


@package_scenario
def msi_install(lab):
    """msiexec /i on the machine of clean_registration: the installed module
    and plgreg.exe are byte for byte the files given (--dll, --tool: the
    signed ones for a release's package), the registry holds what regsvr32
    writes there, and regsvr32 run again on the installed module changes
    nothing; plgreg verify, from the product folder, finds the machine
    registered."""
    before, after = install_package(lab, *SEED_TWO_VIEWS)
    for given, installed in ((lab.args.dll, INSTALLED_MODULE_PATH),
                             (lab.args.tool, INSTALLED_TOOL_PATH)):
        lab.checks.true(same_file(given, lab.prefix.unix_path(installed)),
                        "%s is not %s" % (installed, os.path.basename(given)))
    check_installed(lab, before, after, installed_registration(), "msiexec /i")
    again = lab.quiet_regsvr32(["/s"], after, module=INSTALLED_MODULE_PATH)
    lab.checks.same_tree(again, after, "HKLM\\Software after regsvr32 on the installed module")
    result = lab.verify(INSTALLED_TOOL_PATH, 0, "registered")
    lab.checks.equal((result.get("missing"), result.get("different"), result.get("left_over")),
                     ([], [], []), "plgreg verify --format json: findings")
    entry = after.get(UNINSTALL_KEY + "\\" + lab.product_code, {})
    lab.checks.equal({name: entry.get(name) for name in ARP_VALUES}, ARP_VALUES,
                     "Add/Remove Programs entry")
    # The icon, cached by the installer (Windows shows it as DisplayIcon;
    # Wine keeps it in the product's record), is the module's first.
    icons = [values["ProductIcon"][1] for key, values in after.items()
             if key.lower().startswith("hkey_classes_root\\installer\\products\\")
             and "ProductIcon" in values]
    lab.checks.true(len(icons) == 1 and same_file(PRODUCT_ICON, lab.prefix.unix_path(icons[0])),
                    "Add/Remove Programs icon: %r" % icons)


@package_scenario
def msi_repair(lab):
    """The installed product loses its module file and its document type;
    a repair that reinstalls every file brings both back as installed.
    Wine's msiexec refuses /fa with a product code (and takes a package
    path for one): that is shown, then the same repair is asked for with
    the properties /fa stands for, REINSTALL=ALL REINSTALLMODE=a."""
    checks, prefix = lab.checks, lab.prefix
    before, installed = install_package(lab, *SEED_TWO_VIEWS)
    os.remove(prefix.unix_path(INSTALLED_MODULE_PATH))
    prefix.reg("delete", "HKCR\\Pellagor Language", "/f", check=True)
    repair = lab.msiexec("/fa", lab.product_code, wanted=None, debug="fixme+all")
    if repair.code != 0:
        checks.true(repair.code == 1 and WINE_REPAIR_REFUSED in repair.stderr,
                    "msiexec /fa failed (%s) other than as Wine 8 does" % repair.code)
        checks.true(not lab.module_file_present(), "msiexec /fa did something after all")
        lab.msiexec("/i", PACKAGE_PATH, "REINSTALL=ALL", "REINSTALLMODE=a")
    repaired = lab.snapshot()
    check_installed(lab, before, repaired, installed_registration(), "repair")
    checks.same_tree(without_installer_records(repaired), without_installer_records(installed),
                     "HKLM\\Software after the repair")
    # Without the shared system, a repair would write command lines that
    # start no program: it stops at the launch condition, and so does an
    # upgrade, changing nothing. Only the removal goes ahead.
    newer, _ = lab.next_build(1)
    prefix.reg("delete", KELSYS_KEY + "\\38.0\\Dir", "/f", check=True)
    broken = lab.snapshot()
    for what, arguments in (("repair", ["/i", PACKAGE_PATH, "REINSTALL=ALL",
                                        "REINSTALLMODE=omus"]), ("upgrade", ["/i", newer])):
        run = lab.msiexec(*arguments, wanted=ERROR_INSTALL_FAILURE)
        checks.true(re.search(FAILED_ACTION % "LaunchConditions", run.log),
                    "%s without the shared system: not refused by a launch condition" % what)
        checks.same_tree(lab.snapshot(), broken, "%s without the shared system: HKLM\\Software"
                         % what)
        checks.true(same_file(lab.args.dll, prefix.unix_path(INSTALLED_MODULE_PATH)),
                    "%s without the shared system: the module file changed" % what)
    lab.msiexec("/x", PACKAGE_PATH)
    checks.equal((lab.installed(), lab.files_in(PACKAGE_FOLDER)), ([], []),
                 "installed versions and files after msiexec /x without the shared system")


@package_scenario
def msi_uninstall(lab):
    """msiexec /x after msiexec /i: the machine is as before apart from the
    empty product key and the Options key (and the installer's emptied
    record keys); the module file is gone; plgreg verify (a copy kept
    outside the product folder) finds the module missing."""
    checks = lab.checks
    before, _ = install_package(lab, *SEED_TWO_VIEWS)
    lab.tool("tool", TOOL_COPY_PATH)
    lab.msiexec("/x", PACKAGE_PATH)
    after = lab.snapshot()
    checks.same_tree(without_installer_records(after),
                     winelab.merge(without_installer_records(before),
                                   expected("unregistered_product.reg")),
                     "HKLM\\Software after msiexec /x")
    checks.equal(installed_versions(after), [], "installed versions after msiexec /x")
    checks.true(not lab.module_file_present(), "the module file is left after msiexec /x")
    result = lab.verify(TOOL_COPY_PATH, 1, "module missing")
    missing = [item.get("key") for item in result.get("missing", [])]
    checks.true(missing, "plgreg verify --format json: nothing missing")
    # The container of the class keys is there; only the keys beneath it went.
    checks.true("HKEY_CLASSES_ROOT\\CLSID" not in missing,
                "plgreg verify names HKEY_CLASSES_ROOT\\CLSID as missing")


# A folder of the installer's choosing, as a fleet's deployment may give.
CUSTOM_FOLDER = "C:\\Apps\\Pellagor\\"


@package_scenario
def msi_detection(lab):
    """The detection rule of a fleet's management tool, in every state a
    package can leave. Installed with INSTALLFOLDER=C:\\Apps\\Pellagor\\ and
    run as c:\\apps\\pellagor\\plgreg.exe (another letter case than the
    module path that registration wrote), plgreg compares the module beside
    it and finds the machine registered, this version current, and so it
    does given the module by its 8.3 short name; with
    version 37.0 registered after it (its marker, its product version key,
    its module in the shared document type), registered but not current;
    registered again, then with the module file moved away, module missing;
    with one of the product's entries deleted, partly registered; with the
    shared system's Dir key deleted, shared system missing, whatever else is
    there; after the removal, a copy of plgreg.exe kept outside the folder
    finds the module missing, and with a copy of the module beside it, not
    registered. verify exits 0 only when registered; detect prints one line
    then and nothing in every other state, exit 0, and exits 2 when it
    cannot tell. The removal, given no folder, finds the module where it
    was installed."""
    checks, prefix = lab.checks, lab.prefix
    tool = CUSTOM_FOLDER.lower() + "plgreg.exe"
    module = CUSTOM_FOLDER + "plgproduct.dll"
    found = "registered: Pellagor 38.0, module file version 38.0.0.380\n"
    install_package(lab, *SEED_TWO_VIEWS, properties=["INSTALLFOLDER=" + CUSTOM_FOLDER])
    checks.true(os.path.exists(prefix.unix_path(module)), "the module is not in %s" % CUSTOM_FOLDER)
    result = lab.verify(tool, 0, "registered")
    # Wine gives the program's path as typed, the drive letter upper-cased.
    compared = result.get("module_path", "")
    checks.true(compared != module and compared.lower() == module.lower(),
                "plgreg verify --format json: module_path %r, expected %r in another case"
                % (compared, module))
    checks.equal((result.get("schema"), result.get("current"), result.get("module_file")),
                 (2, True, {"present": True, "problem": None, "product_name": "Pellagor",
                            "file_version": "38.0.0.380"}),
                 "plgreg verify --format json: schema, current, module_file")
    checks.true(re.fullmatch(r"38\.0\.[0-9]+", result.get("plgreg", "")),
                "plgreg verify --format json: plgreg %r" % result.get("plgreg"))
    lab.detect(tool, found)
    short = CUSTOM_FOLDER + lab.short_name(CUSTOM_FOLDER, "plgproduct.dll")
    lab.verify(tool, 0, "registered", "--module-path", short)

    prefix.reg_import(SEED_OTHER_VERSION)
    prefix.reg_import(SEED_OTHER_VERSION_REGISTERED)
    result = lab.verify(tool, 0, "registered")
    checks.equal((result.get("current"), result.get("current_version")), (False, "37.0"),
                 "another version current: current, current_version")
    lab.detect(tool, "registered: Pellagor 38.0, not current (37.0 is), module file version "
               "38.0.0.380\n")
    run, _ = lab.regsvr32("/s", module=module)
    checks.exit_code(run, 0, "regsvr32 /s " + module)
    lab.verify(tool, 0, "registered")

    quarantined = prefix.unix_path(module) + ".quarantined"
    os.rename(prefix.unix_path(module), quarantined)
    result = lab.verify(tool, 1, "module missing")
    checks.equal(result.get("module_file", {}).get("present"), False, "module_file.present")
    lab.detect(tool, "")
    os.rename(quarantined, prefix.unix_path(module))

    prefix.reg("delete", "HKCR\\.plgf", "/f", check=True)
    lab.verify(tool, 1, "partly registered")
    lab.detect(tool, "")
    prefix.reg("delete", KELSYS_KEY + "\\38.0\\Dir", "/f", check=True)
    lab.verify(tool, 1, "shared system missing")
    lab.detect(tool, "")
    run = prefix.run(tool, "detect", "--bogus")
    print("%s detect --bogus (exit code %d): stdout %r, stderr %r"
          % (tool, run.returncode, run.stdout, run.stderr.strip()))
    checks.equal((run.returncode, run.stdout, run.stderr.startswith("plgreg: ")), (2, "", True),
                 "plgreg detect --bogus: exit code, stdout, a message")

    prefix.reg_import(SEED_SHARED_SYSTEM)
    lab.tool("tool", TOOL_COPY_PATH)
    lab.msiexec("/x", PACKAGE_PATH)
    checks.true(not os.path.exists(prefix.unix_path(module)),
                "msiexec /x did not find the module in %s" % CUSTOM_FOLDER)
    lab.verify(TOOL_COPY_PATH, 1, "module missing")
    lab.detect(TOOL_COPY_PATH, "")
    prefix.install(lab.args.dll, TOOL_COPY_PATH.rsplit("\\", 1)[0] + "\\plgproduct.dll")
    lab.verify(TOOL_COPY_PATH, 1, "not registered")
    lab.detect(TOOL_COPY_PATH, "")


@package_scenario
def msi_other_product(lab):
    """Another product stays registered with the shared system: removing
    the package keeps the library suffix and ProgID and the other product's
    Options value, as regsvr32 /u does."""
    checks = lab.checks
    before, after = install_package(lab, *SEED_TWO_VIEWS, SEED_OTHER_PRODUCT)
    check_installed(lab, before, after,
                    installed_registration(read_reg_file(SEED_OTHER_PRODUCT)), "msiexec /i")
    lab.msiexec("/x", PACKAGE_PATH)
    removed = lab.snapshot()
    checks.same_tree(classes(without_installer_records(removed)),
                     winelab.merge(classes(before), moved(expected("other_product_left.reg"),
                                                          PACKAGE_FOLDER)),
                     "HKEY_CLASSES_ROOT after msiexec /x")
    checks.tree(winelab.subtree(removed, EXPORTED_ROOT), expected("unregistered_tolvanics.reg"),
                "company key after msiexec /x")


# Where a deployment moves the product to, naming another folder.
MOVED_FOLDER = "C:\\Apps\\Pellagor moved\\"


@package_scenario
def msi_upgrade(lab):
    """Three 38.0 builds in turn, as supersedence deployments run them: this
    one into INSTALLFOLDER=C:\\Apps\\Pellagor\\, the next build without
    properties, which stays in that folder, and the one after it into
    another folder, which it moves to, on a machine where others added
    values under .plgf. Each major upgrade removes the build before it
    without its unregistration (the marker tells Wine's removal process)
    and registers over it: one product is installed each time, with its
    files and its Add/Remove Programs entry in its folder, no file in the
    other folders, the registration names the module there, others' values
    are still there, and no marker is left. This build, given again, is
    refused as a downgrade and changes nothing; a removal of the last one
    unregisters, others' values under .plgf with it, as it always has."""
    checks = lab.checks
    others_added = read_reg_file(SEED_OTHERS_ADDED)
    steps = [(PACKAGE_PATH, lab.version, ["INSTALLFOLDER=" + CUSTOM_FOLDER], CUSTOM_FOLDER)]
    for step, properties, folder in ((1, [], CUSTOM_FOLDER),
                                     (2, ["INSTALLFOLDER=" + MOVED_FOLDER], MOVED_FOLDER)):
        steps.append(lab.next_build(step) + (properties, folder))
    lab.seed(*SEED_TWO_VIEWS, SEED_OTHERS_ADDED)
    for number, (package, version, properties, folder) in enumerate(steps):
        what = "%s%s" % (version, " " + properties[0] if properties else "")
        run = lab.msiexec("/i", package, *properties)
        checks.true(not number or re.search(SUCCEEDED_ACTION % "RemoveExistingProducts", run.log)
                    and MARKER_LEFT.search(run.log),
                    "%s: the log shows no RemoveExistingProducts, or no marker left" % what)
        after = lab.snapshot()
        checks.tree(module_view(after), installed_registration(others_added, folder=folder),
                    "%s: module's keys, others' values under .plgf" % what)
        checks.equal(winelab.subtree(after, UPGRADE_MARKERS), {},
                     "%s: upgrade markers left" % what)
        checks.equal(installed_products(after), [(PRODUCT_NAME, version, folder)],
                     "%s: installed products" % what)
        checks.equal({other: lab.files_in(other)
                      for other in (PACKAGE_FOLDER, CUSTOM_FOLDER, MOVED_FOLDER)},
                     {other: PAYLOAD if other == folder else []
                      for other in (PACKAGE_FOLDER, CUSTOM_FOLDER, MOVED_FOLDER)},
                     "%s: files" % what)
    run = lab.msiexec("/i", PACKAGE_PATH, wanted=ERROR_INSTALL_FAILURE)
    checks.true(re.search(FAILED_ACTION % "LaunchConditions", run.log),
                "the older build over a newer one: not refused by a launch condition")
    checks.same_tree(lab.snapshot(), after, "HKLM\\Software after the refused downgrade")
    lab.msiexec("/x", steps[-1][0])
    checks.equal(winelab.subtree(lab.snapshot(), CLASSES_ROOT + "\\.plgf"), {},
                 ".plgf after msiexec /x: the removal did not unregister")
    # A failed upgrade: the build it would replace keeps its registration,
    # others' values with it, and no marker or record is left. (Wine has
    # removed that build in a process of its own, which nothing rolls back:
    # it is no longer installed there. Windows Installer rolls that removal
    # back with the rest.)
    lab.seed(SEED_OTHERS_ADDED)
    lab.msiexec("/i", PACKAGE_PATH)
    before = lab.snapshot()
    failing = failing_package(lab, "failing_upgrade", FAILING_INSTALLATION_SEQUENCE,
                              ProductVersion=steps[1][1])
    run = lab.msiexec("/i", failing, wanted=ERROR_FUNCTION_FAILED)
    checks.true(MARKER_LEFT.search(run.log), "the failed upgrade left no marker: no upgrade")
    after = lab.snapshot()
    checks.tree(module_view(after), module_view(before), "module's keys after the failed upgrade")
    checks.equal((winelab.subtree(after, UPGRADE_MARKERS), winelab.subtree(after, ROLLBACK_RECORDS)),
                 ({}, {}), "markers and rollback records left by the failed upgrade")


@package_scenario
def msi_rebuild(lab):
    """A rebuild of the same version with another payload is another
    product, and replaces the installed one: one entry, registered. A
    removal asked of the package that is no longer installed changes
    nothing; removing the installed one leaves nothing of the product."""
    checks = lab.checks
    rebuild = lab.build_package("rebuild.msi", ToolFile=lab.other_payload("plgreg.exe"))
    rebuild_code = package_property(lab.prefix.unix_path(rebuild), "ProductCode")
    checks.true(rebuild_code != lab.product_code, "the rebuild has the same ProductCode")
    before, _ = install_package(lab, *SEED_TWO_VIEWS)
    lab.msiexec("/i", rebuild)
    replaced = lab.snapshot()
    check_installed(lab, before, replaced, installed_registration(), "the rebuild")
    checks.true(("HKEY_CLASSES_ROOT\\Installer\\Products\\" + packed_guid(rebuild_code))
                .lower() in {key.lower() for key in replaced}, "the rebuild is not the product")
    lab.msiexec("/x", PACKAGE_PATH, wanted=None)
    checks.same_tree(lab.snapshot(), replaced, "HKLM\\Software after msiexec /x of a package "
                     "that is not installed")
    lab.msiexec("/x", rebuild)
    checks.same_tree(without_installer_records(lab.snapshot()),
                     winelab.merge(without_installer_records(before),
                                   expected("unregistered_product.reg")),
                     "HKLM\\Software after msiexec /x of the rebuild")
    checks.equal(lab.installed(), [], "installed versions after msiexec /x")


@package_scenario
def msi_missing_module(lab):
    """The module file gone (quarantined, deleted) from a custom folder:
    the removal still finds the folder (from the product's own entry, as
    no component search finds a missing file), unregisters as with the file
    there (the custom action comes from the package), and removes what the
    package installed."""
    checks = lab.checks
    before, _ = install_package(lab, *SEED_TWO_VIEWS,
                                properties=["INSTALLFOLDER=" + CUSTOM_FOLDER])
    os.remove(lab.prefix.unix_path(CUSTOM_FOLDER + "plgproduct.dll"))
    lab.msiexec("/x", PACKAGE_PATH)
    checks.same_tree(without_installer_records(lab.snapshot()),
                     winelab.merge(without_installer_records(before),
                                   expected("unregistered_product.reg")),
                     "HKLM\\Software after msiexec /x without the module file")
    checks.equal((lab.installed(), lab.files_in(CUSTOM_FOLDER)), ([], []),
                 "installed versions and files after msiexec /x")


# A stand-in for an installed product of another major: this package's
# source with 37.0's UpgradeCode, component GUIDs, folder and name (the same
# payload; its registration is not what it stands for).
OTHER_MAJOR = [
    ("{984CFD0A-5CDA-4AD3-A5FF-84D4585A4617}", "{6726C4CC-B490-4D31-8881-2025D89E0A82}"),
    ("{152EC614-D52C-4FC9-9998-375416AFFCDE}", "{625A1F23-F3FC-4534-A346-852DF75F3C78}"),
    ("{A71628E8-A53B-48E3-9DFD-947DEA313FF9}", "{1C669BE2-D0DA-4176-AB32-202335B83E48}"),
    ("{A8248472-87D9-4AFB-9FA9-D96BEE1D80F2}", "{98825E46-F78C-4E91-97B3-486C71E8365D}"),
    ('Name="Pellagor 38.0"', 'Name="Pellagor 37.0"'), ('Name="38.0"', 'Name="37.0"'),
    ('Minimum="38.0.0"', 'Minimum="37.0.0"'),
]
OTHER_MAJOR_FOLDER = "C:\\Program Files\\Pellagor\\37.0\\"


def source_copy(lab, name, replacements):
    """The package's source with each (old, new) of `replacements` made
    (each must be there), written among the prefix's logs; its path."""
    with open(PACKAGE_SOURCE, encoding="utf-8") as f:
        source = f.read()
    for old, new in replacements:
        if old not in source:
            raise winelab.WineError("%s: %r is not in the package's source" % (name, old))
        source = source.replace(old, new)
    path = os.path.join(lab.prefix.logs, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(source)
    return path


@package_scenario
def msi_two_majors(lab):
    """The stand-in 37.0 installed, then 38.0: both products are installed,
    two Add/Remove Programs entries and two folders with their files, and
    38.0 registered from its folder. Removing 38.0 leaves 37.0's entry,
    folder and files; a repair of 37.0 then registers it again, from its
    own folder."""
    checks = lab.checks
    other = lab.build_package("Pellagor-37.0.0-x64.msi",
                              [source_copy(lab, "other_major.wxs", OTHER_MAJOR)],
                              ProductVersion="37.0.0")
    lab.seed(*SEED_TWO_VIEWS)
    lab.msiexec("/i", other)
    lab.msiexec("/i", PACKAGE_PATH)
    both = lab.snapshot()
    checks.equal(installed_products(both), [("Pellagor 37.0", "37.0.0", OTHER_MAJOR_FOLDER),
                                            (PRODUCT_NAME, lab.version, PACKAGE_FOLDER)],
                 "installed products")
    checks.equal((lab.files_in(OTHER_MAJOR_FOLDER), lab.files_in(PACKAGE_FOLDER)),
                 (PAYLOAD, PAYLOAD), "files of 37.0 and 38.0")
    checks.tree(module_view(both), installed_registration(), "module's keys with both")
    lab.msiexec("/x", PACKAGE_PATH)
    checks.equal((installed_products(lab.snapshot()), lab.files_in(OTHER_MAJOR_FOLDER),
                  lab.files_in(PACKAGE_FOLDER)),
                 ([("Pellagor 37.0", "37.0.0", OTHER_MAJOR_FOLDER)], PAYLOAD, []),
                 "installed products and files of 37.0 and 38.0 after removing 38.0")
    lab.msiexec("/i", other, "REINSTALL=ALL", "REINSTALLMODE=omus")
    checks.tree(module_view(lab.snapshot()), installed_registration(folder=OTHER_MAJOR_FOLDER),
                "module's keys after the repair of 37.0")


# Test copies of the package that fail late, as any later action of a real
# installation or removal can: a deferred action that fails after the
# registration (5010) or the unregistration (2590).
FAILING_ACTION = """
    <CustomAction Id="FailLate" Directory="System64Folder"
                  ExeCommand="&quot;[System64Folder]cmd.exe&quot; /c exit 7"
                  Execute="deferred" Impersonate="no" Return="check" />
"""
FAILING_INSTALLATION_SEQUENCE = """
      <Custom Action="FailLate" Sequence="5020">NOT REMOVE~="ALL"</Custom>
"""
FAILING_REMOVAL_SEQUENCE = """
      <Custom Action="FailLate" Sequence="3460">REMOVE~="ALL"</Custom>
"""


# A test copy whose rollback is disabled, as the DisableRollback action or a
# policy disables it (Wine's msiexec takes no private property from its
# command line).
ROLLBACK_DISABLED = """
    <CustomAction Id="DisableRollbackHere" Property="RollbackDisabled" Value="1" />
"""
ROLLBACK_DISABLED_SEQUENCE = """
      <Custom Action="DisableRollbackHere" Sequence="1002" />
"""


def failing_package(lab, name, sequence, actions=FAILING_ACTION, **defines):
    """A test copy of the package with `actions` (FAILING_ACTION) in
    `sequence`, built with `defines`; its path in the prefix."""
    failing = source_copy(lab, name + ".wxs", [(
        "    <InstallExecuteSequence>", actions + "    <InstallExecuteSequence>" + sequence)])
    return lab.build_package(name + ".msi", [failing], **defines)


def check_restored(lab, before, after, what):
    """HKLM\\Software (HKEY_CLASSES_ROOT with it) byte for byte as `before`,
    the installer's records aside, and no rollback record left; prints the
    number of changed keys and values."""
    changed = winelab.registry_changes(without_installer_records(before),
                                       without_installer_records(after))
    print("%s: %d changed keys and values" % (what, len(changed)))
    lab.checks.same_tree(without_installer_records(after), without_installer_records(before),
                         "HKLM\\Software after " + what)
    lab.checks.true(not winelab.subtree(after, ROLLBACK_RECORDS),
                    "%s: a rollback record is left" % what)


@package_scenario
def msi_failed_removal(lab):
    """A removal that fails after the unregistration rolls back to a
    working machine, on a machine where another product is registered: the
    module file there, the registration put back byte for byte from the
    rollback record (UnregisterModuleRollback), no record left, nothing
    else changed."""
    checks = lab.checks
    package = failing_package(lab, "failing_removal", FAILING_REMOVAL_SEQUENCE)
    lab.seed(*SEED_TWO_VIEWS, SEED_OTHER_PRODUCT)
    before = lab.snapshot()
    lab.msiexec("/i", package)
    installed = lab.snapshot()
    removal = lab.msiexec("/x", package, wanted=ERROR_FUNCTION_FAILED)
    checks.true(re.search(STARTED_ACTION % "UnregisterModuleRollback", removal.log),
                "the log shows no UnregisterModuleRollback")
    after = lab.snapshot()
    checks.same_tree(module_view(after), module_view(installed),
                     "module's keys after the failed removal")
    checks.true(not winelab.subtree(after, ROLLBACK_RECORDS), "a rollback record is left")
    print("failed removal: %d changed keys and values in the module's keys"
          % len(winelab.registry_changes(module_view(installed), module_view(after))))
    checks.true(lab.module_file_present(), "the module file is gone after the failed removal")
    # Windows Installer restores its records of the product too; Wine 8's
    # rollback leaves them removed, though files and registration are back.
    if installed_versions(after) != installed_versions(installed):
        print("Wine: the rollback did not restore the installer's records of the product")
    checks.true(not winelab.changes_outside_product(without_installer_records(before),
                                                    without_installer_records(after)),
                "the failed removal changed keys that are not the product's")


# Machines the package refuses, each with the msiexec arguments tried there:
# no shared system, the shared system in the 32-bit view only, and a
# per-user installation asked for in both ways.
REFUSED = [
    ("no shared system", [], []),
    ("32-bit view only", [os.path.join(HERE, "seed", "two_views.reg")], []),
    ("ALLUSERS empty", SEED_TWO_VIEWS, ["ALLUSERS="]),
    ("MSIINSTALLPERUSER", SEED_TWO_VIEWS, ["ALLUSERS=2", "MSIINSTALLPERUSER=1"]),
]


@package_scenario
def msi_refused(lab):
    """On each machine of REFUSED the installation fails at its launch
    conditions (1603, under Wine as under Windows), changes nothing and
    leaves no file. (Wine's msiexec /qn writes the condition's message
    nowhere; package.tables checks the messages.)"""
    checks, seeded = lab.checks, []
    for what, seeds, properties in REFUSED:
        lab.seed(*[seed for seed in seeds if seed not in seeded])
        seeded.extend(seeds)
        before = lab.snapshot()
        run = lab.msiexec("/i", PACKAGE_PATH, *properties, wanted=ERROR_INSTALL_FAILURE)
        checks.true(re.search(FAILED_ACTION % "LaunchConditions", run.log),
                    "%s: not refused by a launch condition" % what)
        checks.same_tree(lab.snapshot(), before, "%s: HKLM\\Software" % what)
        checks.true(not os.path.exists(lab.prefix.unix_path(INSTALLED_TOOL_PATH))
                    and not lab.module_file_present(), "%s: files installed" % what)


# A message of the custom action in the installer's log: its text, its key
# and the registry's error with the system's text.
LOGGED_MESSAGE = re.compile(r"^Pellagor: (.+?); key (.+?); error (\d+): (.+)$", re.M)
# The package's Error row of a failed registration, as the log shows it.
REGISTRATION_FAILED = re.compile(r"^Pellagor could not be registered: (.+) \((\d+) further "
                                 r"registration errors followed; the installation log lists "
                                 r"each\.\)$", re.M)
# The product key refused beneath the volatile company key, then the six
# host settings keys beneath it, in the order registration reaches them.
PRODUCT_VERSION_KEY = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\"
VOLATILE_FAILURES = [
    ("Unable to create Application Name key", "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor"),
    ("Unable to open customization  key", PRODUCT_VERSION_KEY + "Customization"),
    ("Unable to create Menu Help key", PRODUCT_VERSION_KEY + "Menus\\Help"),
    ("Unable to create menu customization key", PRODUCT_VERSION_KEY + "Menus\\Customization"),
    # The default libraries step spells the path so.
    ("Unable to create default library key",
     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvanics\\Pellagor\\38.0\\Default Libraries"),
    ("Unable to open PFS CLSID key", PRODUCT_VERSION_KEY + "PFSView"),
    ("Unable to open GUI defaults key", PRODUCT_VERSION_KEY + "GUIDefaults"),
]


@package_scenario
def msi_failed_registration(lab):
    """Software\\Tolvanics volatile, so that registration fails, with a
    display (Xvfb): msiexec ends within 60 s with 1603 and no window ever
    appears. The verbose log shows, inside RegisterModule, each message
    with its key and the registry's error 1021 with its text, then the
    package's Error row naming the first failure and how many followed;
    the rollback (RegisterModuleRollback) puts the record back: the
    registry is byte for byte as before, no record is left, the module
    file is gone and the product is not installed."""
    checks, prefix = lab.checks, lab.prefix
    if not checks.equal(screen.missing_tools(), [], "display tools missing"):
        return
    log = "C:\\plgtest\\msiexec-failed.log"
    with screen.xvfb(log_path=os.path.join(prefix.logs, "xvfb.log")) as display:
        prefix.env["DISPLAY"] = display.name
        with prefix.persistent_server():
            lab.make_company_volatile()
            lab.seed(*SEED_TWO_VIEWS, SEED_OTHER_PRODUCT)
            before = lab.snapshot()
            # What is on the screen already (the root window) is not new.
            shown_before = display.visible_windows()
            started = time.monotonic()
            install = prefix.start([EXIT_CODE_PATH, "msiexec", "/i", PACKAGE_PATH, "/qn",
                                    "/l*v", log])
            windows = {}
            while install.process.poll() is None and time.monotonic() - started < 60:
                windows.update(display.visible_windows())
                time.sleep(0.2)
            run = install.wait(timeout=max(1, 60 - (time.monotonic() - started)))
            seconds = time.monotonic() - started
            after = lab.snapshot()
    print("msiexec /i: %s in %.1f s" % (run.stdout.strip(), seconds))
    checks.true(seconds < 60, "msiexec still running after 60 s")
    checks.equal(run.stdout.strip(), "exit=%d" % ERROR_INSTALL_FAILURE, "msiexec exit code")
    checks.equal({window: title for window, title in windows.items()
                  if window not in shown_before}, {}, "windows that appeared")
    with open(prefix.unix_path(log), "rb") as f:
        text = winelab.decode_reg_text(f.read())
    started = re.search(STARTED_ACTION % "RegisterModule", text)
    failed = re.search(FAILED_ACTION % "RegisterModule", text)
    if not checks.true(started and failed, "the log does not name RegisterModule as failed"):
        return
    inside = text[started.end():failed.start()]
    print("the log of RegisterModule:\n" + inside.strip())
    checks.true(RECORD_RIGHTS in inside, "the log shows no record with the rights of SYSTEM "
                "and Administrators only")
    logged = LOGGED_MESSAGE.findall(inside)
    checks.equal([(message, key) for message, key, _, _ in logged], VOLATILE_FAILURES,
                 "messages and keys in the log")
    checks.equal({(error, bool(system_text)) for _, _, error, system_text in logged},
                 {(str(ERROR_CHILD_MUST_BE_VOLATILE), True)}, "errors in the log")
    shown = REGISTRATION_FAILED.search(inside)
    checks.true(shown and logged and shown.group(1).startswith(
        "%s; key %s" % logged[0][:2]) and shown.group(2) == str(len(logged) - 1),
        "the log shows no Error row naming the first failure and the %d after it"
        % (len(logged) - 1))
    rollback = text[failed.end():]
    checks.true(re.search(STARTED_ACTION % "RegisterModuleRollback", rollback),
                "the log shows no RegisterModuleRollback after the failure")
    checks.true(not lab.module_file_present(), "the module file is left behind")
    checks.equal(installed_versions(after), [], "installed versions")
    check_restored(lab, before, after, "the failed registration")


@package_scenario
def msi_failed_installation(lab):
    """A first installation that fails after the registration, on a machine
    where another version is registered (PLG Application\\CurVer names
    "PLG Application 3700") and others added values under .plgf: the
    rollback record puts every owned key back, so the other version's
    entries and the added values are there as before, byte for byte, and
    no record is left. (Windows Installer undoes the script in reverse
    order, Wine runs the rollback actions after its own rollback; the
    record is put back the same either way. The same rollback of a failed
    upgrade cannot be shown: Wine removes the older build in a process of
    its own.)"""
    package = failing_package(lab, "failing_installation", FAILING_INSTALLATION_SEQUENCE)
    lab.seed(*SEED_TWO_VIEWS, SEED_OTHER_VERSION, SEED_OTHERS_ADDED)
    before = lab.snapshot()
    run = lab.msiexec("/i", package, wanted=ERROR_FUNCTION_FAILED)
    lab.checks.true(re.search(SUCCEEDED_ACTION % "RegisterModule", run.log)
                    and re.search(STARTED_ACTION % "RegisterModuleRollback",
                                  run.log[run.log.find("FailLate"):]),
                    "the log shows no registration, or no rollback after FailLate")
    check_restored(lab, before, lab.snapshot(), "the failed installation")
    # With rollback disabled neither rollback nor commit actions run: no
    # record is taken, none is left.
    run = lab.msiexec("/i", failing_package(lab, "rollback_disabled", ROLLBACK_DISABLED_SEQUENCE,
                                            ROLLBACK_DISABLED))
    lab.checks.true("Pellagor: rollback disabled: no rollback record" in run.log,
                    "the log does not show the registration without a record")
    after = lab.snapshot()
    lab.checks.equal(len(installed_versions(after)), 1, "installed with rollback disabled")
    lab.checks.true(not winelab.subtree(after, ROLLBACK_RECORDS),
                    "a rollback record is left with rollback disabled")


# The seeded machines of the comparison with regsvr32, each seeded on top of
# the one before.
COMPARED_MACHINES = [("shared system", SEED_TWO_VIEWS), ("another product", [SEED_OTHER_PRODUCT]),
                     ("another version", [SEED_OTHER_VERSION])]


@package_scenario
def msi_same_as_regsvr32(lab):
    """On each seeded machine, the package's registration and removal write
    byte for byte what regsvr32 /s /n /i:quiet and its /u write there with
    the module at the installed path: the same module path, entries and
    values."""
    checks, prefix = lab.checks, lab.prefix
    for what, seeds in COMPARED_MACHINES:
        lab.seed(*seeds)
        prefix.install(lab.args.dll, INSTALLED_MODULE_PATH)
        seeded = lab.snapshot()
        by_regsvr32 = lab.quiet_regsvr32(["/s", "/n", "/i:quiet"], seeded,
                                         module=INSTALLED_MODULE_PATH)
        removed_by_regsvr32 = lab.quiet_regsvr32(["/u", "/s", "/n", "/i:quiet"], by_regsvr32,
                                                 module=INSTALLED_MODULE_PATH)
        os.remove(prefix.unix_path(INSTALLED_MODULE_PATH))
        lab.msiexec("/i", PACKAGE_PATH)
        checks.same_tree(module_view(lab.snapshot()), module_view(by_regsvr32),
                         "%s: msiexec /i against regsvr32" % what)
        lab.msiexec("/x", PACKAGE_PATH)
        checks.same_tree(module_view(without_installer_records(lab.snapshot())),
                         module_view(removed_by_regsvr32), "%s: msiexec /x against regsvr32 /u"
                         % what)


FRAGMENT_PRODUCT = os.path.join(HERE, "fragment_product.wxs")
# The plan is made for a module elsewhere: the package must write its own
# path, through [#plgproduct.dll], not this one.
PLANNED_MODULE_PATH = "D:\\Build\\plgproduct.dll"


# What the fragment's package leaves on removal: the entries every product
# of the shared system shares, in its Permanent component.
SHARED_ROOTS = [CLASSES_ROOT + "\\.hvxl", CLASSES_ROOT + "\\Tolvane Model Library",
                CLASSES_ROOT + "\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}",
                EXPORTED_ROOT + "\\Kelsys\\38.0\\Options"]


def shared_entries(tree):
    return winelab.merge(*(winelab.subtree(tree, root) for root in SHARED_ROOTS))


def host_verify_state(lab, tree, what):
    """The state the host build's plgreg verify finds in the image of `tree`."""
    image = lab.write_reg("verify-%s.reg" % what.replace(" ", "-"), image_of(tree))
    run = subprocess.run([lab.args.plgreg, "verify", "--machine", image, "--format", "json"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    try:
        return json.loads(run.stdout).get("state")
    except ValueError:
        return "exit code %d: %r" % (run.returncode, run.stderr)


@package_scenario
def msi_fragment(lab):
    """plgreg's WiX fragment, planned by the host build on the image of a
    machine with the shared system in both views, compiled with
    fragment_product.wxs into a package and installed on that machine: the
    registry then holds what regsvr32 writes there, module path and
    directories included (read at installation from the 64-bit view, where
    the 32-bit view would give release V11's bin and no help or lib). There
    is no difference to name: empty keys come from the Registry rows that
    build_msi.py adds, and every text, tabs and braces included, arrives
    whole. Removed, the package takes the product's own entries and keeps
    its permanent component, the entries every product shares. On a machine
    whose Dir key lacks bin, or gives help as a typed value (a DWORD, which
    the search returns as "#1"), the launch condition stops the
    installation before anything is written."""
    checks, args, prefix = lab.checks, lab.args, lab.prefix
    if not args.plgreg or not os.path.isfile(args.plgreg):
        print("SKIPPED: no host build of plgreg at %r (build the host preset first)"
              % args.plgreg)
        return SKIPPED
    lab.seed(*SEED_TWO_VIEWS)
    before = lab.snapshot()
    image = lab.write_reg("machine.reg", image_of(before))
    fragment = os.path.join(prefix.logs, "fragment.wxs")
    with open(fragment, "wb") as out:
        plan = subprocess.run([args.plgreg, "plan", "register", "--machine", image,
                               "--module-path", PLANNED_MODULE_PATH, "--format", "wxs"],
                              stdout=out, stderr=subprocess.PIPE, timeout=60)
    checks.equal((plan.returncode, plan.stderr.decode("utf-8", "replace")), (0, ""),
                 "plgreg plan register --format wxs (exit code, messages)")
    package = lab.build_package("fragment.msi", [FRAGMENT_PRODUCT, fragment],
                                ModuleFile=os.path.abspath(args.dll))
    lab.msiexec("/i", package)
    installed = lab.snapshot()
    checks.tree(module_view(installed), registered_two_views(),
                "module's keys after the fragment's package")
    checks.equal(host_verify_state(lab, installed, "installed"), "registered",
                 "plgreg verify after the fragment's package")

    lab.msiexec("/x", package)
    removed = lab.snapshot()
    checks.tree(shared_entries(removed), shared_entries(registered_two_views()),
                "shared entries after removing the fragment's package")
    checks.equal(host_verify_state(lab, removed, "removed"), "not registered",
                 "plgreg verify after removing the fragment's package")

    dir_key = KELSYS_KEY + "\\38.0\\Dir"
    for what, change in (("help as a DWORD", ["add", dir_key, "/v", "help", "/t", "REG_DWORD",
                                              "/d", "1", "/f"]),
                         ("no bin", ["delete", dir_key, "/v", "bin", "/f"])):
        prefix.reg(*change, check=True)
        changed = lab.snapshot()
        stopped = lab.msiexec("/i", package, wanted=None)
        checks.true(stopped.code in (ERROR_INSTALL_FAILURE, ERROR_FUNCTION_FAILED),
                    "%s: msiexec /i exit code %s, expected an installation failure"
                    % (what, stopped.code))
        checks.same_tree(without_installer_records(lab.snapshot()),
                         without_installer_records(changed), "%s: HKLM\\Software" % what)


def run_scenario(args):
    started = time.monotonic()
    lab = (PackageLab if args.name in PACKAGE_SCENARIOS else Lab)(args, args.name)
    try:
        if SCENARIOS[args.name](lab) == SKIPPED:
            lab.prefix.remove()
            return SKIPPED
    except winelab.WineError as error:
        lab.checks.true(False, str(error))
    return lab.finish(args.name, started)


def run_contract(args):
    started = time.monotonic()
    # A prefix of the program's own, so that programs run this way can run
    # side by side.
    name = os.path.splitext(os.path.basename(args.exe))[0]
    prefix = winelab.Prefix.copy_of(args.template, os.path.join(args.work, name))
    run = prefix.run(os.path.abspath(args.exe), *args.gtest_args, timeout=300)
    print(run.stdout)
    elapsed = time.monotonic() - started
    if run.returncode != 0:
        print(run.describe())
        print("contract: failed in %.1f s; prefix kept in %s" % (elapsed, prefix.path))
        return 1
    prefix.remove()
    print("contract: passed in %.1f s" % elapsed)
    return 0


def run_main(args):
    """The main job: a fresh machine with the shared system, registered."""
    print("Booting a fresh Wine prefix in %s ..." % args.prefix, flush=True)
    winelab.make_template(args.prefix)
    prefix = winelab.Prefix(args.prefix)
    prefix.install(args.dll, MODULE_PATH)
    prefix.reg_import(SEED_SHARED_SYSTEM)
    prefix.trace_calls(["MessageBoxExA"])
    print("Seeded the shared modelling system (%s)." % os.path.relpath(SEED_SHARED_SYSTEM))
    run = prefix.run("regsvr32", "/s", MODULE_PATH, debug="+relay")
    boxes = winelab.message_boxes(run.stderr)
    print("wine regsvr32 /s \"%s\": exit code %d, %d message box(es)" % (
        MODULE_PATH, run.returncode, len(boxes)))
    for box in boxes:
        print("  message: %r (caption %r, style 0x%x)" % (box[1], box[2], box[3]))
    keys = [PRODUCT_KEY, OPTIONS_KEY] + ["HKCR\\" + key for key in CLASSES_KEYS]
    print("\nWhat it wrote (reg export, one block per key):")
    for key in keys:
        text = prefix.reg_export_text(key)
        print()
        if text is None:
            print("; %s: not present" % key)
        else:
            # Each export starts with the same header line.
            print(text.split("\n", 1)[1].strip().replace("\r\n", "\n"))
    prefix.wait_for_server()
    return 0 if run.returncode == 0 and not boxes else 1


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    template = commands.add_parser("template")
    template.add_argument("dir")
    contract = commands.add_parser("contract")
    contract.add_argument("--template", required=True)
    contract.add_argument("--work", required=True)
    contract.add_argument("exe")
    contract.add_argument("gtest_args", nargs="*")
    one = commands.add_parser("scenario")
    one.add_argument("name", choices=sorted(SCENARIOS))
    one.add_argument("--template", required=True)
    one.add_argument("--work", required=True)
    one.add_argument("--dll", required=True)
    one.add_argument("--helper")
    one.add_argument("--caller")
    one.add_argument("--plgreg", help="the host build of plgreg, for plgreg_plans")
    one.add_argument("--tool", help="plgreg.exe, the Windows build of plgreg")
    one.add_argument("--msi", help="the package, for the msi_ scenarios")
    one.add_argument("--setup", help="plgsetup.dll, the package's custom actions, for the "
                     "test copies of the package")
    one.add_argument("--exit-code", help="exit_code.exe, for the msi_ scenarios")
    commands.add_parser("list")
    job = commands.add_parser("main")
    job.add_argument("--dll", required=True)
    job.add_argument("--prefix", required=True)
    args = parser.parse_args(argv[1:])

    if args.command == "template":
        seconds = winelab.make_template(args.dir)
        print("template prefix booted in %.1f s" % seconds)
        return 0
    if args.command == "contract":
        return run_contract(args)
    if args.command == "scenario":
        return run_scenario(args)
    if args.command == "list":
        print("\n".join(SCENARIOS))
        return 0
    return run_main(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
