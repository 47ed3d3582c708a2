#!/usr/bin/env python3
"""Lists the functions of C++ sources longer than a limit, lambdas and
local classes counted in the function that holds them.

Usage: function_lengths.py [--max N] [--all] PATH...
A PATH is a file or a folder (its .cpp and .h files, recursively). Exits 1
when a function is longer than --max (default 80) lines.

A function here is a body whose opening brace follows a parameter list
(with `const`, `override`, `noexcept`, an initialiser list or a trailing
return between), at namespace or class level; its length is the number of
lines between its opening and its closing brace, whatever the signature
takes. Comments, strings and character literals are blanked first so that
their braces do not count.
"""
import argparse
import os
import re
import sys


def blank_comments_and_strings(text):
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == '"' and re.match(r'R"([^(]*)\(', text[i - 1:i + 20] if i else ""):
            m = re.match(r'"([^(]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i)
            end = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (c if j - i >= 2 else ""))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


SIGNATURE_END = re.compile(
    r"\)\s*(const\s*)?(noexcept\s*)?(override\s*)?(final\s*)?(->\s*[\w:<>,\s\*&]+)?\s*(:[^;{}]*)?$", re.S)
NOT_A_FUNCTION = re.compile(r"\b(if|for|while|switch|catch|do|else|return)\s*$")
OPERATOR = re.compile(r"operator\s*(\(\)|[^\s(]+)")
FUNCTION_NAME = re.compile(r"((?:[~\w]+::)*(?:operator\s*(?:\(\)|[^\s(]+)|[~\w]+))\s*\($")


def function_head(clean, i):
    """The function's name when the brace at i opens a function body, else None."""
    before = clean[max(0, i - 2000):i]
    head = before[max(before.rfind(";"), before.rfind("}"), before.rfind("{")) + 1:]
    if not SIGNATURE_END.search(head.rstrip()):
        return None
    name_part = head[:head.find("(") + 1].rstrip()
    if "=" in OPERATOR.sub("", name_part) or NOT_A_FUNCTION.search(name_part[:-1]):
        return None
    m = FUNCTION_NAME.search(name_part)
    if not m:
        return None
    return m.group(1)


def functions(text):
    """Yields (name, line of the opening brace, line of the closing one) of each outermost function body."""
    clean = blank_comments_and_strings(text)
    depth = 0
    body_depth = None  # depth of the open function body, None outside one
    for i, c in enumerate(clean):
        if c == "{":
            if body_depth is None:
                found = function_head(clean, i)
                if found:
                    name = found
                    first = clean.count("\n", 0, i) + 1
                    body_depth = depth
            depth += 1
        elif c == "}":
            depth -= 1
            if body_depth is not None and depth == body_depth:
                body_depth = None
                yield name, first, clean.count("\n", 0, i) + 1


def sources(paths):
    for p in paths:
        if os.path.isdir(p):
            for root, _, files in os.walk(p):
                for f in sorted(files):
                    if f.endswith((".cpp", ".h")):
                        yield os.path.join(root, f)
        else:
            yield p


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max", type=int, default=80)
    parser.add_argument("--all", action="store_true", help="list every function, longest first")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    found = []
    for path in sources(args.paths):
        with open(path, encoding="utf-8", errors="replace") as f:
            for name, first, last in functions(f.read()):
                found.append((max(0, last - first - 1), path, first, name))
    found.sort(reverse=True)
    over = [f for f in found if f[0] > args.max]
    for length, path, line, name in found if args.all else over:
        print(f"{length:5d}  {path}:{line}  {name}")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
