#!/usr/bin/env python3
"""The mutation runner's operators: which mutants a line gives, and that each
applies to the text it names."""
import os, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import mutants  # noqa: E402

# name, source lines, mutants wanted among the line's (family, mutated line)
ROWS = [
    ("a call's effect removed", ["void f() {", "    response.set(\"Retry-After\", \"5\");", "}"],
     [("remove", ";"), ("const", "response.set(\"\", \"5\");"), ("const", "response.set(\"Retry-After\", \"\");")]),
    ("a guard made never to fire", ["int f(int y) {", "    if (y > 2010) return 1;", "    return y;", "}"],
     [("guard", "if (false) return 1;"), ("cond", "if (!(y > 2010)) return 1;"), ("swap", "if (y >= 2010) return 1;"),
      ("const", "if (y > 2011) return 1;"), ("const", "if (y > 2009) return 1;"), ("const", "if (y > 0) return 1;"),
      ("const", "if (y > 4020) return 1;")]),
    ("a guard on the next line", ["int f(bool a, bool b) {", "    if (a && b)", "        throw 3;", "    return 0;", "}"],
     [("guard", "if (false)"), ("cond", "if (a || b)"), ("cond", "if (a)"), ("cond", "if (b)")]),
    ("returns replaced", ["bool f() { return true; }", "int g(int x) {", "    return x * 2 + 1;", "}"],
     [("return", "bool f() { return false; }"), ("return", "return {};"), ("math", "return x / 2 + 1;"),
      ("math", "return x * 2 - 1;")]),
    ("a zero made one", ["int z() {", "    return f(0);", "}"], [("const", "return f(1);")]),
    ("an init statement and a lambda's own", ["int f(std::string n) {",
                                              "    if (int k = g(); k > 0) return k;",
                                              "    if (n.empty() || any(n, [](char c) { return c == 1; }))",
                                              "        return 2;", "    return 0;", "}"],
     [("guard", "if (int k = g(); false) return k;"),
      ("guard", "if (false)"), ("cond", "if (any(n, [](char c) { return c == 1; }))")]),
]

# Lines that must give no mutant of a family.
NONE = [
    ("a declaration is not removed", ["void f() {", "    std::string name(\"x\");", "}"], "remove"),
    ("a buffer's size is not moved", ["void f() {", "    char text[32];", "}"], "const"),
    ("a pointer is not a product", ["void f() {", "    const char * p = q;", "}"], "math"),
    ("a deleted copy is no statement", ["struct R {", "    R(const R&) = delete;", "};"], "remove"),
]


def mutated(lines):
    with tempfile.TemporaryDirectory() as root:
        with open(os.path.join(root, "x.cpp"), "w") as f:
            f.write("\n".join(lines))
        out = []
        for site in mutants.sites(root, "x.cpp"):
            with open(os.path.join(root, "x.cpp"), "w") as f:
                f.write("\n".join(lines))
            mutants.apply(root, site)
            line = int(site.split(":")[1])
            with open(os.path.join(root, "x.cpp")) as f:
                out.append((mutants.family(site), f.read().split("\n")[line - 1].strip()))
        return out


# Which tests a mutant meets: the map's tests for its line, "-" for a line of
# code no test ran, "*" (every test) when no map has the line as code.
MAPS = ["serve/a.cpp:10\tT.one:T.two\nserve/a.cpp:11\t\nserve/a.cpp:110\tT.three\n",
        "serve/a.cpp:10\t\nserve/a.cpp:12\tU.one\n"]
COVERING = [
    ("ran by tests of the first program", "serve/a.cpp:10:5:guard=3", ["T.one:T.two", "-"]),
    ("code no test ran", "serve/a.cpp:11:1:remove=4", ["-", "-"]),
    ("a line is not a prefix of another", "serve/a.cpp:1:1:remove=4", ["*", "*"]),
    ("only the second program", "serve/a.cpp:12:1:op=-", ["-", "U.one"]),
]


def covering(site):
    with tempfile.TemporaryDirectory() as root:
        paths = []
        for i, text in enumerate(MAPS):
            paths.append(os.path.join(root, f"map-{i}.txt"))
            with open(paths[-1], "w") as f:
                f.write(text)
        return mutants.covering(paths, site)


failed = 0
for name, site, wanted in COVERING:
    got = covering(site)
    if got != wanted:
        failed += 1
        print(f"FAIL {name}: {got}, wanted {wanted}")
for name, lines, wanted in ROWS:
    got = mutated(lines)
    for w in wanted:
        if w not in got:
            failed += 1
            print(f"FAIL {name}: no {w}; got {got}")
for name, lines, fam in NONE:
    got = [g for g in mutated(lines) if g[0] == fam]
    if got:
        failed += 1
        print(f"FAIL {name}: {got}")
total = len(ROWS) + len(NONE) + len(COVERING)
print(f"{total - failed if failed <= total else 0} passed, {failed} failed")
sys.exit(1 if failed else 0)
