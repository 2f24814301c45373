#!/usr/bin/env python3
"""The built package's tables against what the package must do, without
installing it (the Wine scenarios install it).

  check_package.py PACKAGE.msi VERSION

Prints one line per failed check; exit code 1 when any failed. msiinfo
(Debian msitools); standard library otherwise.
"""

import subprocess
import sys

UPGRADE_CODE = "{3C1F6A2E-8B47-4D95-A0E3-5F2C7B19D864}"
# The registration's DLL actions, from the Binary table's plgsetup.dll: type
# 1 + 0x400 in the script + 0x800 not impersonated; + 0x100 for a rollback
# and 0x200 for a commit action, + 0x40 where the result is ignored.
SETUP_BINARY = "PellagorSetup"
CUSTOM_ACTIONS = {
    "RegisterModuleRollback": ("3393", SETUP_BINARY, "RestoreRegistration"),
    "RegisterModule": ("3073", SETUP_BINARY, "RegisterModule"),
    "RegisterModuleCommit": ("3649", SETUP_BINARY, "CommitRegistration"),
    "UnregisterModuleRollback": ("3393", SETUP_BINARY, "RestoreRegistration"),
    "UnregisterModule": ("3073", SETUP_BINARY, "UnregisterModule"),
    "UnregisterModuleCommit": ("3649", SETUP_BINARY, "CommitRegistration"),
    # Type 51, a property set from formatted text (wixl adds 0x800, which an
    # immediate action ignores): the DLL actions' CustomActionData, and
    # where Add/Remove Programs says the product is.
    "SetRegisterModule": ("2099", "RegisterModule", "[RollbackDisabled];[#plgproduct.dll]"),
    "SetUnregisterModule": ("2099", "UnregisterModule", "[RollbackDisabled];"),
    "SetARPINSTALLLOCATION": ("2099", "ARPINSTALLLOCATION", "[INSTALLFOLDER]"),
}
# The execution sequence in this order, with these conditions: the older
# build goes inside this transaction; each rollback comes before what it
# undoes; the event source is written before the registration and removed
# after the unregistration; the module's actions follow its component's
# states.
REMOVING, INSTALLING = "Installed AND $Module=2", "$Module=3"
ORDER = [
    ("LaunchConditions", ""), ("CostFinalize", ""), ("SetARPINSTALLLOCATION", ""),
    ("InstallValidate", ""), ("InstallInitialize", ""),
    ("RemoveExistingProducts", ""), ("ProcessComponents", ""),
    ("SetUnregisterModule", REMOVING), ("UnregisterModuleRollback", REMOVING), ("UnregisterModule", REMOVING),
    ("UnregisterModuleCommit", REMOVING), ("RemoveRegistryValues", ""), ("RemoveFiles", ""),
    ("InstallFiles", ""), ("WriteRegistryValues", ""), ("SetRegisterModule", INSTALLING),
    ("RegisterModuleRollback", INSTALLING),
    ("RegisterModule", INSTALLING), ("RegisterModuleCommit", INSTALLING),
    ("InstallFinalize", ""),
]
# The package's own errors: the first failure ([2]) and how many followed ([3]).
ERRORS = {"25001": "Pellagor could not be registered: [2] ([3] further registration errors "
                   "followed; the installation log lists each.)",
          "25002": "Pellagor could not be unregistered: [2] ([3] further errors followed; the "
                   "installation log lists each.)",
          "25003": "Pellagor could not record the state of the registry for a rollback: [2]"}
LAUNCH_CONDITIONS = {"NOT WIX_DOWNGRADE_DETECTED", "Installed OR KELSYS_BIN",
                     'Installed OR NOT REMOVE~="ALL"',
                     "Installed OR (Privileged AND ALLUSERS AND NOT MSIINSTALLPERUSER=1)"}
# Upgrade attributes: migrate features (1), maximum version inclusive
# (0x200, a rebuild of the same version); only detect (2) for newer ones.
UPGRADE_ATTRIBUTES, DOWNGRADE_ATTRIBUTES = "513", "2"
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
    """{first field: the other fields} of `table`."""
    lines = [line.rstrip("\r").split("\t") for line in msiinfo("export", package, table)
             .splitlines()[3:] if line.strip()]
    return {fields[0]: fields[1:] for fields in lines}


def main(argv):
    package, version = argv[1], argv[2]
    check("Template: x64;1033" in msiinfo("suminfo", package), "not an x64 package")
    check("SelfReg" not in msiinfo("tables", package).split(), "the package has a SelfReg table")
    properties = {name: fields[0] for name, fields in rows(package, "Property").items()}
    for name, wanted in (("ALLUSERS", "1"), ("UpgradeCode", UPGRADE_CODE),
                         ("ProductVersion", version), ("ProductName", "Pellagor"),
                         ("ARPNOMODIFY", "1"), ("ARPPRODUCTICON", "Pellagor.ico")):
        check(properties.get(name) == wanted, "property %s: expected %r, got %r"
              % (name, wanted, properties.get(name)))

    directories = rows(package, "Directory")
    check(directories.get("INSTALLFOLDER", [None])[0] == "ProgramFiles64Folder"
          and directories["INSTALLFOLDER"][1] == "Pellagor",
          "INSTALLFOLDER is not [ProgramFiles64Folder]Pellagor: %r" % directories.get("INSTALLFOLDER"))
    files = rows(package, "File")
    components = rows(package, "Component")
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
    searches, locators = rows(package, "AppSearch"), rows(package, "RegLocator")
    for name, wanted in (
            ("KELSYS_BIN", ["2", "Software\\Tolvanics\\Kelsys\\38.0\\Dir", "bin", "18"]),
            ("INSTALLFOLDER", ["2", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                               "[ProductCode]", "InstallLocation", "18"])):
        found = locators.get(searches.get(name, [None])[0])
        check(found == wanted, "search of %s: %r" % (name, found))
    launch = rows(package, "LaunchCondition")
    check(set(launch) == LAUNCH_CONDITIONS, "launch conditions: %r" % sorted(launch))
    check(all(message[0].startswith(("Pellagor ", "This Pellagor ", "A newer version of Pellagor"))
              for message in launch.values()), "launch condition messages: %r" % launch)
    event_source = {fields[2]: fields[3] for fields in rows(package, "Registry").values()
                    if fields[0] == "2" and fields[1].rstrip("\\") ==
                    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Pellagor"}
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

    upgrade = [line.rstrip("\r").split("\t") for line in msiinfo("export", package, "Upgrade")
               .splitlines()[3:] if line.strip()]
    check(sorted((row[0], row[1], row[2], row[4], row[6]) for row in upgrade) == sorted([
        (UPGRADE_CODE, "", version, UPGRADE_ATTRIBUTES, "WIX_UPGRADE_DETECTED"),
        (UPGRADE_CODE, version, "", DOWNGRADE_ATTRIBUTES, "WIX_DOWNGRADE_DETECTED")]),
        "Upgrade rows: %r" % upgrade)
    print("%s: %d failure(s)" % (package, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
