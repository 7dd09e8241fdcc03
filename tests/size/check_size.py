#!/usr/bin/env python3
"""Fails when the DLL weighs more than the limit, and prints its size either way.

usage: check_size.py FILE.dll LIMIT_KIB
"""
import os
import sys

KIB = 1024


def main():
    path, limit_kib = sys.argv[1], int(sys.argv[2])
    size = os.path.getsize(path)
    limit = limit_kib * KIB
    name = os.path.basename(path)
    print(f"{name}: {size} bytes ({size / KIB:.1f} KiB), limit {limit_kib} KiB ({limit} bytes)")
    if size > limit:
        print(f"size: {name} is {size - limit} bytes over its limit; link it with "
              "-Wl,-Map,FILE to see what grew")
        return 1
    print(f"{limit - size} bytes to spare")
    return 0


if __name__ == "__main__":
    sys.exit(main())
