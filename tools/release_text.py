#!/usr/bin/env python3
"""Texts the release derives from the repository's Markdown.

  release_text.py manpage <guide.md> <name> <one-line description>
      The guide as the Markdown of a manual page (for lowdown -Tman): a NAME section first, the
      guide's own title left out, its opening text as the DESCRIPTION, its sections one level up, links within the documentation
      reduced to their text (a man page cannot follow them) and pictures left out.
  release_text.py debian-changelog <CHANGELOG.md> <version> <maintainer>
      CHANGELOG.md in the Debian changelog format, newest first, from the given version down:
      the package's own history, as a native package carries it.
"""
import datetime
import re
import sys
import textwrap

LINK = re.compile(r"(!?)\[([^\]]*)\]\(([^)\s]*)\)")


def plain_links(line, keep_web):
    def replace(m):
        picture, text, target = m.groups()
        if picture:
            return ""
        if keep_web and target.startswith(("http://", "https://")):
            return m.group(0)
        return text

    return LINK.sub(replace, line)


def manpage(guide, name, description):
    out = [f"# NAME\n", "\n", f"{name} - {description}\n", "\n"]
    fenced = False
    skipped_title = False
    in_section = False  # the guide's text before its first section is the DESCRIPTION
    with open(guide, encoding="utf-8") as f:
        for line in f:
            if line.startswith("```"):
                fenced = not fenced
            elif not fenced and line.startswith("#"):
                if line.startswith("# ") and not skipped_title:
                    skipped_title = True
                    continue
                line = line[1:]
                in_section = True
            if not in_section and line.strip():
                out += ["# DESCRIPTION\n", "\n"]
                in_section = True
            if not fenced:
                line = plain_links(line, keep_web=True)
                if not line.strip() and line != "\n":
                    line = "\n"
            out.append(line)
    if not skipped_title:
        sys.exit(f"release_text.py: {guide} has no title line")
    sys.stdout.write("".join(out))


def debian_changelog(changelog, version, maintainer):
    heading = re.compile(r"^## \[([^\]]+)\](?: - (\d{4}-\d{2}-\d{2}))?\s*$")
    entries = []  # (version, date, lines)
    with open(changelog, encoding="utf-8") as f:
        for line in f:
            m = heading.match(line)
            if m:
                entries.append((m.group(1), m.group(2), []))
            elif entries:
                entries[-1][2].append(line.rstrip("\n"))
    released = [e for e in entries if e[0] != "Unreleased"]
    if not released or released[0][0] != version:
        sys.exit(f"release_text.py: {changelog} has no section for {version} as its latest version")
    if any(date is None for _, date, _ in released):
        sys.exit(f"release_text.py: a version in {changelog} has no date")

    def wrap(text, first, rest):
        text = plain_links(text, keep_web=False).replace("`", "")
        return textwrap.wrap(text, 78, initial_indent=first, subsequent_indent=rest,
                             break_on_hyphens=False, break_long_words=False)

    out = []
    for number, date, lines in released:
        out.append(f"velkaro ({number}) stable; urgency=medium\n")
        item = None  # the list item being read, joined from its lines
        body = []

        def flush():
            nonlocal item
            if item is not None:
                body.extend(wrap(item, "  * ", "    "))
                item = None

        for line in lines:
            if line.startswith("- "):
                flush()
                item = line[2:]
            elif line.startswith("  ") and item is not None:
                item += " " + line.strip()
            else:
                flush()
                if line.startswith("### "):
                    body += ["", f"  {line[4:]}:"]
                elif line.strip():
                    body += wrap(line, "  ", "  ")
        flush()
        while body and not body[0]:
            body.pop(0)
        out += body
        when = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        out.append(f"\n -- {maintainer}  {when.strftime('%a, %d %b %Y %H:%M:%S +0000')}\n")
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "manpage":
        manpage(*sys.argv[2:])
    elif len(sys.argv) == 5 and sys.argv[1] == "debian-changelog":
        debian_changelog(*sys.argv[2:])
    else:
        sys.exit(__doc__)
