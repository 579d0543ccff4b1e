#!/usr/bin/env python3
"""Holds the core and the binding to their layers.

    python3 scripts/check_layers.py [--root DIR]

Each folder of core/src is one layer, and a layer may include only the
layers it stands on (LAYERS below, followed down to the bottom); the public
headers of core/include belong to the layer that implements them. The
binding may include the public headers, the few core headers it is allowed
(BINDING_KERNELS) and its own folders by their own table. Every quoted
include of core/ and binding/ is read; one that runs back up a layer, reaches
into private headers it may not see, or names no file, is printed, and the
exit status is 1. A folder of core/src or binding/ that no table lists is an
error too, so that a new layer has to say where it stands.
"""
from __future__ import annotations

import argparse
import pathlib
import re
import sys

# Layer: the layers it stands on. Whatever those stand on is allowed too.
# A new layer is one line here (and its folder).
LAYERS: dict[str, tuple[str, ...]] = {
    "tables": (),                    # generated tables, and the shapes they share
    "simd": (),                      # instruction sets, byte scans and classifiers
    "value": (),                     # the address value, error kinds, Result
    "unicode": ("tables", "simd"),   # normalisation, UTS #46, Punycode, bidi, UTF-8
    "prep": ("unicode", "value"),    # the stringprep profiles, refolding
    "precis": ("unicode", "value"),  # the PRECIS profiles (beside prep)
    "domain": ("prep", "precis"),    # domain preparation (both standards), IP literals, IDNA, DNS limits
    "compare": ("prep", "precis"),   # why the two standards differ, per part
    "address": ("domain", "precis"), # the parser and builders (both standards), fast/ routes
    "escape": ("address",),          # escaping localparts, both ways
}

# The public headers, each in the layer that implements it.
PUBLIC: dict[str, str] = {
    "quorvel/jid_error.h": "value",
    "quorvel/jid_value.h": "value",
    "quorvel/result.h": "value",
    "quorvel/prepared_text.h": "value",
    "quorvel/profiles.h": "prep",
    "quorvel/address.h": "address",
    "quorvel/precis_profiles.h": "precis",
    "quorvel/precis.h": "address",
    "quorvel/compare.h": "compare",
    "quorvel/escape.h": "escape",
    "quorvel/unescape.h": "escape",
}

# The binding's folders and what each stands on.
BINDING: dict[str, tuple[str, ...]] = {
    "support": (),                   # arguments, errors, str conversion, module helpers
    "jid": ("support",),             # the quorvel.jid module
    "blocks": ("batch",),            # quorvel._blocks (-j N: the batch route's row-loop threads)
    "text": ("jid",),                # quorvel._text (builds JID objects)
    "batch": ("jid",),               # quorvel._batch (the profiles' rules of jid/address_rules.h)
    "tests": ("text", "batch"),      # its plain C++ parts under GoogleTest
}

# The one internal interface of the core the binding may read: header-only
# kernels it shares with the core so that both scan a text the same way.
BINDING_KERNELS: frozenset[str] = frozenset({
    "simd/isa.h",
    "simd/scan.h",
    "unicode/utf8_codec.h",
})

# Where the system's headers live: core/src is on the include path of the
# core, its tests, the fuzz targets and the binding, so a private header that
# shares its path with one of these (ICU's unicode/utf8.h beside our
# unicode/) would be found in its place, even by <...>.
SYSTEM_INCLUDE_DIRS = (pathlib.Path("/usr/include"), pathlib.Path("/usr/local/include"))

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCES = ("*.h", "*.cpp")


def below(table: dict[str, tuple[str, ...]], layer: str) -> set[str]:
    """The layers `layer` may include, itself among them."""
    seen = {layer}
    todo = list(table[layer])
    while todo:
        name = todo.pop()
        if name not in seen:
            seen.add(name)
            todo.extend(table[name])
    return seen


def table_errors(name: str, table: dict[str, tuple[str, ...]]) -> list[str]:
    errors = []
    for layer, under in table.items():
        for u in under:
            if u not in table:
                errors.append(f"{name}: {layer} stands on {u}, which is no layer")
    if errors:
        return errors
    for layer, under in table.items():
        if any(layer in below(table, u) for u in under):
            errors.append(f"{name}: {layer} stands on itself through {under}")
    return errors


def sources(folder: pathlib.Path) -> list[pathlib.Path]:
    found: list[pathlib.Path] = []
    for pattern in SOURCES:
        found.extend(folder.rglob(pattern))
    return sorted(found)


def check(root: pathlib.Path,
          system_dirs: tuple[pathlib.Path, ...] = SYSTEM_INCLUDE_DIRS) -> list[str]:
    errors = table_errors("LAYERS", LAYERS) + table_errors("BINDING", BINDING)
    if errors:
        return errors
    src = root / "core" / "src"
    include = root / "core" / "include"
    binding = root / "binding"

    for folder in sorted(p for p in src.iterdir() if p.is_dir()):
        if folder.name not in LAYERS:
            errors.append(f"core/src/{folder.name}/: a folder that LAYERS does not list")
    for path in sorted(src.glob("*")):
        if path.is_file() and path.suffix in (".h", ".cpp"):
            errors.append(f"core/src/{path.name}: every source belongs in a layer's folder")
    for folder in sorted(p for p in binding.iterdir() if p.is_dir()):
        if folder.name not in BINDING:
            errors.append(f"binding/{folder.name}/: a folder that BINDING does not list")

    def public(name: str, where: str) -> str | None:
        if name not in PUBLIC:
            errors.append(f"{where}: includes {name}, which is no public header of the core")
            return None
        return PUBLIC[name]

    # The public headers include only public headers, each no higher than its own.
    for path in sources(include):
        rel = path.relative_to(include).as_posix()
        own = PUBLIC.get(rel)
        if own is None:
            errors.append(f"core/include/{rel}: a public header that PUBLIC does not list")
            continue
        for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            layer = public(name, f"core/include/{rel}")
            if layer is not None and layer not in below(LAYERS, own):
                errors.append(f"core/include/{rel}: includes {name} of {layer}, above {own}")

    # The private headers are spelt from core/src, and each include stays at
    # or below the including file's layer.
    for path in sources(src):
        rel = path.relative_to(src).as_posix()
        own = rel.split("/")[0]
        if own not in LAYERS:
            continue
        allowed = below(LAYERS, own)
        for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            where = f"core/src/{rel}"
            if name.startswith("quorvel/"):
                layer = public(name, where)
            elif (src / name).is_file():
                layer = name.split("/")[0]
            else:
                errors.append(f"{where}: includes {name}, which is no path below core/src")
                continue
            if layer is not None and layer not in allowed:
                errors.append(f"{where}: includes {name} of {layer}, above {own}")

    for path in sources(src):
        rel = path.relative_to(src).as_posix()
        for system in system_dirs:
            if (system / rel).is_file():
                errors.append(f"core/src/{rel}: shadows the system header {system / rel}")

    # The binding: public headers, the declared kernels, and its own folders
    # by their table.
    for path in sources(binding):
        rel = path.relative_to(binding).as_posix()
        own = rel.split("/")[0]
        if own not in BINDING:
            errors.append(f"binding/{rel}: every source belongs in one of BINDING's folders")
            continue
        allowed = below(BINDING, own)
        for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            where = f"binding/{rel}"
            if name.startswith("quorvel/"):
                public(name, where)
            elif name in BINDING_KERNELS:
                continue
            elif (binding / name).is_file():
                layer = name.split("/")[0]
                if layer not in allowed:
                    errors.append(f"{where}: includes {name} of {layer}, which {own} does not stand on")
            elif (src / name).is_file():
                errors.append(f"{where}: includes the core's private {name} (not in BINDING_KERNELS)")
            else:
                errors.append(f"{where}: includes {name}, which is no path below binding/")
    return errors


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", type=pathlib.Path,
                        default=pathlib.Path(__file__).resolve().parent.parent)
    parser.add_argument("--system-include", type=pathlib.Path, action="append",
                        help="a system include folder (default: %s)"
                        % " ".join(map(str, SYSTEM_INCLUDE_DIRS)))
    args = parser.parse_args()
    system = tuple(args.system_include) if args.system_include else SYSTEM_INCLUDE_DIRS
    errors = check(args.root, system)
    for e in errors:
        print(e, file=sys.stderr)
    if not errors:
        print("layers: every include stays at or below its layer")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
