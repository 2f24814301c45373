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
  scenarios.py main --dll DLL --prefix DIR
      Boots a fresh prefix at DIR, seeds the shared modelling system,
      registers the module with regsvr32 /s and prints what it wrote.

A scenario seeds its prefix from .reg files in seed/, runs regsvr32, and
compares `reg export` output with the hand-written files in expected/.
Message boxes are read from a relay trace restricted to MessageBoxExA (and
RegCreateKeyExA where a scenario looks at keys being created). A scenario's
prefix is removed when it passes and kept, with its logs, when it fails.
"""

import argparse
import concurrent.futures
import os
import subprocess
import sys
import time

import winelab
from checks import (ERROR_CHILD_MUST_BE_VOLATILE, HERE, MODULE_PATH, REGSVR32_DLLREGISTER_FAILED,
                    SEED_SHARED_SYSTEM, SELFREG_E_CLASS, VOLATILE_HELPER_PATH, BaseLab, expected,
                    read_reg_file)

SEED_OTHER_PRODUCT = os.path.join(HERE, "seed", "other_product.reg")
SEED_TWO_VIEWS = os.path.join(HERE, "seed", "two_views.reg")
SEED_OTHER_VERSION = os.path.join(HERE, "seed", "other_version_current.reg")

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

    def install_module(self):
        return self.prefix.install(self.args.dll, MODULE_PATH)

    def regsvr32(self, *switches, module=MODULE_PATH):
        """regsvr32 with the given switches, traced: (run, message boxes)."""
        run = self.prefix.run("regsvr32", *switches, module, debug="+relay")
        return run, winelab.message_boxes(run.stderr)

    def import_plan(self, step, machine, what):
        """Imports plgreg's `plan STEP` for the image `machine` (a tree) and
        returns the snapshot after it; the plan must show no message."""
        image = os.path.join(self.prefix.logs, "machine-%s.reg" % step)
        plan = os.path.join(self.prefix.logs, "plan-%s.reg" % step)
        with open(image, "wb") as f:
            f.write(winelab.encode_reg_text(winelab.format_reg(machine)))
        with open(plan, "wb") as out:
            run = subprocess.run([self.args.plgreg, "plan", step, "--machine", image,
                                  "--module-path", MODULE_PATH, "--format", "reg"],
                                 stdout=out, stderr=subprocess.PIPE, timeout=60)
        self.checks.equal((run.returncode, run.stderr.decode("utf-8", "replace")), (0, ""),
                          "%s: plgreg plan %s (exit code, messages)" % (what, step))
        self.prefix.reg_import(plan)
        return self.snapshot()

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
    lab.tool("helper", VOLATILE_HELPER_PATH)
    prefix.trace_calls(["MessageBoxExA", "RegCreateKeyExA"])
    with prefix.persistent_server():
        # The seed's keys beneath the company key are made volatile first,
        # so that importing the seed only fills them in.
        prefix.run(VOLATILE_HELPER_PATH, "Software\\Tolvanics\\Kelsys\\38.0\\Dir",
                   "Software\\Tolvanics\\Kelsys\\38.0\\Options", check=True)
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
    lab.seed(SEED_TWO_VIEWS)
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
    lab.seed(SEED_TWO_VIEWS)
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
    lab.seed(SEED_TWO_VIEWS)
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
    lab.seed(SEED_TWO_VIEWS, SEED_OTHER_PRODUCT)
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
    lab.seed(SEED_TWO_VIEWS)
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
    lab.seed(SEED_TWO_VIEWS)
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
    lab.seed(SEED_TWO_VIEWS, SEED_OTHER_PRODUCT)
    before = lab.snapshot()
    after = lab.quiet_regsvr32(["/u", "/s"], before)
    lab.checks.same_tree(after, before, "HKLM\\Software")


# plgreg's plans against the real registry: (name, seeds, file imported
# between registration and unregistration).
PLAN_CASES = [
    ("two views", [SEED_TWO_VIEWS], None),
    ("other product", [SEED_TWO_VIEWS, SEED_OTHER_PRODUCT], None),
    ("other version current", [SEED_TWO_VIEWS], SEED_OTHER_VERSION),
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


def run_scenario(args):
    started = time.monotonic()
    lab = Lab(args, args.name)
    try:
        if SCENARIOS[args.name](lab) == SKIPPED:
            lab.prefix.remove()
            return SKIPPED
    except winelab.WineError as error:
        lab.checks.true(False, str(error))
    return lab.finish(args.name, started)


def run_contract(args):
    started = time.monotonic()
    prefix = winelab.Prefix.copy_of(args.template, os.path.join(args.work, "contract"))
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
    return run_main(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
