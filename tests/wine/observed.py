#!/usr/bin/env python3
"""What only the running module shows, under Wine: the registry calls as a
relay trace records them, registration on keys the registry refuses to
extend, the resources as the Windows API reads them, and the error box on a
screen.

  observed.py NAME --template DIR --work DIR --dll DLL [--volatile-helper EXE]
              [--stuck-helper EXE] [--caller EXE] [--probe EXE] [--shots DIR]
  observed.py list

Runs one check (see CHECKS) in a copy of the template prefix that
scenarios.py boots, or prints the checks' names, one per line (the build
makes one test of each). Prints one line per failed check and a last line with
the result and the time taken; a failing check keeps its prefix and logs.
"""

import argparse
import contextlib
import os
import subprocess
import sys
import time

import relay
import screen
import winelab
from checks import (CALLER_PATH, CAPTION, ERROR_CHILD_MUST_BE_VOLATILE, HERE, LANGUAGE, MODULE_PATH,
                    REGSVR32_DLLREGISTER_FAILED, SEED_SHARED_SYSTEM, SELFREG_E_CLASS, STYLE,
                    VOLATILE_HELPER_PATH, BaseLab, expected)

SEED_PRODUCT_KEY = os.path.join(HERE, "seed", "product_key.reg")

STUCK_HELPER_PATH = "C:\\plgtest\\make_stuck_key.exe"
PROBE_PATH = "C:\\plgtest\\resource_probe.exe"

HKCR, HKLM = 0xFFFFFFFF80000000, 0xFFFFFFFF80000002
KEY_ALL_ACCESS, KEY_READ = 0xF003F, 0x20019
REG_SZ, REG_DWORD = 1, 4
ERROR_FILE_NOT_FOUND = 2

# RtlInitAnsiString shows the class string RegCreateKeyExA is given, and
# RtlMultiByteToUnicodeSize the text RegSetValueExA converts: the relay
# trace prints neither argument of the registry calls themselves.
TRACED = ["RegCreateKeyExA", "RegSetValueExA", "RegOpenKeyExA", "RegDeleteKeyA",
          "MessageBoxExA", "RtlInitAnsiString", "RtlMultiByteToUnicodeSize"]

# The host settings keys, in the order of the steps that create them.
VERSION_KEY = "Software\\Tolvanics\\Pellagor\\38.0"
HOST_SETTINGS_KEYS = [VERSION_KEY + "\\" + name for name in (
    "Customization", "Menus\\Help", "Menus\\Customization", "Suffix")] + [
    "SOFTWARE\\Tolvanics\\Pellagor\\38.0\\Default Libraries",
    "SOFTWARE\\Tolvanics\\Pellagor\\38.0\\Script Library",
    VERSION_KEY + "\\PFSView", VERSION_KEY + "\\GUIDefaults"]

# What each host settings step says when its key cannot be created, in
# driver order; the suffix settings and the script library say nothing.
HOST_SETTINGS_MESSAGES = [
    "Unable to open customization  key",
    "Unable to create Menu Help key",
    "Unable to create menu customization key",
    "Unable to create default library key",
    "Unable to open PFS CLSID key",
    "Unable to open GUI defaults key",
]


def boxes(texts):
    """The message boxes that show `texts`, in order, as a trace records them."""
    return [(0, text, CAPTION, STYLE, LANGUAGE) for text in texts]


class Lab(BaseLab):
    """A check's prefix, with the module installed."""

    def __init__(self, args, name):
        super().__init__(args, name)
        self.prefix.install(args.dll, MODULE_PATH)

    def regsvr32(self, *switches):
        """regsvr32 on the module, traced: (run, calls)."""
        run = self.prefix.run("regsvr32", *switches, MODULE_PATH, debug="+relay")
        return run, relay.relay_calls(run.stderr)

    def export(self, *keys):
        """The merged exports of `keys` (absent keys add nothing)."""
        return winelab.merge(*[self.prefix.reg_export(key) or {} for key in keys])


def message_boxes(calls):
    return [(call.dword(0), call.text(1), call.text(2), call.dword(3), call.dword(4) & 0xFFFF)
            for call in relay.flatten_calls(calls, "MessageBoxExA")]


def refused_keys(calls):
    """Subkeys whose RegCreateKeyExA was refused, with the error, in order."""
    return [(call.text(1), call.retval) for call in relay.flatten_calls(calls, "RegCreateKeyExA")
            if call.retval != 0]


CHECKS = {}


def check(function):
    CHECKS[function.__name__] = function
    return function


# ---------------------------------------------------------------------------
# The calls themselves.

@check
def calls_traced(lab):
    """A full registration on a machine with the shared system in both views:
    every key created with reserved 0, an empty class, options 0,
    KEY_ALL_ACCESS, no security attributes and no disposition; every string
    written with its terminating zero counted; the two numbers and nothing
    else as REG_DWORD; the Dir key only read; one tree deletion."""
    checks, prefix = lab.checks, lab.prefix
    prefix.reg_import(SEED_SHARED_SYSTEM)
    prefix.trace_calls(TRACED)
    run, calls = lab.regsvr32("/s")
    checks.exit_code(run, 0, "regsvr32 /s")
    checks.sequence(message_boxes(calls), [], "message boxes")

    creations = relay.flatten_calls(calls, "RegCreateKeyExA")
    # 3 for the product's Options entry, 8 host settings keys, 2 suffixes,
    # 8 for the document type (its 7 keys and the V12 verb), 2 library class,
    # 9 + 1 language class, 10 automation class.
    checks.equal(len(creations), 43, "RegCreateKeyExA calls")
    for call in creations:
        classes = [inner.text(1) for inner in call.inner_calls("RtlInitAnsiString")
                   if inner.args[1].value == call.args[3].value]
        checks.equal((call.dword(2), classes, call.dword(4), hex(call.dword(5)),
                      call.args[6].value, call.args[8].value, call.retval),
                     (0, [""], 0, hex(KEY_ALL_ACCESS), 0, 0, 0),
                     "RegCreateKeyExA %r (reserved, class, options, access, security, "
                     "disposition, result)" % call.text(1))

    writes = relay.flatten_calls(calls, "RegSetValueExA")
    strings = [call for call in writes if call.dword(3) == REG_SZ]
    numbers = [call for call in writes if call.dword(3) == REG_DWORD]
    # Options 1, Customization 1, Help menu 9, menu edits 33, suffixes 2,
    # suffix pairing 1, document type 7 (with the V12 verb), library class 2,
    # default libraries 1, script library 1, language class 10, PFS view 1,
    # automation class 9.
    checks.equal(len(strings), 78, "REG_SZ writes")
    for call in strings:
        texts = [inner.args[1] for inner in call.inner_calls("RtlMultiByteToUnicodeSize")
                 if inner.args[1].value == call.args[4].value]
        if not checks.equal(len(texts), 1, "text seen for the write of %r" % call.text(1)):
            continue
        text = texts[0].text
        checks.true(not texts[0].cut, "text of %r cut short by the trace" % call.text(1))
        checks.equal((call.dword(2), call.dword(5), call.retval),
                     (0, len(text.encode("latin-1")) + 1, 0),
                     "RegSetValueExA %r = %r (reserved, length, result)" % (call.text(1), text))
    checks.sequence([(call.text(1), call.dword(5), call.retval) for call in numbers],
                    [("CtrlStreamFixedOnly", 4, 0), ("CustomModelingOn", 4, 0)],
                    "REG_DWORD writes (name, length, result)")
    checks.equal([call.dword(3) for call in writes if call.dword(3) not in (REG_SZ, REG_DWORD)],
                 [], "writes of other types")
    checks.tree(prefix.reg_export("HKLM\\" + VERSION_KEY + "\\GUIDefaults"),
                expected("observed_gui_defaults.reg"), "GUIDefaults key")

    # Opens: the Dir key for reading, once per directory looked up (help
    # twice, lib, bin for the document type, the language class and the
    # automation class), and the document type's tree before it is deleted.
    opens = [(call.args[0].value, call.text(1), hex(call.dword(3)))
             for call in relay.flatten_calls(calls, "RegOpenKeyExA")]
    dir_key = (HKLM, "Software\\Tolvanics\\Kelsys\\38.0\\Dir", hex(KEY_READ))
    checks.equal(opens.count(dir_key), 6, "reads of the Dir key with KEY_READ")
    checks.sequence([o for o in opens if o != dir_key],
                    [(HKCR, "Pellagor Language", hex(KEY_ALL_ACCESS))], "other opens")
    checks.sequence([(call.args[0].value, call.text(1), call.retval)
                     for call in relay.flatten_calls(calls, "RegDeleteKeyA")],
                    [(HKCR, "Pellagor Language", ERROR_FILE_NOT_FOUND)], "deletions")
    print("traced: %d keys created, %d strings and %d numbers written" % (
        len(creations), len(strings), len(numbers)))


# ---------------------------------------------------------------------------
# Real failures: keys that Wine refuses to extend.

def registration_refused(lab, messages, refused):
    """regsvr32 and the export called directly after the machine was set
    up: the messages in order, the keys refused, the failure reported."""
    checks = lab.checks
    run, calls = lab.regsvr32("/s")
    checks.exit_code(run, REGSVR32_DLLREGISTER_FAILED, "regsvr32 /s")
    checks.sequence(message_boxes(calls), boxes(messages), "message boxes")
    checks.sequence(refused_keys(calls), refused, "RegCreateKeyExA refused (subkey, error)")
    return calls


@check
def volatile_company_tree(lab):
    """Software\\Tolvanics volatile: neither the product key nor anything
    beneath it can be created. Registration says so once for the product
    key and once for each host settings step that reports its key, silent
    where the step is, and writes the shell and class entries as usual, the
    document type without a version verb (no product version is found)."""
    checks, prefix = lab.checks, lab.prefix
    prefix.trace_calls(TRACED)
    with prefix.persistent_server():
        volatile_company(lab)
        registration_refused(
            lab, ["Unable to create Application Name key"] + HOST_SETTINGS_MESSAGES,
            [("Pellagor", ERROR_CHILD_MUST_BE_VOLATILE)] +
            [(key, ERROR_CHILD_MUST_BE_VOLATILE) for key in HOST_SETTINGS_KEYS])
        checks.tree(lab.export("HKCR\\Pellagor Language", "HKCR\\PLG Application",
                               "HKCR\\.plgf"),
                    expected("observed_classes_without_versions.reg"), "classes")


@check
def volatile_version_key(lab):
    """Software\\Tolvanics\\Pellagor\\38.0 volatile: every host settings key
    beneath it is refused. The product key and the Options entry are
    written; each host settings step that reports its key says so, in driver
    order; the version key is there to be found, so the document type gets
    its V12 verb; regsvr32 and the export report the failure."""
    checks, prefix = lab.checks, lab.prefix
    lab.tool("volatile_helper", VOLATILE_HELPER_PATH)
    prefix.reg_import(SEED_SHARED_SYSTEM)
    prefix.reg_import(SEED_PRODUCT_KEY)
    prefix.trace_calls(TRACED)
    with prefix.persistent_server():
        prefix.run(VOLATILE_HELPER_PATH, VERSION_KEY, check=True)
        registration_refused(lab, HOST_SETTINGS_MESSAGES,
                             [(key, ERROR_CHILD_MUST_BE_VOLATILE) for key in HOST_SETTINGS_KEYS])
        result, again = lab.call_export("DllRegisterServer")
        checks.equal(result, "hresult=0x%08x" % SELFREG_E_CLASS, "DllRegisterServer result")
        checks.sequence(again, boxes(HOST_SETTINGS_MESSAGES), "message boxes, called directly")
        checks.tree(lab.export("HKLM\\Software\\Tolvanics\\Pellagor",
                               "HKLM\\Software\\Tolvanics\\Kelsys\\38.0\\Options"),
                    expected("observed_version_key.reg"), "product key and Options key")
        checks.tree(lab.export("HKCR\\Pellagor Language", "HKCR\\PLG Application",
                               "HKCR\\.plgf"),
                    expected("observed_classes_with_versions.reg"), "classes")


STUCK_SUBKEY = "HKEY_CLASSES_ROOT\\Pellagor Language\\\u4e00"


@check
def stuck_progid(lab):
    """"Pellagor Language" volatile and undeletable, "Tolvane Model
    Library" volatile: the document type cannot get its CLSID subkey (so
    none of its entries but the friendly name), the library class neither;
    each says so once, in step order; every other entry is written."""
    checks, prefix = lab.checks, lab.prefix
    lab.tool("volatile_helper", VOLATILE_HELPER_PATH)
    lab.tool("stuck_helper", STUCK_HELPER_PATH)
    prefix.reg_import(SEED_SHARED_SYSTEM)
    prefix.trace_calls(TRACED)
    with prefix.persistent_server():
        prefix.run(VOLATILE_HELPER_PATH, "Software\\Classes\\Tolvane Model Library", check=True)
        prefix.run(STUCK_HELPER_PATH, "Software\\Classes\\Pellagor Language", check=True)
        messages = ["Error creating document key", "Unable to create document insertable key"]
        calls = registration_refused(
            lab, messages, [("Pellagor Language\\CLSID", ERROR_CHILD_MUST_BE_VOLATILE),
                            ("Tolvane Model Library\\CLSID", ERROR_CHILD_MUST_BE_VOLATILE)])
        # The tree deletion was tried, and could not remove the key.
        checks.sequence([(call.text(1), call.retval)
                         for call in relay.flatten_calls(calls, "RegDeleteKeyA")],
                        [("Pellagor Language\\?", ERROR_FILE_NOT_FOUND),
                         ("Pellagor Language", 5)], "deletions (subkey, result)")
        result, again = lab.call_export("DllRegisterServer")
        checks.equal(result, "hresult=0x%08x" % SELFREG_E_CLASS, "DllRegisterServer result")
        checks.sequence(again, boxes(messages), "message boxes, called directly")
        tree = lab.export("HKCR\\Pellagor Language", "HKCR\\Tolvane Model Library",
                          "HKCR\\.plgf", "HKCR\\.hvxl",
                          "HKLM\\" + VERSION_KEY + "\\Customization",
                          "HKLM\\" + VERSION_KEY + "\\PFSView",
                          "HKLM\\" + VERSION_KEY + "\\GUIDefaults",
                          "HKLM\\Software\\Tolvanics\\Kelsys\\38.0\\Options")
        checks.true(tree.pop(STUCK_SUBKEY, None) == {}, "the undeletable subkey is gone")
        checks.tree(tree, expected("observed_stuck_progid.reg"), "entries written")
        language_class = lab.export("HKCR\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}")
        checks.equal(len(language_class), 12, "keys of the language class (9 rows, "
                     "the class key, AuxUserType and Verb)")


# ---------------------------------------------------------------------------
# The resources through the Windows API.

@check
def resources_api(lab):
    """The resource probe on the registered module: every string, the icon
    groups, bitmap 410, the version record, the manifest, and the two icon
    references that registration writes, resolved by ExtractIconExA."""
    checks, prefix = lab.checks, lab.prefix
    lab.tool("probe", PROBE_PATH)
    prefix.reg_import(SEED_SHARED_SYSTEM)
    run = prefix.run("regsvr32", "/s", MODULE_PATH)
    checks.exit_code(run, 0, "regsvr32 /s")
    references = {}
    for group, key in ((415, "HKCR\\Pellagor Language\\DefaultIcon"),
                       (413, "HKCR\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\\DefaultIcon")):
        tree = prefix.reg_export(key) or {}
        values = [v for k, v in tree.items() if k.lower().endswith("defaulticon")]
        data = values[0].get("@", (None, None))[1] if values else None
        checks.equal(data, MODULE_PATH + (",1" if group == 415 else ",0"), key)
        references[group] = data or MODULE_PATH + ",?"
    probe = prefix.run(PROBE_PATH, MODULE_PATH,
                       *["%d=%s" % (group, ref) for group, ref in sorted(references.items())])
    for line in probe.stdout.splitlines():
        if line.startswith("FAIL"):
            checks.true(False, "probe: " + line[5:])
    lines = [line for line in probe.stdout.splitlines() if line.startswith(("ok", "FAIL"))]
    # 40 strings and the table, 5 groups twice and their order, 2 bitmap,
    # 10 version (3 fixed fields, translation, 6 texts), 4 manifest, the
    # icon count and 2 references.
    checks.equal(len(lines), 41 + 11 + 2 + 10 + 4 + 1 + 2, "probe checks run")
    checks.exit_code(probe, 0, "resource_probe")
    print("probe: %d checks, %d failed" % (len(lines), sum(l.startswith("FAIL") for l in lines)))


# ---------------------------------------------------------------------------
# The box a person sees.

def virtual_desktop(lab):
    """Makes every program of the prefix draw inside one Wine desktop window
    of 1024x768, as `wine explorer /desktop=plg,1024x768 PROGRAM` does but
    keeping the program's own exit code. The screenshot folder."""
    lab.prefix.reg_set_string("HKCU\\Software\\Wine\\Explorer", "Desktop", "plg")
    lab.prefix.reg_set_string("HKCU\\Software\\Wine\\Explorer\\Desktops", "plg", "1024x768")
    shots = os.path.abspath(lab.args.shots or os.path.join(lab.args.work, "screenshots"))
    os.makedirs(shots, exist_ok=True)
    return shots


@check
def error_box(lab):
    """Under Xvfb, inside Wine's virtual desktop: the stuck document type
    makes regsvr32 show a window titled "Registration Error"; it is
    captured, closed with Return, and registration goes on to the next box,
    which is closed too, and then to its end."""
    checks, prefix = lab.checks, lab.prefix
    missing = screen.missing_tools()
    if not checks.equal(missing, [], "display tools missing"):
        return
    lab.tool("volatile_helper", VOLATILE_HELPER_PATH)
    lab.tool("stuck_helper", STUCK_HELPER_PATH)
    prefix.reg_import(SEED_SHARED_SYSTEM)
    prefix.trace_calls(["MessageBoxExA"])
    shots = virtual_desktop(lab)
    messages = ["Error creating document key", "Unable to create document insertable key"]
    with screen.xvfb(log_path=os.path.join(prefix.logs, "xvfb.log")) as display:
        # Every program under this server, the desktop included, draws there.
        prefix.env["DISPLAY"] = display.name
        with prefix.persistent_server():
            prefix.run(VOLATILE_HELPER_PATH, "Software\\Classes\\Tolvane Model Library",
                       check=True)
            prefix.run(STUCK_HELPER_PATH, "Software\\Classes\\Pellagor Language", check=True)
            registration = prefix.start(["regsvr32", "/s", MODULE_PATH], "+relay,+eventlog")
            seen = []
            for number, text in enumerate(messages, 1):
                window = display.wait_for_window(CAPTION, ignore=seen,
                                                 while_running=registration.process)
                if not checks.true(window is not None, "box %d (%r) did not appear" % (
                        number, text)):
                    break
                seen.append(window)
                display.focus(window)
                time.sleep(0.5)  # drawn, not only mapped
                shot = display.screenshot(os.path.join(shots, "error_box_%d.png" % number))
                checks.true(registration.process.poll() is None,
                            "regsvr32 did not wait for box %d" % number)
                cropped = screen.crop_to_content(
                    shot, os.path.join(shots, "error_box_%d_cropped.png" % number))
                width, height = screen.image_size(cropped)
                checks.true(150 < width < 600 and 80 < height < 300,
                            "box %d is %dx%d, not a message box's size" % (number, width, height))
                checks.true(screen.distinct_colours(cropped) > 8,
                            "box %d shows no caption, icon or text" % number)
                display.press(window, "Return")
                checks.true(display.wait_until_gone(window, CAPTION),
                            "box %d stayed after Return" % number)
            run = registration.wait(timeout=60)
            checks.exit_code(run, REGSVR32_DLLREGISTER_FAILED, "regsvr32 /s")
            checks.sequence(winelab.message_boxes(run.stderr), boxes(messages),
                            "message boxes")
            checks.sequence([strings[0] for _, _, strings, _ in winelab.events(run.stderr)],
                            messages, "texts of the error events beside the boxes")
            checks.equal(len(seen), len(messages), "windows seen")
            checks.true(display.windows(CAPTION) == [], "a box is still open")
            tree = lab.export("HKCR\\PLG Application")
            checks.equal(tree.get("HKEY_CLASSES_ROOT\\PLG Application\\CurVer"),
                         {"@": ("sz", "PLG Application 3800")},
                         "the last step's entry after the boxes")
    print("screenshots in %s" % shots)


# ---------------------------------------------------------------------------
# Where nobody can close a box.

QUIET_MESSAGES = ["Unable to create Application Name key"] + HOST_SETTINGS_MESSAGES
# The event of a message with its key and Win32 error
# (resources/plgproduct_events.mc), written as an error event.
EVENT_KEY_AND_ERROR = 1002
EVENTLOG_ERROR_TYPE = 1
STATION_HELPER_PATH = "C:\\plgtest\\run_on_station.exe"


def volatile_company(lab):
    """Software\\Tolvanics made volatile, inside the caller's persistent
    server, and the shared system seeded beneath it."""
    lab.make_company_volatile()
    lab.prefix.reg_import(SEED_SHARED_SYSTEM)


def told_not_shown(lab, exit_code, trace, what):
    """The failed registration of a volatile company key: regsvr32 exits 5,
    `trace` shows no MessageBox call, the debug output holds every message
    with the key and the registry's error, and the classes are written."""
    checks = lab.checks
    checks.equal(exit_code, REGSVR32_DLLREGISTER_FAILED, what + ": exit code")
    checks.sequence(winelab.message_boxes(trace), [], what + ": MessageBoxExA calls")
    told = winelab.debug_messages(trace)
    checks.sequence([text for text, _ in told], QUIET_MESSAGES, what + ": debug output")
    checks.equal([detail for _, detail in told if not detail.endswith(": error 1021")], [],
                 what + ": details without the key's error 1021")
    # Each message is an error event too: the text, the key, the error and
    # its system text, as event 1002 shows them.
    written = winelab.events(trace)
    checks.sequence([(kind, number, strings[:3], level) for kind, number, strings, level
                     in written],
                    [(EVENTLOG_ERROR_TYPE, EVENT_KEY_AND_ERROR,
                      [text, detail.rpartition(": error ")[0], "1021"], "err")
                     for text, detail in told], what + ": events")
    checks.equal([strings[3:] for _, _, strings, _ in written if len(strings) != 4], [],
                 what + ": events without the error's text")
    checks.tree(lab.export("HKCR\\Pellagor Language", "HKCR\\PLG Application", "HKCR\\.plgf"),
                expected("observed_classes_without_versions.reg"), what + ": classes")


@check
def quiet_failure(lab):
    """Under Xvfb, Software\\Tolvanics volatile: regsvr32 /s /n /i:quiet
    puts no window on the screen (none appears while it runs, and the screen
    after it is the bare desktop) and returns; its messages are in the debug
    output."""
    checks, prefix = lab.checks, lab.prefix
    if not checks.equal(screen.missing_tools(), [], "display tools missing"):
        return
    prefix.trace_calls(["MessageBoxExA"])
    shots = virtual_desktop(lab)
    with screen.xvfb(log_path=os.path.join(prefix.logs, "xvfb.log")) as display:
        prefix.env["DISPLAY"] = display.name
        with prefix.persistent_server():
            volatile_company(lab)
            registration = prefix.start(["regsvr32", "/s", "/n", "/i:quiet", MODULE_PATH],
                                        "+relay,+debugstr,+eventlog")
            window = display.wait_for_window(CAPTION, timeout=60,
                                             while_running=registration.process)
            if not checks.true(window is None, "a box appeared"):
                time.sleep(0.5)  # drawn, not only mapped
                display.screenshot(os.path.join(shots, "quiet_box.png"))
            run = registration.wait(timeout=60)
            after = display.screenshot(os.path.join(shots, "quiet_after.png"))
            # The bare desktop is one colour; a window would add more.
            checks.equal(screen.distinct_colours(after), 1, "colours on the screen after it")
            told_not_shown(lab, run.returncode, run.stderr, "regsvr32 /s /n /i:quiet")
    print("quiet: exit %d, %d message(s) in the debug output, screenshots in %s" % (
        run.returncode, len(winelab.debug_messages(run.stderr)), shots))
    print("events as Wine traced them:\n" + "\n".join(
        line for line in run.stderr.splitlines() if ":ReportEventW " in line))


@check
def hidden_station(lab):
    """Plain regsvr32 /s started on a window station made with
    CreateWindowStation, which is not interactive: the module shows no box
    there (one would never return) and regsvr32 returns with the failure."""
    checks, prefix = lab.checks, lab.prefix
    lab.tool("station_helper", STATION_HELPER_PATH)
    prefix.trace_calls(["MessageBoxExA"])
    with prefix.persistent_server():
        volatile_company(lab)
        started = prefix.run(STATION_HELPER_PATH, "40", "regsvr32", "/s", MODULE_PATH,
                             debug="+relay,+debugstr,+eventlog", timeout=90)
        lines = started.stdout.split()
        checks.equal(lines[:1], ["flags=0x0"], "the station's UOI_FLAGS")
        if not checks.true(lines[1:2] != ["timeout"], "regsvr32 on the station did not return"):
            return
        exit_code = int(lines[1].partition("=")[2]) if lines[1:2] else -1
        # The trace is regsvr32's too: it inherits WINEDEBUG and stderr.
        told_not_shown(lab, exit_code, started.stderr, "regsvr32 /s on the station")


@contextlib.contextmanager
def failing_on_screen(lab):
    """Under Xvfb, with one persistent wineserver and Software\\Tolvanics
    volatile, message boxes traced: a registration fails where a box would
    be seen."""
    prefix = lab.prefix
    prefix.trace_calls(["MessageBoxExA"])
    virtual_desktop(lab)
    with screen.xvfb(log_path=os.path.join(prefix.logs, "xvfb.log")) as display:
        prefix.env["DISPLAY"] = display.name
        with prefix.persistent_server():
            volatile_company(lab)
            yield


@check
def hidden_desktop(lab):
    """Under Xvfb, where WinSta0 is interactive: plain regsvr32 /s started on
    a second desktop of it (CreateDesktop), while the input desktop stays
    the one on the screen. The module shows no box there and regsvr32
    returns with the failure, as on a station nobody sees."""
    checks, prefix = lab.checks, lab.prefix
    if not checks.equal(screen.missing_tools(), [], "display tools missing"):
        return
    lab.tool("station_helper", STATION_HELPER_PATH)
    with failing_on_screen(lab):
        started = prefix.run(STATION_HELPER_PATH, "--desktop", "40", "regsvr32", "/s",
                                 MODULE_PATH, debug="+relay,+debugstr,+eventlog", timeout=90)
    lines = started.stdout.split()
    checks.equal(lines[:2], ["desktop=WinSta0\\plghidden", "flags=0x1"],
                 "the desktop made and its station's UOI_FLAGS")
    if not checks.true(lines[2:3] not in (["timeout"], []) and lines[2].startswith("exit="),
                       "regsvr32 on the desktop did not return: %r" % lines):
        return
    exit_code = int(lines[2].partition("=")[2])
    told_not_shown(lab, exit_code, started.stderr, "regsvr32 /s on the second desktop")
    print("hidden desktop: %s" % " ".join(lines))


# HRESULT_FROM_WIN32(ERROR_BUSY): an export called on the thread that is
# already inside one.
EXPORT_BUSY = 0x800700AA
REENTRY_EVENT = ("Registration was called again while its earlier call on the same thread was "
                 "still running; the new call changed nothing")


@check
def reentry_from_box(lab):
    """Under Xvfb, Software\\Tolvanics volatile: a thread timer of the
    caller calls DllInstall(TRUE, "quiet") from inside the message loop of
    DllRegisterServer's first box. That call returns ERROR_BUSY at once,
    changes nothing and writes an event; the boxes are closed and the first
    call ends with SELFREG_E_CLASS, its messages all shown."""
    checks, prefix = lab.checks, lab.prefix
    if not checks.equal(screen.missing_tools(), [], "display tools missing"):
        return
    lab.tool("caller", CALLER_PATH)
    with failing_on_screen(lab):
        try:
            run = prefix.run(CALLER_PATH, MODULE_PATH, "DllRegisterServer", "--reenter",
                             debug="+relay,+eventlog", timeout=90)
        except subprocess.TimeoutExpired:
            checks.true(False, "the call from inside the box never returned")
            return
    lines = run.stdout.split()
    checks.equal(lines[:2], ["reentered=0x%08x" % EXPORT_BUSY, "hresult=0x%08x" % SELFREG_E_CLASS],
                 "the re-entered call's and the first call's HRESULTs")
    checks.equal(lines[2:], ["boxes=%d" % len(QUIET_MESSAGES)], "boxes shown and closed")
    checks.sequence(winelab.message_boxes(run.stderr), boxes(QUIET_MESSAGES), "message boxes")
    written = [strings[0] for _, _, strings, _ in winelab.events(run.stderr)]
    checks.equal(written.count(REENTRY_EVENT), 1, "events of the re-entered call")
    checks.sequence([text for text in written if text != REENTRY_EVENT], QUIET_MESSAGES,
                    "events of the first call")
    checks.tree(lab.export("HKCR\\Pellagor Language", "HKCR\\PLG Application", "HKCR\\.plgf"),
                expected("observed_classes_without_versions.reg"), "classes")
    print("re-entry: %s" % " ".join(lines))


@check
def code_page_1251(lab):
    """The product versions 38.0, "38.\u00e9" and "38.\u0439", with releases
    of the same names. Under code page 1252 "38.\u00e9" is the byte 0xE9 and
    back: its release's verb is written. Under LANG=ru_RU.UTF-8 (code page
    1251) that byte reads as U+0439, so the name is skipped rather than taken
    for another release's; "38.\u0439", beyond U+00FF, is skipped in both."""
    checks, prefix = lab.checks, lab.prefix
    prefix.reg_import(SEED_SHARED_SYSTEM)
    releases = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys"
    versions = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor"
    tree = {}
    for name, label in (("38.\u00e9", "L1"), ("38.\u0439", "R1")):
        tree[versions + "\\" + name] = {}
        tree[releases + "\\" + name + "\\Dir"] = {
            "Bin": ("sz", "C:\\Apps\\Tolvanics\\Kelsys %s\\bin\\" % label)}
    seed = os.path.join(prefix.logs, "code_page_versions.reg")
    with open(seed, "wb") as f:
        f.write(winelab.encode_reg_text(winelab.format_reg(tree)))
    prefix.reg_import(seed)
    found = {}
    for lang, wanted in (("C.UTF-8", ["Edit", "Open", "Open Pellagor L1", "Open Pellagor V12"]),
                         ("ru_RU.UTF-8", ["Edit", "Open", "Open Pellagor V12"])):
        prefix.env["LANG"] = prefix.env["LC_ALL"] = lang
        run, _ = lab.regsvr32("/s")
        checks.exit_code(run, 0, "regsvr32 /s under LANG=" + lang)
        shell = lab.export("HKCR\\Pellagor Language\\shell")
        found[lang] = sorted({key.split("\\")[3] for key in shell if key.count("\\") >= 3})
        checks.equal(found[lang], wanted, "verbs under LANG=" + lang)
    print("; ".join("LANG=%s: %s" % (lang, ", ".join(verbs)) for lang, verbs in found.items()))


def main(argv):
    if argv[1:] == ["list"]:
        print("\n".join(CHECKS))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("name", choices=sorted(CHECKS))
    parser.add_argument("--template", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--volatile-helper")
    parser.add_argument("--stuck-helper")
    parser.add_argument("--station-helper")
    parser.add_argument("--caller")
    parser.add_argument("--probe")
    parser.add_argument("--shots", help="folder for the screenshots of error_box")
    args = parser.parse_args(argv[1:])

    started = time.monotonic()
    lab = Lab(args, args.name)
    try:
        CHECKS[args.name](lab)
    except (winelab.WineError, OSError) as error:
        lab.checks.true(False, str(error))
    return lab.finish(args.name, started)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
