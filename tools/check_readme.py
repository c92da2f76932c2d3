"""Renders README.md as the package index renders a long description (readme_renderer's
Markdown) and fails when it would not show as written: no rendering at all, a link that is not
absolute (it leads nowhere on the package page), or HTML that the renderer strips.

usage: check_readme.py README.md
"""

import re
import sys

from readme_renderer.markdown import render


def main(path):
    text = open(path, encoding="utf-8").read()
    html = render(text)
    problems = []
    if html is None:
        problems.append("readme_renderer cannot render it")
        html = ""
    ids = set(re.findall(r'id="([^"]*)"', html))
    for href in re.findall(r'href="([^"]*)"', html):
        # The renderer links every heading to itself; an anchor must name one of them.
        if href.startswith("#") and href[1:] in ids:
            continue
        if not href.startswith("https://"):
            problems.append(f"link {href!r} is not absolute")
    # Raw HTML of the text, but comments, must survive the renderer's cleaning.
    prose = re.sub(r"`[^`\n]*`", "", re.sub(r"```.*?```", "", text, flags=re.S))
    for tag in re.findall(r"<(?!!--)(/?[a-zA-Z][^>]*)>", prose):
        if f"<{tag}>" not in html:
            problems.append(f"the renderer strips <{tag}>")
    for p in problems:
        print(f"{path}: {p}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
