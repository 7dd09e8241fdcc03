#!/usr/bin/env python3
"""Fails when a link between the project's documents leads nowhere: every
relative [text](target) and ![picture](target) of README.md, docs/*.md and
bench/README.md must name a file or folder of the repository, and a #anchor a
heading of the document it points into (as GitHub makes anchors of headings).

usage: check_doc_links.py REPOSITORY
"""
import pathlib
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")
INLINE_CODE = re.compile(r"`[^`]*`")


def prose(path):
    """(line number, line) of every line outside fenced code blocks."""
    fenced = False
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced:
            yield number, line


def anchors(path):
    """GitHub's anchor of each heading: lower case, no punctuation, hyphens for spaces."""
    found = set()
    for _, line in prose(path):
        if re.match(r"#+ ", line):
            words = re.sub(r"[^\w\- ]", "", line.lstrip("#").strip().lower())
            found.add(words.replace(" ", "-"))
    return found


def broken_links(document, root):
    for number, line in prose(document):
        for target in LINK.findall(INLINE_CODE.sub("", line)):
            if re.match(r"[a-z]+:", target):
                continue  # a web address
            path, _, anchor = target.partition("#")
            linked = (document.parent / path).resolve() if path else document
            if not linked.exists() or root not in (linked, *linked.parents):
                yield f"{document.relative_to(root)}:{number}: no such file: {target}"
            elif anchor and linked.suffix == ".md" and anchor not in anchors(linked):
                yield f"{document.relative_to(root)}:{number}: no such heading: {target}"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    root = pathlib.Path(sys.argv[1]).resolve()
    documents = [root / "README.md", *sorted((root / "docs").glob("*.md")),
                 root / "bench" / "README.md"]
    problems = [problem for document in documents for problem in broken_links(document, root)]
    print("\n".join(problems) or f"every link of {len(documents)} documents resolves")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
