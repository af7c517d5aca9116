#!/usr/bin/env python3
"""Packs a release build into dist/: the programs' archive, the debug files'
archive, the bill of materials (release_sbom.py) and SHA256SUMS, byte for
byte the same for the same commit.

    scripts/release_archives.py BUILD_FOLDER VERSION DIST_FOLDER [PROGRAMS_FOLDER]
    scripts/release_archives.py --align PROGRAM...

--align makes each program ready for signing, in place: zeros appended up to
a multiple of eight bytes (Authenticode's alignment, which a signing tool
would otherwise add itself and a removal of the signature would leave) and
the header's checksum computed afresh, so a signed program without its
signature is the shipped program byte for byte.

PROGRAMS_FOLDER holds the programs to pack instead of BUILD_FOLDER's: signed
copies of them (scripts/release.sh --sign-...). SOURCE_DATE_EPOCH (the last commit's time) dates every archive entry. Before
packing, each program must carry VERSION in its version resource and name its
debug file, with that file's CRC, in its debug link; a release that fails
either is not written.
"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib
from pathlib import Path

import release_sbom
from release_sbom import ReleaseError

PROGRAMS = ("zephra_vantic_starter.exe", "zephra_vantic_status.exe")
OBJCOPY = "i686-w64-mingw32-objcopy"
REPO = Path(__file__).resolve().parent.parent

# What is linked in statically, and the Debian package whose copyright file
# carries its licence: the GCC runtime (libgcc, libstdc++, libssp), the
# mingw-w64 C runtime with winpthreads, fmt and spdlog.
LICENCES = (
    ("gcc-runtime.txt", "gcc-mingw-w64-i686-posix"),
    ("mingw-w64-runtime-and-winpthreads.txt", "mingw-w64-i686-dev"),
    ("fmt.txt", "libfmt-dev"),
    ("spdlog.txt", "libspdlog-dev"),
)

# VS_FIXEDFILEINFO.dwSignature; the file version follows the struct version.
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
# Owner read and write, everyone read, a regular file: the same on every
# machine, whatever the umask of the one that packed it.
ENTRY_ATTRIBUTES = (0o100644 << 16)
UNIX_CREATOR = 3
# The earliest time a zip entry can hold.
ZIP_EPOCH = (1980, 1, 1, 0, 0, 0)
# Authenticode places the signature at a multiple of eight bytes.
SIGNATURE_ALIGNMENT = 8
# e_lfanew, the PE header's place; the checksum follows the 4-byte signature,
# the 20-byte file header and 64 bytes of the optional header.
PE_OFFSET_FIELD = 0x3C
CHECKSUM_IN_HEADER = 4 + 20 + 64


def zip_date_time(epoch):
    """The entry time of SOURCE_DATE_EPOCH, in UTC, never before 1980."""
    return max(ZIP_EPOCH, time.gmtime(epoch)[:6])


def write_zip(path, entries, epoch):
    """Writes entries (name -> bytes) sorted by name, with one time and one
    set of attributes, so only names and contents decide the bytes."""
    with zipfile.ZipFile(path, "w") as archive:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, zip_date_time(epoch))
            info.create_system = UNIX_CREATOR
            info.external_attr = ENTRY_ATTRIBUTES
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, entries[name], compresslevel=9)


def sha256sums(paths):
    """sha256sum's own format, so `sha256sum -c SHA256SUMS` checks a copy."""
    return "".join(f"{hashlib.sha256(p.read_bytes()).hexdigest()}  {p.name}\n"
                   for p in sorted(paths, key=lambda p: p.name))


def file_version(image):
    """The file version in the version resource of an executable's bytes."""
    at = image.find(FIXED_FILE_INFO_SIGNATURE)
    if at < 0:
        raise ReleaseError("no version resource")
    most, least = struct.unpack_from("<II", image, at + 8)
    return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"


def parse_debug_link(section):
    """The file name and CRC-32 of a .gnu_debuglink section: the name ends in
    a NUL, is padded to four bytes, and the CRC follows."""
    end = section.find(b"\0")
    if end < 0 or len(section) < 4:
        raise ReleaseError("malformed debug link")
    (crc,) = struct.unpack_from("<I", section, len(section) - 4)
    return section[:end].decode("ascii"), crc


def debug_link(program):
    """The debug link of a built program, read by objcopy from a copy (objcopy
    writes the file it reads unless given another)."""
    with tempfile.TemporaryDirectory() as scratch:
        section = Path(scratch) / "debuglink"
        subprocess.run([OBJCOPY, f"--dump-section=.gnu_debuglink={section}", str(program),
                        str(Path(scratch) / "copy.exe")], check=True)
        return parse_debug_link(section.read_bytes())


def pe_checksum(image):
    """The optional header's CheckSum of an image: its 16-bit words summed
    with the carry folded back, the field itself left out, plus the length."""
    at = checksum_offset(image)
    padded = image + b"\0" * (len(image) % 2)
    words = struct.unpack(f"<{len(padded) // 2}H", padded)
    total = sum(words) - words[at // 2] - words[at // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def checksum_offset(image):
    if image[:2] != b"MZ" or len(image) < PE_OFFSET_FIELD + 4:
        raise ReleaseError("not an executable")
    (pe,) = struct.unpack_from("<I", image, PE_OFFSET_FIELD)
    if image[pe:pe + 4] != b"PE\0\0" or len(image) < pe + CHECKSUM_IN_HEADER + 4:
        raise ReleaseError("no PE header")
    return pe + CHECKSUM_IN_HEADER


def aligned_for_signing(image):
    """The image padded with zeros to the signature's alignment, its checksum
    computed afresh."""
    padded = bytearray(image + b"\0" * (-len(image) % SIGNATURE_ALIGNMENT))
    struct.pack_into("<I", padded, checksum_offset(padded), pe_checksum(bytes(padded)))
    return bytes(padded)


def check_program(program, debug, version):
    image = program.read_bytes()
    found = file_version(image)
    if found != version:
        raise ReleaseError(f"{program.name}: version resource {found}, project {version}")
    name, crc = debug_link(program)
    if name != debug.name or crc != zlib.crc32(debug.read_bytes()):
        raise ReleaseError(f"{program.name}: debug link {name} {crc:08x} does not match {debug.name}")


def programs_archive(programs, top):
    entries = {f"{top}/{p}": (programs / p).read_bytes() for p in PROGRAMS}
    entries[f"{top}/INTEGRATION.txt"] = (REPO / "packaging" / "INTEGRATION.txt").read_bytes()
    for name, package in LICENCES:
        entries[f"{top}/licences/{name}"] = Path(f"/usr/share/doc/{package}/copyright").read_bytes()
    return entries


def main(build, version, dist, programs=None):
    build, dist = Path(build), Path(dist)
    programs = Path(programs) if programs else build
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    for program in PROGRAMS:
        check_program(programs / program, build / f"{program}.debug", version)
    top = f"zephra_vantic-{version}-win32"
    debug_top = f"{top}-debug"
    # Signed programs are described with their unsigned bytes too.
    sbom = release_sbom.document_text(
        build, top, version, epoch,
        {p: ((programs / p).read_bytes(), (build / p).read_bytes() if programs != build else None) for p in PROGRAMS})
    archives = {
        dist / f"{top}.zip": programs_archive(programs, top),
        dist / f"{debug_top}.zip": {f"{debug_top}/{p}.debug": (build / f"{p}.debug").read_bytes() for p in PROGRAMS},
    }
    dist.mkdir(parents=True, exist_ok=True)
    for path, entries in archives.items():
        write_zip(path, entries, epoch)
    sbom_path = dist / f"{top}.spdx.json"
    sbom_path.write_text(sbom)
    (dist / "SHA256SUMS").write_text(sha256sums([*archives, sbom_path]))


def align(programs):
    for program in map(Path, programs):
        program.write_bytes(aligned_for_signing(program.read_bytes()))


if __name__ == "__main__":
    aligning = sys.argv[1:2] == ["--align"]
    if not (aligning and len(sys.argv) > 2) and (aligning or len(sys.argv) not in (4, 5)):
        sys.exit(__doc__)
    try:
        if aligning:
            align(sys.argv[2:])
        else:
            main(*sys.argv[1:])
    except ReleaseError as error:
        sys.exit(f"release: {error}")
