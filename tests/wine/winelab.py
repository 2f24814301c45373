"""Wine prefixes for the end-to-end scenarios, and the texts they produce.

A template prefix is booted once per test run (`make_template`); every
scenario takes its own copy (`Prefix.copy_of`), seeds it from .reg files,
runs the real programs in it and reads the registry back through
`reg export`. No display is used: without one, Wine's message boxes return at
once, and a relay trace shows what they would have said.

Standard library only.
"""

import collections
import contextlib
import os
import re
import shutil
import subprocess
import tempfile
import time

WINE = os.environ.get("WINE", "wine")
WINESERVER = os.environ.get("WINESERVER", "wineserver")
WINEBOOT = os.environ.get("WINEBOOT", "wineboot")

# Booting a prefix takes seconds; a copy, well under one. The system folders
# are large and never written after boot, so copies share them by hard link.
SHARED_FOLDERS = ("drive_c/windows/system32", "drive_c/windows/syswow64")
# Written by Debian's wine into each prefix: the folder of that prefix's
# server socket. A copy must get its own.
SERVER_NOTE = "wineserver"
TEMPLATE_MARK = ".plg-template"


class WineError(Exception):
    pass


def base_environment(prefix):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINEDEBUG"):
        env.pop(name, None)
    env.update({
        "WINEPREFIX": os.path.abspath(prefix),
        "WINEARCH": "win64",
        # No Mono or Gecko installer prompts, no downloads.
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "WINEDEBUG": "-all",
        # Wine takes the system default language (the message box language)
        # from the locale: C means US English, 0x0409.
        "LANG": "C.UTF-8",
        "LC_ALL": "C.UTF-8",
    })
    return env


def make_template(path):
    """Boots a fresh 64-bit prefix at `path`, replacing whatever was there."""
    path = os.path.abspath(path)
    remove_prefix(path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    env = base_environment(path)
    log_path = path + ".boot.log"
    started = time.monotonic()
    with open(log_path, "wb") as log:
        boot = subprocess.run([WINEBOOT, "-i"], env=env, stdout=log, stderr=log,
                              stdin=subprocess.DEVNULL, timeout=300)
        subprocess.run([WINESERVER, "-w"], env=env, stdout=log, stderr=log,
                       stdin=subprocess.DEVNULL, timeout=120)
    if boot.returncode != 0 or not os.path.isfile(os.path.join(path, "system.reg")):
        raise WineError("wineboot failed (exit %d); see %s" % (boot.returncode, log_path))
    with open(os.path.join(path, TEMPLATE_MARK), "w") as mark:
        mark.write("booted in %.1f s\n" % (time.monotonic() - started))
    return time.monotonic() - started


def remove_prefix(path):
    """Removes a prefix and the socket folder Debian's wine made for it."""
    note = os.path.join(path, SERVER_NOTE)
    try:
        with open(note) as f:
            name = f.read().strip()
        if re.fullmatch(r"wine-[A-Za-z0-9]+", name):
            shutil.rmtree(os.path.join(tempfile.gettempdir(), name), ignore_errors=True)
    except OSError:
        pass
    shutil.rmtree(path, ignore_errors=True)
    with contextlib.suppress(FileNotFoundError):
        os.remove(path + ".boot.log")


def copy_prefix(template, path):
    if not os.path.isfile(os.path.join(template, TEMPLATE_MARK)):
        raise WineError("%s is not a booted template prefix" % template)
    remove_prefix(path)
    shared = [os.path.join(template, folder) for folder in SHARED_FOLDERS]

    def copy_file(source, target):
        if any(source.startswith(folder + os.sep) for folder in shared):
            os.link(source, target)
        else:
            shutil.copy2(source, target)

    shutil.copytree(template, path, symlinks=True, copy_function=copy_file,
                    ignore=lambda folder, names: [SERVER_NOTE, TEMPLATE_MARK]
                    if os.path.samefile(folder, template) else [])


class Run:
    """The outcome of one program run in a prefix."""

    def __init__(self, args, returncode, stdout, stderr):
        self.args, self.returncode = args, returncode
        self.stdout, self.stderr = stdout, stderr

    def describe(self):
        return "%s -> exit %d\n--- stdout\n%s--- stderr (last lines)\n%s" % (
            " ".join(self.args), self.returncode, self.stdout,
            "\n".join(self.stderr.splitlines()[-20:]))


# What Wine's start.exe prints when the loader could not run a program.
NOT_STARTED = "Application could not be started"


class Prefix:
    """One scenario's prefix, copied from the template."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.env = base_environment(self.path)
        self.logs = self.path + ".logs"
        os.makedirs(self.logs, exist_ok=True)
        self._runs = 0

    @classmethod
    def copy_of(cls, template, path):
        copy_prefix(template, path)
        return cls(path)

    def unix_path(self, windows_path):
        """Where a C: path of this prefix lies on the host."""
        drive, rest = windows_path[:2], windows_path[2:]
        if drive.upper() != "C:":
            raise ValueError(windows_path)
        return os.path.join(self.path, "drive_c", *[p for p in rest.split("\\") if p])

    def install(self, host_file, windows_path):
        target = self.unix_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(host_file, target)
        return windows_path

    def run(self, *args, debug=None, check=False, timeout=120):
        """Runs `wine ARGS...`; output goes to files, since a persistent
        server keeps inherited pipes open. A program Wine could not start
        (start.exe's "Application could not be started", seen while the
        prefix's server was going down between two programs) never ran, and
        is started once more."""
        result = self._run_once(args, debug, timeout)
        if result.returncode != 0 and NOT_STARTED in result.stdout + result.stderr:
            time.sleep(1)
            result = self._run_once(args, debug, timeout)
        if check and result.returncode != 0:
            raise WineError(result.describe())
        return result

    def _run_once(self, args, debug, timeout):
        self._runs += 1
        stem = os.path.join(self.logs, "%02d-%s" % (self._runs,
                                                    re.sub(r"\W+", "_", args[0])[-30:]))
        env = dict(self.env)
        if debug is not None:
            env["WINEDEBUG"] = debug
        with open(stem + ".out", "wb") as out, open(stem + ".err", "wb") as err:
            process = subprocess.run([WINE, *args], env=env, stdout=out, stderr=err,
                                     stdin=subprocess.DEVNULL, timeout=timeout)
        return Run([WINE, *args], process.returncode, read_text(stem + ".out"),
                   read_text(stem + ".err"))

    def start(self, args, debug=None):
        """Starts `wine ARGS...` without waiting, for a program that waits
        for someone or must be watched while it runs."""
        return Started(self, args, debug)

    def reg(self, *args, check=False):
        """Runs Wine's `reg ARGS...`. reg exiting 1 without a word has been
        seen too, while a persistent server was starting up; every `reg`
        command used here may be repeated, so such a run is tried again."""
        result = self.run("reg", *args)
        if result.returncode != 0 and not (result.stdout + result.stderr).strip():
            time.sleep(1)
            result = self.run("reg", *args)
        if check and result.returncode != 0:
            raise WineError(result.describe())
        return result

    def reg_import(self, reg_file):
        self.reg("import", os.path.abspath(reg_file), check=True)

    def reg_set_string(self, key, name, data):
        self.reg("add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f", check=True)

    def reg_export_text(self, key):
        """What `reg export` writes for `key`, decoded, or None if absent."""
        target = os.path.join(self.logs, "export.reg")
        with contextlib.suppress(FileNotFoundError):
            os.remove(target)
        result = self.reg("export", key, target, "/y")
        if result.returncode != 0:
            if "Unable to find" in result.stdout + result.stderr:
                return None
            raise WineError(result.describe())
        with open(target, "rb") as f:
            return decode_reg_text(f.read())

    def reg_export(self, key):
        """The parsed export of `key` and its subtree, or None if absent."""
        text = self.reg_export_text(key)
        return None if text is None else parse_reg(text)

    def trace_calls(self, functions):
        """Restricts relay tracing to `functions` (Wine ignores the
        environment variable for this)."""
        self.reg_set_string("HKCU\\Software\\Wine\\Debug", "RelayInclude",
                            ";".join(functions))

    def wait_for_server(self):
        subprocess.run([WINESERVER, "-w"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    @contextlib.contextmanager
    def persistent_server(self):
        """One wineserver for everything inside the block: volatile keys
        live only as long as their server."""
        self.wait_for_server()
        log = open(os.path.join(self.logs, "wineserver.log"), "wb")
        server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env, stdout=log,
                                  stderr=log, stdin=subprocess.DEVNULL)
        try:
            time.sleep(0.3)
            if server.poll() is not None:
                raise WineError("wineserver -p exited at once (%d)" % server.returncode)
            yield
        finally:
            subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60)
            try:
                server.wait(timeout=30)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
            log.close()

    def remove(self):
        self.wait_for_server()
        remove_prefix(self.path)
        shutil.rmtree(self.logs, ignore_errors=True)


class Started:
    """A program started in a prefix; `wait` gives its Run, ending the
    program if it outlives the time limit."""

    def __init__(self, prefix, args, debug):
        self.args = [WINE, *args]
        self.stem = os.path.join(prefix.logs, "started-" + re.sub(r"\W+", "_", args[0])[-30:])
        env = dict(prefix.env, WINEDEBUG=debug or prefix.env["WINEDEBUG"])
        with open(self.stem + ".out", "wb") as out, open(self.stem + ".err", "wb") as err:
            self.process = subprocess.Popen(self.args, env=env, stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL)

    def wait(self, timeout):
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return Run(self.args, self.process.returncode, read_text(self.stem + ".out"),
                   read_text(self.stem + ".err"))


def read_text(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "replace")


# ---------------------------------------------------------------------------
# .reg text: what `reg export` writes (UTF-16LE with BOM) and what the repo
# keeps (ASCII). A tree is {key path: {value name: (type, data)}}, the default
# value under the name "@"; types are "sz" (str), "dword" (int) and "hex" or
# "hex(N)" (bytes).

def decode_reg_text(data):
    if data[:2] == b"\xff\xfe":
        return data[2:].decode("utf-16-le")
    if data[:3] == b"\xef\xbb\xbf":
        return data[3:].decode("utf-8")
    return data.decode("utf-8")


def unescape(text):
    return re.sub(r"\\(.)", lambda m: m.group(1), text)


VALUE_LINE = re.compile(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$')


def parse_reg(data):
    text = decode_reg_text(data) if isinstance(data, bytes) else data
    lines = text.replace("\r\n", "\n").split("\n")
    if not lines or lines[0] not in ("Windows Registry Editor Version 5.00", "REGEDIT4"):
        raise ValueError("not a .reg text: %r" % lines[:1])
    tree, key, pending = {}, None, ""
    for raw in lines[1:]:
        line = (pending + raw.lstrip()) if pending else raw.rstrip()
        match = VALUE_LINE.match(line)
        # Long hex data continues on the next line after a backslash.
        if match and match.group(3).startswith("hex") and line.endswith("\\"):
            pending = line[:-1]
            continue
        pending = ""
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            tree.setdefault(key, {})
            continue
        match = VALUE_LINE.match(line)
        if key is None or not match:
            raise ValueError("unexpected line in .reg text: %r" % line)
        name = "@" if match.group(1) == "@" else unescape(match.group(2))
        tree[key][name] = parse_data(match.group(3))
    return tree


def parse_data(text):
    if text.startswith('"') and text.endswith('"'):
        return ("sz", unescape(text[1:-1]))
    if text.startswith("dword:"):
        return ("dword", int(text[6:], 16))
    match = re.match(r"^(hex(?:\([0-9a-fA-F]+\))?):(.*)$", text)
    if match:
        hex_bytes = [b for b in match.group(2).replace(" ", "").split(",") if b]
        return (match.group(1).lower(), bytes(int(b, 16) for b in hex_bytes))
    raise ValueError("unknown value data %r" % text)


def subtree(tree, key):
    """The part of `tree` at `key` and beneath it."""
    prefix = key.lower() + "\\"
    return {k: v for k, v in tree.items() if k.lower() == key.lower()
            or k.lower().startswith(prefix)}


def merge(*trees):
    merged = {}
    for tree in trees:
        for key, values in tree.items():
            merged.setdefault(key, {}).update(values)
    return merged


def describe_tree(tree):
    """One line per key and per value, keys in path order, for diffs."""
    if tree is None:
        return ["(no such key)"]
    lines = []
    for key in sorted(tree, key=lambda k: k.lower().split("\\")):
        lines.append("[%s]" % key)
        for name in sorted(tree[key], key=str.lower):
            kind, data = tree[key][name]
            shown = data.hex(",") if isinstance(data, bytes) else repr(data)
            lines.append("  %s = %s:%s" % ("@" if name == "@" else repr(name), kind, shown))
    return lines


# ---------------------------------------------------------------------------
# Relay traces.

MESSAGE_BOX_CALL = re.compile(
    r'Call user32\.MessageBoxExA\((\w+),\w+ "((?:[^"\\]|\\.)*)",\w+ "((?:[^"\\]|\\.)*)",'
    r'(\w+),(\w+)\)')
DEBUGSTR_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def undebugstr(text):
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)", lambda m: chr(int(m.group(1)[1:], 16))
                  if m.group(1)[0] == "x" and len(m.group(1)) == 3
                  else DEBUGSTR_ESCAPES.get(m.group(1), m.group(1)), text)


def message_boxes(trace):
    """[(owner, text, caption, style, language)] of every MessageBoxExA call,
    in order; the language keeps only its low 16 bits."""
    return [(int(owner, 16), undebugstr(text), undebugstr(caption), int(style, 16),
             int(language, 16) & 0xFFFF)
            for owner, text, caption, style, language in MESSAGE_BOX_CALL.findall(trace)]


DEBUG_OUTPUT = re.compile(r':OutputDebugStringA "plgproduct: ((?:[^"\\]|\\.)*)\\n"$', re.M)


def debug_messages(trace):
    """[(text, detail)] of every message the module wrote to the debug
    output, in order, from a trace with +debugstr; the detail (the key and
    the error) is what follows the text in parentheses."""
    found = []
    for line in map(undebugstr, DEBUG_OUTPUT.findall(trace)):
        text, _, detail = line.partition(" (HKEY_")
        found.append((text, "HKEY_" + detail[:-1] if detail else ""))
    return found


# WINEDEBUG=+eventlog: ReportEventW's fixme line with the event's type and ID,
# then each of its non-empty strings, one line each (at the err level for an
# error event).
REPORT_EVENT = re.compile(r"^\w+:fixme:advapi:ReportEventW \(\w+,0x(\w+),0x\w+,0x(\w+),")
EVENT_STRING = re.compile(r'^\w+:(\w+):eventlog:ReportEventW L"((?:[^"\\]|\\.)*)"$')


def events(trace):
    """[(type, event ID, [strings], level)] of every ReportEventW call in a
    trace with +eventlog, in order."""
    found = []
    for line in trace.splitlines():
        report = REPORT_EVENT.match(line)
        if report:
            found.append((int(report.group(1), 16), int(report.group(2), 16), [], set()))
            continue
        string = EVENT_STRING.match(line)
        if string and found:
            found[-1][2].append(undebugstr(string.group(2)))
            found[-1][3].add(string.group(1))
    return [(kind, number, strings, "/".join(sorted(levels))) for kind, number, strings, levels
            in found]


KeyCreation = collections.namedtuple("KeyCreation", "parent subkey options access status")

CALL_LINE = re.compile(r'^(\w+):Call (?:advapi32|kernelbase)\.RegCreateKeyExA\((\w+),\w+ '
                       r'"((?:[^"\\]|\\.)*)",\w+,\w+,(\w+),(\w+),')
RET_LINE = re.compile(r'^(\w+):Ret  (?:advapi32|kernelbase)\.RegCreateKeyExA\(\) retval=(\w+)')


def key_creations(trace):
    """Every traced RegCreateKeyExA with its result, in order. DWORD
    arguments keep their low 32 bits (the trace shows whole registers)."""
    pending, creations = {}, []
    for line in trace.splitlines():
        call = CALL_LINE.match(line)
        if call:
            thread, parent, subkey, options, access = call.groups()
            pending[thread] = (int(parent, 16), undebugstr(subkey),
                               int(options, 16) & 0xFFFFFFFF, int(access, 16) & 0xFFFFFFFF)
            continue
        ret = RET_LINE.match(line)
        if ret and ret.group(1) in pending:
            creations.append(KeyCreation(*pending.pop(ret.group(1)),
                                         int(ret.group(2), 16) & 0xFFFFFFFF))
    return creations


def calls(trace, function):
    """The argument texts of every traced call of `function` (any DLL)."""
    pattern = re.compile(r"^\w+:Call \w+\.%s\((.*)\) ret=\w+$" % re.escape(function))
    return [m.group(1) for m in map(pattern.match, trace.splitlines()) if m]


# ---------------------------------------------------------------------------
# Writing .reg text, for machine images handed to other programs.

def escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def format_data(kind, data):
    if kind == "sz":
        return '"%s"' % escape(data)
    if kind == "dword":
        return "dword:%08x" % data
    return "%s:%s" % (kind, ",".join("%02x" % b for b in data))


def format_reg(tree):
    """REGEDIT5 text of `tree`, parents before their subkeys."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key in sorted(tree, key=lambda k: k.lower().split("\\")):
        lines.append("[%s]" % key)
        for name, (kind, data) in tree[key].items():
            lines.append("%s=%s" % ("@" if name == "@" else '"%s"' % escape(name),
                                    format_data(kind, data)))
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def encode_reg_text(text):
    """As `reg export` writes it: UTF-16LE with a byte order mark."""
    return b"\xff\xfe" + text.encode("utf-16-le")


# ---------------------------------------------------------------------------
# What the module may change: the keys of registrar/owned_keys.def, which
# tests/support/containment.cpp checks call logs against, applied here to the
# difference of two exports.

SUBTREE, OPEN_ONLY, ONE_VALUE = "the key and everything beneath it", "created only", "one value"

OWNED_KEYS_DEF = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "registrar", "owned_keys.def")


def read_owned_keys(path=OWNED_KEYS_DEF):
    """[(path, scope, value name or None)], the rows of owned_keys.def."""
    literal = r'"((?:[^"\\]|\\.)*)"'
    row = re.compile(r"OWNED_KEY\(\s*%s\s*,\s*(k\w+)\s*,\s*(?:nullptr|%s)\s*\)$"
                     % (literal, literal))
    scopes = {"kSubtree": SUBTREE, "kOpenOnly": OPEN_ONLY, "kOneValue": ONE_VALUE}

    def unescape(text):  # the literals hold no escapes but \\ and \"
        return re.sub(r"\\(.)", r"\1", text)

    keys = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            if not line.startswith("OWNED_KEY("):
                continue
            match = row.match(line.rstrip("\n"))
            if not match or match.group(2) not in scopes:
                raise ValueError("%s:%d: not a row OWNED_KEY(path, scope, value)" % (path, number))
            key, scope, value = match.groups()
            keys.append((unescape(key), scopes[scope], None if value is None else unescape(value)))
    if not keys:
        raise ValueError("%s: no rows" % path)
    return keys


OWNED_KEYS = read_owned_keys()

# Wine's HKEY_CLASSES_ROOT is this key, with nothing merged into it.
MACHINE_CLASSES = "HKEY_LOCAL_MACHINE\\Software\\Classes"


def classes_as_root(tree):
    """`tree` with the keys beneath MACHINE_CLASSES named as HKEY_CLASSES_ROOT."""
    prefix = MACHINE_CLASSES.lower()
    renamed = {}
    for key, values in tree.items():
        if key.lower() == prefix or key.lower().startswith(prefix + "\\"):
            key = "HKEY_CLASSES_ROOT" + key[len(prefix):]
        renamed[key] = values
    return renamed


def registry_changes(before, after):
    """[(change, key, value name or None)]: "add key", "remove key",
    "set value" (new or different) and "remove value"; keys matched without
    regard to case, value names too."""
    def folded(tree):
        return {k.lower(): (k, {n.lower(): (n, v) for n, v in values.items()})
                for k, values in tree.items()}
    old, new = folded(before), folded(after)
    changes = []
    for key in sorted(set(old) | set(new)):
        old_key, old_values = old.get(key, (None, {}))
        new_key, new_values = new.get(key, (None, {}))
        if old_key is None:
            changes.append(("add key", new_key, None))
        if new_key is None:
            changes.append(("remove key", old_key, None))
        for name in sorted(set(old_values) | set(new_values)):
            if name not in new_values:
                changes.append(("remove value", old_key, old_values[name][0]))
            elif old_values.get(name) != new_values[name]:
                changes.append(("set value", new_key or old_key, new_values[name][0]))
    return changes


def changes_outside_product(before, after):
    """Every change between two trees that the module may not make, as
    text. A key may also come into being, empty, as a parent of a key that
    the module may create."""
    owned = [(path.lower(), scope, value) for path, scope, value in OWNED_KEYS]
    values_after = {key.lower(): values for key, values in after.items()}

    def allowed(change, key, name):
        key = key.lower()
        for path, scope, value in owned:
            if scope == SUBTREE and (key == path or key.startswith(path + "\\")):
                return True
            if key == path and change == "add key":
                return True
            if (key == path and scope == ONE_VALUE and change.endswith("value")
                    and name.lower() == value):
                return True
            if (change == "add key" and path.startswith(key + "\\")
                    and not values_after.get(key)):
                return True
        return False

    return ["%s %s%s" % (change, key, "" if name is None else ' value "%s"' % name)
            for change, key, name in registry_changes(before, after)
            if not allowed(change, key, name)]
