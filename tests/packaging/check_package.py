#!/usr/bin/env python3
"""The built package's tables against what the package must do, without
installing it (the Wine scenarios install it).

  check_package.py PACKAGE.msi VERSION

Prints one line per failed check; exit code 1 when any failed. msiinfo
(Debian msitools); standard library otherwise.
"""

import subprocess
import sys

# This major's codes: its UpgradeCode, and the GUID of the module's
# component, by which a build finds the folder of the installed one.
UPGRADE_CODE = "{984CFD0A-5CDA-4AD3-A5FF-84D4585A4617}"
MODULE_COMPONENT = "{152EC614-D52C-4FC9-9998-375416AFFCDE}"
# The codes every version had before each major got its own, and that no
# major may take again.
SHARED_CODES = {"{3C1F6A2E-8B47-4D95-A0E3-5F2C7B19D864}", "{6E0A2B7C-1D43-4F85-9A26-C3B8E5F10D72}",
                "{A4D85E31-7C02-4B6F-8E19-2F70C3B4D5A6}", "{0B7E4D29-5A81-4C36-9F12-D84E6A3C1B57}"}
# The registration's DLL actions, from the Binary table's plgsetup.dll: type
# 1 + 0x400 in the script + 0x800 not impersonated; + 0x100 for a rollback
# and 0x200 for a commit action.
SETUP_BINARY = "PellagorSetup"
CUSTOM_ACTIONS = {
    "RegisterModuleRollback": ("3393", SETUP_BINARY, "RestoreRegistration"),
    "RegisterModule": ("3073", SETUP_BINARY, "RegisterModule"),
    "RegisterModuleCommit": ("3649", SETUP_BINARY, "CommitRegistration"),
    "UnregisterModuleRollback": ("3393", SETUP_BINARY, "RestoreRegistration"),
    "UnregisterModule": ("3073", SETUP_BINARY, "UnregisterModule"),
    "UnregisterModuleCommit": ("3649", SETUP_BINARY, "CommitRegistration"),
    # The upgrade markers: left as the user (1 + 0x40 exit code ignored),
    # taken away in the script and by its rollback.
    "MarkUpgrade": ("65", SETUP_BINARY, "MarkUpgrade"),
    "ForgetUpgradeRollback": ("3393", SETUP_BINARY, "ForgetUpgrade"),
    "ForgetUpgrade": ("3137", SETUP_BINARY, "ForgetUpgrade"),
    # Type 51, immediate: a property set from formatted text (the DLL
    # actions' CustomActionData, where Add/Remove Programs says the product
    # is, the folder kept across builds).
    "SetRegisterModule": ("51", "RegisterModule", "[RollbackDisabled];[#plgproduct.dll]"),
    "SetUnregisterModule": ("51", "UnregisterModule", "[RollbackDisabled];"),
    "SetARPINSTALLLOCATION": ("51", "ARPINSTALLLOCATION", "[INSTALLFOLDER]"),
    "SetINSTALLFOLDERFromEntry": ("51", "INSTALLFOLDER", "[PRODUCTFOLDER]"),
    "SetINSTALLFOLDER": ("51", "INSTALLFOLDER", "[INSTALLEDFOLDER]"),
}
# The execution sequence in this order, with these conditions: the older
# build goes inside this transaction; each rollback comes before what it
# undoes; the event source is written before the registration and removed
# after the unregistration; the module's actions follow its component's
# states.
# The older build's removal inside an upgrade (UPGRADINGPRODUCTCODE under
# Windows Installer, the marker under Wine) leaves the registration to the
# new build; the marker is left right before that removal and taken away
# right after it.
REMOVING = "Installed AND $Module=2 AND NOT UPGRADINGPRODUCTCODE AND NOT UPGRADEDBY"
INSTALLING = "$Module=3"
UPGRADING = "WIX_UPGRADE_DETECTED"
# The installed product's folder, else the installed build's, unless the
# command line names one, before the folders are resolved.
KEEP_FOLDER = [("SetINSTALLFOLDERFromEntry", "PRODUCTFOLDER AND NOT INSTALLFOLDER"),
               ("SetINSTALLFOLDER", "INSTALLEDFOLDER AND NOT INSTALLFOLDER")]
ORDER = [
    ("AppSearch", "")] + KEEP_FOLDER + [("LaunchConditions", ""),
    ("CostFinalize", ""), ("SetARPINSTALLLOCATION", ""),
    ("InstallValidate", ""), ("InstallInitialize", ""), ("MarkUpgrade", UPGRADING),
    ("ForgetUpgradeRollback", UPGRADING), ("RemoveExistingProducts", ""),
    ("ForgetUpgrade", UPGRADING),
    ("ProcessComponents", ""), ("SetUnregisterModule", REMOVING),
    ("UnregisterModuleRollback", REMOVING), ("UnregisterModule", REMOVING),
    ("UnregisterModuleCommit", REMOVING), ("RemoveRegistryValues", ""), ("RemoveFiles", ""),
    ("InstallFiles", ""), ("WriteRegistryValues", ""), ("SetRegisterModule", INSTALLING),
    ("RegisterModuleRollback", INSTALLING), ("RegisterModule", INSTALLING),
    ("RegisterModuleCommit", INSTALLING), ("InstallFinalize", ""),
]
# The package's own errors: the first failure ([2]) and how many followed ([3]).
ERRORS = {"25001": "Pellagor could not be registered: [2] ([3] further registration errors "
                   "followed; the installation log lists each.)",
          "25002": "Pellagor could not be unregistered: [2] ([3] further errors followed; the "
                   "installation log lists each.)",
          "25003": "Pellagor could not record the state of the registry for a rollback: [2]"}
# Without the shared system only a removal goes ahead.
LAUNCH_CONDITIONS = {"NOT WIX_DOWNGRADE_DETECTED", 'KELSYS_BIN OR REMOVE~="ALL"',
                     'Installed OR NOT REMOVE~="ALL"',
                     "Installed OR (Privileged AND ALLUSERS AND NOT MSIINSTALLPERUSER=1)"}
# Upgrade attributes: migrate features (1), minimum version inclusive
# (0x100, the major's first build), maximum version inclusive (0x200, a
# rebuild of the same version); only detect (2) for newer ones.
UPGRADE_ATTRIBUTES, DOWNGRADE_ATTRIBUTES = "769", "2"
MAJOR_FIRST_BUILD = "38.0.0"
# Feature attribute msidbFeatureAttributesDisallowAdvertise.
DISALLOW_ADVERTISE = 8
MODULE_FILE_VERSION = "38.0.0.380"
MSIDB_COMPONENT_64BIT = 256

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def msiinfo(*args):
    return subprocess.run(["msiinfo", *args], check=True, stdout=subprocess.PIPE,
                          text=True, timeout=60).stdout


def msiinfo_bytes(*args):
    return subprocess.run(["msiinfo", *args], check=True, stdout=subprocess.PIPE,
                          timeout=60).stdout


MZ = b"MZ"


def rows(package, table):
    """{first field: the other fields} of `table`; none where it is missing."""
    if table not in msiinfo("tables", package).split():
        return {}
    lines = [line.rstrip("\r").split("\t") for line in msiinfo("export", package, table)
             .splitlines()[3:] if line.strip()]
    return {fields[0]: fields[1:] for fields in lines}


def main(argv):
    package, version = argv[1], argv[2]
    check("Template: x64;1033" in msiinfo("suminfo", package), "not an x64 package")
    check("SelfReg" not in msiinfo("tables", package).split(), "the package has a SelfReg table")
    properties = {name: fields[0] for name, fields in rows(package, "Property").items()}
    for name, wanted in (("ALLUSERS", "1"), ("UpgradeCode", UPGRADE_CODE),
                         ("ProductVersion", version), ("ProductName", "Pellagor 38.0"),
                         ("ARPNOMODIFY", "1"), ("ARPPRODUCTICON", "Pellagor.ico")):
        check(properties.get(name) == wanted, "property %s: expected %r, got %r"
              % (name, wanted, properties.get(name)))

    # The folder of a managed installation's command line reaches the server.
    check("INSTALLFOLDER" in properties.get("SecureCustomProperties", "").split(";"),
          "INSTALLFOLDER is not secure: %r" % properties.get("SecureCustomProperties"))

    directories = rows(package, "Directory")
    parent = directories.get("INSTALLFOLDER", [None, None])
    check(parent[1] == "38.0" and directories.get(parent[0], [None, None]) ==
          ["ProgramFiles64Folder", "Pellagor"], "INSTALLFOLDER is not "
          "[ProgramFiles64Folder]Pellagor\\38.0: %r, %r" % (parent, directories.get(parent[0])))
    features = rows(package, "Feature")
    check(features and all(int(fields[6]) & DISALLOW_ADVERTISE for fields in features.values()),
          "a feature can be advertised: %r" % features)
    files = rows(package, "File")
    components = rows(package, "Component")
    check(components.get("Module", [None])[0] == MODULE_COMPONENT
          and not SHARED_CODES & {fields[0] for fields in components.values()},
          "component GUIDs: %r" % {name: fields[0] for name, fields in components.items()})
    check(sorted(files) == ["plgproduct.dll", "plgreg.exe"], "files: %r" % sorted(files))
    for name, fields in files.items():
        component = components.get(fields[0], [None, None, "0"])
        check(component[1] == "INSTALLFOLDER" and int(component[2]) & MSIDB_COMPONENT_64BIT,
              "%s is not in a 64-bit component of INSTALLFOLDER: %r" % (name, component))
    # A file with a version record is a versioned file: its version and
    # language in the File table, no hash.
    check(files.get("plgproduct.dll", [None] * 4)[3:5] == [MODULE_FILE_VERSION, "1033"],
          "plgproduct.dll: version and language %r" % files.get("plgproduct.dll", [])[3:5])
    hashed = rows(package, "MsiFileHash")
    for name, fields in files.items():
        check(not (fields[3] and name in hashed), "%s is versioned and hashed" % name)
    check("Pellagor.ico" in rows(package, "Icon"), "no icon for Add/Remove Programs")
    # The searches: root 2 is HKLM; type 2 (raw) + 16 (the 64-bit view).
    # The installed product's folder: its own entry's; the installed build's:
    # its module component's (a file key path, type 1, no file signature:
    # the folder that holds it). The older build's removal in an upgrade
    # under Wine: the marker the new build left for this product.
    searches = rows(package, "AppSearch")
    for name, locator, wanted in (
            ("KELSYS_BIN", "RegLocator",
             ["2", "Software\\Tolvanics\\Kelsys\\38.0\\Dir", "bin", "18"]),
            ("PRODUCTFOLDER", "RegLocator", ["2", "Software\\Microsoft\\Windows\\CurrentVersion"
                                             "\\Uninstall\\[ProductCode]", "InstallLocation", "18"]),
            ("INSTALLEDFOLDER", "CompLocator", [MODULE_COMPONENT, "1"]),
            ("UPGRADEDBY", "RegLocator", ["2", "Software\\Pellagor Upgrade\\[ProductCode]",
                                          "UpgradingProductCode", "18"])):
        found = rows(package, locator).get(searches.get(name, [None])[0])
        check(found == wanted, "search of %s: %r" % (name, found))
    check(set(searches) == {"KELSYS_BIN", "PRODUCTFOLDER", "INSTALLEDFOLDER", "UPGRADEDBY"},
          "searches: %r" % sorted(searches))
    launch = rows(package, "LaunchCondition")
    check(set(launch) == LAUNCH_CONDITIONS, "launch conditions: %r" % sorted(launch))
    check(all(message[0].startswith(("Pellagor ", "This Pellagor ", "A newer build of Pellagor"))
              for message in launch.values()), "launch condition messages: %r" % launch)
    registry = rows(package, "Registry").values()
    check(not [fields[1] for fields in registry if fields[1].endswith("\\")],
          "Registry keys with a trailing backslash: %r" % [fields[1] for fields in registry])
    event_source = {fields[2]: fields[3] for fields in registry if fields[0] == "2" and fields[1]
                    == "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Pellagor"}
    check(event_source == {"EventMessageFile": "#%[#plgproduct.dll]", "TypesSupported": "#7"},
          "event source: %r" % event_source)

    actions = {name: tuple(fields[:3]) for name, fields in rows(package, "CustomAction").items()}
    check(actions == CUSTOM_ACTIONS, "custom actions: expected %r, got %r"
          % (CUSTOM_ACTIONS, actions))
    check(list(rows(package, "Binary")) == [SETUP_BINARY], "Binary rows: %r"
          % list(rows(package, "Binary")))
    check(MZ == msiinfo_bytes("extract", package, "Binary." + SETUP_BINARY)[:2],
          "the Binary row %s holds no DLL" % SETUP_BINARY)
    errors = {name: fields[0] for name, fields in rows(package, "Error").items()}
    check(errors == ERRORS, "Error rows: %r" % errors)
    sequence = rows(package, "InstallExecuteSequence")
    placed = [(int(sequence[name][1]) if name in sequence else None, name, condition)
              for name, condition in ORDER]
    check(all(number is not None for number, _, _ in placed), "actions missing from the "
          "sequence: %r" % [name for number, name, _ in placed if number is None])
    if not failures:
        check(sorted(placed) == placed, "sequence order: %r" % sorted(placed))
        for _, name, condition in placed:
            check(sequence[name][0] == condition, "%s condition: expected %r, got %r"
                  % (name, condition, sequence[name][0]))

    # The user interface passes its folder on: it must be the installed one.
    ui = rows(package, "InstallUISequence")
    ui_placed = [(int(ui[name][1]), name, ui[name][0]) for name, _ in KEEP_FOLDER + [
        ("CostFinalize", "")] if name in ui]
    check([(name, condition) for _, name, condition in sorted(ui_placed)] == KEEP_FOLDER + [
        ("CostFinalize", "")], "InstallUISequence: %r" % sorted(ui_placed))

    upgrade = [line.rstrip("\r").split("\t") for line in msiinfo("export", package, "Upgrade")
               .splitlines()[3:] if line.strip()]
    check(sorted((row[0], row[1], row[2], row[4], row[6]) for row in upgrade) == sorted([
        (UPGRADE_CODE, MAJOR_FIRST_BUILD, version, UPGRADE_ATTRIBUTES, "WIX_UPGRADE_DETECTED"),
        (UPGRADE_CODE, version, "", DOWNGRADE_ATTRIBUTES, "WIX_DOWNGRADE_DETECTED")]),
        "Upgrade rows: %r" % upgrade)
    print("%s: %d failure(s)" % (package, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
