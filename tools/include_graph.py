#!/usr/bin/python3
"""Keeps the product's source in the shape its layers describe.

Reads the product folders as text and checks three rules:
  cycles    no include cycle among the file pairs (a header and its source
            count as one pair, named by folder and stem);
  layers    a file includes only its own folder and the folders below it;
  length    every function body is under the line limit (a rough count by
            matching braces, from the body's opening brace to its closing one).

  include_graph.py [--root DIR] [--longest N] [--limit LINES] [--report]

Prints what breaks a rule and exits 1, or exits 0; --report prints the pairs
in cycles and the longest functions whether or not a rule is broken.
"""

import argparse
import os
import re
import sys

# What each product folder may include besides itself. A folder higher up may
# use everything its lower folders may: the list is the whole of it, so that a
# new edge is a decision made here.
LAYERS = {
    "resources": set(),
    "server": {"resources"},
    "embedded": {"server", "resources"},
    "registration": {"server", "resources"},
    "documents": {"embedded", "server", "resources"},
    "bridge": {"embedded", "server", "resources"},
    "packaging": {"registration", "server", "resources"},
    "check": {"documents", "bridge", "registration", "embedded", "server", "resources"},
    "app": {"bridge", "registration", "embedded", "server", "resources"},
}
SOURCE_SUFFIXES = (".h", ".cpp", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def product_files(root):
    for folder in sorted(LAYERS):
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if name.endswith(SOURCE_SUFFIXES):
                yield folder + "/" + name


def pair_of(path):
    return os.path.splitext(path)[0]


def read_includes(root, path):
    includes = []
    with open(os.path.join(root, path), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if match:
                includes.append((number, match.group(1)))
    return includes


def include_graph(root, files):
    """Pair -> set of pairs it includes, and the layer breaches found."""
    known = set(files)
    graph = {pair_of(f): set() for f in files}
    breaches = []
    for path in files:
        folder = path.split("/", 1)[0]
        for number, target in read_includes(root, path):
            target_folder = target.split("/", 1)[0] if "/" in target else None
            if target_folder in LAYERS and target_folder != folder and target_folder not in LAYERS[folder]:
                breaches.append("%s:%d includes %s: %s/ is not below %s/" % (path, number, target, target_folder,
                                                                            folder))
            if target in known and pair_of(target) != pair_of(path):
                graph[pair_of(path)].add(pair_of(target))
    return graph, breaches


def cycles(graph):
    """The strongly connected groups of more than one pair (Tarjan's method)."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        # Iterative, so that a long chain of includes cannot exhaust Python's stack.
        work = [(node, iter(sorted(graph[node])))]
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        while work:
            current, edges = work[-1]
            advanced = False
            for target in edges:
                if target not in index:
                    index[target] = low[target] = counter[0]
                    counter[0] += 1
                    stack.append(target)
                    on_stack.add(target)
                    work.append((target, iter(sorted(graph[target]))))
                    advanced = True
                    break
                if target in on_stack:
                    low[current] = min(low[current], index[target])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[current])
            if low[current] == index[current]:
                group = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    group.append(member)
                    if member == current:
                        break
                if len(group) > 1:
                    groups.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return groups


def code_only(text):
    """The text with comments, string and character literals and preprocessor
    lines blanked out, line breaks kept, so that braces count and lines number."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if line_start and c == "#":
            # A directive, with its continuation lines.
            while i < n and not (text[i] == "\n" and text[i - 1] != "\\"):
                out.append("\n" if text[i] == "\n" else " ")
                i += 1
            continue
        line_start = c == "\n"
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out.append(" ")
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
            continue
        match = re.match(r'R"([^(\s]*)\(', text[i:i + 20])
        if match and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = text.find(")" + match.group(1) + '"', i)
            end = n if end < 0 else end + len(match.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
            continue
        if c in "\"'":
            # A digit separator (1'000) is no character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


TYPE_SCOPE = re.compile(r"^(template\s*<.*>\s*)?(class|struct|union|enum)\b")
NAMESPACE_SCOPE = re.compile(r'^(inline\s+)?namespace\b|^extern\s*"C"\s*$')


def functions(text):
    """(first line of the body, body lines, name) of each function body."""
    code = code_only(text)
    found = []
    # Each open brace: its kind ('scope' holds declarations, 'function', 'other').
    kinds = []
    header_start = 0
    line = 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        elif c in ";":
            header_start = i + 1
        elif c == "{":
            header = " ".join(code[header_start:i].split())
            in_scope = all(kind[0] == "scope" for kind in kinds)
            if not in_scope:
                kinds.append(("other", line, header))
            elif NAMESPACE_SCOPE.search(header) or TYPE_SCOPE.search(header):
                kinds.append(("scope", line, header))
            elif ")" in header and not header.endswith("=") and "=" not in header.split("(")[0]:
                kinds.append(("function", line, header))
            else:
                kinds.append(("other", line, header))
            header_start = i + 1
        elif c == "}":
            if kinds:
                kind, first, header = kinds.pop()
                if kind == "function":
                    # A function-try-block's handler macro ends the one before.
                    header = re.sub(r"^CATCH_RETURN_HRESULT\(\)\s*", "", header)
                    name = re.sub(r"\s*\(.*", "", header).split(" ")[-1] if "(" in header else header
                    found.append((first, line - first + 1, name))
            header_start = i + 1
        elif c == ":" and kinds and kinds[-1][0] == "scope":
            # "public:" and the like end a declaration's header.
            if re.search(r"\b(public|private|protected)\s*$", code[header_start:i]):
                header_start = i + 1
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--limit", type=int, default=60, help="a function body must be shorter than this")
    parser.add_argument("--longest", type=int, default=5, help="how many of the longest functions --report lists")
    parser.add_argument("--report", action="store_true")
    args = parser.parse_args()
    root = os.path.abspath(args.root)

    files = list(product_files(root))
    graph, breaches = include_graph(root, files)
    groups = cycles(graph)
    bodies = []
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8") as f:
            for first, length, name in functions(f.read()):
                bodies.append((length, path, first, name))
    bodies.sort(key=lambda b: (-b[0], b[1], b[2]))
    too_long = [b for b in bodies if b[0] >= args.limit]

    for group in groups:
        print("include cycle among: " + " ".join(group))
    for breach in breaches:
        print("layer: " + breach)
    for length, path, first, name in too_long:
        print("length: %s:%d %s is %d lines (limit: under %d)" % (path, first, name, length, args.limit))
    if args.report:
        print("%d files in %d pairs, %d include cycles, %d layer breaches, %d functions" %
              (len(files), len(graph), len(groups), len(breaches), len(bodies)))
        for length, path, first, name in bodies[:args.longest]:
            print("  %4d lines  %s:%d %s" % (length, path, first, name))
    failed = bool(groups or breaches or too_long)
    print("include graph: %s" % ("rules broken" if failed else "no cycle, layers kept, every function under %d lines"
                                 % args.limit))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
