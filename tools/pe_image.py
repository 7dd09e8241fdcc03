"""Reading a 32- or 64-bit PE file's headers, sections and data directories:
shared by the checks that read the built DLL (its imports, its dates)."""
import struct

EXPORT, IMPORT, RESOURCE, DEBUG, LOAD_CONFIG = 0, 1, 2, 6, 10


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ file")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.coff = self.pe + 4
        sections, optional_size = struct.unpack_from("<2xH12xH", data, self.coff)
        self.optional = self.coff + 20
        self.magic = struct.unpack_from("<H", data, self.optional)[0]
        directories = self.optional + {0x10B: 96, 0x20B: 112}[self.magic]
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(min(count, 16))]
        table = self.optional + optional_size
        self.sections = [struct.unpack_from("<8xIIII", data, table + 40 * i)
                         for i in range(sections)]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section")

    def directory(self, index):
        """(file offset, size) of a data directory, or (None, 0)."""
        rva, size = self.directories[index] if index < len(self.directories) else (0, 0)
        return (self.offset(rva), size) if rva else (None, 0)

    def text(self, rva):
        """The NUL-terminated ASCII text at an RVA."""
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def version(self, field_offset):
        """A (major, minor) pair of 16-bit fields of the optional header."""
        return struct.unpack_from("<HH", self.data, self.optional + field_offset)
