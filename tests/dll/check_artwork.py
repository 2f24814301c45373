#!/usr/bin/env python3
"""Checks that the committed artwork is what resources/artwork/generate.py draws.

  check_artwork.py REPO_ROOT SCRATCH_DIR

Regenerates into SCRATCH_DIR and compares with resources/artwork/. PNG
entries are compared by their pixels, not their compressed bytes, so that
another zlib build does not count as a difference.
"""

import os
import shutil
import struct
import subprocess
import sys
import zlib

OUTPUTS = ["icon413.ico", "icon415.ico", "icon417.ico", "icon431.ico", "icon434.ico",
           "banner410.bmp"]


def png_content(data):
    """(IHDR, decompressed pixel rows) of a PNG."""
    header, pixels, offset = None, b"", 8
    while offset < len(data):
        (length,) = struct.unpack_from(">I", data, offset)
        kind = data[offset + 4:offset + 8]
        body = data[offset + 8:offset + 8 + length]
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            pixels += body
        offset += 12 + length
    return header, zlib.decompress(pixels)


def ico_content(data):
    """The icon directory entries (without size and offset) and their images."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    entries = [kind]
    for i in range(count):
        fields = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        image = data[fields[7]:fields[7] + fields[6]]
        if image[:8] == b"\x89PNG\r\n\x1a\n":
            image = png_content(image)
        entries.append((fields[:6], image))
    return entries


def content(name, data):
    return ico_content(data) if name.endswith(".ico") else data


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    repo, scratch = argv[1], argv[2]
    artwork = os.path.join(repo, "resources", "artwork")
    shutil.rmtree(scratch, ignore_errors=True)
    subprocess.run([sys.executable, os.path.join(artwork, "generate.py"), scratch],
                   check=True)
    differences = 0
    for name in OUTPUTS:
        with open(os.path.join(artwork, name), "rb") as f:
            committed = f.read()
        with open(os.path.join(scratch, name), "rb") as f:
            drawn = f.read()
        if content(name, committed) != content(name, drawn):
            print("FAIL: resources/artwork/%s is not what generate.py draws now; "
                  "run it and commit the result" % name)
            differences += 1
    print("artwork: %d of %d files differ" % (differences, len(OUTPUTS)))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
