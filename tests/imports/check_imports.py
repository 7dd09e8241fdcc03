#!/usr/bin/env python3
"""Checks that a 32-bit PE loads on Windows 2000 SP4: every function it imports,
from every DLL, must stand in the table with a first Windows version no newer
than Windows 2000, every row of the table must still be imported (so that the
table stays short and true), and the image's OS and subsystem versions must be
at most 5.0. Wine exports every function whatever version it reports, so only
the import table tells what a real loader would refuse.

usage: check_imports.py TABLE.tsv FILE.dll
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pe_image import IMPORT, Image  # noqa: E402

ORDINAL_FLAG = 0x80000000

# Windows versions in the order they shipped; the table names one of these.
VERSIONS = ["NT 3.1", "NT 3.5", "NT 4.0", "2000", "XP", "Server 2003", "Vista", "7", "8",
            "8.1", "10", "11"]
OLDEST_TARGET = "2000"
# The image header fields: major, minor.
MAX_IMAGE_VERSION = (5, 0)


class ImportedImage(Image):
    def imports(self):
        """(dll, function) pairs; an import by ordinal is named '#N'."""
        if self.magic != 0x10B:
            raise ValueError("not a 32-bit image")
        descriptor, _ = self.directory(IMPORT)
        found = []
        while descriptor is not None:
            names, _, _, dll_name, slots = struct.unpack_from("<IIIII", self.data, descriptor)
            if dll_name == 0:
                break
            dll = self.text(dll_name)
            thunk = self.offset(names or slots)
            while True:
                entry = self.u32(thunk)
                if entry == 0:
                    break
                if entry & ORDINAL_FLAG:
                    found.append((dll, "#%d" % (entry & 0xFFFF)))
                else:
                    found.append((dll, self.text(entry + 2)))
                thunk += 4
            descriptor += 20
        return found


def read_table(path):
    """{(dll, function): first version}; DLL names compare case-blind."""
    table = {}
    with open(path, encoding="utf-8") as rows:
        for number, line in enumerate(rows, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split("\t")
            if len(fields) < 3:
                raise ValueError("%s:%d: want DLL, function and version" % (path, number))
            dll, function, first = (f.strip() for f in fields[:3])
            if first not in VERSIONS:
                raise ValueError("%s:%d: unknown Windows version %r" % (path, number, first))
            key = (dll.lower(), function)
            if key in table:
                raise ValueError("%s:%d: %s!%s twice" % (path, number, dll, function))
            table[key] = first
    return table


def problems(image, table):
    found = []
    imported = set()
    limit = VERSIONS.index(OLDEST_TARGET)
    for dll, function in image.imports():
        key = (dll.lower(), function)
        imported.add(key)
        first = table.get(key)
        if first is None:
            found.append("%s!%s is not in the table: look up the first Windows that exports it"
                         % (dll, function))
        elif VERSIONS.index(first) > limit:
            found.append("%s!%s first came with Windows %s: Windows %s refuses to load the DLL"
                         % (dll, function, first, OLDEST_TARGET))
    for dll, function in sorted(set(table) - imported):
        found.append("%s!%s is in the table but no longer imported: drop the row"
                     % (dll, function))
    for name, offset in (("operating system", 40), ("subsystem", 48)):
        version = image.version(offset)
        if version > MAX_IMAGE_VERSION:
            found.append("the image asks for %s version %d.%d, above %d.%d"
                         % ((name,) + version + MAX_IMAGE_VERSION))
    return found


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    table = read_table(argv[1])
    with open(argv[2], "rb") as f:
        image = ImportedImage(f.read())
    found = problems(image, table)
    for line in found:
        print("imports: " + line)
    if found:
        return 1
    print("imports: %d functions from %d DLLs, all in Windows %s"
          % (len(image.imports()), len({d.lower() for d, _ in image.imports()}), OLDEST_TARGET))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
