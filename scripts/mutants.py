#!/usr/bin/env python3
"""Site generator and file juggler for scripts/mutants.sh.

  mutants.py sites ROOT FILE...        one line per site: id <TAB> replacement info
  mutants.py apply SRC ID              writes the mutant of ID into SRC (a copy)
  mutants.py sync ROOT SRC             copies the tree into SRC, touching only
                                       files whose content differs
  mutants.py covermap BUILD SRC PROGRAM TIMEOUT OUT
                                       runs each test of PROGRAM (a coverage build's)
                                       alone and writes, for each line of SRC that
                                       has code, the tests that ran it
  mutants.py lines ROOT < IDS          each id with its line
  mutants.py stamp ROOT PROGRAM        a digest of what a program's coverage map depends on
  mutants.py covering MAP... SITE      the gtest filter of the tests that ran the
                                       site's line, one line a program; "*" when the
                                       line has no code of its own (a constant's
                                       definition, a template never built)

A site id is FILE:LINE:COL:FROM/TO (+1/ drops a ' + 1') or, for the operators
that rewrite a span, FILE:LINE:COL:NAME=LEN[=VALUE]; ids only move when the file
is edited. Each id belongs to one family (see FAMILIES), printed by `family`.
"""
import json
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile

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


def sites(root, rel, operators=None):
    operators = FAMILIES if operators is None else operators
    with open(os.path.join(root, rel)) as f:
        text = f.read()
    clean = blank_comments_and_strings(text)
    found = []
    for lineno, line in enumerate(clean.split("\n"), 1):
        if line.lstrip().startswith("#") or "swap" not in operators:
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
    ids = [(l, c, f"{a}/{b}") for (l, c, a, b) in found] + other_sites(text, clean, operators)
    ids.sort()
    return [f"{rel}:{l}:{c}:{rest}" for (l, c, rest) in ids]


KEYWORD_START = re.compile(
    r"^(return|if|for|while|switch|case|break|continue|using|namespace|typedef|struct|class|enum|"
    r"template|goto|default|else|do|static|const|constexpr|auto|inline|extern|friend|public|private|"
    r"protected|throw|try|catch|delete|new)\b")
# An lvalue, then a call, an assignment or a stream: a statement whose only
# effect is what it does, not a declaration (which has a type and a name).
EFFECT_RE = re.compile(r"^[A-Za-z_][\w.\->:\[\]*]*\s*(\(|=(?!=)|\+=|-=|\*=|/=|\|=|&=|<<=|>>=|<<|\+\+|--)")
INT_RE = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+(?:'\d+)*)([uUlL]*)(?![\w.'])")
ANDOR_RE = re.compile(r"(?<= )(&&|\|\|)(?= )")
MATH_RE = re.compile(r"(?<=[\w)\]] )([-+*/])(?= [\w(!-])")
RETURN_RE = re.compile(r"\breturn (.+?);\s*}?\s*$")
# `T * name`: a pointer declared, not a product.
DECLARATOR_RE = re.compile(r"(^|[(,]|\bconst)\s*[A-Za-z_][\w:<>]*\s$")
COND_RE = re.compile(r"\b(if|while) \(")

FAMILIES = ("swap", "remove", "guard", "cond", "const", "return", "math")


def family(site):
    rest = site.split(":", 3)[3]
    name = rest.split("=", 1)[0] if re.match(r"^[a-z]+=", rest) else None
    if name == "remove":
        return "remove"
    if name == "guard":
        return "guard"
    if name in ("negate", "keepl", "keepr") or rest in ("&&/||", "||/&&"):
        return "cond"
    if name == "str" or re.match(r"^(0[xX][0-9a-fA-F]+|\d+(?:'\d+)*)[uUlL]*/", rest):
        return "const"
    if name == "ret":
        return "return"
    if name == "op":
        return "math"
    return "swap"


def closing(line, open_at):
    """The index of the parenthesis closing the one at open_at, or -1."""
    depth = 0
    for i in range(open_at, len(line)):
        if line[i] == "(":
            depth += 1
        elif line[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def top_level(cond, tokens):
    """Where the first of tokens outside parentheses, brackets and braces stands in cond, or -1."""
    depth = 0
    for i, c in enumerate(cond):
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        elif depth == 0 and cond.startswith(tokens, i):
            return i
    return -1


def top_level_split(cond):
    """Where the first &&/|| outside parentheses stands in cond, or -1."""
    return top_level(cond, (" && ", " || "))


def int_mutants(literal, suffix):
    body = literal.replace("'", "")
    value = int(body, 16) if body[:2] in ("0x", "0X") else int(body)
    out = []
    for v in (value + 1, value - 1, 0 if value else 1, 2 * value):
        if v >= 0 and v != value and v not in out:
            out.append(v)
    return [str(v) + suffix for v in out]


def other_sites(text, clean, operators):
    """The sites of the established tools' default operators."""
    found = []
    raw_lines, lines = text.split("\n"), clean.split("\n")
    previous = ""
    for lineno, line in enumerate(lines, 1):
        raw = raw_lines[lineno - 1]
        stripped = line.strip()
        if stripped.startswith("#") or "static_assert" in line:
            previous = stripped or previous
            continue
        indent = len(line) - len(line.lstrip())
        # One whole statement on its line, after the end of another.
        whole = (stripped.endswith(";") and stripped.count("(") == stripped.count(")")
                 and (previous.endswith((";", "{", "}", ")", ":")) or not previous))
        if ("remove" in operators and whole and not KEYWORD_START.match(stripped) and EFFECT_RE.match(stripped)
                and not re.search(r"=\s*(delete|default)\s*;$", stripped)):  # a special member, declared
            found.append((lineno, indent + 1, f"remove={len(stripped)}"))
        for m in COND_RE.finditer(line):
            open_at = m.end() - 1
            close = closing(line, open_at)
            if close < 0:
                continue
            cond = line[open_at + 1:close]
            # `if (init; cond)`: the condition is what follows the init.
            init = top_level(cond, ("; ",))  # a lambda's own do not count
            if init >= 0:
                open_at += init + 2
                cond = cond[init + 2:]
            if not cond.strip() or cond.strip() in ("true", "false"):
                continue
            col, n = open_at + 2, len(cond)
            after = line[close + 1:].strip()
            nxt = lines[lineno].strip() if lineno < len(lines) else ""
            exits = re.match(r"^(return|throw)\b", after) or (not after and re.match(r"^(return|throw)\b", nxt))
            if "guard" in operators and m.group(1) == "if" and exits:
                found.append((lineno, col, f"guard={n}"))
            if "cond" in operators:
                found.append((lineno, col, f"negate={n}"))
                if top_level_split(cond) >= 0:
                    found.append((lineno, col, f"keepl={n}"))
                    found.append((lineno, col, f"keepr={n}"))
        if "cond" in operators:
            for m in ANDOR_RE.finditer(line):
                found.append((lineno, m.start() + 1, m.group(1) + "/" + ("||" if m.group(1) == "&&" else "&&")))
        if "const" in operators:
            if not re.search(r"\boperator\b|\[\[", line):
                for m in INT_RE.finditer(line):
                    if re.search(r"\bchar \w+\[$", line[:m.start()]):
                        continue  # a buffer's size: only the sanitizers see it
                    for to in int_mutants(m.group(1), m.group(2)):
                        found.append((lineno, m.start() + 1, m.group(0) + "/" + to))
            for m in re.finditer(r'"( +)"', line):  # blanked string literals
                if raw[m.start() - 1:m.start()] not in ("R", "8", "L", "u", "U"):
                    found.append((lineno, m.start() + 1, f"str={m.end() - m.start()}"))
        if "return" in operators:
            m = RETURN_RE.search(line)
            if m:
                value = m.group(1).strip()
                col, n = m.start(1) + 1, len(m.group(1))
                if value == "true":
                    found.append((lineno, col, f"ret={n}=false"))
                elif value == "false":
                    found.append((lineno, col, f"ret={n}=true"))
                elif value not in ("{}", "0", "nullptr", "std::nullopt", '""') and not value.startswith("*"):
                    found.append((lineno, col, f"ret={n}={{}}"))
        if "math" in operators:
            for m in MATH_RE.finditer(line):
                if m.group(1) == "*" and DECLARATOR_RE.search(line[:m.start()]):
                    continue
                # Pointer and reference declarations, unary minus after a
                # comparison and template arguments look alike: only blanks on
                # both sides and an operand before.
                to = {"+": "-", "-": "+", "*": "/", "/": "*"}[m.group(1)]
                found.append((lineno, m.start() + 1, f"op={to}"))
        previous = stripped or previous
    return found


def parse_id(site):
    rel, line, col, rest = site.split(":", 3)
    if re.match(r"^[a-z]+=", rest):
        return rel, int(line), int(col), rest, None
    old, new = rest.split("/", 1)
    return rel, int(line), int(col), old, new


def rewrite(text, col, operator):
    """The line with the span-rewriting operator (NAME=ARG) applied at col."""
    name, arg = operator.split("=", 1)
    start = col - 1
    if name == "op":
        return text[:start] + arg + text[start + 1:]
    n, _, value = arg.partition("=")
    end = start + int(n)
    span = text[start:end]
    if name == "remove":
        return text[:start] + ";" + text[end:]
    if name == "guard":
        return text[:start] + "false" + text[end:]
    if name == "negate":
        return text[:start] + "!(" + span + ")" + text[end:]
    if name in ("keepl", "keepr"):
        at = top_level_split(blank_comments_and_strings(span))
        if at < 0:
            sys.exit(f"no && or || in {span!r}")
        kept = span[:at] if name == "keepl" else span[at + 4:]
        return text[:start] + kept + text[end:]
    if name == "str":
        return text[:start] + '""' + text[end:]
    if name == "ret":
        return text[:start] + value + text[end:]
    sys.exit(f"unknown operator {name}")


def apply(src, site):
    rel, line, col, old, new = parse_id(site)
    path = os.path.join(src, rel)
    with open(path) as f:
        lines = f.read().split("\n")
    text = lines[line - 1]
    if new is None:
        lines[line - 1] = rewrite(text, col, old)
        with open(path, "w") as f:
            f.write("\n".join(lines))
        return
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


def gcov_lines(build, src):
    """{rel:line: executed?} for the lines of src with code, from the build's .gcda files."""
    gcda = [os.path.abspath(os.path.join(d, f)) for d, _, fs in os.walk(build) for f in fs if f.endswith(".gcda")]
    lines = {}
    if not gcda:
        return lines
    prefix = os.path.realpath(src) + os.sep
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run(["gcov", "--json-format", "--stdout"] + gcda, cwd=tmp,
                             capture_output=True, text=True).stdout
    decoder, at = json.JSONDecoder(), 0
    while True:
        while at < len(out) and out[at].isspace():
            at += 1
        if at >= len(out):
            break
        doc, at = decoder.raw_decode(out, at)
        for f in doc.get("files", []):
            path = os.path.realpath(f["file"] if os.path.isabs(f["file"]) else os.path.join(doc.get("current_working_directory", ""), f["file"]))
            if not path.startswith(prefix) or "/tests/" in path[len(prefix) - 1:]:
                continue
            rel = path[len(prefix):]
            for ln in f.get("lines", []):
                key = f"{rel}:{ln['line_number']}"
                lines[key] = lines.get(key, False) or ln["count"] > 0
    return lines


def covermap(build, src, program, timeout, out_path):
    """Which tests of program run each line: one gtest process a test, counters cleared between."""
    program = os.path.abspath(program)
    tests_dir = os.path.dirname(program)
    listing = subprocess.run([program, "--gtest_list_tests"], cwd=tests_dir, capture_output=True, text=True).stdout
    tests, suite = [], None
    for line in listing.split("\n"):
        if not line.strip() or line.startswith("Running main"):
            continue
        if not line.startswith(" "):
            suite = line.split()[0]
        else:
            tests.append(suite + line.split()[0])
    ran = {}
    env = dict(os.environ, PDSI_TEST_THREADS="1")
    for t in tests:
        for d, _, fs in os.walk(build):
            for f in fs:
                if f.endswith(".gcda"):
                    os.unlink(os.path.join(d, f))
        p = subprocess.Popen([program, "--gtest_filter=" + t], cwd=tests_dir, env=env, start_new_session=True,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            p.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
        for key, hit in gcov_lines(build, src).items():
            ran.setdefault(key, [])
            if hit:
                ran[key].append(t)
    with open(out_path + ".part", "w") as f:
        for key in sorted(ran):
            f.write(key + "\t" + ":".join(ran[key]) + "\n")
    os.replace(out_path + ".part", out_path)


def stamp(root, program):
    """A digest of what a program's coverage map depends on: the code, and of
    the tests only the program's own folder and the shared support; docs and
    scripts leave the maps as they are."""
    h = __import__("hashlib").sha1()
    own = {os.path.join("tests", program), os.path.join("tests", "support")}
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root)
        if rel_dir == ".":
            dirnames[:] = [d for d in dirnames if d not in ("build", "docs", "scripts")]
        elif rel_dir == "tests":
            dirnames[:] = [d for d in dirnames if os.path.join("tests", d) in own]
        dirnames[:] = sorted(d for d in dirnames if not d.startswith("."))
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            h.update(os.path.relpath(path, root).encode() + b"\0")
            with open(path, "rb") as f:
                h.update(f.read())
    return h.hexdigest()


def covering(maps, site):
    """One gtest filter a map (a program): the tests that ran the site's line,
    "-" for none, "*" when no map knows the line as code."""
    rel, line = site.split(":")[:2]
    key = f"{rel}:{line}\t"
    found = []
    for m in maps:
        hit = None
        with open(m) as f:
            for row in f:
                if row.startswith(key):
                    hit = row[len(key):].strip()
                    break
        found.append(hit)
    if all(h is None for h in found):
        return ["*"] * len(maps)
    return [h if h else "-" for h in found]


def main():
    cmd = sys.argv[1]
    if cmd == "sites":
        args = sys.argv[2:]
        operators = None
        if args and args[0].startswith("--operators="):
            operators = tuple(o for o in args.pop(0).split("=", 1)[1].split(",") if o)
            unknown = [o for o in operators if o not in FAMILIES]
            if unknown:
                sys.exit(f"unknown operator family {','.join(unknown)}; the families: {','.join(FAMILIES)}")
        root = args[0]
        for rel in args[1:]:
            for s in sites(root, rel, operators):
                print(s)
    elif cmd == "family":
        for site in sys.argv[2:]:
            print(family(site))
    elif cmd == "lines":  # ROOT then ids on standard input: each with its line
        texts = {}
        for site in sys.stdin.read().split():
            rel, line = site.split(":")[:2]
            if rel not in texts:
                with open(os.path.join(sys.argv[2], rel)) as f:
                    texts[rel] = f.read().split("\n")
            print(f"{site}\t{texts[rel][int(line) - 1].strip()}")
    elif cmd == "apply":
        apply(sys.argv[2], sys.argv[3])
    elif cmd == "sync":
        sync(sys.argv[2], sys.argv[3])
    elif cmd == "covermap":
        covermap(sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5]), sys.argv[6])
    elif cmd == "stamp":
        print(stamp(sys.argv[2], sys.argv[3]))
    elif cmd == "covering":
        for f in covering(sys.argv[2:-1], sys.argv[-1]):
            print(f)
    elif cmd == "line":
        rel, line, _, _, _ = parse_id(sys.argv[3])
        with open(os.path.join(sys.argv[2], rel)) as f:
            print(f.read().split("\n")[line - 1].strip())
    else:
        sys.exit(f"unknown command {cmd}")


if __name__ == "__main__":
    main()
