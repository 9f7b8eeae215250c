#!/usr/bin/env python3
"""Every link and image in the README and docs/ leads somewhere: a relative target names a file or
folder of the checkout, and a #fragment a heading of the page it points to (as GitHub makes
anchors of headings). Links to the web are not fetched.

  doc_links.py CHECKOUT        checks README.md and docs/*.md; exit 1, naming each broken link
"""
import pathlib
import re
import sys
import urllib.parse

LINK = re.compile(r'!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\)')


CODE_SPAN = re.compile(r'(`+)(?:(?!\1).)+\1')
HEADING = re.compile(r' {0,3}#{1,6}\s+(.*?)\s*#*\s*$')


def lines(text):
    """(line, line without inline code) of every line outside fenced code blocks; ('', '') for
    the others, so that numbering stays."""
    out, fenced = [], False
    for line in text.split('\n'):
        if line.lstrip().startswith(('```', '~~~')):
            fenced = not fenced
            out.append(('', ''))
        else:
            out.append(('', '') if fenced else (line, CODE_SPAN.sub('', line)))
    return out


def anchors(page):
    """GitHub's anchors of a Markdown page's headings: lower case, punctuation dropped (the text of
    inline code kept), spaces as '-', a repeated one numbered -1, -2, ..."""
    found, seen = set(), {}
    for line, _ in lines(page.read_text(encoding='utf-8')):
        m = HEADING.match(line)
        if not m:
            continue
        slug = re.sub(r'[^\w\- ]', '', m.group(1).lower()).replace(' ', '-')
        n = seen.get(slug, 0)
        seen[slug] = n + 1
        found.add(slug if n == 0 else f'{slug}-{n}')
    return found


def check(page, root):
    problems = []
    for number, (_, line) in enumerate(lines(page.read_text(encoding='utf-8')), 1):
        for target in LINK.findall(line):
            if re.match(r'[a-z][a-z0-9+.-]*:', target, re.I):
                continue  # http:, https:, mailto:
            path, _, fragment = target.partition('#')
            path = urllib.parse.unquote(path)
            where = (page.parent / path).resolve() if path else page
            if root not in where.parents and where != root:
                problems.append(f'{page.relative_to(root)}:{number}: {target}: outside the checkout')
            elif not where.exists():
                problems.append(f'{page.relative_to(root)}:{number}: {target}: no such file')
            elif fragment:
                if where.suffix != '.md' or not where.is_file():
                    problems.append(f'{page.relative_to(root)}:{number}: {target}: #{fragment} in a file without headings')
                elif urllib.parse.unquote(fragment) not in anchors(where):
                    problems.append(f'{page.relative_to(root)}:{number}: {target}: no heading #{fragment} in {path or page.name}')
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = pathlib.Path(sys.argv[1]).resolve()
    pages = [root / 'README.md'] + sorted((root / 'docs').glob('*.md'))
    problems, links = [], 0
    for page in pages:
        if not page.is_file():
            problems.append(f'{page}: missing')
            continue
        links += sum(len(LINK.findall(line)) for _, line in lines(page.read_text(encoding='utf-8')))
        problems += check(page, root)
    for p in problems:
        print(p)
    print(f'{len(pages)} pages, {links} links, {len(problems)} broken')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
