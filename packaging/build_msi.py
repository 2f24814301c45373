#!/usr/bin/env python3
"""Builds a Windows Installer package from WiX v3 sources with msitools.

  build_msi.py --output PACKAGE.msi [--define NAME=VALUE ...] SOURCE.wxs...

wixl 0.101 compiles these sources except for two things, which this script
completes:
- custom actions that run an executable from a directory (CustomAction with
  Directory and ExeCommand, type 34): wixl drops them with a warning. They
  are taken out before wixl sees them, written as CustomAction rows (type 34
  with the deferred, rollback, commit, no-impersonate and ignore-exit-code
  bits of their attributes) and imported into the package with msibuild;
- properties and launch conditions defined in a Fragment (a Property with
  its RegistrySearch, a Condition, as plgreg's WiX output has them): wixl
  takes them only in the Product. They are moved there, which is where
  linking puts them;
- components marked Permanent="yes", whose attribute wixl ignores: their
  Permanent bit is set in the Component table;
- registry keys with no value to write (RegistryKey with
  ForceCreateOnInstall="yes" and no RegistryValue): wixl writes no row for
  them. They become Registry rows named "+" (create the key on
  installation), imported like the custom actions.
It then checks that every custom action the execution sequence names has
its row.

Debian packages wixl and msitools. Standard library otherwise.
"""

import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

NAMESPACE = "http://schemas.microsoft.com/wix/2006/wi"
NS = "{%s}" % NAMESPACE

# CustomAction Type bits (the installer's msidbCustomActionType values).
EXE_IN_DIRECTORY = 34
CONTINUE = 0x40          # Return="ignore": the exit code is not looked at
ROLLBACK = 0x100
COMMIT = 0x200
IN_SCRIPT = 0x400
NO_IMPERSONATE = 0x800
# Component Attributes bit: never removed once installed.
PERMANENT = 0x10
EXECUTE_BITS = {
    None: 0, "immediate": 0, "deferred": IN_SCRIPT, "rollback": IN_SCRIPT | ROLLBACK,
    "commit": IN_SCRIPT | COMMIT,
}

# The columns this script fills in the two tables it adds rows to; the
# integer ones are written without quotes.
COLUMNS = {
    "CustomAction": ["Action", "Type", "Source", "Target"],
    "Registry": ["Registry", "Root", "Key", "Name", "Component_"],
}
INTEGER_COLUMNS = {"Type", "Root"}
ROOTS = {"HKCR": 0, "HKCU": 1, "HKLM": 2, "HKU": 3, "HKMU": -1}


class BuildError(Exception):
    pass


def action_type(element):
    execute = element.get("Execute")
    if execute not in EXECUTE_BITS:
        raise BuildError("CustomAction %s: Execute=%r is not supported here"
                         % (element.get("Id"), execute))
    kind = EXE_IN_DIRECTORY | EXECUTE_BITS[execute]
    if element.get("Impersonate") == "no":
        if not kind & IN_SCRIPT:
            raise BuildError("CustomAction %s: Impersonate=\"no\" needs a deferred, "
                             "rollback or commit action" % element.get("Id"))
        kind |= NO_IMPERSONATE
    if element.get("Return", "check") == "ignore":
        kind |= CONTINUE
    elif element.get("Return", "check") != "check":
        raise BuildError("CustomAction %s: Return=%r is not supported here"
                         % (element.get("Id"), element.get("Return")))
    return kind


def split_sources(sources, work):
    """Writes each source into `work` without its directory custom actions
    and with its fragments' properties moved into the product; returns the
    copies and the rows of those actions."""
    ET.register_namespace("", NAMESPACE)
    trees = [ET.parse(source) for source in sources]
    products = [product for tree in trees for product in tree.iter(NS + "Product")]
    if len(products) != 1:
        raise BuildError("expected one Product in the sources, found %d" % len(products))
    for tree in trees:
        for fragment in tree.iter(NS + "Fragment"):
            for element in fragment.findall(NS + "Property") + fragment.findall(NS + "Condition"):
                fragment.remove(element)
                products[0].append(element)
    keys = []
    for tree in trees:
        for component in tree.iter(NS + "Component"):
            for element in component.findall(NS + "RegistryKey"):
                if (element.get("ForceCreateOnInstall") == "yes"
                        and element.find(NS + "RegistryValue") is None):
                    root, key = element.get("Root"), element.get("Key")
                    if root not in ROOTS or not key:
                        raise BuildError("RegistryKey %r %r: unknown root or no key" % (root, key))
                    name = "reg" + hashlib.md5(("%s\\%s\\+" % (root, key)).upper().encode(
                        "utf-8")).hexdigest().upper()
                    keys.append([name, str(ROOTS[root]), key, "+", component.get("Id")])
                    component.remove(element)
    copies, rows = [], []
    for number, (source, tree) in enumerate(zip(sources, trees)):
        for parent in tree.iter():
            for element in list(parent):
                if (element.tag == NS + "CustomAction" and element.get("Directory")
                        and element.get("ExeCommand") is not None):
                    rows.append((element.get("Id"), action_type(element),
                                 element.get("Directory"), element.get("ExeCommand")))
                    parent.remove(element)
        copy = os.path.join(work, "%d-%s" % (number, os.path.basename(source)))
        tree.write(copy, encoding="utf-8", xml_declaration=True)
        copies.append(copy)
    return copies, rows, keys


def run(args, cwd=None):
    done = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        raise BuildError("%s failed (exit %d):\n%s" % (args[0], done.returncode, done.stdout))
    return done.stdout


def table(package, name):
    """The rows of table `name` as lists of fields (msiinfo export)."""
    text = run(["msiinfo", "export", package, name])
    return [line.split("\t") for line in text.splitlines()[3:] if line]


def add_rows(package, name, rows):
    """Inserts `rows` into table `name` with msibuild's SQL (an exported and
    re-imported table would lose the tabs inside its texts)."""
    columns = COLUMNS[name]
    for row in rows:
        if any("'" in field for field in row):
            raise BuildError("%s row %r: a quote cannot be inserted" % (name, row[0]))
        values = ", ".join(field if column in INTEGER_COLUMNS else "'%s'" % field
                           for column, field in zip(columns, row))
        run(["msibuild", package, "-q", "INSERT INTO `%s` (%s) VALUES (%s)" % (
            name, ", ".join("`%s`" % column for column in columns), values)])


def mark_permanent_components(package, sources):
    """Sets the Permanent bit of each component whose source says
    Permanent="yes" (wixl 0.101 ignores the attribute)."""
    permanent = {element.get("Id") for source in sources
                 for element in ET.parse(source).iter(NS + "Component")
                 if element.get("Permanent") == "yes"}
    for row in table(package, "Component"):
        if row[0] in permanent:
            run(["msibuild", package, "-q", "UPDATE `Component` SET `Attributes` = %d "
                 "WHERE `Component` = '%s'" % (int(row[3]) | PERMANENT, row[0])])


def build(output, sources, defines):
    with tempfile.TemporaryDirectory(prefix="build_msi-") as work:
        copies, rows, keys = split_sources(sources, work)
        command = ["wixl", "-a", "x64", "-o", output]
        for define in defines:
            name, _, value = define.partition("=")
            # wixl takes a File's Source relative to the folder it runs in
            # and cannot open an absolute one.
            if os.path.isabs(value) and os.path.isfile(value):
                value = os.path.relpath(value, work)
            command += ["-D", "%s=%s" % (name, value)]
        run(command + copies, cwd=work)
    add_rows(output, "CustomAction", [[name, str(kind), directory, target]
                                      for name, kind, directory, target in rows])
    add_rows(output, "Registry", keys)
    mark_permanent_components(output, sources)
    actions = {row[0] for row in table(output, "CustomAction")}
    directories = {row[0] for row in table(output, "Directory")}
    for name, _, directory, _ in rows:
        if directory not in directories:
            raise BuildError("CustomAction %s runs in directory %s, which the package "
                             "does not have" % (name, directory))
    scheduled = {row[0] for row in table(output, "InstallExecuteSequence")}
    for name in [row[0] for row in rows]:
        if name not in scheduled:
            raise BuildError("CustomAction %s is not in InstallExecuteSequence" % name)
    scheduled_custom = {element.get("Action") for source in sources
                         for element in ET.parse(source).iter(NS + "Custom")}
    for name in scheduled_custom - actions:
        raise BuildError("InstallExecuteSequence names %s, which has no CustomAction row"
                         % name)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", required=True)
    parser.add_argument("--define", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("sources", nargs="+")
    args = parser.parse_args(argv[1:])
    output = os.path.abspath(args.output)
    try:
        os.makedirs(os.path.dirname(output), exist_ok=True)
        if os.path.exists(output):
            os.remove(output)
        build(output, [os.path.abspath(s) for s in args.sources], args.define)
    except (BuildError, OSError, ET.ParseError, subprocess.SubprocessError) as error:
        print("build_msi: %s" % error, file=sys.stderr)
        if os.path.exists(output):
            os.remove(output)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
