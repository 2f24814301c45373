#!/usr/bin/env python3
"""Checks the built module file, its tables and its resources, and plgreg.exe.

  check_dll.py linkage  DLL            PE32+ DLL, three exports, the four system imports
  check_dll.py custom_action DLL REPO_ROOT
                                        plgsetup.dll: its six entry points, system
                                        imports and msi.dll, the module's strings
  check_dll.py resources DLL REPO_ROOT  icons, bitmap, strings, version, manifest, event messages
  check_dll.py load DLL MAP             what a load costs: code <= 192 KB, sections
                                        page-aligned, start-up work the runtime's only
  check_dll.py program EXE VERSION      plgreg.exe as shipped: version record
                                        (VERSION, 38.0.<build>), manifest, no
                                        debug sections or symbols

Needs pefile (Debian: python3-pefile, for /usr/bin/python3). Prints every
mismatch and exits 1 if there was any.
"""

import ast
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

FAILURES = []


def check(condition, message):
    if not condition:
        FAILURES.append(message)
    return condition


def expect_equal(actual, expected, what):
    return check(actual == expected, "%s: expected %r, got %r" % (what, expected, actual))


# ---------------------------------------------------------------------------
# Exports and imports.

EXPECTED_EXPORTS = ["DllInstall", "DllRegisterServer", "DllUnregisterServer"]
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll"}
# Calls the module cannot do without; their absence means the registration
# code was not linked in.
REQUIRED_IMPORTS = {
    "advapi32.dll": {"RegCreateKeyExA", "RegOpenKeyExA", "RegSetValueExA",
                     "RegQueryValueExA", "RegDeleteKeyA", "RegDeleteValueA",
                     "RegCloseKey"},
    "user32.dll": {"MessageBoxExA"},
    "kernel32.dll": {"GetModuleFileNameA", "GetSystemDefaultLangID"},
}


# The installer's custom actions: their entry points, and the installer's
# calls, which only they may import.
CUSTOM_ACTION_EXPORTS = ["CommitRegistration", "ForgetUpgrade", "MarkUpgrade", "RegisterModule",
                         "RestoreRegistration", "UnregisterModule"]
CUSTOM_ACTION_IMPORTS = {
    "msi.dll": {"MsiProcessMessage", "MsiGetPropertyW"},
    "advapi32.dll": REQUIRED_IMPORTS["advapi32.dll"] | {"RegEnumValueA", "RegSetKeySecurity",
                                                        "ReportEventW"},
    "user32.dll": {"LoadStringW"},
}


def is_system_dll(name, extra=()):
    name = name.lower()
    return name in SYSTEM_DLLS or name in extra or name.startswith("api-ms-win-crt-")


def check_linkage(pe, exported=EXPECTED_EXPORTS, required=REQUIRED_IMPORTS, extra=()):
    expect_equal(hex(pe.FILE_HEADER.Machine), hex(0x8664), "machine (x86-64)")
    expect_equal(hex(pe.OPTIONAL_HEADER.Magic), hex(0x20B), "optional header (PE32+)")
    check(pe.FILE_HEADER.Characteristics & 0x2000, "file is not marked as a DLL")

    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if check(exports is not None, "no export table"):
        names = sorted(s.name.decode() if s.name else "#%d" % s.ordinal
                       for s in exports.symbols)
        expect_equal(names, exported, "exported names")
        expect_equal(exports.struct.NumberOfFunctions, len(exported), "number of exported functions")

    imported = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        name = entry.dll.decode()
        imported[name.lower()] = {i.name.decode() for i in entry.imports if i.name}
        check(is_system_dll(name, extra), "imports a non-system DLL: %s" % name)
    for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
        check(False, "delay-loads %s" % entry.dll.decode())
    # A new DLL would be loaded, and its own start-up run, with the module.
    expect_equal(sorted(imported), sorted(SYSTEM_DLLS | set(extra)), "imported DLLs")
    for dll, functions in sorted(required.items()):
        missing = sorted(functions - imported.get(dll, set()))
        check(not missing, "%s: missing imports %s" % (dll, ", ".join(missing)))
    print("imports:", ", ".join(sorted(imported)))


# ---------------------------------------------------------------------------
# What a load runs and costs. The module runs the C runtime's DLL start-up,
# which the exception runtime needs (its emergency memory pool, its TLS);
# the module's own code adds no static constructor and no TLS of its own,
# and keeps its code section within 192 KB.

MAX_CODE_SIZE = 192 * 1024
PAGE_SIZE = 0x1000
# Input sections of static constructors and TLS in the linker map, with the
# file that brought each.
START_UP_SECTIONS = re.compile(
    r"^ (\.ctors\S*|\.CRT\$X[CIL]\S*|\.tls\S*)\s+0x\w+\s+0x(\w+)\s+(\S+)")
# The toolchain's own files (its crt objects and libraries), as the map
# names them; everything else is the module's.
TOOLCHAIN_FILE = re.compile(r"^/usr/(lib|x86_64-w64-mingw32)/")
LOADED_SECTIONS = [".text", ".data", ".rdata", ".pdata", ".edata", ".idata", ".tls", ".rsrc",
                   ".reloc"]
# Data directories by index (export, import, resource, exception, base
# relocations, TLS) and the section each must lie in.
DIRECTORY_SECTIONS = [(0, ".edata"), (1, ".idata"), (2, ".rsrc"), (3, ".pdata"), (5, ".reloc"),
                      (9, ".rdata")]


def check_load(pe, map_text):
    text = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".text"]
    if check(len(text) == 1, "no single .text section"):
        size = text[0].Misc_VirtualSize
        check(size <= MAX_CODE_SIZE, "code section of %d bytes, more than %d" % (size, MAX_CODE_SIZE))
        print("code section: %d bytes" % size)
    # Wine maps a section from the file only when its file offset is as
    # page-aligned as its address; it copies the others at every load.
    for section in pe.sections:
        check(section.PointerToRawData % PAGE_SIZE == 0,
              "section %s at file offset %#x, not on a page boundary" % (
                  section.Name.rstrip(b"\0").decode(), section.PointerToRawData))
    # Each section costs a load its own mapping calls and pages: the linker
    # script folds the small ones into .data and .rdata. The directories the
    # loader needs must still point into their own sections.
    names = [section.Name.rstrip(b"\0").decode("ascii", "replace") for section in pe.sections]
    expect_equal(names, LOADED_SECTIONS, "sections")
    for index, section_name in DIRECTORY_SECTIONS:
        directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[index]
        section = pe.get_section_by_rva(directory.VirtualAddress) if directory.Size else None
        check(section is not None and section.Name.rstrip(b"\0").decode() == section_name,
              "data directory %d does not point into %s" % (index, section_name))
    start_up = [match for match in map(START_UP_SECTIONS.match, map_text.splitlines()) if match]
    check(start_up, "the map lists no start-up section: not a linker map?")
    for match in start_up:
        if int(match.group(2), 16) != 0:
            check(TOOLCHAIN_FILE.match(match.group(3)),
                  "start-up code or data of the module's own: %s" % match.group(0).strip())


# ---------------------------------------------------------------------------
# Resources.

RT_ICON, RT_BITMAP, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 2, 6, 14, 16, 24
RT_MESSAGETABLE = 11
LANGUAGE = 0x0409

ICON_GROUPS = [413, 415, 417, 431, 434]
SMALL_SET = [(16, 4), (32, 4), (16, 8), (32, 8)]
FULL_SET = [(size, 32) for size in (16, 24, 32, 40, 48, 64, 128, 256)]
EXPECTED_IMAGES = {413: SMALL_SET, 415: FULL_SET, 417: FULL_SET, 431: FULL_SET,
                   434: FULL_SET}

# The module's version record: (file version, product version, file type,
# strings).
VFT_APP, VFT_DLL = 1, 2
MODULE_VERSION = ((38, 0, 0, 380), (38, 0, 0, 0), VFT_DLL, {
    "FileDescription": "Pellagor Customization",
    "InternalName": "plgproduct",
    "OriginalFilename": "plgproduct.DLL",
    "ProductName": "Pellagor",
    "FileVersion": "38.0.0.380",
    "ProductVersion": "38.0.0.0",
})


def program_version(version):
    """plgreg.exe's version record, for the package's version 38.0.<build>."""
    fields = tuple(int(field) for field in version.split(".")) + (0,)
    return (fields, fields, VFT_APP, {
        "FileDescription": "Pellagor registration planner",
        "InternalName": "plgreg",
        "OriginalFilename": "plgreg.exe",
        "ProductName": "Pellagor",
        "FileVersion": version,
        "ProductVersion": version,
    })


def resource_table(pe):
    """{type: {id: [(language, bytes)]}} in directory order."""
    table = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if not check(directory is not None, "no resource directory"):
        return table
    for kind in directory.entries:
        entries = table.setdefault(kind.id if kind.id is not None else str(kind.name), {})
        for item in kind.directory.entries:
            key = item.id if item.id is not None else str(item.name)
            for lang in item.directory.entries:
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                entries.setdefault(key, []).append(
                    (lang.id, pe.get_memory_mapped_image()[rva:rva + size]))
    return table


def only_data(table, kind, key, what):
    versions = table.get(kind, {}).get(key, [])
    if not check(len(versions) == 1, "%s: %d language versions" % (what, len(versions))):
        return None
    language, data = versions[0]
    expect_equal(hex(language), hex(LANGUAGE), "%s language" % what)
    return data


def image_shape(data):
    """(width, height as stored, bits) of a DIB or PNG icon image."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        width, height, depth, colour_type = struct.unpack_from(">IIBB", data, 16)
        check(colour_type == 6 and depth == 8, "PNG image is not 8-bit RGBA")
        return width, height * 2, 32
    _, width, height, _, bits = struct.unpack_from("<IiiHH", data, 0)
    return width, height, bits


def ico_images(path):
    with open(path, "rb") as f:
        data = f.read()
    _, _, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        images.append(data[offset:offset + size])
    return images


def check_icons(table, repo):
    expect_equal(list(table.get(RT_GROUP_ICON, {})), ICON_GROUPS, "icon groups in order")
    icons = table.get(RT_ICON, {})
    used = set()
    for group in ICON_GROUPS:
        data = only_data(table, RT_GROUP_ICON, group, "icon group %d" % group)
        if data is None:
            continue
        _, kind, count = struct.unpack_from("<HHH", data, 0)
        expect_equal(kind, 1, "icon group %d type" % group)
        committed = ico_images(os.path.join(repo, "resources", "artwork",
                                            "icon%d.ico" % group))
        shapes = []
        for i in range(count):
            width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
                "<BBBBHHIH", data, 6 + 14 * i)
            width, height = width or 256, height or 256
            what = "icon group %d image %d" % (group, i)
            shapes.append((width, bits))
            expect_equal((width, height, planes), (width, width, 1), what + " entry")
            image = only_data(table, RT_ICON, icon_id, what)
            used.add(icon_id)
            if image is None:
                continue
            expect_equal(len(image), size, what + " size in the group entry")
            expect_equal(image_shape(image), (width, 2 * width, bits), what + " image header")
            if check(i < len(committed), what + " missing from the .ico file"):
                check(image == committed[i], what + " differs from the committed .ico")
        expect_equal(shapes, EXPECTED_IMAGES[group], "icon group %d images" % group)
    expect_equal(sorted(icons), sorted(used), "icon images referenced by the groups")


def check_bitmap(table):
    expect_equal(list(table.get(RT_BITMAP, {})), [410], "bitmaps")
    data = only_data(table, RT_BITMAP, 410, "bitmap 410")
    if data is not None:
        size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 0)
        expect_equal((size, width, height, planes, bits, compression),
                     (40, 500, 324, 1, 8, 0), "bitmap 410 header")
        expect_equal(len(data), 40 + 256 * 4 + 500 * 324, "bitmap 410 data size")


def table_strings(repo):
    """The rows of the string table source, with C escapes decoded."""
    path = os.path.join(repo, "resources", "product_strings.def")
    with open(path, encoding="ascii") as f:
        text = f.read()
    rows = re.findall(r'^PRODUCT_STRING\(\s*\w+\s*,\s*(\d+)\s*,\s*("(?:[^"\\]|\\.)*")\s*\)',
                      text, re.MULTILINE)
    return {int(number): ast.literal_eval(literal) for number, literal in rows}


def check_strings(table, repo):
    expected = table_strings(repo)
    check(len(expected) >= 40, "only %d rows read from the string table source" % len(expected))
    found = {}
    for block, versions in table.get(RT_STRING, {}).items():
        data = only_data(table, RT_STRING, block, "string block %d" % block)
        if data is None:
            continue
        offset = 0
        for i in range(16):
            (length,) = struct.unpack_from("<H", data, offset)
            offset += 2
            if length:
                found[(block - 1) * 16 + i] = data[offset:offset + 2 * length].decode("utf-16-le")
            offset += 2 * length
    for number in sorted(set(expected) | set(found)):
        expect_equal(found.get(number), expected.get(number), "string %d" % number)
    notice = found.get(411, "")
    expect_equal(notice.count("\n"), 2, "line breaks in string 411")
    check("\\" not in notice, "string 411 holds a backslash: an escape was not decoded")


def check_version(pe, expected):
    file_version, product_version, file_type, expected_strings = expected
    if not check(getattr(pe, "VS_FIXEDFILEINFO", None), "no version record"):
        return

    def packed(fields):
        return (fields[0] << 16 | fields[1], fields[2] << 16 | fields[3])

    fixed = pe.VS_FIXEDFILEINFO[0]
    expect_equal((fixed.FileVersionMS, fixed.FileVersionLS), packed(file_version), "file version")
    expect_equal((fixed.ProductVersionMS, fixed.ProductVersionLS), packed(product_version),
                 "product version")
    expect_equal(fixed.FileType, file_type, "file type")
    tables, translations = {}, []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for string_table in info.StringTable:
                tables[string_table.LangID.decode().upper()] = {
                    k.decode(): v.decode() for k, v in string_table.entries.items()}
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                value = var.entry.get(b"Translation")
                translations.append(value.decode() if isinstance(value, bytes) else value)
    expect_equal(sorted(tables), ["040904B0"], "version string tables")
    strings = tables.get("040904B0", {})
    for name, value in expected_strings.items():
        expect_equal(strings.get(name), value, "version string %s" % name)
    for name in ("CompanyName", "LegalCopyright"):
        check(strings.get(name), "version string %s is missing or empty" % name)
    expect_equal(translations, ["0x0409 0x04b0"], "version translation")


def mc_messages(repo):
    """{id: text} of resources/plgproduct_events.mc, each line ended by a
    line feed as windmc writes it."""
    with open(os.path.join(repo, "resources", "plgproduct_events.mc"), encoding="utf-8") as f:
        blocks = re.findall(r"^MessageId=(\d+)\n.*?^Language=English\n(.*?)^\.\n", f.read(),
                            re.MULTILINE | re.DOTALL)
    return {int(number): text for number, text in blocks}


def check_message_table(table, repo):
    """Message table 1 holds exactly the .mc file's messages, as UTF-16."""
    expect_equal(list(table.get(RT_MESSAGETABLE, {})), [1], "message tables")
    data = only_data(table, RT_MESSAGETABLE, 1, "message table 1")
    if data is None:
        return
    messages = {}
    (blocks,) = struct.unpack_from("<I", data, 0)
    for block in range(blocks):
        low, high, offset = struct.unpack_from("<III", data, 4 + 12 * block)
        for number in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, offset)
            text = data[offset + 4:offset + length]
            messages[number] = text.decode("utf-16-le") if flags & 1 else text.decode("latin-1")
            messages[number] = messages[number].rstrip("\0")
            offset += length
    expected = mc_messages(repo)
    check(expected, "resources/plgproduct_events.mc holds no message")
    expect_equal(messages, expected, "event messages")


# The manifest's resource ID: 2 for a DLL's, 1 for a program's.
DLL_MANIFEST, PROGRAM_MANIFEST = 2, 1
# The supportedOS identifier of Windows 10, which Windows 11 shares.
WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def manifest_elements(table, resource_id, name):
    """The texts, or the Id attributes, of the manifest's elements `name`;
    None without the manifest. Checks that it asks to run as the caller."""
    expect_equal(list(table.get(RT_MANIFEST, {})), [resource_id], "manifests")
    data = only_data(table, RT_MANIFEST, resource_id, "manifest %d" % resource_id)
    if data is None:
        return None
    root = ElementTree.fromstring(data)
    levels = [e for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    if expect_equal(len(levels), 1, "requestedExecutionLevel elements"):
        expect_equal(dict(levels[0].attrib), {"level": "asInvoker", "uiAccess": "false"},
                     "requestedExecutionLevel")
    return [e.get("Id", e.text) for e in root.iter() if e.tag.endswith("}" + name)]


def check_no_debug_information(pe):
    """No symbol table and no debug section. mingw's debug sections have
    names longer than eight characters, which the section table holds as
    "/N" (an offset into the symbol table's strings)."""
    expect_equal(pe.FILE_HEADER.PointerToSymbolTable, 0, "symbol table offset")
    expect_equal(pe.FILE_HEADER.NumberOfSymbols, 0, "number of symbols")
    names = [section.Name.rstrip(b"\0").decode("ascii", "replace") for section in pe.sections]
    debug = [name for name in names if name.startswith(("/", ".debug"))]
    expect_equal(debug, [], "debug sections")
    print("sections:", ", ".join(names))


def main(argv):
    if len(argv) == 3 and argv[1] == "linkage":
        check_linkage(pefile.PE(argv[2]))
    elif len(argv) == 4 and argv[1] == "custom_action":
        pe = pefile.PE(argv[2])
        check_linkage(pe, CUSTOM_ACTION_EXPORTS, CUSTOM_ACTION_IMPORTS, {"msi.dll"})
        check_strings(resource_table(pe), argv[3])
    elif len(argv) == 4 and argv[1] == "load":
        with open(argv[3], encoding="utf-8", errors="replace") as map_file:
            check_load(pefile.PE(argv[2]), map_file.read())
    elif len(argv) == 4 and argv[1] == "resources":
        pe = pefile.PE(argv[2])
        table = resource_table(pe)
        check_icons(table, argv[3])
        check_bitmap(table)
        check_strings(table, argv[3])
        check_version(pe, MODULE_VERSION)
        expect_equal(manifest_elements(table, DLL_MANIFEST, "dpiAware"), ["true"], "dpiAware")
        check_message_table(table, argv[3])
    elif len(argv) == 4 and argv[1] == "program":
        pe = pefile.PE(argv[2])
        check_version(pe, program_version(argv[3]))
        expect_equal(manifest_elements(resource_table(pe), PROGRAM_MANIFEST, "supportedOS"),
                     [WINDOWS_10_AND_11], "supportedOS")
        check_no_debug_information(pe)
    else:
        sys.stderr.write(__doc__)
        return 2
    for failure in FAILURES:
        print("FAIL:", failure)
    print("%s: %d problem(s)" % (argv[1], len(FAILURES)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
