#!/usr/bin/python3
"""Imports the same ModelFiles with the native quillmesh-import and with the Windows one under
Wine, and checks that the host received the same flattened scene descriptor from both.

    compare_windows_import.py --writer W --native-tool N --windows-tool E --work DIR

W (native) writes the ModelFiles into DIR. The Windows tool is given each model as a path from
the root of the current drive (the Unix path with backslashes), so the texture paths the module
builds have the same length on both systems; the only bytes allowed to differ are directory
separators: '/' in the native descriptor where the Windows one has '\\'.
"""

import argparse
import os
import shutil
import subprocess
import sys


def run(command):
    completed = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, errors="replace")
    return completed.returncode, completed.stdout


def windowsPath(path):
    return path.replace("/", "\\")


def compare(native, windows):
    """Problems found comparing the two descriptors, and the number of separators that differ."""
    if len(native) != len(windows):
        return [f"descriptor sizes differ: native {len(native)}, Windows {len(windows)}"], 0
    separators = 0
    for offset, (a, b) in enumerate(zip(native, windows)):
        if a == b:
            continue
        if a == ord("/") and b == ord("\\"):
            separators += 1
            continue
        return [f"descriptors differ at byte {offset}: native {a:#04x}, Windows {b:#04x}"], 0
    return [], separators


def main():
    parser = argparse.ArgumentParser()
    for option in ("--writer", "--native-tool", "--windows-tool", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    for tool in (args.writer, args.native_tool):
        if not os.access(tool, os.X_OK):
            print(f"missing {tool}: build the native tree first (scripts/build-tree native)")
            return 1
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    status, output = run([args.writer, work])
    if status != 0:
        print(f"writing the ModelFiles failed:\n{output}")
        return 1
    models = output.split()

    failures = 0
    for name in models:
        model = os.path.join(work, name)
        nativeOut = model + ".native.bin"
        windowsOut = model + ".windows.bin"
        nativeGlb = model + ".native.glb"
        windowsGlb = model + ".windows.glb"
        status, output = run([args.native_tool, "--descriptor", nativeOut, "--export", nativeGlb,
                              model])
        if status != 0:
            print(f"{name}: native import failed ({status}):\n{output}")
            failures += 1
            continue
        status, output = run(["wine", args.windows_tool, "--descriptor", windowsPath(windowsOut),
                              "--export", windowsPath(windowsGlb), windowsPath(model)])
        if status != 0:
            print(f"{name}: Windows import failed ({status}):\n{output}")
            failures += 1
            continue
        with open(nativeOut, "rb") as file:
            native = file.read()
        with open(windowsOut, "rb") as file:
            windows = file.read()
        # The texture paths must be in the descriptor for the comparison to cover them.
        texture = (work + "/wood.png").encode("utf-16-be")
        if texture not in native:
            print(f"{name}: the native descriptor lacks the texture path {work}/wood.png")
            failures += 1
            continue
        problems, separators = compare(native, windows)
        for problem in problems:
            print(f"{name}: {problem}")
        if problems:
            failures += 1
            continue
        # The glTF export refers to the texture relative to itself, so both tools write the
        # same bytes.
        with open(nativeGlb, "rb") as file:
            nativeExport = file.read()
        with open(windowsGlb, "rb") as file:
            windowsExport = file.read()
        if nativeExport != windowsExport:
            print(f"{name}: the glTF exports differ ({len(nativeExport)} and "
                  f"{len(windowsExport)} bytes)")
            failures += 1
            continue
        print(f"{name}: same {len(native)}-byte descriptor ({separators} separators differ) "
              f"and same {len(nativeExport)}-byte glTF export")

    if failures or not models:
        print(f"FAILED: {failures} of {len(models)} model(s)")
        return 1
    print(f"all {len(models)} models gave the same descriptor")
    return 0


if __name__ == "__main__":
    sys.exit(main())
