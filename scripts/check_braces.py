#!/usr/bin/env python3
"""Finds control statements without braces in C and C++ sources, in every
branch of the preprocessor: clang-tidy (scripts/check-braces.sh) sees only
the code this machine compiles, so the fallbacks under #else of the
processor-specific paths would go unchecked.

    check_braces.py FILE...

Works on tokens, not on a parse: comments, literals and preprocessor lines
are blanked first, then every if, for, while and switch must be followed,
after its parenthesised head, by "{", every else by "{" or "if", and every
do by "{". A while after the closing brace of a do body ends in ";".
Prints file:line for each and exits 1 when there is any.
"""
import re
import sys

TOKEN = re.compile(r"[A-Za-z_][A-Za-z_0-9]*|\S")


def blank(text):
    """The text with comments, string and character literals and
    preprocessor lines replaced by spaces; line breaks are kept."""
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
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append(" \n")
                    i += 2
                    continue
                out.append(" ")
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
        raw = re.match(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(', text[i:i + 24])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            close = ")" + raw.group(1) + '"'
            end = text.find(close, i + raw.end())
            end = n if end < 0 else end + len(close)
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
            continue
        if c in "\"'":
            # A digit separator (1'000) is not a character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(" " * (min(j + 1, n) - i))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


def tokens(text):
    line = 1
    pos = 0
    for m in TOKEN.finditer(text):
        line += text.count("\n", pos, m.start())
        pos = m.start()
        yield m.group(0), line


def check(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        toks = list(tokens(blank(f.read())))
    found = []
    # Depths at which a do body was opened: its closing brace is followed
    # by the while that ends it.
    do_bodies = []
    depth = 0
    after_do_body = False
    i = 0
    while i < len(toks):
        tok, line = toks[i]
        nxt = toks[i + 1][0] if i + 1 < len(toks) else ""
        closes_do = after_do_body
        after_do_body = False
        if tok == "{":
            depth += 1
        elif tok == "}":
            depth -= 1
            if do_bodies and do_bodies[-1] == depth:
                do_bodies.pop()
                after_do_body = True
        elif tok in ("if", "for", "while", "switch"):
            j = i + 1
            if tok == "if" and j < len(toks) and toks[j][0] == "constexpr":
                j += 1
            if j < len(toks) and toks[j][0] == "(":
                level = 0
                while j < len(toks):
                    if toks[j][0] == "(":
                        level += 1
                    elif toks[j][0] == ")":
                        level -= 1
                        if level == 0:
                            break
                    j += 1
                after = toks[j + 1][0] if j + 1 < len(toks) else ""
                if not (after == "{" or (tok == "while" and closes_do and after == ";")):
                    found.append((line, tok))
        elif tok == "else":
            if nxt not in ("{", "if"):
                found.append((line, tok))
        elif tok == "do":
            if nxt == "{":
                do_bodies.append(depth)
            else:
                found.append((line, tok))
        i += 1
    return found


def main(paths):
    bad = 0
    for path in paths:
        for line, keyword in check(path):
            print("%s:%d: %s without braces" % (path, line, keyword))
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
