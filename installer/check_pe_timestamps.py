#!/usr/bin/env python3
"""Fails when a PE file carries a build date: the file header's TimeDateStamp,
the export, import, debug and load-config directories' stamps, every resource
directory's stamp, and the version resource's file date must all be 0.

usage: check_pe_timestamps.py FILE.dll
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from pe_image import DEBUG, EXPORT, IMPORT, LOAD_CONFIG, RESOURCE, Image  # noqa: E402

RT_VERSION = 16
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD


def stamps(image):
    """Yields (what, value) for every date the image holds."""
    yield "file header TimeDateStamp", image.u32(image.coff + 4)

    offset, _ = image.directory(EXPORT)
    if offset is not None:
        yield "export directory TimeDateStamp", image.u32(offset + 4)

    offset, size = image.directory(IMPORT)
    if offset is not None:
        for entry in range(offset, offset + size - 19, 20):
            if image.data[entry:entry + 20] == bytes(20):
                break
            yield f"import descriptor at {entry:#x} TimeDateStamp", image.u32(entry + 4)

    offset, size = image.directory(DEBUG)
    if offset is not None:
        for entry in range(offset, offset + size - 27, 28):
            yield f"debug directory entry at {entry:#x} TimeDateStamp", image.u32(entry + 4)

    offset, size = image.directory(LOAD_CONFIG)
    if offset is not None and size >= 8:
        yield "load configuration TimeDateStamp", image.u32(offset + 4)

    root, _ = image.directory(RESOURCE)
    if root is not None:
        yield from resource_stamps(image, root)


def resource_stamps(image, root):
    pending = [(root, ())]
    seen = set()
    while pending:
        directory, path = pending.pop()
        if directory in seen:  # a loop in a corrupt file
            continue
        seen.add(directory)
        where = "/".join(map(str, path)) or "root"
        yield f"resource directory {where} TimeDateStamp", image.u32(directory + 4)
        named, numbered = struct.unpack_from("<HH", image.data, directory + 12)
        for index in range(named + numbered):
            entry = directory + 16 + 8 * index
            name, target = struct.unpack_from("<II", image.data, entry)
            key = name if not name & 0x80000000 else "name"
            if target & 0x80000000:
                pending.append((root + (target & 0x7FFFFFFF), path + (key,)))
            elif path and path[0] == RT_VERSION:
                data_rva, data_size = struct.unpack_from("<II", image.data, root + target)
                yield from version_stamps(image, image.offset(data_rva), data_size)


def version_stamps(image, offset, size):
    block = image.data[offset:offset + size]
    at = block.find(struct.pack("<I", VS_FIXEDFILEINFO_SIGNATURE))
    if at < 0 or at + 52 > len(block):
        raise ValueError("version resource without VS_FIXEDFILEINFO")
    date_high, date_low = struct.unpack_from("<II", block, at + 44)
    yield "version resource file date", (date_high << 32) | date_low


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(sys.argv[1], "rb") as file:
        image = Image(file.read())
    checked = list(stamps(image))
    dated = [(what, value) for what, value in checked if value]
    for what, value in dated:
        print(f"{what}: {value:#x}")
    if dated:
        sys.exit(f"{sys.argv[1]}: {len(dated)} of {len(checked)} dates are not 0")
    print(f"{sys.argv[1]}: all {len(checked)} dates are 0")


if __name__ == "__main__":
    main()
