#!/usr/bin/python3
"""Writes the plug-in property list and the scripting terminology the host reads from the module.

    plugin_resources.py OUTPUT_DIR

Writes OUTPUT_DIR/pipl.bin (resource "PIPL" 16000) and OUTPUT_DIR/aete.bin (resource "AETE"
16000); resources/quillmesh.rc includes both. The host reads these without running the module,
so every byte matters: the tables below are the whole description, the code only lays them out.

Both are little-endian. A four-character code is stored as the little-endian number whose
big-endian bytes spell it, so its bytes appear reversed in the file ('8BIM' is "MIB8").
"""

import os
import struct
import sys

VENDOR = "8BIM"
TERMINOLOGY_ID = 16000


def code(text):
    """A four-character code, stored reversed."""
    raw = text.encode("ascii")
    if len(raw) != 4:
        raise ValueError(f"four-character code {text!r} has {len(raw)} characters")
    return raw[::-1]


def codes(*texts):
    return b"".join(code(text) for text in texts)


def u16(*values):
    return struct.pack(f"<{len(values)}H", *values)


def u32(*values):
    return struct.pack(f"<{len(values)}I", *values)


def pascal(text):
    """One length byte, then the text."""
    raw = text.encode("ascii")
    if len(raw) > 255:
        raise ValueError(f"{text!r} is too long for a length-prefixed string")
    return bytes([len(raw)]) + raw


def cstring(text):
    return text.encode("ascii") + b"\0"


# The property list: one row per property. The length column is the stored data length: the
# data is zero-padded up to it (text always keeps at least one zero byte after it).
PROPERTIES = [
    # key     length  data
    ("kind",  4,      code("8BIF")),                          # file-format plug-in
    ("name",  12,     pascal("Quillmesh")),
    ("vers",  4,      u32(0x00010000)),                       # interface 1.0 (major in high half)
    ("prty",  4,      u32(0x80000001)),
    ("8664",  12,     cstring("PluginMain")),                 # entry point on 64-bit Windows
    ("hstm",  36,     u32(0) + codes("simP", "null") + u16(TERMINOLOGY_ID)
                      + cstring("Quillmesh Quillmesh")),      # terminology: version, class, event
    ("mode",  4,      bytes([0xF0, 0x00, 0x00, 0x00])),       # bitmap, grayscale, indexed, RGB
    ("enbl",  28,     cstring("in ( PSHOP_Supports3D )")),   # offered only with 3D support
    ("fmTC",  8,      codes("kvt ", "8BIM")),                 # file type, creator
    ("RdTy",  8,      codes("kvt ", "8BIM")),                 # read types: one type/creator pair
    ("RdEx",  4,      b"kvt "),                               # read extensions, in file order
    ("fmtf",  4,      u32(0x22)),                             # format flags
    ("mxsz",  4,      u16(30000, 30000)),                     # maximum rows, columns
    ("mxch",  32,     u16(1, 1, 1, 4, *[0] * 12)),            # maximum channels, per mode
    ("ffps",  4,      u32(1)),
]

PROPERTY_LIST_LEADING_WORD = 1
PROPERTY_LIST_VERSION = 0


def propertyEntry(key, length, data):
    if length % 4 != 0:
        raise ValueError(f"property {key!r}: length {length} is not a multiple of 4")
    if len(data) > length:
        raise ValueError(f"property {key!r}: {len(data)} bytes of data do not fit in {length}")
    property_id = 0
    return codes(VENDOR, key) + u32(property_id, length) + data.ljust(length, b"\0")


def propertyList():
    return (u16(PROPERTY_LIST_LEADING_WORD) + u32(PROPERTY_LIST_VERSION, len(PROPERTIES))
            + b"".join(propertyEntry(*row) for row in PROPERTIES))


# The terminology: one suite with one class of three properties, no events. The plug-in reads no
# scripting parameters, so none of it describes a value the plug-in uses.
INHERITANCE_KEY = 0x6340235E
PROPERTY_FLAGS = 0x1000

SUITE = {
    "name": "Quillmesh",
    "description": "Quillmesh Importer for Photoshop CC 2015 Extended.",
    "code": "sdK4",
    "level": 1,
    "version": 1,
}
CLASS = {
    "name": "QuillmeshQuillmesh",
    "code": "simP",
    "description": "Quillmesh",
}
CLASS_PROPERTIES = [
    # name             code             type    description
    ("<Inheritance>",  INHERITANCE_KEY, "Fmt ", "parent class format"),
    ("foo",            "fooB",          "bool", "foobar"),
    ("bar",            "barF",          "bool", "foobar"),
]
TERMINOLOGY_HEADER = {"major": 1, "minor": 1, "language": 0, "script": 0}


def anyCode(value):
    return u32(value) if isinstance(value, int) else code(value)


def terminology():
    out = u16(TERMINOLOGY_HEADER["major"], TERMINOLOGY_HEADER["minor"],
              TERMINOLOGY_HEADER["language"], TERMINOLOGY_HEADER["script"])
    out += u16(1)  # suites
    out += pascal(SUITE["name"]) + pascal(SUITE["description"]) + code(SUITE["code"])
    out += u16(SUITE["level"], SUITE["version"])
    out += u16(0)  # events
    out += u16(1)  # classes
    out += pascal(CLASS["name"]) + code(CLASS["code"]) + pascal(CLASS["description"])
    out += u16(len(CLASS_PROPERTIES))
    for name, key, valueType, description in CLASS_PROPERTIES:
        out += pascal(name) + anyCode(key) + code(valueType) + pascal(description)
        out += u16(PROPERTY_FLAGS)
    out += u16(0, 0, 0)  # elements, comparison operators, enumerations
    return out


def write(path, data):
    with open(path, "wb") as target:
        target.write(data)


def main():
    if len(sys.argv) != 2:
        print(f"usage: {sys.argv[0]} OUTPUT_DIR", file=sys.stderr)
        return 2
    outputDir = sys.argv[1]
    os.makedirs(outputDir, exist_ok=True)
    write(os.path.join(outputDir, "pipl.bin"), propertyList())
    write(os.path.join(outputDir, "aete.bin"), terminology())
    return 0


if __name__ == "__main__":
    sys.exit(main())
