#!/usr/bin/env python3
"""The packing decisions of release_archives.py on plain values. Run by ctest
in the native tree; scripts/check_release.sh checks a whole release."""
import io
import os
import struct
import sys
import tempfile
import time
import unittest
from unittest import mock
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import release_archives as ra  # noqa: E402

COMMIT_TIME = 1796713870  # 2026-12-08 07:11:10 UTC


class ZipArchives(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def write(self, name, entries, umask):
        path = Path(self.folder.name) / name
        old = os.umask(umask)
        try:
            ra.write_zip(path, entries, COMMIT_TIME)
        finally:
            os.umask(old)
        return path

    def test_only_names_and_contents_decide_the_bytes(self):
        entries = {"top/b.exe": b"MZ" * 500, "top/licences/a.txt": b"notice\n", "top/A.txt": b""}
        first = self.write("first.zip", entries, 0o022)
        # Another day, another order, another umask.
        later = time.time() + 86400 * 3 + 7
        with mock.patch("time.time", return_value=later), \
                mock.patch("time.localtime", return_value=time.gmtime(later)):
            second = self.write("second.zip", dict(reversed(list(entries.items()))), 0o077)
        self.assertEqual(first.read_bytes(), second.read_bytes())

        with zipfile.ZipFile(io.BytesIO(first.read_bytes())) as archive:
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], sorted(entries))
            for info in infos:
                self.assertEqual(info.date_time, (2026, 12, 8, 7, 11, 10))
                self.assertEqual(info.external_attr >> 16, 0o100644)
                self.assertEqual(info.create_system, 3)
                self.assertEqual(archive.read(info), entries[info.filename])

    def test_entry_time_is_the_commits_in_utc_and_never_before_1980(self):
        self.assertEqual(ra.zip_date_time(COMMIT_TIME), (2026, 12, 8, 7, 11, 10))
        self.assertEqual(ra.zip_date_time(0), (1980, 1, 1, 0, 0, 0))

    def test_sums_are_in_sha256sums_format_sorted_by_name(self):
        folder = Path(self.folder.name)
        # The sums in the order opposite to the names'.
        (folder / "a.zip").write_bytes(b"")
        (folder / "b.zip").write_bytes(b"abc")
        self.assertEqual(
            ra.sha256sums([folder / "b.zip", folder / "a.zip"]),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  a.zip\n"
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  b.zip\n")


class ProgramRecords(unittest.TestCase):
    def test_file_version_is_read_from_the_fixed_file_info(self):
        fixed = struct.pack("<IIIIII", 0xFEEF04BD, 0x10000, (2 << 16) | 3, (6 << 16) | 2, 0x90001, 0)
        self.assertEqual(ra.file_version(b"\0" * 37 + fixed + b"\0" * 20), "2.3.6.2")
        with self.assertRaises(ra.ReleaseError):
            ra.file_version(b"MZ no resource")

    def test_debug_link_names_the_file_and_its_crc(self):
        crc = struct.pack("<I", 0x30CE2698)
        # 14 bytes of name, its NUL, padding to 16.
        self.assertEqual(ra.parse_debug_link(b"status.exe.dbg\0\0" + crc), ("status.exe.dbg", 0x30CE2698))
        # A name of 15 bytes needs no padding after its NUL.
        self.assertEqual(ra.parse_debug_link(b"status1.exe.dbg\0" + crc), ("status1.exe.dbg", 0x30CE2698))
        with self.assertRaises(ra.ReleaseError):
            ra.parse_debug_link(b"no end")


class SigningAlignment(unittest.TestCase):
    # MZ, e_lfanew = 0x80, PE\0\0 there, a stale checksum, zeros elsewhere.
    @staticmethod
    def image(length, extra_words=()):
        image = bytearray(length)
        image[0:2] = b"MZ"
        struct.pack_into("<I", image, 0x3C, 0x80)
        image[0x80:0x84] = b"PE\0\0"
        struct.pack_into("<I", image, 0x80 + 88, 0xFFFFFFFF)
        for at, word in extra_words:
            struct.pack_into("<H", image, at, word)
        return bytes(image)

    def checksum(self, image):
        return struct.unpack_from("<I", image, 0x80 + 88)[0]

    def test_checksum_sums_words_without_its_field_folds_the_carry_and_adds_the_length(self):
        # 0x5A4D ("MZ") + 0x0080 + 0x4550 ("PE") = 0xA01D, plus 0x100 bytes.
        self.assertEqual(ra.pe_checksum(self.image(0x100)), 0xA11D)
        # Two words of 0xFFFF more: 0x2A01B, whose carry folded back gives
        # 0xA01D again (0xA01B if the carry were dropped).
        folded = self.image(0x100, [(0xF0, 0xFFFF), (0xF2, 0xFFFF)])
        self.assertEqual(ra.pe_checksum(folded), 0xA11D)

    def test_an_image_is_padded_with_zeros_to_eight_bytes_and_its_checksum_renewed(self):
        for length in (0xF9, 0xFD, 0x100):
            with self.subTest(length=length):
                original = self.image(length)
                aligned = ra.aligned_for_signing(original)
                self.assertEqual(len(aligned), 0x100)
                self.assertEqual(aligned[length:], b"\0" * (0x100 - length))
                self.assertEqual(aligned[:0x80 + 88], original[:0x80 + 88])
                self.assertEqual(self.checksum(aligned), 0xA11D)
                self.assertEqual(ra.aligned_for_signing(aligned), aligned)

    def test_what_is_not_an_executable_is_refused(self):
        for image in (b"", b"ZM" + self.image(0x100)[2:], self.image(0x100).replace(b"PE\0\0", b"NE\0\0")):
            with self.assertRaises(ra.ReleaseError):
                ra.aligned_for_signing(image)


if __name__ == "__main__":
    unittest.main()
