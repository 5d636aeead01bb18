#!/usr/bin/python3
"""Checks the form of the shipped helper, build/x86/OrvaneUpgradeHelper.exe.

usage: check_pe.py path/to/OrvaneUpgradeHelper.exe [CA_FILE]

A 32-bit (i386) PE GUI executable whose import table names only the KnownDLLs
it may import, built hardened (ASLR with base relocations over its code, DEP,
no SEH handlers, stack canaries, checked copies), signed "Orvane, Inc.",
carrying its version block and asInvoker manifest, embedding the three
installers (type 256, ids 120, 122, 133, language 1033) and staying small
without them. With CA_FILE the signature's chain is verified against it too
(the development kit's root in dev builds).

Every problem found is printed ("FAIL: ..."), and the exit code is 1.
Runs on Debian's interpreter, which sees Debian's python3-pefile.
"""

import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import pefile

OBJDUMP = "i686-w64-mingw32-objdump"

# Windows loads an imported DLL that is not a KnownDLL from the program's own
# folder first, before any of the helper's code runs, and the helper runs from
# folders its users can write to. So the import table names only these
# KnownDLLs of Windows 10 and 11; version, msi, crypt32 and wintrust are
# loaded at run time from the system folder (system/system_library.h).
ALLOWED_IMPORTS = {"KERNEL32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "OLE32.DLL",
                   "OLEAUT32.DLL", "USER32.DLL", "MSVCRT.DLL"}
# Functions bound by ordinal rather than by name (CMakeLists.txt says why).
ORDINAL_IMPORTS = {("SHELL32.DLL", "IsUserAnAdmin"): 680}

# Each flag is one linker option away from being dropped without a word:
# DYNAMIC_BASE (ASLR), NX_COMPAT (DEP), and NO_SEH, since a 32-bit image
# without a SafeSEH table (GCC makes none) would otherwise let any handler
# address on the stack be called. Nothing else is set: HIGH_ENTROPY_VA means
# something only in a 64-bit image, GUARD_CF would claim Control Flow Guard
# tables this toolchain cannot make. Wine enforces none of them; Windows does.
DLL_CHARACTERISTICS = {"DYNAMIC_BASE", "NX_COMPAT", "NO_SEH"}

VERSION_STRINGS = {
    "CompanyName": "Orvane, Inc.",
    "FileDescription": "Orvane Upgrade Helper (for versions with old code-sign certificates)",
    "InternalName": "OrvaneUpgradeHelper",
    "OriginalFilename": "OrvaneUpgradeHelper.exe",
    "ProductName": "Orvane Upgrade Helper",
}
# The build number: year, month, day and hour, minute and second
# (cmake/BuildInfo.cmake); the version block's number fields hold the same.
BUILD_NUMBER = re.compile(r"\d{2}\.\d{2}\.\d{4}\.\d{4}")
COPYRIGHT = re.compile(r"Copyright \(C\) \d{4} Orvane, Inc\.")
# US English, Unicode: the block's Translation entry names this table.
STRING_TABLE = "040904b0"

PAYLOAD_TYPE = 256
PAYLOAD_IDS = (120, 122, 133)
PAYLOAD_LANGUAGE = 1033
MANIFEST_ID = 1  # CREATEPROCESS_MANIFEST_RESOURCE_ID

SIGNER = "Orvane, Inc."

# Everything but the resource section (which holds the installers, the icon,
# the version block and the manifest) and the signature is the helper's own
# code and data and the runtime it links: 487,936 bytes (476.5 KiB) when
# this limit was last set, with the restore points and the run's journal
# (about 50 KiB of code of their own). The limit leaves room for growth; a
# change that drags in much of the C++ library fails here (std::filesystem's
# error type alone once brought in the whole locale machinery, 610 KiB; the
# wide printf engine, 13 KiB, came with one swprintf). docs/development.md:
# "What the exe is made of".
OWN_BYTES_LIMIT_KIB = 512


def section(pe, name):
    return next((s for s in pe.sections if s.Name.rstrip(b"\0").decode() == name), None)


def run_tool(command):
    try:
        return subprocess.run(command, capture_output=True, text=True)
    except OSError as error:
        sys.exit(f"FAIL: cannot run {command[0]} ({error.strerror}); scripts/setup installs it")


def check_header(pe):
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"] \
            or pe.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        yield "not a PE32 i386 image"
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        yield "not a GUI-subsystem program"


def check_hardening(pe):
    value = pe.OPTIONAL_HEADER.DllCharacteristics
    prefix = "IMAGE_DLLCHARACTERISTICS_"
    flags = {name[len(prefix):] for name, bit in pefile.DLL_CHARACTERISTICS.items()
             if isinstance(name, str) and name.startswith(prefix) and value & bit}
    for flag in sorted(DLL_CHARACTERISTICS - flags):
        yield f"DllCharacteristics lacks {flag}"
    for flag in sorted(flags - DLL_CHARACTERISTICS):
        yield f"DllCharacteristics has {flag}, which the build does not set"


def check_relocations(pe):
    # ASLR needs the base relocations: the image does not say they were
    # stripped, and their blocks reach over the code (an i386 page of code
    # without an absolute address is rare: a tenth may lack one).
    if pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]:
        yield "the image says its relocations are stripped"
    blocks = getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])
    if not blocks:
        yield "no base relocation directory"
        return
    text = section(pe, ".text")
    if text is None:
        yield "no .text section"
        return
    pages = range(text.VirtualAddress & ~0xFFF, text.VirtualAddress + text.Misc_VirtualSize, 0x1000)
    covered = len(set(pages) & {block.struct.VirtualAddress for block in blocks})
    if covered * 10 < len(pages) * 9:
        yield f"base relocations cover {covered} of the code's {len(pages)} pages"


def check_imports(pe):
    descriptors = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    if not descriptors:
        yield "no import table found"
    # A delay-loaded DLL is looked for in the program's folder first as well.
    for descriptor in descriptors + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
        dll = descriptor.dll.decode(errors="replace")
        if dll.upper() not in ALLOWED_IMPORTS:
            yield f"imports {dll}, which is not one of its KnownDLLs: " \
                  "Windows would load it from the program's folder first"
    for (dll, function), ordinal in ORDINAL_IMPORTS.items():
        imports = [i for d in descriptors if d.dll.decode(errors="replace").upper() == dll
                   for i in d.imports]
        if not any(i.import_by_ordinal and i.ordinal == ordinal for i in imports):
            yield f"{function} is not imported from {dll} by its ordinal {ordinal}"
        if any(i.name == function.encode() for i in imports):
            yield f"{function} is imported from {dll} by name"


def check_stack_protection(pe):
    # -fstack-protector-strong and _FORTIFY_SOURCE link libssp's failure
    # handlers, whose messages are in the file only when something calls
    # them. The resources are left out: an embedded installer could carry
    # the same texts.
    data = b"".join(s.get_data() for s in pe.sections if s.Name.rstrip(b"\0") != b".rsrc")
    if b"*** stack smashing detected ***" not in data:
        yield "no stack protector linked"
    if b"*** buffer overflow detected ***" not in data:
        yield "no checked copies (_FORTIFY_SOURCE) linked"


def check_seh_chain(path):
    # NO_SEH is only true while nothing in the image registers a handler: on
    # i386 that is a frame linked in at %fs:0.
    run = run_tool([OBJDUMP, "-d", path])
    if run.returncode != 0:
        yield f"cannot disassemble the code ({OBJDUMP}: {run.stderr.strip()})"
    elif re.search(r"%fs:0x0\b", run.stdout):
        yield "the code touches the SEH chain (%fs:0), so NO_SEH would break it"


def check_signature(pe, path, ca_file):
    # Signed, before it is packaged: application-control policies block an
    # unsigned program in a folder its user can write to.
    table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if not table.VirtualAddress or not table.Size:
        yield "not signed: no certificate table"
        return
    command = ["osslsigncode", "verify", "-in", path] + (["-CAfile", ca_file] if ca_file else [])
    run = run_tool(command)
    verify = run.stdout + run.stderr

    def first(label):
        found = re.search(rf"^{label}\s*:\s*(\S+)", verify, re.MULTILINE)
        return found and found.group(1)

    current = first("Current message digest")
    if not current or current != first("Calculated message digest"):
        # osslsigncode then goes no further: signer and chain are unknown.
        yield "the signature's digest does not match the file"
        return
    # The first subject osslsigncode prints is the signer's.
    signer = re.search(r"^\s*Subject: (.*)$", verify, re.MULTILINE)
    if not signer or not signer.group(1).endswith(f"/CN={SIGNER}"):
        yield f'not signed by "{SIGNER}"' + (f" (signer: {signer.group(1)})" if signer else "")
    if ca_file and not re.search(r"^Succeeded$", verify, re.MULTILINE):
        yield f"the signature's chain does not verify against {ca_file}"


def resource_directory(pe, *ids):
    """The resource directory entry at the path of ids (type, name, ...), or None."""
    entry = None
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for wanted in ids:
        if directory is None:
            return None
        entry = next((e for e in directory.entries if e.id == wanted), None)
        if entry is None:
            return None
        directory = getattr(entry, "directory", None)
    return entry


def check_version_block(pe):
    if resource_directory(pe, pefile.RESOURCE_TYPE["RT_VERSION"]) is None \
            or not getattr(pe, "FileInfo", None):
        yield "no version resource"
        return
    tables = {table.LangID.decode(): table.entries
              for block in pe.FileInfo[0] if block.Key == b"StringFileInfo"
              for table in block.StringTable}
    if STRING_TABLE not in tables:
        yield f"the version resource has no {STRING_TABLE} (US English, Unicode) strings"
        return
    strings = {key.decode(): value.decode() for key, value in tables[STRING_TABLE].items()}
    for key, expected in VERSION_STRINGS.items():
        if strings.get(key) != expected:
            yield f"{key} in the version resource is {strings.get(key)!r}, not {expected!r}"
    if not COPYRIGHT.fullmatch(strings.get("LegalCopyright", "")):
        yield f"LegalCopyright in the version resource is {strings.get('LegalCopyright')!r}"
    fixed = pe.VS_FIXEDFILEINFO[0]
    for key, high, low in (("FileVersion", fixed.FileVersionMS, fixed.FileVersionLS),
                           ("ProductVersion", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        text = strings.get(key, "")
        if not BUILD_NUMBER.fullmatch(text):
            yield f"{key} in the version resource is {text!r}, not a four-group build number"
        elif [int(group) for group in text.split(".")] != \
                [high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF]:
            yield f"{key} {text} differs from the version block's numbers"


def check_payloads(pe):
    for payload in PAYLOAD_IDS:
        entry = resource_directory(pe, PAYLOAD_TYPE, payload, PAYLOAD_LANGUAGE)
        if entry is None or not entry.data.struct.Size:
            yield f"payload resource {payload} of type {PAYLOAD_TYPE}, " \
                  f"language {PAYLOAD_LANGUAGE}, missing"


def check_manifest(pe):
    name = resource_directory(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"], MANIFEST_ID)
    language = name and next(iter(name.directory.entries), None)
    if language is None:
        yield "no application manifest"
        return
    data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
    try:
        levels = [element.attrib for element in ElementTree.fromstring(data).iter()
                  if element.tag.endswith("}requestedExecutionLevel")]
    except ElementTree.ParseError as error:
        yield f"the manifest is not well-formed XML ({error})"
        return
    # The helper repairs its user's own profile: it must never ask to be
    # elevated, which would run it as another user or not at all.
    if [(level.get("level"), level.get("uiAccess")) for level in levels] \
            != [("asInvoker", "false")]:
        yield "the manifest does not request asInvoker (without uiAccess)"


def own_bytes(pe):
    """The file's bytes without its resource section and its signature."""
    table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    resources = section(pe, ".rsrc")
    return len(pe.__data__) - table.Size - (resources.SizeOfRawData if resources else 0)


def check_size(pe):
    if section(pe, ".rsrc") is None:
        yield "no resource section"
    elif own_bytes(pe) > OWN_BYTES_LIMIT_KIB * 1024:
        yield f"the helper without its resources is {own_bytes(pe)} bytes, " \
              f"more than {OWN_BYTES_LIMIT_KIB} KiB"


def problems(pe, path, ca_file):
    yield from check_header(pe)
    yield from check_hardening(pe)
    yield from check_relocations(pe)
    yield from check_imports(pe)
    yield from check_stack_protection(pe)
    yield from check_seh_chain(path)
    yield from check_signature(pe, path, ca_file)
    yield from check_version_block(pe)
    yield from check_payloads(pe)
    yield from check_manifest(pe)
    yield from check_size(pe)


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    path, ca_file = argv[1], argv[2] if len(argv) == 3 else None
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        print(f"FAIL: {path} is not a readable PE file ({error})")
        return 1
    with pe:
        found = list(problems(pe, path, ca_file))
        for problem in found:
            print(f"FAIL: {problem}")
        if not found:
            print(f"shipped binary OK: {path} ({own_bytes(pe)} bytes without its resources)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
