#!/usr/bin/env python3
"""Builds the help pages (an HTML folder the help module opens) from a Markdown file.

Handles what docs/help.md uses: headings, paragraphs, lists, inline code and strong text.
Usage: build_help.py SOURCE.md OUTPUT_FOLDER
"""
import html
import os
import re
import sys


def inline(text):
    text = html.escape(text, quote=False)
    text = re.sub(r"`([^`]+)`", r"<code>\1</code>", text)
    text = re.sub(r"\*\*([^*]+)\*\*", r"<strong>\1</strong>", text)
    return re.sub(r"\*([^*]+)\*", r"<em>\1</em>", text)


def convert(lines):
    out, paragraph, items = [], [], []

    def flush():
        if paragraph:
            out.append("<p>" + inline(" ".join(paragraph)) + "</p>")
            paragraph.clear()
        if items:
            out.append("<ul>" + "".join("<li>" + inline(i) + "</li>" for i in items) + "</ul>")
            items.clear()

    for raw in lines:
        line = raw.rstrip()
        heading = re.match(r"(#{1,6}) (.*)", line)
        if heading:
            flush()
            level = len(heading.group(1))
            out.append(f"<h{level}>{inline(heading.group(2))}</h{level}>")
        elif line.startswith("- "):
            if paragraph:
                flush()
            items.append(line[2:])
        elif line.startswith("  ") and items:
            items[-1] += " " + line.strip()
        elif not line:
            flush()
        else:
            if items:
                flush()
            paragraph.append(line)
    flush()
    return "\n".join(out)


def main():
    source, folder = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        lines = f.readlines()
    title = lines[0].lstrip("# ").strip() if lines else "Help"
    page = (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>"
        + html.escape(title)
        + "</title><style>body{font-family:sans-serif;max-width:48em;margin:2em auto;"
        "line-height:1.4}code{background:#eee;padding:0 .2em}</style></head><body>\n"
        + convert(lines)
        + "\n</body></html>\n"
    )
    os.makedirs(folder, exist_ok=True)
    temporary = os.path.join(folder, "index.html.tmp")
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(page)
    os.replace(temporary, os.path.join(folder, "index.html"))


if __name__ == "__main__":
    main()
