#!/usr/bin/env python3
"""The release's bill of materials: an SPDX 2.3 document (JSON) naming each
program and every Debian package its bytes come from, derived from the build
that made the release (docs/release.md). scripts/release_archives.py writes it
beside the archives; this checks one:

    /usr/bin/python3 scripts/release_sbom.py --check DIST_FOLDER [UNSIGNED_DIST_FOLDER]

The check reads the programs' archive in DIST_FOLDER and, for a signed
release, the unsigned one in UNSIGNED_DIST_FOLDER. It needs Debian's
python3-license-expression (scripts/setup.sh), hence /usr/bin/python3.
"""
import collections
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import urllib.parse
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent


class ReleaseError(Exception):
    """What stops a release or fails its check, the packing's and the bill of
    materials' alike."""


# The licence of each Debian package a program's bytes may come from, as an
# SPDX expression; its copyright file, shipped in licences/, has the detail.
# A package the build takes a file from that is missing here fails the
# release: its licence has to be read and written down first.
GCC_RUNTIME = "GPL-3.0-or-later WITH GCC-exception-3.1"
# The C runtime, winpthreads and the headers: ZPL-2.1 for most, MIT for
# winpthreads, BSD-3-Clause for a few files; the rest is public domain or
# under notices that have no SPDX identifier (MINGW_W64_NOTE).
MINGW_W64 = "ZPL-2.1 AND MIT AND BSD-3-Clause"
MINGW_W64_NOTE = ("Parts are in the public domain or under notices without an SPDX identifier "
                  "(gdtoa: Lucent and David M. Gay; fdlibm: Sun; basename: Keith Marshall); "
                  "licences/mingw-w64-runtime-and-winpthreads.txt holds them all.")
PACKAGE_LICENCES = {
    "gcc-mingw-w64-i686-posix": (GCC_RUNTIME, None),
    "g++-mingw-w64-i686-posix": (GCC_RUNTIME, None),
    "mingw-w64-i686-dev": (MINGW_W64, MINGW_W64_NOTE),
    "mingw-w64-common": (MINGW_W64, MINGW_W64_NOTE),
    "libfmt-dev": ("MIT", None),
    "libspdlog-dev": ("MIT", None),
}

# The link's map (-Map, cmake/program.cmake): its first section names each
# archive member the link took, at the start of a line; LOAD lines name the
# files given to the link, objects among them.
ARCHIVE_SECTION = "Archive member included"
MEMBER = re.compile(r"^(\S+?)\(([^()\s]+)\)")
LOAD = re.compile(r"^LOAD (\S+)$")
OBJECT_SUFFIXES = (".o", ".obj", ".res")

DOCUMENT_ID = "SPDXRef-DOCUMENT"
NAMESPACE_BASE = "https://spdx.org/spdxdocs"
UNSIGNED_NOTE = "SHA-256 without its Authenticode signature: "
TIMESTAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")


def linker_map_inputs(text):
    """What a link used, from its map: each archive with the members it took,
    and the object files it loaded whole."""
    members, objects = {}, []
    in_archives = False
    for line in text.splitlines():
        if line.startswith(ARCHIVE_SECTION):
            in_archives = True
            continue
        if in_archives and line[:1].strip():
            match = MEMBER.match(line)
            if not match:
                in_archives = False
            else:
                members.setdefault(match[1], set()).add(match[2])
                continue
        load = LOAD.match(line)
        if load and load[1].endswith(OBJECT_SUFFIXES):
            objects.append(load[1])
    return members, objects


def ninja(build, *arguments):
    return subprocess.run(["ninja", "-C", str(build), "-t", *arguments], check=True,
                          capture_output=True, text=True).stdout


def archive_objects(build, archive, members):
    """The objects of the build that an archive of the build was made from,
    those the link took (by member name)."""
    query = ninja(build, "query", os.path.relpath(archive, build))
    inputs = re.search(r"^  input: \S+\n((?:    .*\n)*)", query, re.M)
    objects = [line.strip() for line in (inputs[1] if inputs else "").splitlines()
               if not line.strip().startswith("|")]
    taken = [build / o for o in objects if Path(o).name in members]
    missing = set(members) - {o.name for o in taken}
    if missing:
        raise ReleaseError(f"{archive.name}: no build step makes {', '.join(sorted(missing))}")
    return taken


def parse_deps(text):
    """The files `ninja -t deps` lists under each target: the headers the
    compiler read for it."""
    return [line.strip() for line in text.splitlines() if line.startswith("    ")]


def program_inputs(build, program):
    """The files from outside the checkout that a program is made of: those
    its link took whole or in part, and the headers its own objects were
    compiled with."""
    members, objects = linker_map_inputs((build / f"{Path(program).stem}.map").read_text())
    own, linked = [], []
    for archive, taken in members.items():
        path = Path(os.path.normpath(build / archive))
        if path.is_relative_to(REPO):
            own += archive_objects(build, path, taken)
        else:
            linked.append(path)
    for name in objects:
        path = Path(os.path.normpath(build / name))
        (own if path.is_relative_to(REPO) else linked).append(path)
    headers = {Path(os.path.normpath(build / h))
               for h in parse_deps(ninja(build, "deps", *(os.path.relpath(o, build) for o in own)))}
    return linked, sorted(h for h in headers if not h.is_relative_to(REPO))


def parse_owners(text):
    """`dpkg -S` lines (`package[:arch][, ...]: path`) as path -> the first
    owner, as dpkg names it (with its architecture when it has several)."""
    owners = {}
    for line in text.splitlines():
        if line.startswith("diversion "):
            continue
        packages, _, path = line.partition(": ")
        owners[path] = packages.split(", ")[0]
    return owners


def owners(paths):
    """The Debian package that installed each file; a file no package
    installed fails the release."""
    found = parse_owners(subprocess.run(["dpkg", "-S", *map(str, paths)], capture_output=True,
                                        text=True).stdout) if paths else {}
    strays = [str(p) for p in paths if str(p) not in found]
    if strays:
        raise ReleaseError(f"no Debian package installed {', '.join(strays)}")
    return {p: found[str(p)] for p in paths}


def program_components(program, linked, headers, owner):
    """package -> the names of the files the program's link took from it
    (empty when only its headers were compiled in), each package checked to
    have a licence here."""
    components = {}
    for path in headers:
        components.setdefault(owner[path], set())
    for path in linked:
        components.setdefault(owner[path], set()).add(path.name)
    for package in sorted(components):
        if package.split(":")[0] not in PACKAGE_LICENCES:
            used = ", ".join(sorted(components[package])) or "its headers"
            raise ReleaseError(f"{program} is built with {used} from {package}, which has no licence "
                               "in PACKAGE_LICENCES (scripts/release_sbom.py)")
    return components


def components(build, programs):
    """program -> its components (program_components), from the build."""
    inputs = {p: program_inputs(build, p) for p in programs}
    owner = owners(sorted({f for linked, headers in inputs.values() for f in linked + headers}))
    return {p: program_components(p, *inputs[p], owner) for p in programs}


def installed(package):
    """(name, architecture, version) of a package, as dpkg has it."""
    line = subprocess.run(["dpkg-query", "-W", "-f", "${Package}\t${Architecture}\t${Version}", package],
                          check=True, capture_output=True, text=True).stdout
    return tuple(line.split("\t"))


def distribution():
    """debian-12, from os-release: the purl's distro, which scanners match
    Debian's advisories with."""
    lines = Path("/etc/os-release").read_text().splitlines()
    fields = {key: value.strip('"') for key, _, value in (line.partition("=") for line in lines)}
    return f"{fields['ID']}-{fields['VERSION_ID']}"


def purl(name, architecture, version, distro):
    """A Debian package's package URL; the version percent-encoded (a `+`
    becomes %2B), an epoch's colon kept."""
    return (f"pkg:deb/debian/{name}@{urllib.parse.quote(version, safe=':')}"
            f"?arch={architecture}&distro={distro}")


def spdx_id(kind, name):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def timestamp(epoch):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch))


def company():
    """The version resources' CompanyName: the programs' supplier and the
    document's author."""
    return re.search(r'"CompanyName", "([^"]*)"', (REPO / "cmake" / "program.rc.in").read_text())[1]


# What a document says of the release as a whole: the archives' folder name,
# the version, the source commit, the author (an SPDX agent) and the time.
Release = collections.namedtuple("Release", "top version commit author created")


def program_package(program, release, shipped, unsigned):
    package = {
        "SPDXID": spdx_id("Program", program), "name": program, "versionInfo": release.version,
        "supplier": release.author, "packageFileName": f"{release.top}/{program}",
        "downloadLocation": "NOASSERTION", "filesAnalyzed": False, "primaryPackagePurpose": "APPLICATION",
        "checksums": [{"algorithm": "SHA256", "checksumValue": hashlib.sha256(shipped).hexdigest()}],
        "sourceInfo": f"built from source commit {release.commit}",
        "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION",
    }
    if unsigned is not None:
        package["annotations"] = [{
            "annotationType": "OTHER", "annotator": release.author, "annotationDate": release.created,
            "comment": UNSIGNED_NOTE + hashlib.sha256(unsigned).hexdigest()}]
    return package


def component_package(package, details, files, distro):
    name, architecture, version = details
    expression, note = PACKAGE_LICENCES[name]
    record = {
        "SPDXID": spdx_id("Package-deb", name), "name": name, "versionInfo": version,
        "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
        "primaryPackagePurpose": "LIBRARY",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                          "referenceLocator": purl(name, architecture, version, distro)}],
        "licenseConcluded": expression, "licenseDeclared": expression, "copyrightText": "NOASSERTION",
        "comment": ("linked from it: " + ", ".join(sorted(files))) if files else "its headers, compiled in",
    }
    if note:
        record["licenseComments"] = note
    return record


def relationships(program_ids, used, component_ids):
    """The document describes each program; each program contains every
    package it is made of and links statically to those its link took files
    from."""
    pairs = [(DOCUMENT_ID, "DESCRIBES", pid) for pid in program_ids.values()]
    for program, packages in used.items():
        for package, files in packages.items():
            pairs.append((program_ids[program], "CONTAINS", component_ids[package]))
            if files:
                pairs.append((program_ids[program], "STATIC_LINK", component_ids[package]))
    return [{"spdxElementId": a, "relationshipType": kind, "relatedSpdxElement": b} for a, kind, b in sorted(pairs)]


def document(release, programs, used, details, distro):
    """The SPDX document. programs: name -> (shipped bytes, unsigned bytes or
    None); used: name -> program_components; details: package -> installed.
    Everything in it follows from its arguments, in a fixed order."""
    files = {}
    for packages in used.values():
        for package, names in packages.items():
            files.setdefault(package, set()).update(names)
    program_packages = [program_package(p, release, *programs[p]) for p in programs]
    component_packages = {p: component_package(p, details[p], files[p], distro) for p in sorted(files)}
    # Signed programs give another document, so another namespace.
    digest = hashlib.sha256("".join(c["checksumValue"] for p in program_packages
                                    for c in p["checksums"]).encode()).hexdigest()
    return {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": DOCUMENT_ID, "name": release.top,
        "documentNamespace": f"{NAMESPACE_BASE}/{release.top}-{release.commit}-{digest[:16]}",
        "creationInfo": {"created": release.created,
                         "creators": [release.author, f"Tool: release_sbom.py-{release.version}"]},
        "packages": program_packages + list(component_packages.values()),
        "relationships": relationships({p["name"]: p["SPDXID"] for p in program_packages}, used,
                                       {p: c["SPDXID"] for p, c in component_packages.items()}),
    }


def document_text(build, top, version, epoch, programs):
    """The document of a release built in build/, as JSON text; programs as
    document() takes them."""
    commit = subprocess.run(["git", "-C", str(REPO), "rev-parse", "HEAD"], check=True,
                            capture_output=True, text=True).stdout.strip()
    used = components(Path(build).resolve(), list(programs))
    details = {p: installed(p) for packages in used.values() for p in packages}
    release = Release(top, version, commit, f"Organization: {company()}", timestamp(epoch))
    sbom = document(release, programs, used, details, distribution())
    return json.dumps(sbom, indent=2, sort_keys=True) + "\n"


def document_problems(sbom, licence_problems):
    """What keeps a document from being a complete SPDX 2.3 bill of materials
    with the NTIA minimum elements: its own fields, each package's, and
    relationships between packages it holds. licence_problems(expression)
    names what is wrong with a licence expression."""
    problems = []
    fixed = {"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": DOCUMENT_ID}
    problems += [f"{k} is not {v}" for k, v in fixed.items() if sbom.get(k) != v]
    if not sbom.get("name") or "#" in sbom.get("documentNamespace", "#"):
        problems.append("no name or no namespace URI")
    info = sbom.get("creationInfo", {})
    if not TIMESTAMP.match(info.get("created", "")):
        problems.append("no creation time")
    if not any(c.startswith(("Organization: ", "Person: ")) for c in info.get("creators", [])):
        problems.append("no author among the creators")
    ids = {DOCUMENT_ID}
    for package in sbom.get("packages", []):
        problems += package_problems(package, ids, licence_problems)
        ids.add(package.get("SPDXID"))
    contained = set()
    for relation in sbom.get("relationships", []):
        ends = relation.get("spdxElementId"), relation.get("relatedSpdxElement")
        problems += [f"a {relation.get('relationshipType')} relationship names {e}, not in the document"
                     for e in ends if e not in ids]
        contained.add(ends[1])
    problems += [f"{i} is in no relationship" for i in sorted(ids - contained - {DOCUMENT_ID})]
    return problems


def package_problems(package, known, licence_problems):
    name = package.get("name", "a package")
    problems = [f"{name}: no {field}" for field in ("name", "versionInfo", "downloadLocation")
                if not package.get(field)]
    if not re.fullmatch(r"SPDXRef-[A-Za-z0-9.-]+", package.get("SPDXID", "")) or package["SPDXID"] in known:
        problems.append(f"{name}: no SPDXID of its own")
    if not package.get("supplier", "").startswith(("Organization: ", "Person: ")):
        problems.append(f"{name}: no supplier")
    for field in ("licenseConcluded", "licenseDeclared"):
        if package.get(field, "NOASSERTION") not in ("NOASSERTION", "NONE"):
            problems += [f"{name}: {field}: {p}" for p in licence_problems(package[field])]
    purls = [r["referenceLocator"] for r in package.get("externalRefs", []) if r.get("referenceType") == "purl"]
    if "packageFileName" not in package and not any(
            p.startswith(f"pkg:deb/debian/{name}@{urllib.parse.quote(package.get('versionInfo', ''), safe=':')}")
            for p in purls):
        problems.append(f"{name}: no package URL of its name and version")
    return problems


def program_sums(dist):
    """entry path -> SHA-256 of each file in the programs' archive of a
    release folder (the archive that is not the debug files')."""
    archives = [a for a in dist.glob("*.zip") if not a.name.endswith("-debug.zip")]
    if len(archives) != 1:
        raise ReleaseError(f"{dist}: {len(archives)} programs' archives")
    with zipfile.ZipFile(archives[0]) as archive:
        return {i.filename: hashlib.sha256(archive.read(i)).hexdigest() for i in archive.infolist()}


def checksum_problems(sbom, shipped, unsigned):
    """Each program's checksum against the archive's bytes, and for a signed
    release the unsigned SHA-256 against the unsigned archive's (when given)."""
    problems = []
    for package in sbom.get("packages", []):
        entry = package.get("packageFileName")
        if entry is None:
            continue
        if [c.get("checksumValue") for c in package.get("checksums", [])] != [shipped.get(entry)]:
            problems.append(f"{entry}: its checksum is not the archive's")
        notes = [a["comment"][len(UNSIGNED_NOTE):] for a in package.get("annotations", [])
                 if a.get("comment", "").startswith(UNSIGNED_NOTE)]
        if unsigned is not None and notes != [unsigned.get(entry)]:
            problems.append(f"{entry}: its unsigned SHA-256 is not the unsigned archive's")
    if not any("packageFileName" in p for p in sbom.get("packages", [])):
        problems.append("no program in the document")
    return problems


def spdx_licence_problems():
    """Debian's SPDX licence list (python3-license-expression) as a check of
    one expression."""
    from license_expression import get_spdx_licensing
    licensing = get_spdx_licensing()
    return lambda expression: licensing.validate(expression).errors


def check(dist, unsigned_dist=None):
    dist = Path(dist)
    documents = list(dist.glob("*.spdx.json"))
    if len(documents) != 1:
        raise ReleaseError(f"{dist}: {len(documents)} SPDX documents")
    sbom = json.loads(documents[0].read_text())
    problems = document_problems(sbom, spdx_licence_problems())
    problems += checksum_problems(sbom, program_sums(dist), program_sums(Path(unsigned_dist)) if unsigned_dist else None)
    if f"  {documents[0].name}\n" not in (dist / "SHA256SUMS").read_text():
        problems.append(f"SHA256SUMS does not list {documents[0].name}")
    if problems:
        raise ReleaseError(f"{documents[0]}:\n  " + "\n  ".join(problems))
    print(f"{documents[0]}: {len(sbom['packages'])} packages, {len(sbom['relationships'])} relationships, valid")


if __name__ == "__main__":
    if sys.argv[1:2] != ["--check"] or len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    try:
        check(*sys.argv[2:])
    except ReleaseError as error:
        sys.exit(f"release: {error}")
