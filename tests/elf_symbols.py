"""The symbols a 64-bit little-endian ELF shared object exports, read from
its dynamic symbol table without binutils (a machine with only a wheel
installed has no nm)."""

from __future__ import annotations

import pathlib
import struct

_SHT_DYNSYM = 11
_STB_GLOBAL, _STB_WEAK, _STB_GNU_UNIQUE = 1, 2, 10
_STT_FUNC = 2
_STV_HIDDEN, _STV_INTERNAL = 2, 1


def exported(path: str | pathlib.Path) -> list[tuple[str, bool]]:
    """(name, is_function) of each symbol the object defines and exports."""
    data = pathlib.Path(path).read_bytes()
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        raise ValueError(f"{path}: not a 64-bit little-endian ELF object")
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize) for i in range(shnum)]
    out = []
    for _name, kind, _flags, _addr, offset, size, link, _info, _align, entsize in sections:
        if kind != _SHT_DYNSYM:
            continue
        strtab_offset = sections[link][4]
        for at in range(offset + entsize, offset + size, entsize):  # entry 0 is the null symbol
            st_name, st_info, st_other, st_shndx = struct.unpack_from("<IBBH", data, at)
            if st_shndx == 0 or st_info >> 4 not in (_STB_GLOBAL, _STB_WEAK, _STB_GNU_UNIQUE):
                continue
            if st_other & 3 in (_STV_HIDDEN, _STV_INTERNAL):
                continue
            end = data.index(b"\0", strtab_offset + st_name)
            out.append((data[strtab_offset + st_name:end].decode(), st_info & 0xF == _STT_FUNC))
    return out
