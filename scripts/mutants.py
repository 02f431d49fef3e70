#!/usr/bin/env python3
"""Site generator and file juggler for scripts/mutants.sh.

  mutants.py sites ROOT FILE...        one line per site: id <TAB> replacement info
  mutants.py apply SRC ID              writes the mutant of ID into SRC (a copy)
  mutants.py sync ROOT SRC             copies the tree into SRC, touching only
                                       files whose content differs

A site id is FILE:LINE:COL:FROM/TO (+1/ drops a ' + 1'); ids only move when the file is edited.
"""
import os
import re
import struct
import sys

RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}

# Operators written with a blank on both sides: templates, shifts, arrows and
# include lines never look like that.
OP_RE = re.compile(r"(?<= )(<=|>=|==|!=|<|>)(?= )")
DROP_RE = re.compile(r" [+-] 1(?![\w.'])")
FLOAT_RE = re.compile(
    r"(?<![\w.])(0[xX][0-9a-fA-F]*\.?[0-9a-fA-F]*[pP][+-]?\d+|\d+\.\d*(?:[eE][+-]?\d+)?|\d+[eE][+-]?\d+)([fF]?)(?![\w.])")
LIMIT_CONTEXT = re.compile(r"(<=|>=|<|>)\s*$")
LIMIT_AFTER = re.compile(r"^\s*(<=|>=|<|>)")


def blank_comments_and_strings(text):
    """The text with comments, string and character literals blanked (same length)."""
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
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():  # digit separator
                out.append(c)
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def next_up(literal, suffix):
    if suffix:
        v = struct.unpack("<f", struct.pack("<f", float.fromhex(literal) if "x" in literal.lower() else float(literal)))[0]
        bits = struct.unpack("<I", struct.pack("<f", v))[0]
        bits = bits + 1 if v >= 0 else bits - 1
        up = struct.unpack("<f", struct.pack("<I", bits))[0]
        return float(up).hex() + "f"
    v = float.fromhex(literal) if "x" in literal.lower() else float(literal)
    bits = struct.unpack("<Q", struct.pack("<d", v))[0]
    bits = bits + 1 if v >= 0 else bits - 1
    return struct.unpack("<d", struct.pack("<Q", bits))[0].hex()


def sites(root, rel):
    with open(os.path.join(root, rel)) as f:
        text = f.read()
    clean = blank_comments_and_strings(text)
    found = []
    for lineno, line in enumerate(clean.split("\n"), 1):
        if line.lstrip().startswith("#"):
            continue
        for m in OP_RE.finditer(line):
            found.append((lineno, m.start() + 1, m.group(1), RELATIONAL[m.group(1)]))
        for m in DROP_RE.finditer(line):
            found.append((lineno, m.start() + 1, m.group(0)[1] + "1", ""))
        for m in FLOAT_RE.finditer(line):
            lit, suffix = m.group(1), m.group(2)
            value = float.fromhex(lit) if "x" in lit.lower() else float(lit)
            if value == 0.0:
                continue  # the relational swap already probes a zero limit
            before, after = line[:m.start()], line[m.end():]
            is_limit = (LIMIT_CONTEXT.search(before) or LIMIT_AFTER.search(after)
                        or re.search(r"\bconstexpr\b.*=\s*$", before))
            if is_limit:
                found.append((lineno, m.start() + 1, lit + suffix, next_up(lit, suffix)))
    found.sort()
    return [f"{rel}:{l}:{c}:{a}/{b}" for (l, c, a, b) in found]


def parse_id(site):
    rel, line, col, rest = site.split(":", 3)
    old, new = rest.split("/", 1)
    return rel, int(line), int(col), old, new


def apply(src, site):
    rel, line, col, old, new = parse_id(site)
    path = os.path.join(src, rel)
    with open(path) as f:
        lines = f.read().split("\n")
    text = lines[line - 1]
    if old in ("+1", "-1"):
        old = " " + old[0] + " 1"  # dropped with the blank before it
    if text[col - 1:col - 1 + len(old)] != old:
        sys.exit(f"site {site} does not match: {text!r}")
    if not new:
        lines[line - 1] = text[:col - 1] + text[col - 1 + len(old):]
    else:
        lines[line - 1] = text[:col - 1] + new + text[col - 1 + len(old):]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def sync(root, src):
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root)
        if rel_dir == ".":
            dirnames[:] = [d for d in dirnames if d not in ("build", ".git")]
        dirnames[:] = [d for d in dirnames if not d.startswith(".")]
        os.makedirs(os.path.join(src, rel_dir), exist_ok=True)
        for name in filenames:
            a = os.path.join(dirpath, name)
            b = os.path.join(src, rel_dir, name)
            with open(a, "rb") as f:
                data = f.read()
            try:
                with open(b, "rb") as f:
                    same = f.read() == data
            except FileNotFoundError:
                same = False
            if not same:
                # A fresh mtime, so the shared build sees the change.
                with open(b, "wb") as f:
                    f.write(data)
                os.chmod(b, os.stat(a).st_mode)


def main():
    cmd = sys.argv[1]
    if cmd == "sites":
        root = sys.argv[2]
        for rel in sys.argv[3:]:
            for s in sites(root, rel):
                print(s)
    elif cmd == "apply":
        apply(sys.argv[2], sys.argv[3])
    elif cmd == "sync":
        sync(sys.argv[2], sys.argv[3])
    elif cmd == "line":
        rel, line, _, _, _ = parse_id(sys.argv[3])
        with open(os.path.join(sys.argv[2], rel)) as f:
            print(f.read().split("\n")[line - 1].strip())
    else:
        sys.exit(f"unknown command {cmd}")


if __name__ == "__main__":
    main()
