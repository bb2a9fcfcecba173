"""Reads the headers, sections and imports of a PE32 image."""

import struct
from dataclasses import dataclass, field

IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
DIRECTORY_IMPORT, DIRECTORY_RESOURCE, DIRECTORY_RELOC = 1, 2, 5


@dataclass
class Section:
    name: str
    rva: int
    virtual_size: int
    offset: int
    raw_size: int
    flags: int


@dataclass
class Image:
    size_on_disk: int
    machine: int
    timestamp: int
    magic: int
    image_base: int
    image_size: int
    section_alignment: int
    file_alignment: int
    os_version: tuple
    subsystem_version: tuple
    subsystem: int
    dll_characteristics: int
    directories: list  # (rva, size)
    sections: list
    imports: dict = field(default_factory=dict)  # DLL name -> function names

    def holds(self, address):
        """Whether an address lies in the image when it is loaded at its preferred base."""
        return self.image_base <= address < self.image_base + self.image_size


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        raise ValueError(f"{path} is not an executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is not a PE image")
    machine, count, timestamp, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    o = pe + 24
    magic = struct.unpack_from("<H", data, o)[0]
    if magic != 0x10B:
        raise ValueError(f"{path} is not PE32")
    image_base, section_alignment, file_alignment = struct.unpack_from("<III", data, o + 28)
    os_version = struct.unpack_from("<HH", data, o + 40)
    subsystem_version = struct.unpack_from("<HH", data, o + 48)
    image_size = struct.unpack_from("<I", data, o + 56)[0]
    subsystem, dll_characteristics = struct.unpack_from("<HH", data, o + 68)
    directory_count = struct.unpack_from("<I", data, o + 92)[0]
    directories = [struct.unpack_from("<II", data, o + 96 + 8 * i) for i in range(directory_count)]
    sections = []
    for i in range(count):
        s = o + optional_size + 40 * i
        name = data[s:s + 8].rstrip(b"\0").decode()
        vsize, rva, raw_size, offset = struct.unpack_from("<IIII", data, s + 8)
        flags = struct.unpack_from("<I", data, s + 36)[0]
        sections.append(Section(name, rva, vsize, offset, raw_size, flags))
    image = Image(len(data), machine, timestamp, magic, image_base, image_size, section_alignment, file_alignment,
                  os_version, subsystem_version, subsystem, dll_characteristics, directories, sections)
    image.imports = _imports(data, image)
    return image


def _offset(image, rva):
    for s in image.sections:
        if s.rva <= rva < s.rva + max(s.virtual_size, s.raw_size):
            return s.offset + rva - s.rva
    raise ValueError(f"RVA {rva:#x} lies in no section")


def _string(data, offset):
    return data[offset:data.index(b"\0", offset)].decode("latin-1")


def _imports(data, image):
    rva, size = image.directories[DIRECTORY_IMPORT]
    imports = {}
    if not size:
        return imports
    d = _offset(image, rva)
    while True:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, d)
        if not name:
            return imports
        functions = []
        t = _offset(image, lookup or first)
        while True:
            thunk = struct.unpack_from("<I", data, t)[0]
            if not thunk:
                break
            functions.append(f"#{thunk & 0xFFFF}" if thunk & 0x80000000 else _string(data, _offset(image, thunk) + 2))
            t += 4
        imports[_string(data, _offset(image, name))] = functions
        d += 20
