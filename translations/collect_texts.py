#!/usr/bin/env python3
"""The Chinese texts of the interface, for lupdate.

The texts live in plain C++ headers (src/app, the format table in src/core) and in the windows,
most of them outside any call lupdate knows. This collects every string literal holding Chinese
from those headers and from the windows' sources into one file of QT_TRANSLATE_NOOP lines that
lupdate reads. The engine's .cpp files only join those texts to values; the windows translate
such joined texts by the forms listed in app/ui/Translation.cpp.

  collect_texts.py SRC OUT        write the list
  collect_texts.py SRC OUT TS     only check: the list is current and every text has a
                                  finished translation in TS
"""
import re
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

CONTEXT = "ozm"
# Names on disk and the file managers' own entries are not the windows' texts.
SKIPPED = ("platform/",)
CHINESE = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef\u201c\u201d]")
TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'', re.S)
ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def literals(code):
    """The string literals of C++ code, adjacent ones joined, comments skipped."""
    pending, last_end = None, 0
    for match in TOKEN.finditer(code):
        token = match.group(0)
        if not token.startswith('"'):
            if pending is not None:
                yield pending
            pending = None
            continue
        value = re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(0)), token[1:-1])
        if pending is not None and code[last_end:match.start()].strip() == "":
            pending += value
        else:
            if pending is not None:
                yield pending
            pending = value
        last_end = match.end()
    if pending is not None:
        yield pending


def collect(src):
    texts = set()
    for path in sorted(src.rglob("*")):
        relative = path.relative_to(src).as_posix()
        window = relative.startswith("app/ui/")
        if relative.startswith(SKIPPED) or not (path.suffix == ".h" or window and path.suffix == ".cpp"):
            continue
        texts.update(t for t in literals(path.read_text(encoding="utf-8")) if CHINESE.search(t))
    return sorted(texts)


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def listing(texts):
    lines = ["// Written by translations/collect_texts.py: the interface's Chinese texts, for lupdate.",
             "// Not compiled."]
    lines += [f'QT_TRANSLATE_NOOP("{CONTEXT}", {quoted(t)})' for t in texts]
    return "\n".join(lines) + "\n"


def check(texts, out, ts):
    problems = []
    if not out.exists() or out.read_text(encoding="utf-8") != listing(texts):
        problems.append(f"{out} is not current: run the update_translations target")
    translated = {}
    for message in ElementTree.parse(ts).getroot().iter("message"):
        translation = message.find("translation")
        finished = translation is not None and translation.get("type") is None and translation.text
        translated[message.findtext("source")] = finished
    for text in texts:
        if not translated.get(text):
            problems.append(f"no finished English for {text!r}")
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


def main(argv):
    src, out = Path(argv[1]), Path(argv[2])
    texts = collect(src)
    if len(argv) > 3:
        return check(texts, out, Path(argv[3]))
    if not out.exists() or out.read_text(encoding="utf-8") != listing(texts):
        out.write_text(listing(texts), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
