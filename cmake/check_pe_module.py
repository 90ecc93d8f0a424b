#!/usr/bin/python3
"""Checks that a built Windows module is what the host can load on its own.

    check_pe_module.py MODULE --name NAME --require SYMBOL [--require ...] [--allow SYMBOL ...]
                       [--resources]

Passes when MODULE is a PE32+ (x64) DLL whose export directory carries NAME, which exports
every --require symbol under its plain name, exports nothing beyond the --require and --allow
symbols, and imports only DLLs that ship with Windows (a module that needs zlib1.dll or a
MinGW runtime DLL beside it fails to load in the host). With --resources it also checks the
resources the host and the About box read: the property list and terminology byte for byte,
the About dialog, the string table, the version block and the manifest, all in US English.
Prints one line per problem.
"""

import argparse
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

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


# Resources. The expected bytes and texts are written out here on their own, field by field, so a
# slip in the generator or the .rc cannot also slip into what it is checked against.

RT_DIALOG = 5
RT_STRING = 6
RT_VERSION = 16
RT_MANIFEST = 24
RESOURCE_TYPE_NAMES = {RT_DIALOG: "DIALOG", RT_STRING: "STRING", RT_VERSION: "VERSION",
                       RT_MANIFEST: "MANIFEST"}
LANGUAGE_ENGLISH_US = 1033


class Truncated(Exception):
    pass


class Reader:
    """A position in a resource's bytes; every read takes all it asks for or raises Truncated."""

    def __init__(self, data, position=0, end=None):
        self.data = data
        self.position = position
        self.end = len(data) if end is None else end

    def take(self, layout):
        size = struct.calcsize(layout)
        if size > self.end - self.position:
            raise Truncated()
        values = struct.unpack_from(layout, self.data, self.position)
        self.position += size
        return values

    def one(self, layout):
        return self.take(layout)[0]

    def raw(self, count):
        if count > self.end - self.position:
            raise Truncated()
        value = self.data[self.position:self.position + count]
        self.position += count
        return value

    def alignTo4(self):
        self.position = min(self.end, (self.position + 3) & ~3)

    def text(self):
        """A NUL-terminated UTF-16 string."""
        units = bytearray()
        while True:
            unit = self.raw(2)
            if unit == b"\0\0":
                return units.decode("utf-16-le", "replace")
            units += unit

    def nameOrOrdinal(self):
        """A dialog template's class or text field: nothing, 0xFFFF and an ordinal, or a string."""
        first = self.one("<H")
        if first == 0:
            return ""
        if first == 0xFFFF:
            return self.one("<H")
        self.position -= 2
        return self.text()


def describeType(resourceType):
    return RESOURCE_TYPE_NAMES.get(resourceType, str(resourceType))


def resourceTable(pe):
    """{(type, name): {language: bytes}}; string types and names as str, numeric ones as int."""
    table = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for typeEntry in root.entries if root else []:
        resourceType = str(typeEntry.name) if typeEntry.name is not None else typeEntry.id
        for nameEntry in typeEntry.directory.entries:
            name = str(nameEntry.name) if nameEntry.name is not None else nameEntry.id
            for languageEntry in nameEntry.directory.entries:
                leaf = languageEntry.data.struct
                table.setdefault((resourceType, name), {})[languageEntry.id] = \
                    pe.get_data(leaf.OffsetToData, leaf.Size)
    return table


def fourCharCode(text):
    # Stored as the little-endian number whose big-endian bytes spell the code.
    return struct.pack("<I", int.from_bytes(text.encode("ascii"), "big"))


def pluginProperty(key, data):
    # vendor, key, identifier, data length, then the data with its padding spelled out
    return (key, fourCharCode("8BIM") + fourCharCode(key) + struct.pack("<II", 0, len(data)) + data)


EXPECTED_PROPERTY_LIST = [
    ("header", struct.pack("<HII", 1, 0, 15)),  # leading word, list version, property count
    pluginProperty("kind", fourCharCode("8BIF")),
    pluginProperty("name", b"\x09Quillmesh" + b"\0\0"),  # length byte and 9 characters, to 12
    pluginProperty("vers", struct.pack("<I", 0x00010000)),
    pluginProperty("prty", struct.pack("<I", 0x80000001)),
    pluginProperty("8664", b"PluginMain\0" + b"\0"),  # 11 bytes, to 12
    # version 0, class 'simP', event 'null', terminology 16000, scope text: 34 bytes, to 36
    pluginProperty("hstm", struct.pack("<I4s4sH", 0, b"Pmis", b"llun", 16000)
                   + b"Quillmesh Quillmesh\0" + b"\0\0"),
    pluginProperty("mode", bytes.fromhex("F0 00 00 00")),
    pluginProperty("enbl", b"in ( PSHOP_Supports3D )\0" + b"\0" * 4),  # 24 bytes, stored as 28
    pluginProperty("fmTC", b" tvk" + b"MIB8"),
    pluginProperty("RdTy", b" tvk" + b"MIB8"),
    pluginProperty("RdEx", b"kvt "),
    pluginProperty("fmtf", struct.pack("<I", 0x22)),
    pluginProperty("mxsz", struct.pack("<HH", 30000, 30000)),
    pluginProperty("mxch", struct.pack("<16H", 1, 1, 1, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)),
    pluginProperty("ffps", struct.pack("<I", 1)),
]

FLAGS = struct.pack("<H", 0x1000)
EXPECTED_TERMINOLOGY = [
    ("header", struct.pack("<5H", 1, 1, 0, 0, 1)),  # version 1.1, language, script, one suite
    ("suite", b"\x09Quillmesh" + b"\x32Quillmesh Importer for Photoshop CC 2015 Extended."
     + b"4Kds" + struct.pack("<4H", 1, 1, 0, 1)),  # level, version, no events, one class
    ("class", b"\x12QuillmeshQuillmesh" + b"Pmis" + b"\x09Quillmesh" + struct.pack("<H", 3)),
    ("property <Inheritance>", b"\x0D<Inheritance>" + bytes.fromhex("5E 23 40 63") + b" tmF"
     + b"\x13parent class format" + FLAGS),
    ("property foo", b"\x03foo" + b"Boof" + b"loob" + b"\x06foobar" + FLAGS),
    ("property bar", b"\x03bar" + b"Frab" + b"loob" + b"\x06foobar" + FLAGS),
    ("counts", struct.pack("<3H", 0, 0, 0)),  # elements, comparison operators, enumerations
]


def exactBytesProblems(label, actual, parts):
    expected = b"".join(data for _, data in parts)
    if actual == expected:
        return []
    offset = next((i for i, (a, b) in enumerate(zip(actual, expected)) if a != b),
                  min(len(actual), len(expected)))
    start = 0
    part = parts[-1][0]
    for name, data in parts:
        if offset < start + len(data):
            part = name
            break
        start += len(data)
    return [f"{label} differs from the expected bytes at offset {offset} ({part}); "
            f"{len(actual)} bytes, expected {len(expected)}"]


WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_VISIBLE = 0x10000000
WS_TABSTOP = 0x00010000
DS_MODALFRAME = 0x80
DS_SETFONT = 0x40
BUTTON_CLASS = 0x80
STATIC_CLASS = 0x82
SS_TYPEMASK = 0x1F
SS_CENTER = 0x1
BS_TYPEMASK = 0xF
BS_PUSHBUTTON = 0x0
BS_GROUPBOX = 0x7

BUTTON_TEXT = "www.quillmesh.example"
ABOUT_TEXT = ("Quillmesh Importer\r\n\r\nfor Photoshop CC 2015.\r\n\r\n"
              "Copyright (c) 2026 the Quillmesh importer authors.")
EXPECTED_DIALOG_ITEMS = [
    # kind          id  x   y   cx   cy  class         type mask    type           also       text
    ("centred text", -1, 58, 18, 128, 48, STATIC_CLASS, SS_TYPEMASK, SS_CENTER,     0,          ABOUT_TEXT),
    ("group box",    -1,  9,  6, 225, 66, BUTTON_CLASS, BS_TYPEMASK, BS_GROUPBOX,   0,          ""),
    ("push button",   5, 77, 78,  90, 14, BUTTON_CLASS, BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, BUTTON_TEXT),
]


def dialogProblems(data):
    label = "dialog 16000"
    reader = Reader(data)
    version, signature, _, _, style, itemCount, _, _, cx, cy = reader.take("<HHIIIHhhhh")
    if (version, signature) != (1, 0xFFFF):
        return [f"{label} is not an extended template "
                f"(version {version}, signature {signature:#x})"]
    problems = []
    if style & (WS_POPUP | DS_MODALFRAME) != WS_POPUP | DS_MODALFRAME:
        problems.append(f"{label} style {style:#x} lacks WS_POPUP or DS_MODALFRAME")
    if style & WS_CAPTION == WS_CAPTION or style & WS_SYSMENU:
        problems.append(f"{label} style {style:#x} has a caption or a system menu")
    if (cx, cy) != (244, 100):
        problems.append(f"{label} is {cx} x {cy}, expected 244 x 100")
    reader.nameOrOrdinal()  # menu
    reader.nameOrOrdinal()  # window class
    reader.text()  # title
    if not style & DS_SETFONT:
        problems.append(f"{label} names no font")
    else:
        pointSize, _, _, _ = reader.take("<HHBB")
        typeface = reader.text()
        if (typeface, pointSize) != ("MS Sans Serif", 8):
            problems.append(f'{label} font is "{typeface}" {pointSize}, expected "MS Sans Serif" 8')
    if itemCount != len(EXPECTED_DIALOG_ITEMS):
        problems.append(f"{label} has {itemCount} items, expected {len(EXPECTED_DIALOG_ITEMS)}")
    for number, expected in enumerate(EXPECTED_DIALOG_ITEMS[:itemCount], start=1):
        kind, itemId, x, y, width, height, windowClass, typeMask, itemType, moreStyle, text = \
            expected
        reader.alignTo4()
        _, _, itemStyle, ax, ay, aWidth, aHeight, aId = reader.take("<IIIhhhhi")
        aClass = reader.nameOrOrdinal()
        aText = reader.nameOrOrdinal()
        reader.raw(reader.one("<H"))  # creation data
        where = f"{label} item {number} ({kind})"
        if aId != itemId:
            problems.append(f"{where} has id {aId}, expected {itemId}")
        if (ax, ay, aWidth, aHeight) != (x, y, width, height):
            problems.append(f"{where} is at {ax},{ay} {aWidth} x {aHeight}, "
                            f"expected {x},{y} {width} x {height}")
        if aClass != windowClass:
            shown = f"{aClass:#x}" if isinstance(aClass, int) else repr(aClass)
            problems.append(f"{where} has class {shown}, expected {windowClass:#x}")
        required = moreStyle | WS_VISIBLE
        if itemStyle & typeMask != itemType or itemStyle & required != required:
            problems.append(f"{where} has style {itemStyle:#x}, expected type {itemType:#x} "
                            f"and the bits {required:#x}")
        if aText != text:
            problems.append(f"{where} text is {aText!r}, expected {text!r}")
    return problems


EXPECTED_STRINGS = {
    16000: "Quillmesh\n\nVersion CC 2015 Release 1 (05/06/2015)\n"
           "Copyright (c) 2026 the Quillmesh importer authors.\n"
           "Provided as is, without warranty of any kind.\n\n"
           "Quillmesh Importer for Photoshop CC 2015.",
    16989: "Quillmesh: ref num=^0.",
    16990: "An integer is required between ^1 and ^2.",
    16991: "A decimal number is required between ^1 and ^2.",
    16992: "This plug-in requires Adobe Photoshop\u00AE ^1 or later functionality.",
    16993: "This plug-in is incompatible with this version of the host program.",
    16994: "the required suite \\'^0\\' is unavailable",  # the backslashes are part of the text
}


def stringTableProblems(resources):
    # Block B holds strings 16 * (B - 1) to 16 * (B - 1) + 15, each a length and UTF-16 units.
    strings = {}
    problems = []
    for (resourceType, block), languages in sorted(resources.items(), key=str):
        if resourceType != RT_STRING or not isinstance(block, int):
            continue
        data = languages.get(LANGUAGE_ENGLISH_US)
        if data is None:
            continue
        reader = Reader(data)
        try:
            for index in range(16):
                length = reader.one("<H")
                if length:
                    strings[16 * (block - 1) + index] = \
                        reader.raw(2 * length).decode("utf-16-le", "replace")
        except Truncated:
            problems.append(f"string block {block} is truncated")
    for stringId, text in EXPECTED_STRINGS.items():
        if stringId not in strings:
            problems.append(f"lacks string {stringId}")
        elif strings[stringId] != text:
            problems.append(f"string {stringId} is {strings[stringId]!r}, expected {text!r}")
    for stringId in sorted(set(strings) - set(EXPECTED_STRINGS)):
        problems.append(f"has unexpected string {stringId}")
    return problems


VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VOS__WINDOWS32 = 0x4
VFT_DLL = 0x2
VERSION = (3, 5, 0, 48)
EXPECTED_VERSION_STRINGS = {
    "Comments": "Built for Photoshop CC 2015",
    "CompanyName": "The Quillmesh importer authors",
    "FileDescription": "kvt_plugin",
    "FileVersion": "3, 5, 0, 48",
    "InternalName": "kvt_plugin",
    "LegalCopyright": "Copyright (c) 2026 the Quillmesh importer authors",
    "OriginalFilename": "quillmesh.8bi",
    "ProductName": "kvt_plugin",
    "ProductVersion": "3, 5, 0, 48",
}
EXPECTED_TRANSLATION = struct.pack("<HH", 0x409, 1200)


def versionNode(data, position, end):
    """One node of a version block: (key, value, children, next position)."""
    reader = Reader(data, position, end)
    length, valueLength, valueType = reader.take("<HHH")
    if length < 6 or length > end - position:
        raise Truncated()
    reader.end = position + length
    key = reader.text()
    reader.alignTo4()
    value = reader.raw(valueLength * 2 if valueType == 1 else valueLength)
    if valueType == 1:
        value = value.decode("utf-16-le", "replace").rstrip("\0")
    reader.alignTo4()
    children = []
    while reader.position < reader.end:
        child = versionNode(data, reader.position, reader.end)
        children.append(child)
        reader.position = (child[3] + 3) & ~3
    return key, value, children, position + length


def versionProblems(data):
    problems = []
    key, fixed, children, _ = versionNode(data, 0, len(data))
    if key != "VS_VERSION_INFO" or len(fixed) != 52:
        return [f"version 1 is not a VS_VERSION_INFO block with a fixed part (key {key!r})"]
    (signature, _, fileMS, fileLS, productMS, productLS, _, _, fileOS, fileType) = \
        struct.unpack_from("<10I", fixed)
    expectedMS = VERSION[0] << 16 | VERSION[1]
    expectedLS = VERSION[2] << 16 | VERSION[3]
    if signature != VS_FIXEDFILEINFO_SIGNATURE:
        problems.append(f"version 1 fixed part has signature {signature:#x}")
    for label, ms, ls in (("file", fileMS, fileLS), ("product", productMS, productLS)):
        if (ms, ls) != (expectedMS, expectedLS):
            problems.append(f"version 1 {label} version is {ms >> 16}.{ms & 0xFFFF}.{ls >> 16}."
                            f"{ls & 0xFFFF}, expected {'.'.join(map(str, VERSION))}")
    if fileOS != VOS__WINDOWS32:
        problems.append(f"version 1 file OS is {fileOS:#x}, expected VOS__WINDOWS32")
    if fileType != VFT_DLL:
        problems.append(f"version 1 file type is {fileType:#x}, expected VFT_DLL")
    strings = None
    translation = None
    for childKey, _, grandchildren, _ in children:
        if childKey == "StringFileInfo":
            strings = next(({k: v for k, v, _, _ in table[2]} for table in grandchildren
                            if table[0] == "040904b0"), None)
        elif childKey == "VarFileInfo":
            translation = next((v for k, v, _, _ in grandchildren if k == "Translation"), None)
    if strings is None:
        problems.append("version 1 lacks StringFileInfo 040904b0")
    else:
        for name, text in EXPECTED_VERSION_STRINGS.items():
            if strings.get(name) != text:
                problems.append(f"version 1 {name} is {strings.get(name)!r}, expected {text!r}")
        for name in sorted(set(strings) - set(EXPECTED_VERSION_STRINGS)):
            problems.append(f"version 1 has unexpected string {name}")
    if translation != EXPECTED_TRANSLATION:
        problems.append(f"version 1 Translation is {translation!r}, expected 0x409, 1200")
    return problems


def manifestProblems(data):
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        return [f"manifest 2 is not well-formed XML: {error}"]

    def localName(element):
        return element.tag.rsplit("}", 1)[-1]

    problems = []
    levels = [element.attrib for element in root.iter()
              if localName(element) == "requestedExecutionLevel"]
    if levels != [{"level": "asInvoker", "uiAccess": "false"}]:
        problems.append(f"manifest 2 requests {levels}, expected level asInvoker, uiAccess false")
    # The C runtime (msvcrt.dll) is a system DLL, not a side-by-side assembly: naming any
    # assembly that is not installed keeps the loader from loading the module.
    for element in root.iter():
        if localName(element) == "dependentAssembly":
            names = [identity.attrib.get("name") for identity in element
                     if localName(identity) == "assemblyIdentity"]
            problems.append(f"manifest 2 names a side-by-side dependency {names}")
    return problems


def resourceProblems(pe):
    resources = resourceTable(pe)
    problems = []
    for (resourceType, name), languages in sorted(resources.items(), key=str):
        for language in sorted(languages):
            if language != LANGUAGE_ENGLISH_US:
                problems.append(f"resource {describeType(resourceType)} {name} is in language "
                                f"{language}, expected {LANGUAGE_ENGLISH_US}")

    def usEnglish(resourceType, name):
        data = resources.get((resourceType, name), {}).get(LANGUAGE_ENGLISH_US)
        if data is None:
            problems.append(f"lacks resource {describeType(resourceType)} {name} in language "
                            f"{LANGUAGE_ENGLISH_US}")
        return data

    checks = [
        ("PIPL", 16000, lambda data: exactBytesProblems("PIPL 16000", data,
                                                        EXPECTED_PROPERTY_LIST)),
        ("AETE", 16000, lambda data: exactBytesProblems("AETE 16000", data,
                                                        EXPECTED_TERMINOLOGY)),
        (RT_DIALOG, 16000, dialogProblems),
        (RT_VERSION, 1, versionProblems),
        (RT_MANIFEST, 2, manifestProblems),
    ]
    for resourceType, name, check in checks:
        data = usEnglish(resourceType, name)
        if data is None:
            continue
        try:
            problems += check(data)
        except Truncated:
            problems.append(f"resource {describeType(resourceType)} {name} is truncated")
    problems += stringTableProblems(resources)
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("module")
    parser.add_argument("--name", required=True)
    parser.add_argument("--require", action="append", default=[])
    parser.add_argument("--allow", action="append", default=[])
    parser.add_argument("--resources", action="store_true",
                        help="also check the plug-in's resources")
    args = parser.parse_args()

    try:
        pe = pefile.PE(args.module)
    except (OSError, pefile.PEFormatError) as error:
        print(f"{args.module}: cannot read as a PE file: {error}")
        return 1

    problems = headerProblems(pe)
    problems += exportProblems(pe, args.name, args.require, args.allow)
    problems += importProblems(pe)
    if args.resources:
        problems += resourceProblems(pe)
    for problem in problems:
        print(f"{args.module}: {problem}")
    if problems:
        print(f"FAILED: {len(problems)} problem(s)")
        return 1
    imports = ", ".join(entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    print(f"{args.module}: PE32+ DLL \"{args.name}\", exports {', '.join(args.require)}, "
          f"imports {imports}" + (", resources as expected" if args.resources else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
