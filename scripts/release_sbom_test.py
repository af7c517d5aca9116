#!/usr/bin/env python3
"""The decisions of release_sbom.py on plain values: what a linker map and
dpkg say, which packages a program is made of, the document and its check.
Run by ctest in the native tree with Debian's python (the check's licence
list); scripts/check_release.sh checks the documents of whole releases."""
import copy
import hashlib
import json
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import release_sbom as rs  # noqa: E402

GCC = "/usr/lib/gcc/i686-w64-mingw32/12-posix"
LIB = GCC + "/../../../../i686-w64-mingw32/lib/../lib"
# The shape of ld's map: members at the start of a line (the reason on the
# next line, or on the same line when the name is short), then the sections
# that end that list, then the files given to the link.
MAP = f"""Archive member included to satisfy reference by file (symbol)

libstarter_win.a(launch_win.cpp.obj)
                              src/app/main_win.cpp.obj (starter::service::LaunchService())
{GCC}/libstdc++.a(string-inst.o)
                              libstarter_win.a(launch_win.cpp.obj) (std::string::assign)
{GCC}/libstdc++.a(functexcept.o) libstarter_win.a(launch_win.cpp.obj) (std::__throw_bad_alloc())
{LIB}/libmingwex.a(lib32_libmingwex_a-mingw_pformat.o)
                              {GCC}/libstdc++.a(string-inst.o) (__mingw_pformat)

Discarded input sections

 .text          0x00000000        0x0 {LIB}/crt2.o

Linker script and memory map

LOAD {LIB}/crt2.o
LOAD src/app/main_win.cpp.obj
LOAD src/app/main.rc.res
LOAD libstarter_win.a
LOAD {GCC}/libgcc.a
LOAD dll stuff
"""

STARTER, STATUS = "zephra_vantic_starter.exe", "zephra_vantic_status.exe"
FMT_VERSION = "9.1.0+ds1-2"
DETAILS = {
    "libfmt-dev:amd64": ("libfmt-dev", "amd64", FMT_VERSION),
    "mingw-w64-i686-dev": ("mingw-w64-i686-dev", "all", "10.0.0-3"),
}
USED = {
    STARTER: {"libfmt-dev:amd64": set(), "mingw-w64-i686-dev": {"crt2.o", "libmingwex.a"}},
    STATUS: {"mingw-w64-i686-dev": {"crt2.o"}},
}
RELEASE = rs.Release("zephra_vantic-2.3.6.2-win32", "2.3.6.2", "48737a4" * 5 + "7606",
                     "Organization: norvik", "2026-12-09T00:20:52Z")


def sums(programs):
    return {f"{RELEASE.top}/{p}": hashlib.sha256(shipped).hexdigest() for p, (shipped, _) in programs.items()}


class WhatTheBuildUsed(unittest.TestCase):
    def test_the_map_gives_the_members_taken_and_the_objects_loaded_whole(self):
        members, objects = rs.linker_map_inputs(MAP)
        self.assertEqual(members, {
            "libstarter_win.a": {"launch_win.cpp.obj"},
            f"{GCC}/libstdc++.a": {"string-inst.o", "functexcept.o"},
            f"{LIB}/libmingwex.a": {"lib32_libmingwex_a-mingw_pformat.o"},
        })
        # Archives count by their members only, the "dll stuff" not at all;
        # an object in the discarded list is no second object.
        self.assertEqual(objects, [f"{LIB}/crt2.o", "src/app/main_win.cpp.obj", "src/app/main.rc.res"])

    def test_dpkg_names_the_first_owner_with_its_architecture_and_diversions_are_skipped(self):
        owners = rs.parse_owners(
            "diversion by foo from: /usr/include/fmt/core.h\n"
            "libfmt-dev:amd64, libfmt-dev:i386: /usr/include/fmt/core.h\n"
            "mingw-w64-i686-dev: /usr/i686-w64-mingw32/lib/crt2.o\n")
        self.assertEqual(owners, {"/usr/include/fmt/core.h": "libfmt-dev:amd64",
                                  "/usr/i686-w64-mingw32/lib/crt2.o": "mingw-w64-i686-dev"})
        self.assertEqual(rs.parse_deps("a.obj: #deps 2, deps mtime 1 (VALID)\n    /usr/include/fmt/core.h\n"
                                       "    ../src/x.h\n\nb.res: deps not found\n"),
                         ["/usr/include/fmt/core.h", "../src/x.h"])

    def test_a_file_no_package_installed_fails_naming_it(self):
        with tempfile.NamedTemporaryFile(suffix=".a") as stray:
            with self.assertRaisesRegex(rs.ReleaseError, stray.name):
                rs.owners([Path("/usr/bin/dpkg"), Path(stray.name)])

    def test_a_program_is_made_of_the_packages_of_its_files_and_headers(self):
        crt, mingwex = Path(f"{LIB}/crt2.o"), Path(f"{LIB}/libmingwex.a")
        header = Path("/usr/include/fmt/core.h")
        owner = {crt: "mingw-w64-i686-dev", mingwex: "mingw-w64-i686-dev", header: "libfmt-dev:amd64"}
        self.assertEqual(rs.program_components(STARTER, [crt, mingwex], [header], owner), USED[STARTER])

        # A library with no licence here stops the release, named with its package.
        zlib = Path("/usr/i686-w64-mingw32/lib/libz.a")
        with self.assertRaisesRegex(rs.ReleaseError, f"{STARTER} is built with libz.a from libz-mingw-w64-dev"):
            rs.program_components(STARTER, [crt, zlib], [], {**owner, zlib: "libz-mingw-w64-dev"})
        with self.assertRaisesRegex(rs.ReleaseError, "its headers from libboost-dev"):
            rs.program_components(STARTER, [], [header], {header: "libboost-dev"})

    def test_a_package_url_encodes_the_version_and_keeps_an_epoch(self):
        self.assertEqual(rs.purl("libspdlog-dev", "amd64", "1:1.10.0+ds-0.4", "debian-12"),
                         "pkg:deb/debian/libspdlog-dev@1:1.10.0%2Bds-0.4?arch=amd64&distro=debian-12")


class TheDocument(unittest.TestCase):
    PROGRAMS = {STARTER: (b"MZ starter", None), STATUS: (b"MZ status", None)}
    SIGNED = {STARTER: (b"MZ starter signed", b"MZ starter"), STATUS: (b"MZ status signed", b"MZ status")}

    @classmethod
    def setUpClass(cls):
        cls.licence_problems = staticmethod(rs.spdx_licence_problems())

    def document(self, programs):
        return rs.document(RELEASE, programs, USED, DETAILS, "debian-12")

    def problems(self, sbom, programs, unsigned=None):
        return (rs.document_problems(sbom, self.licence_problems)
                + rs.checksum_problems(sbom, sums(programs), unsigned))

    def test_every_licence_in_the_table_is_an_spdx_expression(self):
        for package, (expression, _) in rs.PACKAGE_LICENCES.items():
            with self.subTest(package=package):
                self.assertEqual(self.licence_problems(expression), [])

    def test_a_release_gives_one_complete_document_whatever_the_order_of_its_inputs(self):
        sbom = self.document(self.PROGRAMS)
        self.assertEqual(self.problems(sbom, self.PROGRAMS), [])
        reordered = rs.document(RELEASE, dict(reversed(self.PROGRAMS.items())),
                                {p: dict(reversed(u.items())) for p, u in reversed(USED.items())},
                                DETAILS, "debian-12")
        self.assertEqual(json.dumps(sbom["relationships"]), json.dumps(reordered["relationships"]))
        self.assertEqual(sorted(p["name"] for p in sbom["packages"]),
                         sorted(p["name"] for p in reordered["packages"]))

        relations = {(r["spdxElementId"], r["relationshipType"], r["relatedSpdxElement"])
                     for r in sbom["relationships"]}
        starter, fmt, mingw = ("SPDXRef-Program-zephra-vantic-starter.exe", "SPDXRef-Package-deb-libfmt-dev",
                               "SPDXRef-Package-deb-mingw-w64-i686-dev")
        # Headers compiled in are contained; an archive the link took is also linked.
        self.assertIn((starter, "CONTAINS", fmt), relations)
        self.assertNotIn((starter, "STATIC_LINK", fmt), relations)
        self.assertIn((starter, "STATIC_LINK", mingw), relations)
        self.assertIn(("SPDXRef-DOCUMENT", "DESCRIBES", starter), relations)
        fmt_package = next(p for p in sbom["packages"] if p["name"] == "libfmt-dev")
        self.assertEqual(fmt_package["externalRefs"][0]["referenceLocator"],
                         "pkg:deb/debian/libfmt-dev@9.1.0%2Bds1-2?arch=amd64&distro=debian-12")

    def test_a_signed_release_names_both_bytes_under_another_namespace(self):
        unsigned, signed = self.document(self.PROGRAMS), self.document(self.SIGNED)
        self.assertNotEqual(unsigned["documentNamespace"], signed["documentNamespace"])
        self.assertEqual(self.problems(signed, self.SIGNED, sums(self.PROGRAMS)), [])
        # Checked against the signed bytes as if they were the unsigned ones.
        self.assertEqual(len(self.problems(signed, self.SIGNED, sums(self.SIGNED))), 2)

    def test_the_check_names_what_is_missing_or_wrong(self):
        sbom = self.document(self.PROGRAMS)
        faults = {
            "no supplier": lambda d: d["packages"][2].pop("supplier"),
            "not in the document": lambda d: d["relationships"][0].update(relatedSpdxElement="SPDXRef-Gone"),
            "in no relationship": lambda d: d.update(relationships=[
                r for r in d["relationships"] if r["relatedSpdxElement"] != "SPDXRef-Package-deb-libfmt-dev"]),
            "Unknown license key": lambda d: d["packages"][2].update(licenseDeclared="MIT AND Nonsense-1.0"),
            "no package URL": lambda d: d["packages"][3].update(versionInfo="10.0.0-4"),
            "checksum is not the archive's": lambda d: d["packages"][0]["checksums"][0].update(checksumValue="00"),
            "no creation time": lambda d: d["creationInfo"].update(created="2026-12-09 00:20:52"),
            "no author": lambda d: d["creationInfo"].update(creators=["Tool: x"]),
            "no SPDXID of its own": lambda d: d["packages"][1].update(SPDXID=d["packages"][0]["SPDXID"]),
        }
        for problem, fault in faults.items():
            with self.subTest(problem=problem):
                broken = copy.deepcopy(sbom)
                fault(broken)
                self.assertIn(problem, "\n".join(self.problems(broken, self.PROGRAMS)))


if __name__ == "__main__":
    unittest.main()
