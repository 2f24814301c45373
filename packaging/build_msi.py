#!/usr/bin/env python3
"""Builds a Windows Installer package from WiX v3 sources with msitools.

  build_msi.py --output PACKAGE.msi [--define NAME=VALUE ...] SOURCE.wxs...

wixl 0.101 compiles these sources except for what this script completes:
- DLL custom actions from the Binary table (CustomAction with BinaryKey and
  DllEntry, type 1) that run as rollback or commit actions: wixl writes
  them as immediate ones. Their rows get the type of their attributes;
- error messages (Error elements under a UI in the Product), which wixl
  refuses: Error rows;
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
  installation), imported like the custom actions;
- launch conditions (Condition with Message under the Product), which wixl
  refuses: LaunchCondition rows;
- UpgradeVersion's IncludeMaximum="yes" and MigrateFeatures="yes", which
  wixl ignores: the bits of the row's Attributes;
- component searches (Property with ComponentSearch), which wixl does not
  know: AppSearch and CompLocator rows;
- Property Secure="yes", which wixl ignores: the property joins
  SecureCustomProperties;
- Feature AllowAdvertise="no", which wixl ignores: the feature's
  disallow-advertise attribute;
- immediate custom actions, to which wixl gives the no-impersonate bit
  (meaningless outside the script): their type without it;
- the Registry table's keys, to which wixl appends a backslash: without it;
- RegistryValue Type="expandable", which wixl writes as a plain string: the
  row's value gets the "#%" of REG_EXPAND_SZ;
- the File table's Version and Language, which wixl leaves empty (hashing
  every file instead): each file with a version record gets its version
  and language, and loses its MsiFileHash row.

The package is reproducible: the same inputs give the same bytes.
- A Product with Id="*" gets a ProductCode derived from its UpgradeCode,
  its version and the content of the sources and of every file the
  defines name (a name-based UUID, RFC 4122 version 5): the same inputs
  give the same product, any change a new one.
- The summary's times and the cabinet's file dates are SOURCE_DATE_EPOCH
  (the environment's; else the last commit's time; else 1980-01-01).
- The PackageCode (the summary's revision number) is derived from the
  finished package's bytes.
It then checks that every custom action the execution sequence names has
its row.

Debian packages wixl, msitools, python3-pefile and python3-olefile.
"""

import argparse
import collections
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET

import olefile
import pefile

NAMESPACE = "http://schemas.microsoft.com/wix/2006/wi"
NS = "{%s}" % NAMESPACE

# CustomAction Type bits (the installer's msidbCustomActionType values).
DLL_FROM_BINARY = 1
EXE_IN_DIRECTORY = 34
CONTINUE = 0x40          # Return="ignore": the exit code is not looked at
ROLLBACK = 0x100
COMMIT = 0x200
IN_SCRIPT = 0x400
NO_IMPERSONATE = 0x800
EXECUTE_BITS = {
    None: 0, "immediate": 0, "deferred": IN_SCRIPT, "rollback": IN_SCRIPT | ROLLBACK,
    "commit": IN_SCRIPT | COMMIT,
}

# The columns of the tables this script adds rows to; the integer ones are
# written without quotes.
COLUMNS = {
    "CustomAction": ["Action", "Type", "Source", "Target"],
    "Registry": ["Registry", "Root", "Key", "Name", "Component_"],
    "LaunchCondition": ["Condition", "Description"],
    "Error": ["Error", "Message"],
    "Upgrade": ["UpgradeCode", "VersionMin", "VersionMax", "Language", "Attributes", "Remove",
                "ActionProperty"],
    "AppSearch": ["Property", "Signature_"],
    "CompLocator": ["Signature_", "ComponentId", "Type"],
}
INTEGER_COLUMNS = {"Type", "Root", "Attributes", "Error"}
# The tables wixl 0.101 never makes, as Windows Installer defines them.
SCHEMAS = {
    "AppSearch": "`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT NULL "
                 "PRIMARY KEY `Property`, `Signature_`",
    "CompLocator": "`Signature_` CHAR(72) NOT NULL, `ComponentId` CHAR(38) NOT NULL, "
                   "`Type` SHORT PRIMARY KEY `Signature_`",
}
# CompLocator Type: whether the component's key path is a directory or a
# file (without a Signature row, the search gives the file's folder).
LOCATOR_TYPES = {"directory": 0, "file": 1}
ROOTS = {"HKCR": 0, "HKCU": 1, "HKLM": 2, "HKU": 3, "HKMU": -1}
# Where Windows Installer's own sequences run AppSearch, and LaunchConditions
# after it, since the conditions read the searches' properties.
APP_SEARCH_SEQUENCE, LAUNCH_CONDITIONS_SEQUENCE = 50, 100
# Component Attributes bit: never removed once installed.
PERMANENT = 0x10
# Upgrade table Attributes bits wixl leaves out: msidbUpgradeAttributes
# MigrateFeatures and VersionMaxInclusive.
UPGRADE_BITS = {"MigrateFeatures": 0x1, "IncludeMaximum": 0x200}
# Feature Attributes bit msidbFeatureAttributesDisallowAdvertise.
DISALLOW_ADVERTISE = 0x8
# Summary information: the revision number holds the PackageCode; the
# creation and last-saved times are FILETIMEs.
SUMMARY_STREAM = "\x05SummaryInformation"
PID_REVISION, PID_CREATED, PID_LAST_SAVED = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
FILETIME_EPOCH = 116444736000000000     # 1970-01-01 in 100 ns since 1601
NO_GUID = "{00000000-0000-0000-0000-000000000000}"
# Cabinets hold DOS dates, which start in 1980.
EARLIEST_DATE = 315532800

# What the sources ask of the package beyond what wixl writes.
Completion = collections.namedtuple(
    "Completion", "copies actions keys launch_conditions upgrade_bits expandable file_sources "
                  "permanent scheduled searches secure unadvertised immediate dll_actions errors")


class BuildError(Exception):
    pass


def action_type(element, base=EXE_IN_DIRECTORY):
    execute = element.get("Execute")
    if execute not in EXECUTE_BITS:
        raise BuildError("CustomAction %s: Execute=%r is not supported here"
                         % (element.get("Id"), execute))
    kind = base | EXECUTE_BITS[execute]
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


def substitute(text, defines):
    """`text` with each $(var.NAME) replaced by its define."""
    def value(match):
        if match.group(1) not in defines:
            raise BuildError("$(var.%s) is not defined" % match.group(1))
        return defines[match.group(1)]
    return re.sub(r"\$\(var\.([A-Za-z0-9_.]+)\)", value, text or "")


def payload_digest(sources, defines):
    """SHA-256 over the sources and every define, a file's by its content."""
    digest = hashlib.sha256()
    for source in sources:
        with open(source, "rb") as f:
            digest.update(f.read())
    for name in sorted(defines):
        digest.update(b"\0" + name.encode("utf-8") + b"=")
        if os.path.isfile(defines[name]):
            with open(defines[name], "rb") as f:
                digest.update(hashlib.sha256(f.read()).digest())
        else:
            digest.update(defines[name].encode("utf-8"))
    return digest.hexdigest()


def derived_guid(namespace, name):
    return "{%s}" % str(uuid.uuid5(uuid.UUID(namespace), name)).upper()


def split_sources(sources, work, defines):
    """Writes each source into `work` without what wixl cannot compile, and
    with a derived ProductCode where the Product asks for one ("*");
    returns a Completion with the copies and what to add to the package."""
    ET.register_namespace("", NAMESPACE)
    trees = [ET.parse(source) for source in sources]
    products = [product for tree in trees for product in tree.iter(NS + "Product")]
    if len(products) != 1:
        raise BuildError("expected one Product in the sources, found %d" % len(products))
    product = products[0]
    if product.get("Id") == "*":
        upgrade_code = substitute(product.get("UpgradeCode"), defines)
        version = substitute(product.get("Version"), defines)
        if not upgrade_code:
            raise BuildError("a Product with Id=\"*\" needs an UpgradeCode")
        product.set("Id", derived_guid(upgrade_code, "%s\n%s" % (
            version, payload_digest(sources, defines))))
    for tree in trees:
        for fragment in tree.iter(NS + "Fragment"):
            for element in fragment.findall(NS + "Property") + fragment.findall(NS + "Condition"):
                fragment.remove(element)
                product.append(element)
    launch_conditions = []
    for element in product.findall(NS + "Condition"):
        if not element.get("Message") or not (element.text or "").strip():
            raise BuildError("a launch condition needs a Message and a condition")
        launch_conditions.append([element.text.strip(), substitute(element.get("Message"),
                                                                    defines)])
        product.remove(element)
    upgrade_bits = {}
    for element in product.iter(NS + "UpgradeVersion"):
        bits = sum(bit for name, bit in UPGRADE_BITS.items()
                   if element.attrib.pop(name, "no") == "yes")
        if bits:
            upgrade_bits[element.get("Property")] = bits
    searches, secure = [], []
    for element in product.findall(NS + "Property"):
        if element.attrib.pop("Secure", "no") == "yes":
            secure.append(element.get("Id"))
        for search in element.findall(NS + "ComponentSearch"):
            if search.get("Type", "file") not in LOCATOR_TYPES or not search.get("Guid"):
                raise BuildError("ComponentSearch %s: a Guid and a Type of %s"
                                 % (search.get("Id"), " or ".join(LOCATOR_TYPES)))
            searches.append((element.get("Id"), search.get("Id"), search.get("Guid"),
                             LOCATOR_TYPES[search.get("Type", "file")]))
            element.remove(search)
        if element.get("Value") is None and len(element) == 0:
            product.remove(element)
    unadvertised = set()
    for tree in trees:
        for element in tree.iter(NS + "Feature"):
            if element.attrib.pop("AllowAdvertise", "yes") == "no":
                unadvertised.add(element.get("Id"))
    errors = []
    for element in product.findall(NS + "UI"):
        if any(child.tag != NS + "Error" for child in element):
            raise BuildError("a UI here holds Error elements only")
        errors.extend([child.get("Id"), (child.text or "").strip()] for child in element)
        product.remove(element)
    keys, expandable, file_sources, permanent = [], [], {}, set()
    for tree in trees:
        for component in tree.iter(NS + "Component"):
            if component.get("Permanent") == "yes":
                permanent.add(component.get("Id"))
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
            for element in component.iter(NS + "RegistryValue"):
                if element.get("Type") == "expandable":
                    element.set("Type", "string")
                    expandable.append((component.get("Id"), element.get("Name") or "",
                                       element.get("Value")))
            for element in component.iter(NS + "File"):
                file_sources[element.get("Id")] = substitute(element.get("Source"), defines)
    scheduled = {element.get("Action") for tree in trees for element in tree.iter(NS + "Custom")}
    dll_actions = [(element.get("Id"), action_type(element, DLL_FROM_BINARY))
                   for tree in trees for element in tree.iter(NS + "CustomAction")
                   if element.get("BinaryKey") and element.get("DllEntry")]
    copies, actions, immediate = [], [], set()
    for number, (source, tree) in enumerate(zip(sources, trees)):
        for parent in tree.iter():
            for element in list(parent):
                if (element.tag == NS + "CustomAction" and element.get("Directory")
                        and element.get("ExeCommand") is not None):
                    actions.append((element.get("Id"), action_type(element),
                                    element.get("Directory"), element.get("ExeCommand")))
                    parent.remove(element)
                elif (element.tag == NS + "CustomAction"
                      and element.get("Execute", "immediate") == "immediate"):
                    immediate.add(element.get("Id"))
        copy = os.path.join(work, "%d-%s" % (number, os.path.basename(source)))
        tree.write(copy, encoding="utf-8", xml_declaration=True)
        copies.append(copy)
    return Completion(copies, actions, keys, launch_conditions, upgrade_bits, expandable,
                      file_sources, permanent, scheduled, searches, secure, unadvertised,
                      immediate, dll_actions, errors)


def run(args, cwd=None, env=None):
    done = subprocess.run(args, cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        raise BuildError("%s failed (exit %d):\n%s" % (args[0], done.returncode, done.stdout))
    return done.stdout


def table(package, name):
    """The rows of table `name` as lists of fields (msiinfo export)."""
    text = run(["msiinfo", "export", package, name])
    return [line.split("\t") for line in text.splitlines()[3:] if line]


def sql_text(field):
    if "'" in field:
        raise BuildError("%r: a quote cannot be written with msibuild's SQL" % field)
    return "'%s'" % field


def sql(package, query):
    try:
        run(["msibuild", package, "-q", query])
    except BuildError as error:
        raise BuildError("%s\n%s" % (query, str(error).splitlines()[1]))


def add_rows(package, name, rows):
    """Inserts `rows` into table `name` with msibuild's SQL (an exported and
    re-imported table would lose the tabs inside its texts); an empty field
    stays null."""
    for row in rows:
        given = [(column, field) for column, field in zip(COLUMNS[name], row) if field]
        sql(package, "INSERT INTO `%s` (%s) VALUES (%s)" % (
            name, ", ".join("`%s`" % column for column, _ in given),
            ", ".join(field if column in INTEGER_COLUMNS else sql_text(field)
                      for column, field in given)))


def add_table_rows(package, name, rows):
    """`add_rows`, first making the table if wixl did not."""
    if rows and name not in run(["msiinfo", "tables", package]).split():
        sql(package, "CREATE TABLE `%s` (%s)" % (name, SCHEMAS[name]))
    add_rows(package, name, rows)


def schedule(package, action, number):
    """Places a standard action that wixl schedules only for the rows it
    wrote itself in both sequences, where it is not yet."""
    for sequence in ("InstallExecuteSequence", "InstallUISequence"):
        if action not in {row[0] for row in table(package, sequence)}:
            sql(package, "INSERT INTO `%s` (`Action`, `Sequence`) VALUES (%s, %d)"
                % (sequence, sql_text(action), number))


def complete_upgrades(package, upgrade_bits):
    """Adds the Attributes bits wixl leaves out to the Upgrade rows of each
    action property; Attributes is part of the table's key, so the row is
    replaced."""
    for row in table(package, "Upgrade"):
        if row[6] in upgrade_bits:
            sql(package, "DELETE FROM `Upgrade` WHERE `ActionProperty`=%s" % sql_text(row[6]))
            row[4] = str(int(row[4]) | upgrade_bits[row[6]])
            add_rows(package, "Upgrade", [row])


def complete_properties(package, secure, unadvertised, immediate):
    """The secure properties, the features that cannot be advertised, the
    immediate actions' types and the Registry keys, as the sources ask."""
    properties = {row[0]: row[1] for row in table(package, "Property")}
    listed = [name for name in properties.get("SecureCustomProperties", "").split(";") if name]
    wanted = listed + [name for name in secure if name not in listed]
    if wanted != listed:
        sql(package, "DELETE FROM `Property` WHERE `Property`='SecureCustomProperties'")
        sql(package, "INSERT INTO `Property` (`Property`, `Value`) VALUES "
            "('SecureCustomProperties', %s)" % sql_text(";".join(wanted)))
    for row in table(package, "Feature"):
        if row[0] in unadvertised:
            sql(package, "UPDATE `Feature` SET `Attributes`=%d WHERE `Feature`=%s"
                % (int(row[7]) | DISALLOW_ADVERTISE, sql_text(row[0])))
    for row in table(package, "CustomAction"):
        if row[0] in immediate and int(row[1]) & NO_IMPERSONATE:
            sql(package, "UPDATE `CustomAction` SET `Type`=%d WHERE `Action`=%s"
                % (int(row[1]) & ~NO_IMPERSONATE, sql_text(row[0])))
    for row in table(package, "Registry"):
        if row[2].endswith("\\") and row[2].rstrip("\\"):
            sql(package, "UPDATE `Registry` SET `Key`=%s WHERE `Registry`=%s"
                % (sql_text(row[2].rstrip("\\")), sql_text(row[0])))


def mark_permanent_components(package, permanent):
    """Sets the Permanent bit of each component of `permanent` (wixl 0.101
    ignores the attribute)."""
    for row in table(package, "Component"):
        if row[0] in permanent:
            sql(package, "UPDATE `Component` SET `Attributes` = %d WHERE `Component` = %s"
                % (int(row[3]) | PERMANENT, sql_text(row[0])))


def source_date_epoch(sources):
    """SOURCE_DATE_EPOCH, else the time of the last commit of the sources'
    checkout, else 1980-01-01; never before 1980 (a cabinet's DOS dates)."""
    text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not text:
        done = subprocess.run(["git", "-C", os.path.dirname(sources[0]), "log", "-1",
                               "--format=%ct"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
        text = done.stdout.strip() if done.returncode == 0 else ""
    if text and not text.isdigit():
        raise BuildError("SOURCE_DATE_EPOCH is not a number of seconds: %r" % text)
    return max(int(text or 0), EARLIEST_DATE)


def dated_copies(defines, work, epoch):
    """The defines, each file among them copied into `work` with the
    modification time `epoch` (wixl dates the cabinet's files by it), and
    named relative to `work` (wixl cannot open an absolute Source)."""
    dated = {}
    for number, (name, value) in enumerate(sorted(defines.items())):
        if os.path.isfile(value):
            folder = os.path.join(work, "files", str(number))
            os.makedirs(folder)
            copy = os.path.join(folder, os.path.basename(value))
            shutil.copyfile(value, copy)
            os.utime(copy, (epoch, epoch))
            value = os.path.relpath(copy, work)
        dated[name] = value
    return dated


def file_version(path):
    """(version, language) from the version record of the PE file at
    `path`, or None when it has none."""
    try:
        image = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError:
        return None
    image.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not getattr(image, "VS_FIXEDFILEINFO", None):
        return None
    fixed = image.VS_FIXEDFILEINFO[0]
    version = "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                               fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    languages = []
    for info in getattr(image, "FileInfo", []):
        for entry in info:
            for var in getattr(entry, "Var", []):
                for key, value in var.entry.items():
                    if key in ("Translation", b"Translation"):
                        text = value.decode() if isinstance(value, bytes) else value
                        languages.append(int(text.split()[0], 16))
    return version, str(languages[0]) if languages else "0"


def add_file_versions(package, file_sources):
    """Each file with a version record gets its Version and Language; its
    MsiFileHash row goes, as the installer wants for a versioned file."""
    for file_id, source in sorted(file_sources.items()):
        found = file_version(source) if os.path.isfile(source) else None
        if found:
            sql(package, "UPDATE `File` SET `Version`=%s, `Language`=%s WHERE `File`=%s"
                % (sql_text(found[0]), sql_text(found[1]), sql_text(file_id)))
            sql(package, "DELETE FROM `MsiFileHash` WHERE `File_`=%s" % sql_text(file_id))


def summary_fields(stream):
    """{property id: (offset of its value, type)} in a summary stream."""
    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    fields = {}
    for number in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * number)
        fields[pid] = (section + offset + 4, struct.unpack_from("<I", stream,
                                                               section + offset)[0])
    return fields


def set_summary(package, epoch, package_code):
    """Sets the summary's creation and last-saved times to `epoch` and its
    revision number to `package_code`, in place (the fields keep their size)."""
    with olefile.OleFileIO(package, write_mode=True) as ole:
        stream = bytearray(ole.openstream(SUMMARY_STREAM).read())
        fields = summary_fields(stream)
        for pid in (PID_CREATED, PID_LAST_SAVED):
            if pid in fields and fields[pid][1] == VT_FILETIME:
                struct.pack_into("<Q", stream, fields[pid][0],
                                 FILETIME_EPOCH + epoch * 10000000)
        offset, kind = fields.get(PID_REVISION, (None, None))
        if kind != VT_LPSTR or struct.unpack_from("<I", stream, offset)[0] != len(NO_GUID) + 1:
            raise BuildError("the summary has no package code to set")
        stream[offset + 4:offset + 4 + len(NO_GUID)] = package_code.encode("ascii")
        ole.write_stream(SUMMARY_STREAM, bytes(stream))


def build(output, sources, defines):
    epoch = source_date_epoch(sources)
    with tempfile.TemporaryDirectory(prefix="build_msi-") as work:
        completion = split_sources(sources, work, defines)
        command = ["wixl", "-a", "x64", "-o", output]
        for name, value in dated_copies(defines, work, epoch).items():
            command += ["-D", "%s=%s" % (name, value)]
        # The cabinet's DOS dates are local times: UTC, the same on every machine.
        run(command + completion.copies, cwd=work, env=dict(os.environ, TZ="UTC"))
    add_rows(output, "CustomAction", [[name, str(kind), directory, target]
                                      for name, kind, directory, target in completion.actions])
    for name, kind in completion.dll_actions:
        sql(output, "UPDATE `CustomAction` SET `Type`=%d WHERE `Action`=%s"
            % (kind, sql_text(name)))
    add_rows(output, "Registry", completion.keys)
    add_rows(output, "Error", completion.errors)
    add_rows(output, "LaunchCondition", completion.launch_conditions)
    if completion.launch_conditions:
        schedule(output, "LaunchConditions", LAUNCH_CONDITIONS_SEQUENCE)
    add_table_rows(output, "AppSearch", [[name, signature] for name, signature, _, _
                                         in completion.searches])
    add_table_rows(output, "CompLocator", [[signature, guid, str(kind)] for _, signature, guid,
                                           kind in completion.searches])
    if completion.searches:
        schedule(output, "AppSearch", APP_SEARCH_SEQUENCE)
    mark_permanent_components(output, completion.permanent)
    complete_upgrades(output, completion.upgrade_bits)
    complete_properties(output, completion.secure, completion.unadvertised,
                        completion.immediate)
    for component, name, value in completion.expandable:
        sql(output, "UPDATE `Registry` SET `Value`=%s WHERE `Component_`=%s AND `Name`=%s"
            % (sql_text("#%" + value), sql_text(component), sql_text(name)))
    add_file_versions(output, completion.file_sources)
    actions = {row[0] for row in table(output, "CustomAction")}
    directories = {row[0] for row in table(output, "Directory")}
    for name, _, directory, _ in completion.actions:
        if directory not in directories:
            raise BuildError("CustomAction %s runs in directory %s, which the package "
                             "does not have" % (name, directory))
    scheduled = {row[0] for row in table(output, "InstallExecuteSequence")}
    for name in [row[0] for row in completion.actions]:
        if name not in scheduled:
            raise BuildError("CustomAction %s is not in InstallExecuteSequence" % name)
    for name in completion.scheduled - actions:
        raise BuildError("InstallExecuteSequence names %s, which has no CustomAction row"
                         % name)
    # Last, once nothing else writes the package: its times, then its code,
    # derived from every other byte.
    set_summary(output, epoch, NO_GUID)
    with open(output, "rb") as f:
        content = hashlib.sha256(f.read()).hexdigest()
    set_summary(output, epoch, derived_guid(str(uuid.NAMESPACE_OID), content))


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
        defines = dict(define.partition("=")[::2] for define in args.define)
        try:
            build(output, [os.path.abspath(s) for s in args.sources], defines)
        except Exception:
            # No half-made package is left for the build to take as done.
            if os.path.exists(output):
                os.remove(output)
            raise
    except (BuildError, OSError, ET.ParseError, subprocess.SubprocessError,
            struct.error) as error:
        print("build_msi: %s" % error, file=sys.stderr)
        if os.path.exists(output):
            os.remove(output)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
