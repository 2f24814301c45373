#!/usr/bin/env python3
"""Runs the benchmarks of a host and a windows build and prints one table.

  report.py --host build/host --windows build/windows [--work DIR]
            [--cycles N] [--runs N] [--loads N] [--wine-tree-max KEYS]

--wine-tree-max (default 100000) caps the ProgID tree under Wine; the
100,000-key case alone takes about a minute there.

Host parts (in-memory registry): bench/plg_registry_ops counts the registry
calls of one cycle; bench/plg_scaling_bench (Google Benchmark) times the
document class step with 1 to 1000 product versions and a tree deletion of
10 to 100,000 keys. Wine parts, each in a copy of one template prefix seeded
with the shared modelling system: bench/plg_cycle_driver.exe runs the module's
cycle against the floor, its load against a resources-only DLL, its load and
export calls as regsvr32 makes them (timed in process, against the whole
`wine regsvr32` run), and the scaling cases. Prints figures only: no time ever fails the run; a
failed check (the floor leaving other entries than the module, a call that
fails) does.
"""

import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "wine"))
import winelab  # noqa: E402
from checks import SEED_SHARED_SYSTEM  # noqa: E402

MODULE_PATH = "C:\\Program Files\\Pellagor\\plgproduct.dll"
RESOURCES_PATH = "C:\\plgbench\\plg_resources_only.dll"
DRIVER_PATH = "C:\\plgbench\\plg_cycle_driver.exe"
PLAN_PATH = "C:\\plgbench\\cycle.plan"

VERSION_COUNTS = (1, 10, 100, 1000)
TREE_SIZES = (10, 100, 1000, 10000, 100000)


class BenchError(Exception):
    pass


def run(args, **kwargs):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, **kwargs)
    if result.returncode != 0:
        raise BenchError("%s -> exit %d\n%s%s" % (" ".join(args), result.returncode,
                                                   result.stdout.decode(errors="replace"),
                                                   result.stderr.decode(errors="replace")))
    return result.stdout.decode(errors="replace")


def key_values(text):
    """{name: value} of "name=value" lines."""
    pairs = {}
    for line in text.splitlines():
        name, sep, value = line.strip().partition("=")
        if sep:
            pairs[name] = value
    return pairs


# ---------------------------------------------------------------------------
# The plan: what a cycle writes and removes, from plgreg.

def parse_reg4(data):
    """[(key, removed, {name: value or None})] of a REGEDIT4 text, in order.
    A value is ("sz", bytes) or ("dword", int); None removes it."""
    text = data.decode("latin-1").replace("\r\n", "\n")
    lines = text.split("\n")
    if lines[0] != "REGEDIT4":
        raise BenchError("not a REGEDIT4 text")
    sections = []
    for line in lines[1:]:
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            removed = key.startswith("-")
            sections.append((key[1:] if removed else key, removed, {}))
            continue
        name, data_text = split_value_line(line)
        if data_text == "-":
            value = None
        elif data_text.startswith('"') and data_text.endswith('"'):
            value = ("sz", unescape(data_text[1:-1]).encode("latin-1"))
        elif data_text.startswith("dword:"):
            value = ("dword", int(data_text[6:], 16))
        else:
            raise BenchError("value type the floor does not write: %r" % line)
        sections[-1][2][name] = value
    return sections


def split_value_line(line):
    if line.startswith("@="):
        return "", line[2:]
    if not line.startswith('"'):
        raise BenchError("unexpected .reg line %r" % line)
    i = 1
    while line[i] != '"':
        i += 2 if line[i] == "\\" else 1
    if line[i + 1] != "=":
        raise BenchError("unexpected .reg line %r" % line)
    return unescape(line[1:i]), line[i + 2:]


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out)


def split_root(key):
    root, _, path = key.partition("\\")
    return root, path


def driver_plan(register_sections, unregister_sections):
    """The floor's plan file: each key that holds values or has no new
    subkey, its values, then every tree and value removal."""
    sep = "\x1f"
    keys = [key.lower() for key, _, _ in register_sections]
    lines = []
    for key, removed, values in register_sections:
        if removed:
            raise BenchError("registration plan removes %s" % key)
        has_subkey = any(other.startswith(key.lower() + "\\") for other in keys)
        if not values and has_subkey:
            continue
        root, path = split_root(key)
        lines.append(sep.join(("K", root, path)))
        for name, value in values.items():
            kind, data = value
            if kind == "sz":
                lines.append(sep.join(("S", name, data.hex())))
            else:
                lines.append(sep.join(("D", name, "%x" % data)))
    for key, removed, values in unregister_sections:
        root, path = split_root(key)
        if removed:
            lines.append(sep.join(("T", root, path)))
        for name, value in values.items():
            if value is not None:
                raise BenchError("unregistration plan writes %s" % key)
            lines.append(sep.join(("V", root, path, name)))
    return "\n".join(lines) + "\n"


def count_entries(sections):
    keys = sum(1 for _, removed, _ in sections if not removed)
    values = sum(len(values) for _, _, values in sections)
    return keys, values


def make_plans(host_dir, work):
    plgreg = os.path.join(host_dir, "tools", "plgreg", "plgreg")
    register4 = run([plgreg, "plan", "register", "--format", "reg4"]).encode("latin-1")
    machine4 = run([plgreg, "machine", "--format", "reg4"]).encode("latin-1")
    # The machine as registration leaves it: the built-in image with the plan
    # applied (the plan only adds).
    registered = os.path.join(work, "registered_machine.reg")
    with open(registered, "wb") as f:
        f.write(machine4 + b"\n" + register4.split(b"\n", 1)[1])
    unregister4 = run([plgreg, "plan", "unregister", "--machine", registered,
                       "--format", "reg4"]).encode("latin-1")
    files = {}
    register_sections, unregister_sections = parse_reg4(register4), parse_reg4(unregister4)
    files["cycle.plan"] = os.path.join(work, "cycle.plan")
    with open(files["cycle.plan"], "w", encoding="latin-1", newline="\n") as f:
        f.write(driver_plan(register_sections, unregister_sections))
    return files, count_entries(register_sections), unregister_sections


# ---------------------------------------------------------------------------
# Host benchmarks.

def registry_ops(host_dir):
    out = run([os.path.join(host_dir, "bench", "plg_registry_ops")])
    phases = {}
    for line in out.splitlines():
        name, _, rest = line.partition(" ")
        phases[name] = {k: int(v) for k, v in (p.split("=") for p in rest.split())}
    return phases


def scaling_host(host_dir):
    out = run([os.path.join(host_dir, "bench", "plg_scaling_bench"),
               "--benchmark_format=json"])
    report = json.loads(out)
    times = {}
    for bench in report["benchmarks"]:
        name, _, arg = bench["name"].partition("/")
        factor = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[bench["time_unit"]]
        times.setdefault(name, {})[int(arg) if arg else 0] = bench["real_time"] * factor
    build_type = report["context"].get("library_build_type", "?")
    return times, build_type


# ---------------------------------------------------------------------------
# Wine.

class Lab:
    def __init__(self, windows_dir, work, files):
        self.windows_dir, self.work, self.files = windows_dir, work, files
        self.template = os.path.join(work, "template")
        self.dll = os.path.join(windows_dir, "registrar", "plgproduct.dll")
        self.resources = os.path.join(windows_dir, "bench", "plg_resources_only.dll")
        self.driver = os.path.join(windows_dir, "bench", "plg_cycle_driver.exe")
        for path in (self.dll, self.resources, self.driver):
            if not os.path.isfile(path):
                raise BenchError("missing %s: build the windows preset first" % path)

    def boot(self):
        if not os.path.isfile(os.path.join(self.template, winelab.TEMPLATE_MARK)):
            print("Booting a template Wine prefix in %s ..." % self.template,
                  file=sys.stderr, flush=True)
            winelab.make_template(self.template)

    def prefix(self, name):
        prefix = winelab.Prefix.copy_of(self.template, os.path.join(self.work, name))
        prefix.install(self.dll, MODULE_PATH)
        prefix.install(self.resources, RESOURCES_PATH)
        prefix.install(self.driver, DRIVER_PATH)
        prefix.install(self.files["cycle.plan"], PLAN_PATH)
        prefix.reg_import(SEED_SHARED_SYSTEM)
        return prefix


def driver(prefix, *args, timeout=1800):
    result = prefix.run(DRIVER_PATH, *[str(a) for a in args], timeout=timeout)
    if result.returncode != 0:
        raise BenchError(result.describe())
    return key_values(result.stdout)


def timed(prefix, *args):
    started = time.perf_counter()
    result = prefix.run(*args)
    elapsed = time.perf_counter() - started
    if result.returncode != 0:
        raise BenchError(result.describe())
    return elapsed


def wine_benchmarks(lab, options, removal_sections):
    lab.boot()
    figures = {}
    prefix = lab.prefix("cycle")
    with prefix.persistent_server():
        figures["cycle"] = driver(prefix, "cycle", MODULE_PATH, PLAN_PATH, options.cycles)
        figures["load"] = driver(prefix, "load", MODULE_PATH, RESOURCES_PATH, options.loads)
        # Each program once before timing, so that every timed run finds it in
        # the page cache.
        for args in (("regsvr32", "/s", MODULE_PATH), ("regsvr32", "/u", "/s", MODULE_PATH),
                     (DRIVER_PATH, "export", MODULE_PATH)):
            timed(prefix, *args)
        # The whole regsvr32 runs, and the module's part of such a run (its
        # load and its export call) timed inside a process that makes the
        # same calls, interleaved.
        whole, module = [], []
        for _ in range(options.runs):
            whole.append(timed(prefix, "regsvr32", "/s", MODULE_PATH) +
                         timed(prefix, "regsvr32", "/u", "/s", MODULE_PATH))
            inside = driver(prefix, "export", MODULE_PATH)
            module.append(sum(float(inside["%s_%s_us" % (phase, part)])
                              for phase in ("register", "unregister")
                              for part in ("load", "call")) / 1e6)
        # Both left the machine as they found it.
        for key, removed, _ in removal_sections:
            if removed and prefix.reg("query", key).returncode == 0:
                raise BenchError("%s is left after the timed runs" % key)
        figures["regsvr32"] = statistics.median(whole)
        figures["module_in_regsvr32"] = statistics.median(module)
    prefix.remove()

    figures["versions"] = {}
    for count in VERSION_COUNTS:
        prefix = lab.prefix("versions-%d" % count)
        with prefix.persistent_server():
            figures["versions"][count] = float(
                driver(prefix, "versions", MODULE_PATH, count, 5)["register_us"])
        prefix.remove()
    figures["tree"] = {}
    for keys in TREE_SIZES:
        if keys > options.wine_tree_max:
            continue
        prefix = lab.prefix("tree-%d" % keys)
        with prefix.persistent_server():
            # One round of the largest tree takes most of a minute.
            tree = driver(prefix, "tree", MODULE_PATH, keys, 3 if keys <= 10000 else 1)
            figures["tree"][keys] = float(tree["register_us"])
            figures.setdefault("tree_floor", {})[keys] = float(tree["floor_us"])
        prefix.remove()
    return figures


# ---------------------------------------------------------------------------
# The table.

def duration(us):
    if us >= 1e6:
        return "%.2f s" % (us / 1e6)
    if us >= 1e3:
        return "%.2f ms" % (us / 1e3)
    return "%.0f µs" % us


def dll_size(path):
    size = os.path.getsize(path)
    try:
        import pefile
    except ImportError:
        return "%.2f MB" % (size / 1e6), ""
    pe = pefile.PE(path, fast_load=True)
    parts = {"code": 0, "resources": 0, "debug info": 0}
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode(errors="replace")
        if name == ".text":
            # The code itself, as tests/dll/check_dll.py counts it, not its
            # page-padded size in the file.
            parts["code"] += section.Misc_VirtualSize
        elif name == ".rsrc":
            parts["resources"] += section.SizeOfRawData
        elif name.startswith("/") or name.startswith(".debug"):
            parts["debug info"] += section.SizeOfRawData
    detail = ", ".join("%s %.0f KB" % (k, v / 1024) for k, v in parts.items() if v)
    return "%.2f MB" % (size / 1e6), detail


def growth(times, sizes):
    present = [n for n in sizes if n in times]
    return " ".join("%.1f" % (times[b] / times[a]) for a, b in zip(present, present[1:]))


def scaling_row(label, times, sizes):
    cells = [duration(times[n]) if n in times else "-" for n in sizes]
    return "| %s | %s | %s |" % (label, " | ".join(cells), growth(times, sizes))


def machine_kind():
    wine = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL).stdout.decode().strip()
    distribution = ""
    try:
        with open("/etc/os-release") as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        distribution = fields.get("PRETTY_NAME", "").strip('"')
    except OSError:
        pass
    return "%d cores, %s, %s, %s" % (os.cpu_count() or 0, distribution or platform.system(),
                                     platform.machine(), wine or "no wine")


def print_table(ops, entries, host, build_type, wine, options, lab):
    keys, values = entries
    print("plgproduct benchmarks, %s; %s" % (datetime.date.today().isoformat(), machine_kind()))
    print()
    print("| Measure | plgproduct | Reference | Ratio |")
    print("|---|---:|---:|---:|")
    cycle = wine["cycle"]
    module_us, floor_us = float(cycle["module_us"]), float(cycle["floor_us"])
    print("| Register + unregister in process under Wine, median of %s cycles "
          "| %s | floor (%s raw calls) %s | %.2f |" % (
              cycle["cycles"], duration(module_us), cycle["floor_calls"],
              duration(floor_us), module_us / floor_us))
    print("| The module's share of `wine regsvr32 /s` + `/u /s`: its loads and export calls "
          "timed in process, against the whole runs, median of %d, interleaved "
          "| %s | whole runs %s | %.3f |" % (
              options.runs, duration(wine["module_in_regsvr32"] * 1e6),
              duration(wine["regsvr32"] * 1e6),
              wine["module_in_regsvr32"] / wine["regsvr32"]))
    load = wine["load"]
    module_load, resources_load = float(load["module_us"]), float(load["resources_us"])
    print("| LoadLibrary + FreeLibrary under Wine, USER32 and ADVAPI32 already loaded, "
          "median of %s | %s | resources only %s "
          "| %.2f |" % (load["loads"], duration(module_load), duration(resources_load),
                        module_load / resources_load))
    module_size, module_detail = dll_size(lab.dll)
    resources_size, _ = dll_size(lab.resources)
    print("| File size | %s (%s) | resources only %s | %.2f |" % (
        module_size, module_detail, resources_size,
        os.path.getsize(lab.dll) / os.path.getsize(lab.resources)))
    for phase in ("register", "unregister"):
        p = ops[phase]
        print("| Registry calls, %s (in-memory registry) | %d (%s) | %d entries %s; "
              "floor %d calls | %.2f per entry |" % (
                  phase, p["calls"],
                  ", ".join("%s %d" % (k, v) for k, v in p.items()
                            if k not in ("calls", "entries", "keys", "values", "floor") and v),
                  p["entries"], "written" if phase == "register" else "removed",
                  p["floor"], p["calls"] / p["entries"]))
    print()
    print("The plan from plgreg, on a machine never registered before: %d keys and %d values "
          "(the product key and the Options key included, which unregistration leaves and "
          "the counted cycle therefore finds)." % (keys, values))
    print()
    versions = host.get("BM_DocumentClassWithVersions", {})
    tree = host.get("BM_DeleteProgIdTree", {})
    print("Scaling: time of the affected step; last column: growth factor per tenfold "
          "step (10 = linear, 100 = quadratic).")
    print()
    print("| Product versions and releases in each view | %s | x10 |" %
          " | ".join(str(n) for n in VERSION_COUNTS))
    print("|---|%s---|" % ("---:|" * len(VERSION_COUNTS)))
    print(scaling_row("RegisterDocumentClass, in-memory (%s build)" % build_type.lower(),
                      versions, VERSION_COUNTS))
    print(scaling_row("DllRegisterServer under Wine, median of 5", wine["versions"],
                      VERSION_COUNTS))
    print()
    print("| Keys of the ProgID tree | %s | x10 |" % " | ".join(
        "{:,}".format(n) for n in TREE_SIZES))
    print("|---|%s---|" % ("---:|" * len(TREE_SIZES)))
    print(scaling_row("DeleteRegistryTree, in-memory (%s build)" % build_type.lower(),
                      tree, TREE_SIZES))
    print(scaling_row("DllRegisterServer under Wine (deletes the tree first), median of 3 "
                      "(1 at 100,000)",
                      wine["tree"], TREE_SIZES))
    print(scaling_row("RegDeleteTreeA of the same tree under Wine (the registry alone)",
                      wine.get("tree_floor", {}), TREE_SIZES))
    if options.wine_tree_max < TREE_SIZES[-1]:
        print()
        print("Under Wine the tree stops at {:,} keys (--wine-tree-max).".format(
            options.wine_tree_max))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True, help="host build directory")
    parser.add_argument("--windows", required=True, help="windows build directory")
    parser.add_argument("--work", help="prefixes and plans (default WINDOWS/bench/work)")
    parser.add_argument("--cycles", type=int, default=100)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--loads", type=int, default=200)
    parser.add_argument("--wine-tree-max", type=int, default=100000)
    options = parser.parse_args(argv[1:])
    work = os.path.abspath(options.work or os.path.join(options.windows, "bench", "work"))
    os.makedirs(work, exist_ok=True)
    try:
        files, entries, removal_sections = make_plans(options.host, work)
        lab = Lab(options.windows, work, files)
        ops = registry_ops(options.host)
        print("Host benchmarks (about a minute) ...", file=sys.stderr, flush=True)
        host, build_type = scaling_host(options.host)
        print("Wine benchmarks (a few minutes) ...", file=sys.stderr, flush=True)
        wine = wine_benchmarks(lab, options, removal_sections)
    except (BenchError, winelab.WineError) as error:
        print("bench: %s" % error, file=sys.stderr)
        return 1
    print_table(ops, entries, host, build_type, wine, options, lab)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
