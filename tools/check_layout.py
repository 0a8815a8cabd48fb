#!/usr/bin/env python3
"""The house rules a reader can check by machine, over the product's own
sources (not tests, fuzzers, benchmarks or tools):

- no file outside platform/ includes an operating-system header;
- each folder includes only the folders below it, and no two folders
  include each other (data flows one way);
- no function is longer than 60 lines.

Prints each breach and exits 1 if there is any.
    tools/check_layout.py [SOURCE_DIR]
"""
import pathlib
import re
import sys

PRODUCT = ["app", "decode", "input", "library", "platform", "pulse", "python", "record", "scan", "tags", "tempo"]
# What each folder may include besides itself. The core (input, platform,
# pulse, tempo) below; above it tempo-scan's rooms: what a record of one
# file is (record), decoding a file into one (decode), the tempo tag
# (tags), the collection and its index (library), and the command line
# (scan) over them all. Python takes its one call from decode, never from
# the command line.
CORE = {"input", "platform", "pulse", "tempo"}
ALLOWED = {
    "input": set(),
    "platform": {"input"},
    "pulse": {"input"},
    "tempo": {"input", "platform", "pulse"},
    "record": CORE,
    "decode": CORE | {"record"},
    "tags": CORE | {"record", "decode"},
    "library": CORE | {"record", "decode"},
    "scan": CORE | {"record", "decode", "tags", "library"},
    "app": {"input", "platform", "tempo"},
    "python": CORE | {"record", "decode"},
}
OS_HEADERS = re.compile(
    r'#\s*include\s*<(windows\.h|unistd\.h|sys/[^>]*|signal\.h|poll\.h|fcntl\.h|dirent\.h|spawn\.h|io\.h|sched\.h)>')
PROJECT_INCLUDE = re.compile(r'#\s*include\s*"([a-z_]+)/[^"]*"')
LONGEST = 60


def sources(root):
    for folder in PRODUCT:
        for path in sorted((root / folder).glob("*")):
            if path.suffix in (".cpp", ".hpp"):
                yield folder, path


def without_comments_and_strings(text):
    """The code with comments, string and character literals blanked,
    line breaks kept, so braces in them do not count."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def function_lengths(text):
    """(first line, length in lines) of each function body: a brace block
    opened right after a parameter list, at namespace or class level."""
    code = without_comments_and_strings(text)
    lines = code.split("\n")
    depth_kinds = []  # for each open brace: "function", "scope" or "other"
    starts = {}
    results = []
    pending = ""
    for number, line in enumerate(lines, 1):
        for column, char in enumerate(line):
            if char == "{":
                inside_function = "function" in depth_kinds
                head = (pending + line[:column]).strip()
                if inside_function:
                    kind = "other"
                elif re.search(r"\b(namespace|struct|class|union|enum)\b[^;()]*$", head) or head.endswith("="):
                    kind = "scope"
                elif re.search(r"\)\s*(const|noexcept|override|final|\s|->\s*[\w:<>,\s*&]+)*$", head) or \
                        re.search(r"\)\s*:\s*[\w:]+\s*[({].*$", head):
                    kind = "function"
                else:
                    kind = "other"
                depth_kinds.append(kind)
                if kind == "function":
                    starts[len(depth_kinds)] = number
                pending = ""
            elif char == "}":
                if depth_kinds:
                    depth = len(depth_kinds)
                    if depth_kinds.pop() == "function":
                        first = starts.pop(depth)
                        results.append((first, number - first + 1))
                pending = ""
            elif char == ";":
                pending = ""
        pending += line + "\n"
        if len(pending) > 2000:
            pending = pending[-2000:]
    return results


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    breaches = []
    graph = {folder: set() for folder in PRODUCT}
    for folder, path in sources(root):
        text = path.read_text(encoding="utf-8")
        name = path.relative_to(root)
        for match in OS_HEADERS.finditer(text):
            if folder != "platform":
                breaches.append(f"{name}: includes the operating-system header <{match.group(1)}>")
        for match in PROJECT_INCLUDE.finditer(text):
            used = match.group(1)
            if used == folder or used not in graph:
                continue
            graph[folder].add(used)
            if used not in ALLOWED[folder]:
                breaches.append(f"{name}: {folder}/ includes {used}/, which is not below it")
        for first, length in function_lengths(text):
            if length > LONGEST:
                breaches.append(f"{name}:{first}: a function of {length} lines (at most {LONGEST})")
    for a in PRODUCT:
        for b in graph[a]:
            if a in graph.get(b, set()) and a < b:
                breaches.append(f"{a}/ and {b}/ include each other")
    for breach in breaches:
        print(breach)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
