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
REGSVR32 = '"[System64Folder]regsvr32.exe"'
# Type 34 (an executable run from a directory) + 0x400 in the script +
# 0x800 not impersonated, + 0x100 for the rollback action.
CUSTOM_ACTIONS = {
    "RegisterModule": ("3106", "System64Folder",
                       REGSVR32 + ' /s /n /i:quiet "[#plgproduct.dll]"'),
    "RegisterModuleRollback": ("3362", "System64Folder",
                               REGSVR32 + ' /u /s /n /i:quiet "[#plgproduct.dll]"'),
    "UnregisterModule": ("3106", "System64Folder",
                         REGSVR32 + ' /u /s /n /i:quiet "[INSTALLFOLDER]plgproduct.dll"'),
}
# The execution sequence in this order, with these conditions.
ORDER = [
    ("InstallValidate", ""), ("RemoveExistingProducts", ""), ("InstallInitialize", ""),
    ("UnregisterModule", 'REMOVE~="ALL"'), ("RemoveFiles", ""), ("InstallFiles", ""),
    ("RegisterModuleRollback", 'NOT REMOVE~="ALL"'), ("RegisterModule", 'NOT REMOVE~="ALL"'),
    ("InstallFinalize", ""),
]
MSIDB_COMPONENT_64BIT = 256

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def msiinfo(*args):
    return subprocess.run(["msiinfo", *args], check=True, stdout=subprocess.PIPE,
                          text=True, timeout=60).stdout


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
                         ("ProductVersion", version), ("ProductName", "Pellagor")):
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

    actions = {name: tuple(fields[:3]) for name, fields in rows(package, "CustomAction").items()}
    check(actions == CUSTOM_ACTIONS, "custom actions: expected %r, got %r"
          % (CUSTOM_ACTIONS, actions))
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
    check(any(row[0] == UPGRADE_CODE and row[2] == version and row[6] == "WIX_UPGRADE_DETECTED"
              for row in upgrade), "no Upgrade row finds older builds: %r" % upgrade)
    print("%s: %d failure(s)" % (package, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
