#!/usr/bin/env python3
"""Checks that what README.md and docs/*.md cite exists: every path of the
checkout they name (src/, tests/, scripts/, docs/ and the other folders of
the checkout, a subsystem's file named from src/, a link to another page),
every test they name as Suite.Name (or Suite.*), and every suite they name in
prose ("the `HostileMachine` tests", "the `Wow64Prefix` and
`SystemCapabilities` suites", across a line break too). A doc that outlives
a rename or a removal fails here with the page, the line and what it cites.

Usage: check_doc_references.py [CHECKOUT]"""
import glob
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)

# Folders of the checkout a doc may name from its top; build/ and dist/ are
# made by the scripts and are not checked.
TOP_FOLDERS = ("src", "tests", "scripts", "docs", "cmake", "fuzz", "bench", "third_party", "packaging", ".ci")
SUBSYSTEMS = tuple(p.name for p in (ROOT / "src").iterdir() if p.is_dir())

CODE_SPAN = re.compile(r"`([^`\n]+)`")
LINK = re.compile(r"\]\(([^)\s]+)\)")
REPO_PATH = re.compile(r"(?<![\w./\\-])((?:%s)/[\w./*-]*)" % "|".join(re.escape(f) for f in TOP_FOLDERS))
SUBSYSTEM_PATH = re.compile(r"(?<![\w./\\-])((?:%s)/[\w.*-]+(?:/[\w.*-]+)*)" % "|".join(SUBSYSTEMS))
TEST_NAME = re.compile(r"(?<![\w./\\:-])([A-Z][A-Za-z0-9]*)\.([A-Z][A-Za-z0-9]*|\*)(?![\w.])")

# Suites named in prose: code spans of one name each, listed with commas,
# "and" or "or", and followed by "test(s)" or "suite(s)".
SUITES_IN_PROSE = re.compile(r"((?:`[A-Z][A-Za-z0-9]*`(?:,?\s+(?:and|or)\s+|,\s+)?)+)\s+(?:tests?|suites?)\b")
SUITE_SPAN = re.compile(r"`([A-Z][A-Za-z0-9]*)`")

TEST_MACRO = re.compile(r"\bTEST(?:_F|_P)?\(\s*(\w+)\s*,\s*(\w+)\s*\)")
CMAKE_TEST = re.compile(r"add_test\(\s*NAME\s+(\w+)\.(\w+)")


def defined_tests():
    tests = set()
    for source in ROOT.glob("tests/**/*.cpp"):
        tests.update(TEST_MACRO.findall(source.read_text(errors="replace")))
    for listing in ROOT.glob("**/CMakeLists.txt"):
        if "build" not in listing.relative_to(ROOT).parts:
            tests.update(CMAKE_TEST.findall(listing.read_text(errors="replace")))
    return tests


def exists(path):
    path = path.rstrip(".,;:")
    if "<" in path or not path:
        return True
    if any(c in path for c in "*?["):
        return bool(glob.glob(str(ROOT / path), recursive=True))
    return (ROOT / path).exists()


def cited(text):
    """(line number, kind, what) for every path, test and suite the text cites."""
    for listed in SUITES_IN_PROSE.finditer(text):
        number = text.count("\n", 0, listed.start()) + 1
        for suite in SUITE_SPAN.findall(listed.group(1)):
            yield number, "suite", suite
    for number, line in enumerate(text.splitlines(), 1):
        for path in REPO_PATH.findall(line):
            yield number, "path", path
        for span in CODE_SPAN.findall(line):
            for path in SUBSYSTEM_PATH.findall(span):
                yield number, "src path", "src/" + path
            for suite, name in TEST_NAME.findall(span):
                yield number, "test", suite + "." + name
        for target in LINK.findall(line):
            if not re.match(r"[a-z]+:", target) and not target.startswith("#"):
                yield number, "link", target.split("#")[0]


def main():
    tests = defined_tests()
    suites = {suite for suite, _ in tests}
    pages = [ROOT / "README.md"] + sorted((ROOT / "docs").glob("*.md"))
    failures = []
    for page in pages:
        where = page.relative_to(ROOT)
        for number, kind, what in cited(page.read_text()):
            if kind == "test":
                suite, name = what.split(".")
                found = suite in suites if name == "*" else (suite, name) in tests
            elif kind == "suite":
                found = what in suites
            elif kind == "link":
                found = exists(str((page.parent / what).resolve().relative_to(ROOT)))
            elif kind == "src path" and what.rstrip(".,;:").endswith("/"):
                found = True  # a folder named in passing, "port/" say
            else:
                found = exists(what)
            if not found:
                failures.append("%s:%d: cites %s %s, which does not exist" % (where, number, kind, what))
    for failure in failures:
        print(failure)
    if not failures:
        print("docs: every cited path and test of %d pages exists (%d tests defined)" % (len(pages), len(tests)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
