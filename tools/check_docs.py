#!/usr/bin/python3
"""The documentation against what it documents, as the test command checks it:

- the results file's field table (docs/administrator-guide.md) and VelkaroResult.schema.json name
  the same fields, nested ones included, and the table's row of a field with fixed words names
  each word the schema allows;
- Velkaro's command-line table, its synopsis, the option table the program parses and its usage
  text name the same options; VelkaroReport's table, synopsis and usage text likewise;
- every relative link in README.md and docs/*.md leads to a file, and its anchor to a heading
  there; no second page holds a section of the same name.

  check_docs.py [<top folder>]     (default: the folder above this script)
"""
import json
import re
import sys
from pathlib import Path

ADMIN_GUIDE = "docs/administrator-guide.md"
FLEET_REPORT = "docs/fleet-report.md"
SCHEMA = "VelkaroResult.schema.json"
OPTION_SOURCE = "app/option_parser.cpp"
REPORT_SOURCE = "report/report_program.cpp"

problems = []


def problem(text):
    problems.append(text)


def without_code_blocks(text):
    return re.sub(r"^```.*?^```[^\n]*$", "", text, flags=re.S | re.M)


def section(text, heading):
    """The lines under `heading` (a whole heading line) up to the next heading of its level or above."""
    lines = text.split("\n")
    level = len(heading) - len(heading.lstrip("#"))
    try:
        start = lines.index(heading)
    except ValueError:
        raise SystemExit("check_docs: no heading '%s'" % heading)
    end = start + 1
    while end < len(lines):
        m = re.match(r"(#+) ", lines[end])
        if m and len(m.group(1)) <= level:
            break
        end += 1
    return lines[start + 1:end]


def table(lines, first_header):
    """The rows (lists of cells) of the first table whose first header cell is `first_header`."""
    rows, inside = [], False
    for line in lines:
        if not line.startswith("|"):
            if inside:
                break
            continue
        cells = [c.strip() for c in re.split(r"(?<!\\)\|", line.strip())[1:-1]]
        if not inside:
            inside = cells[0] == first_header
            continue
        if not set(cells[0]) <= set("-: "):
            rows.append(cells)
    if not rows:
        raise SystemExit("check_docs: no table headed '%s'" % first_header)
    return rows


def first_code_block(lines):
    """The first indented code block (four spaces) in `lines`, as one text."""
    block = []
    for line in lines:
        if line.startswith("    "):
            block.append(line)
        elif block:
            break
    return "\n".join(block)


def compare(what, documented, actual, documented_name, actual_name):
    for name in sorted(actual - documented):
        problem("%s: %s names %s, %s does not" % (what, actual_name, name, documented_name))
    for name in sorted(documented - actual):
        problem("%s: %s names %s, %s does not" % (what, documented_name, name, actual_name))


# ---- the results file ----

def schema_fields(schema):
    """{path: schema node} for every field, `products[].outcome` and `setupPrograms.VELT` style."""
    definitions = schema.get("definitions", {})

    def resolve(node):
        ref = node.get("$ref", "")
        if ref.startswith("#/definitions/"):
            return {**definitions[ref[len("#/definitions/"):]], **{k: v for k, v in node.items() if k != "$ref"}}
        return node

    fields = {}

    def walk(node, prefix, depth):
        if depth > 8:
            raise SystemExit("check_docs: the schema nests deeper than 8 levels (a loop?)")
        for name, sub in node.get("properties", {}).items():
            sub = resolve(sub)
            fields[prefix + name] = sub
            items = resolve(sub.get("items", {}))
            if "properties" in items:
                walk(items, prefix + name + "[].", depth + 1)
            elif "properties" in sub:
                walk(sub, prefix + name + ".", depth + 1)

    walk(schema, "", 0)
    return fields


def enum_words(node):
    """The fixed words a field may hold, also where they sit in an anyOf or oneOf beside null."""
    words = [w for w in node.get("enum", []) if isinstance(w, str)]
    if isinstance(node.get("const"), str):
        words.append(node["const"])
    for alternative in node.get("anyOf", []) + node.get("oneOf", []):
        words += enum_words(alternative)
    return words


def table_fields(rows):
    """{path: meaning} from the first column: `a[].b`, `c`, `d` name a[].b, a[].c and a[].d."""
    fields = {}
    for cells in rows:
        names = re.findall(r"`([^`]+)`", cells[0])
        if not names:
            problem("results file table: a row names no field: %s" % cells[0])
            continue
        parent = names[0][:names[0].rfind(".") + 1]
        for name in names:
            path = name if "." in name else parent + name
            if path in fields:
                problem("results file table: %s has two rows" % path)
            fields[path] = cells[1] if len(cells) > 1 else ""
    return fields


def check_results_file(top):
    schema = json.loads((top / SCHEMA).read_text(encoding="utf-8"))
    guide = (top / ADMIN_GUIDE).read_text(encoding="utf-8")
    documented = table_fields(table(section(guide, "## The results file"), "Field"))
    actual = schema_fields(schema)
    compare("results file fields", set(documented), set(actual), ADMIN_GUIDE, SCHEMA)
    # A word the file may hold that the table never mentions is a word no reader can look up.
    for path, node in sorted(actual.items()):
        words = enum_words(node)
        meaning = documented.get(path)
        if meaning is None:
            continue
        quoted = set(re.findall(r"`([^`]+)`", meaning))
        for word in words:
            if word not in quoted:
                problem("results file fields: the row of %s in %s does not name the word `%s` of %s"
                        % (path, ADMIN_GUIDE, word, SCHEMA))
    return len(actual)


# ---- the command lines ----

def string_literals(code):
    """The text of the C++ string literals in `code` (narrow or wide), escapes undone."""
    return "".join(bytes(m, "utf-8").decode("unicode_escape")
                   for m in re.findall(r'L?"((?:[^"\\\n]|\\.)*)"', code))


def braced(code, start):
    """`code` from the first `{` at or after `start` to its matching `}`."""
    open_at = code.index("{", start)
    depth = 0
    for i in range(open_at, len(code)):
        depth += {"{": 1, "}": -1}.get(code[i], 0)
        if depth == 0:
            return code[open_at:i + 1]
    raise SystemExit("check_docs: unbalanced braces after offset %d" % start)


def after(code, marker, path):
    at = code.find(marker)
    if at < 0:
        raise SystemExit("check_docs: '%s' not found in %s" % (marker, path))
    return at


OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][A-Za-z0-9]*|-\?)")


def options_in(text):
    return set(OPTION.findall(text))


def documented_options(rows, where):
    found = set()
    for cells in rows:
        names = [re.split(r"[=<]", n)[0] for n in re.findall(r"`([^`]+)`", cells[0])]
        names = [n for n in names if n.startswith("-")]
        if not names and not cells[0].startswith("`<"):
            problem("%s: an option row names no option: %s" % (where, cells[0]))
        found |= set(names)
    return found


def check_velkaro_options(top):
    code = (top / OPTION_SOURCE).read_text(encoding="utf-8")
    parsed = set(re.findall(r'\{\s*OPTION_\w+\s*,\s*L"([^"]+)"',
                            braced(code, after(code, "kOptionTable[]", OPTION_SOURCE))))
    usage = options_in(string_literals(
        braced(code, after(code, "kFurtherUsage[]", OPTION_SOURCE)) +
        braced(code, after(code, "void printUsage()", OPTION_SOURCE))))
    lines = section((top / ADMIN_GUIDE).read_text(encoding="utf-8"), "## Command line")
    documented = documented_options(table(lines, "Option"), ADMIN_GUIDE)
    synopsis = options_in(first_code_block(lines))
    where = ADMIN_GUIDE + "'s command-line table"
    compare("Velkaro's options", documented, parsed, where, OPTION_SOURCE + "'s option table")
    # The usage text shows each option once, in one spelling; the table lists them all.
    long_options = {o for o in documented if o.startswith("--")}
    compare("Velkaro's options", long_options | (usage & documented), usage, where,
            OPTION_SOURCE + "'s usage text")
    compare("Velkaro's options", long_options | (synopsis & documented), synopsis, where,
            ADMIN_GUIDE + "'s synopsis")
    return len(documented)


def check_report_options(top):
    code = (top / REPORT_SOURCE).read_text(encoding="utf-8")
    start = after(code, "kUsage[]", REPORT_SOURCE)
    usage = options_in(string_literals(code[start:code.index(";", start)]))
    lines = section((top / FLEET_REPORT).read_text(encoding="utf-8"), "## Running the report")
    documented = documented_options(table(lines, "Option"), FLEET_REPORT)
    synopsis = options_in(first_code_block(lines))
    where = FLEET_REPORT + "'s option table"
    compare("VelkaroReport's options", documented, usage, where, REPORT_SOURCE + "'s usage text")
    compare("VelkaroReport's options", documented, synopsis, where, FLEET_REPORT + "'s synopsis")
    return len(documented)


# ---- links ----

def slug(heading):
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower().replace("`", ""))
    return text.replace(" ", "-")


def anchors(text):
    found, seen = set(), {}
    for heading in re.findall(r"^#+ (.*)$", without_code_blocks(text), flags=re.M):
        base = slug(heading)
        n = seen.get(base, 0)
        found.add(base if n == 0 else "%s-%d" % (base, n))
        seen[base] = n + 1
    return found


def check_links(top):
    pages = [top / "README.md"] + sorted((top / "docs").glob("*.md"))
    count = 0
    for page in pages:
        text = without_code_blocks(page.read_text(encoding="utf-8"))
        name = page.relative_to(top)
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target):
                continue
            count += 1
            path, _, anchor = target.partition("#")
            linked = (page.parent / path).resolve() if path else page
            if not linked.exists():
                problem("%s: the link %s leads to no file" % (name, target))
            elif anchor and linked.suffix == ".md" and \
                    anchor not in anchors(linked.read_text(encoding="utf-8")):
                problem("%s: the link %s leads to no heading of %s" % (name, target, linked.name))
    # Each topic has one page: the same section title on two pages is a topic written twice.
    where = {}
    for page in pages:
        for heading in re.findall(r"^##+ (.*)$", without_code_blocks(page.read_text(encoding="utf-8")), flags=re.M):
            where.setdefault(heading, set()).add(str(page.relative_to(top)))
    for heading, places in sorted(where.items()):
        if len(places) > 1:
            problem("the section '%s' stands in %s" % (heading, " and ".join(sorted(places))))
    return count


def main():
    top = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent
    fields = check_results_file(top)
    options = check_velkaro_options(top)
    report_options = check_report_options(top)
    links = check_links(top)
    if problems:
        for text in problems:
            print("docs check: " + text, file=sys.stderr)
        sys.exit(1)
    print("docs: %d results file fields, %d Velkaro and %d VelkaroReport options documented as "
          "defined; %d links lead to their headings" % (fields, options, report_options, links))


if __name__ == "__main__":
    main()
