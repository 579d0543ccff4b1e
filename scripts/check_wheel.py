"""Checks that a built wheel holds the package's files and nothing else, and
that its extension needs nothing beyond the C and C++ runtime.

    check_wheel.py WHEEL...   prints each wheel's listing; exits 1 on a fault

The package's files are those of python/quorvel/ in this tree, the module
CMake generates (_build.py), the extension itself, the dist-info files and
the two licences. Anything else (a test, a build tree, a library that
auditwheel had to graft in) is a fault.
"""

from __future__ import annotations

import pathlib
import re
import sys
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
LICENCES = {"LICENSE", "data/unicode/LICENSE-UNICODE"}
# What the extension may link: the C library, the maths library, the loader
# and the compiler's runtime. Anything more has to come from the system or be
# grafted in, which is what the wheel must not need.
RUNTIME = re.compile(r"^(libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|libgcc_s\.so\.1|"
                     r"libstdc\+\+\.so\.6|ld-linux-[\w.-]+\.so\.\d)$")


def expected_files(names: list[str]) -> tuple[set[str], list[str]]:
    """The set of names the wheel may hold, and the faults in `names`."""
    faults = []
    sources = {f"quorvel/{p.name}" for p in (ROOT / "python" / "quorvel").iterdir()
               if p.suffix in {".py", ".pyi"} or p.name == "py.typed"}
    infos = [n.split("/", 1)[0] for n in names if n.split("/", 1)[0].endswith(".dist-info")]
    info = infos[0] if infos else "quorvel-?.dist-info"
    allowed = sources | {"quorvel/_build.py"} | {
        f"{info}/{n}" for n in ("METADATA", "WHEEL", "RECORD", "entry_points.txt")
    } | {f"{info}/licenses/{n}" for n in LICENCES}
    # The public module and the private ones (the command-line tool's, and
    # that of escape_node and quorvel.uri, and quorvel.batch's), once each.
    for stem in ("jid", "_blocks", "_text", "_batch"):
        modules = [n for n in names if re.fullmatch(rf"quorvel/{stem}\.[\w.-]+\.(so|pyd)", n)]
        if len(modules) != 1:
            faults.append(f"expected one extension module quorvel/{stem}.*, found {modules}")
        allowed |= set(modules)
    faults += [f"missing {n}" for n in sorted(allowed) if n not in names]
    faults += [f"unexpected {n}" for n in names if n not in allowed]
    return allowed, faults


def needed_libraries(data: bytes) -> list[str]:
    """DT_NEEDED of an ELF shared object, read with pyelftools (auditwheel's)."""
    import io

    from elftools.elf.dynamic import DynamicSection
    from elftools.elf.elffile import ELFFile

    elf = ELFFile(io.BytesIO(data))
    return [tag.needed for section in elf.iter_sections() if isinstance(section, DynamicSection)
            for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED"]


def check(path: pathlib.Path) -> list[str]:
    with zipfile.ZipFile(path) as wheel:
        infos = wheel.infolist()
        names = [i.filename for i in infos if not i.is_dir()]
        _, faults = expected_files(names)
        print(f"{path.name}:")
        for i in infos:
            print(f"  {i.file_size:>9}  {i.filename}")
        entry = next((n for n in names if n.endswith(".dist-info/entry_points.txt")), None)
        if entry is None or "quorvel-jid = quorvel.cli:main" not in wheel.read(entry).decode():
            faults.append("the quorvel-jid entry point is missing")
        for n in names:
            if n.endswith(".so"):
                bad = [lib for lib in needed_libraries(wheel.read(n)) if not RUNTIME.match(lib)]
                if bad:
                    faults.append(f"{n} needs more than the C and C++ runtime: {', '.join(bad)}")
    return faults


def main(argv: list[str]) -> int:
    status = 0
    for arg in argv:
        for fault in check(pathlib.Path(arg)):
            print(f"error: {arg}: {fault}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
