#!/usr/bin/env python3
"""The package installer's decisions, with id, dpkg-query, apt-get, dpkg and
sudo stood in for on PATH: who installs, with what, and what the user is told."""
import json, os, shutil, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BASH = shutil.which("bash")

# One program under five names; the state file says what the machine holds
# and how apt-get and sudo behave, and every call is appended to it.
STUB = r'''#!PYTHON
import json, os, sys
name, args = os.path.basename(sys.argv[0]), sys.argv[1:]
path = os.environ["STUB_STATE"]
with open(path) as f: s = json.load(f)
s["calls"].append(" ".join([name] + args))
def save():
    with open(path, "w") as f: json.dump(s, f)
save()
if name == "id":
    print(s["uid"])
elif name == "sudo":
    if s.get("sudo_password") and args[0] == "-n":
        sys.exit(print("sudo: a password is required", file=sys.stderr) or 1)
    s["uid"] = 0; save()
    os.execv(os.path.join(os.path.dirname(sys.argv[0]), args[args[0] == "-n"]),
             [args[args[0] == "-n"]] + args[1 + (args[0] == "-n"):])
elif name == "dpkg-query":
    for p in args[2:]:
        if p in s["status"]: print(p, s["status"][p])
        else: print("dpkg-query: no packages found matching " + p, file=sys.stderr)
    sys.exit(0 if all(p in s["status"] for p in args[2:]) else 1)
elif name == "dpkg":
    s["interrupted"] = False; save()
elif name == "apt-get":
    if s["uid"] != 0: sys.exit(print("E: Could not open lock file - open (13: Permission denied)") or 100)
    if s.get("interrupted"):
        sys.exit(print("E: dpkg was interrupted, you must manually run 'dpkg --configure -a' to correct the problem.") or 100)
    verb = [a for a in args if not a.startswith("-") and "::" not in a][0]
    pkgs = [a for a in args if not a.startswith("-") and "::" not in a][1:]
    if verb == "update":
        if not s["network"]:
            sys.exit(print("W: Failed to fetch http://apt.mirror.invalid/debian/dists/bookworm/InRelease") or 100)
        s["lists"] = True
    else:
        for p in pkgs:
            if not s["lists"] or p in s.get("unknown", []):
                sys.exit(print("E: Unable to locate package " + p) or 100)
        for p in pkgs: s["status"][p] = "installed"
    save()
'''

LIST = """# group package
build  gcc
build  libfoo-dev   # why
test   cdo
test   libfoo-dev
fuzz   clang
"""

def have(*pkgs, state="installed"):
    return {p: state for p in pkgs}

ALL = have("gcc", "libfoo-dev", "cdo", "clang")
INSTALL = "apt-get -y -o DPkg::Lock::Timeout=600 install "
UPDATE = "apt-get -y -o DPkg::Lock::Timeout=600 update"

# name, groups, machine, exit status, apt-get/sudo calls, words on stderr (all, in one line; empty: silent)
CASES = [
    ("root, all there", ["build", "test"], dict(uid=0, status=ALL), 0, [], []),
    ("root, some missing", ["build", "test"], dict(uid=0, status=have("libfoo-dev")), 0,
     [INSTALL + "gcc cdo"], ["Installing Debian packages: gcc cdo"]),
    ("root, only the groups asked for", ["build"], dict(uid=0, status=have("gcc", "libfoo-dev")), 0, [], []),
    ("root, unpacked is not installed", ["build"], dict(uid=0, status={**have("gcc"), "libfoo-dev": "unpacked"}), 0,
     [INSTALL + "libfoo-dev"], ["Installing", "libfoo-dev"]),
    ("root, waiting triggers are installed", ["build"],
     dict(uid=0, status={**have("gcc"), "libfoo-dev": "triggers-pending"}), 0, [], []),
    ("root, no package lists yet", ["fuzz"], dict(uid=0, status={}, lists=False), 0,
     [INSTALL + "clang", UPDATE, INSTALL + "clang"], ["Installing Debian packages: clang"]),
    ("root, an install cut short before", ["build"], dict(uid=0, status=have("gcc"), interrupted=True), 0,
     [INSTALL + "libfoo-dev", "dpkg --configure -a", UPDATE, INSTALL + "libfoo-dev"], ["Installing"]),
    ("root, no network", ["build"], dict(uid=0, status=have("gcc"), lists=False, network=False), 1,
     [INSTALL + "libfoo-dev", UPDATE],
     ["Installing Debian packages: libfoo-dev",
      "Could not install libfoo-dev (W: Failed to fetch http://apt.mirror.invalid/debian/dists/bookworm/InRelease)",
      "apt-get update && apt-get install -y libfoo-dev"]),
    ("root, a package apt-get cannot find", ["build", "test"], dict(uid=0, status=have("gcc"), unknown=["cdo"]), 1,
     [INSTALL + "libfoo-dev cdo", UPDATE, INSTALL + "libfoo-dev cdo"],
     ["Installing", "Could not install libfoo-dev cdo (E: Unable to locate package cdo)",
      "apt-get install -y libfoo-dev cdo"]),
    ("user with sudo, some missing", ["build"], dict(uid=1000, sudo=True, status=have("gcc")), 0,
     ["sudo -n apt-get -y -o DPkg::Lock::Timeout=600 install libfoo-dev", INSTALL + "libfoo-dev"],
     ["Installing Debian packages with sudo: libfoo-dev"]),
    ("user with sudo, all there", ["build"], dict(uid=1000, sudo=True, status=ALL), 0, [], []),
    ("user whose sudo wants a password", ["build"], dict(uid=1000, sudo=True, sudo_password=True, status={}), 1,
     ["sudo -n apt-get -y -o DPkg::Lock::Timeout=600 install gcc libfoo-dev",
      "sudo -n apt-get -y -o DPkg::Lock::Timeout=600 update"],
     ["Installing Debian packages with sudo", "Could not install gcc libfoo-dev (sudo: a password is required)",
      "apt-get install -y gcc libfoo-dev"]),
    ("user without sudo, some missing", ["build", "test"], dict(uid=1000, status=have("gcc", "libfoo-dev")), 1, [],
     ["run as root, then this again: apt-get install -y cdo"]),
    ("user without sudo, all there", ["build", "test"], dict(uid=1000, status=ALL), 0, [], []),
    ("a group that is not in the list", ["biuld"], dict(uid=0, status=ALL), 2, [], ["no group 'biuld'"]),
]


def run(script, groups, machine, stubs):
    state = dict(calls=[], lists=True, network=True)
    state.update({k: v for k, v in machine.items() if k != "sudo"})
    for name in ("id", "dpkg-query", "apt-get", "dpkg", "sudo"):
        path = os.path.join(stubs, name)
        if os.path.exists(path): os.remove(path)
        if name != "sudo" or machine.get("sudo"):
            with open(path, "w") as f: f.write(STUB.replace("PYTHON", sys.executable))
            os.chmod(path, 0o755)
    state_path = os.path.join(stubs, "state.json")
    with open(state_path, "w") as f: json.dump(state, f)
    p = subprocess.run([BASH, script] + groups, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                       env={"PATH": stubs, "STUB_STATE": state_path})
    with open(state_path) as f: calls = json.load(f)["calls"]
    return p, [c for c in calls if not c.startswith(("id", "dpkg-query"))]


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        scripts, stubs = os.path.join(tmp, "scripts"), os.path.join(tmp, "bin")
        os.makedirs(scripts); os.makedirs(stubs)
        shutil.copy(os.path.join(ROOT, "scripts", "packages.sh"), scripts)
        with open(os.path.join(scripts, "packages.txt"), "w") as f: f.write(LIST)
        script = os.path.join(scripts, "packages.sh")
        for name, groups, machine, status, calls, words in CASES:
            p, made = run(script, groups, machine, stubs)
            lines = p.stderr.splitlines()
            problems = []
            if p.returncode != status: problems.append(f"exit {p.returncode}, wanted {status}")
            if made != calls: problems.append(f"calls {made}, wanted {calls}")
            if not words and p.stderr: problems.append("said something")
            for w in words:
                if not any(w in line for line in lines): problems.append(f"no line with {w!r}")
            if len(lines) > 2: problems.append(f"{len(lines)} lines")
            if p.stdout: problems.append("wrote to standard output")
            if problems:
                failures += 1
                print(f"FAIL {name}: {'; '.join(problems)}\n  stderr: {p.stderr!r}")
        # The project's own list: every group the scripts name is in it.
        real = os.path.join(ROOT, "scripts", "packages.sh")
        p, made = run(real, ["build", "test", "fuzz", "bare-machine"],
                      dict(uid=0, status={}, unknown=[]), stubs)
        if p.returncode != 0 or len(made) != 1:
            failures += 1
            print(f"FAIL the project's list: exit {p.returncode}, calls {made}, stderr {p.stderr!r}")
    print(f"{len(CASES) + 1 - failures} of {len(CASES) + 1} cases pass")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
