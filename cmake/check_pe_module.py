#!/usr/bin/python3
"""Checks that a built Windows module is what the host can load on its own.

    check_pe_module.py MODULE --name NAME --require SYMBOL [--require ...] [--allow SYMBOL ...]

Passes when MODULE is a PE32+ (x64) DLL whose export directory carries NAME, which exports
every --require symbol under its plain name, exports nothing beyond the --require and --allow
symbols, and imports only DLLs that ship with Windows (a module that needs zlib1.dll or a
MinGW runtime DLL beside it fails to load in the host). Prints one line per problem.
"""

import argparse
import re
import sys

try:
    import pefile
except ImportError:
    print("error: the pefile module is missing (Debian package python3-pefile; run this with "
          "/usr/bin/python3)")
    sys.exit(2)

IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_FILE_DLL = 0x2000
PE32_PLUS_MAGIC = 0x20B

# DLLs every Windows installation has. api-ms-win-* and ext-ms-win-* API sets are allowed by
# pattern below.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "dbghelp.dll",
    "gdi32.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll",
    "oleaut32.dll", "shell32.dll", "shlwapi.dll", "ucrtbase.dll", "user32.dll", "uxtheme.dll",
    "version.dll", "winmm.dll", "ws2_32.dll",
}
API_SET = re.compile(r"^(api|ext)-ms-win-[a-z0-9-]+\.dll$")


def importProblems(pe):
    problems = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("ascii", "replace")
        lowered = dll.lower()
        if lowered not in SYSTEM_DLLS and not API_SET.match(lowered):
            problems.append(f"imports non-system DLL {dll}")
    for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
        dll = entry.dll.decode("ascii", "replace")
        if dll.lower() not in SYSTEM_DLLS and not API_SET.match(dll.lower()):
            problems.append(f"delay-imports non-system DLL {dll}")
    return problems


def exportProblems(pe, name, required, allowed):
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if exports is None:
        return ["has no export directory"]
    problems = []
    directoryName = pe.get_string_at_rva(exports.struct.Name).decode("ascii", "replace")
    if directoryName != name:
        problems.append(f'export directory names "{directoryName}", expected "{name}"')
    names = [symbol.name.decode("ascii", "replace") for symbol in exports.symbols
             if symbol.name is not None]
    for symbol in required:
        if symbol not in names:
            problems.append(f"lacks export {symbol}")
    for symbol in names:
        if symbol not in required and symbol not in allowed:
            problems.append(f"unexpected export {symbol}")
    unnamed = [symbol.ordinal for symbol in exports.symbols if symbol.name is None]
    if unnamed:
        problems.append(f"exports by ordinal only: {unnamed}")
    return problems


def headerProblems(pe):
    problems = []
    if pe.OPTIONAL_HEADER.Magic != PE32_PLUS_MAGIC:
        problems.append(f"is not PE32+ (optional header magic {pe.OPTIONAL_HEADER.Magic:#x})")
    if pe.FILE_HEADER.Machine != IMAGE_FILE_MACHINE_AMD64:
        problems.append(f"is not built for x64 (machine {pe.FILE_HEADER.Machine:#x})")
    if not pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL:
        problems.append("is not a DLL")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("module")
    parser.add_argument("--name", required=True)
    parser.add_argument("--require", action="append", default=[])
    parser.add_argument("--allow", action="append", default=[])
    args = parser.parse_args()

    try:
        pe = pefile.PE(args.module)
    except (OSError, pefile.PEFormatError) as error:
        print(f"{args.module}: cannot read as a PE file: {error}")
        return 1

    problems = headerProblems(pe)
    problems += exportProblems(pe, args.name, args.require, args.allow)
    problems += importProblems(pe)
    for problem in problems:
        print(f"{args.module}: {problem}")
    if problems:
        print(f"FAILED: {len(problems)} problem(s)")
        return 1
    imports = ", ".join(entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    print(f"{args.module}: PE32+ DLL \"{args.name}\", exports {', '.join(args.require)}, "
          f"imports {imports}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
