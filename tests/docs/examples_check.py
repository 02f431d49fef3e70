#!/usr/bin/env python3
"""Runs the examples of README.md and docs/*.md that are marked to run.

A fenced block of shell, Python or R right after a line `<!-- runs -->` is
run as written; after `<!-- runs: server -->` it is a server started in the
background (one shell command, run in its shell's place): the examples
after it on the page talk to it, until the page ends or the next such
block, when it is stopped with SIGTERM and must exit with 0. Each page runs in order in a scratch tree of
its own, laid out as the source tree after the build (build/default/cli/pdsi,
build/default/app/pdsiserver, the sample grid in sample/) with `pdsi` and
`pdsiserver` also on PATH, as once installed; so an example may use what an
earlier one of its page wrote. Everything runs in a network namespace of
its own, so 127.0.0.1:8080 is free and nothing outside is reached.

examples_check.py BUILD SOURCE WORK
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

RUNNERS = {"sh": ["bash", "-e", "-o", "pipefail", "-c"], "bash": ["bash", "-e", "-o", "pipefail", "-c"],
           "python": ["/usr/bin/python3", "-c"], "r": ["Rscript", "-e"]}
MARK = re.compile(r"^<!--\s*runs(:\s*server)?\s*-->\s*$")
FENCE = re.compile(r"^(```+)\s*([A-Za-z]*)")
EXAMPLE_SECONDS = 180
SERVER_START_SECONDS = 60


class Example:
    def __init__(self, page, line, language, code, server):
        self.page, self.line, self.language, self.code, self.server = page, line, language, code, server

    def where(self):
        return f"{self.page}:{self.line} ({self.language}{', server' if self.server else ''})"


def examples_of(path, shown):
    """The marked blocks of one page, the unmarked ones of a runnable language, and the marks that mark nothing."""
    lines = path.read_text(encoding="utf-8").splitlines()
    marked, unmarked, stray = [], [], []
    pending = None  # the line number and kind of a mark waiting for its block
    k = 0
    while k < len(lines):
        line = lines[k]
        mark = MARK.match(line)
        fence = FENCE.match(line)
        if mark:
            if pending:
                stray.append(f"{shown}:{pending[0]}")
            pending = (k + 1, bool(mark.group(1)))
        elif fence:
            end = k + 1
            while end < len(lines) and not lines[end].startswith(fence.group(1)):
                end += 1
            language = fence.group(2).lower()
            language = {"shell": "sh", "console": "sh"}.get(language, language)
            code = "\n".join(lines[k + 1:end]) + "\n"
            if pending:
                if language in RUNNERS and (not pending[1] or language in ("sh", "bash")):
                    marked.append(Example(shown, k + 1, language, code, pending[1]))
                else:
                    stray.append(f"{shown}:{pending[0]}")
                pending = None
            elif language in RUNNERS:
                unmarked.append(f"{shown}:{k + 1}")
            k = end
        elif line.strip() and pending:
            stray.append(f"{shown}:{pending[0]}")
            pending = None
        k += 1
    if pending:
        stray.append(f"{shown}:{pending[0]}")
    return marked, unmarked, stray


def tail(text, lines=15):
    return "\n".join("    | " + l for l in text.splitlines()[-lines:])


class Server:
    def __init__(self, example, cwd, env):
        self.example = example
        self.log = cwd / f".server-{example.line}.log"
        # One command, run in its shell's place so that the stop reaches it.
        self.process = subprocess.Popen(["bash", "-c", "exec " + example.code.strip()], cwd=cwd, env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=open(self.log, "w"), text=True, start_new_session=True)

    def wait_listening(self):
        deadline = time.monotonic() + SERVER_START_SECONDS
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if "listening on http://" in line:
                return ""
            if not line and self.process.poll() is not None:
                return f"exited with {self.process.returncode} before listening\n" + tail(self.log.read_text())
        return "not listening after %d s" % SERVER_START_SECONDS

    def stop(self):
        """SIGTERM, as systemd stops it: it must exit with 0."""
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
        try:
            status = self.process.wait(timeout=90)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            status = self.process.wait()
        self.process.stdout.close()
        return "" if status == 0 else f"stopped with status {status}\n" + tail(self.log.read_text())


def lay_out(cwd, build, sample, installed):
    cwd.mkdir(parents=True)
    for program, folder in (("pdsi", "cli"), ("pdsiserver", "app")):
        (cwd / "build/default" / folder).mkdir(parents=True)
        (cwd / "build/default" / folder / program).symlink_to(build / folder / program)
        if not (installed / program).exists():
            (installed / program).symlink_to(build / folder / program)
    (cwd / "sample").mkdir()
    (cwd / "sample/pdsisc1850-2010.txt").symlink_to(sample)


def run_page(examples, cwd, env):
    failures = []
    server = None

    def stop_server():
        nonlocal server
        if server:
            why = server.stop()
            if why:
                failures.append(server.example.where())
                print(f"FAILED {server.example.where()}: {why}")
            server = None

    for example in examples:
        if example.server:
            stop_server()
            server = Server(example, cwd, env)
            why = server.wait_listening()
            if why:
                failures.append(example.where())
                print(f"FAILED {example.where()}: {why}")
                server.stop()
                server = None
            else:
                print(f"ok     {example.where()}")
            continue
        started = time.monotonic()
        try:
            run = subprocess.run(RUNNERS[example.language] + [example.code], cwd=cwd, env=env,
                                 stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                 timeout=EXAMPLE_SECONDS)
            why = "" if run.returncode == 0 else f"exit status {run.returncode}\n" + tail(run.stdout + run.stderr)
        except subprocess.TimeoutExpired:
            why = f"still running after {EXAMPLE_SECONDS} s"
        if why:
            failures.append(example.where())
            print(f"FAILED {example.where()}: {why}")
        else:
            print(f"ok     {example.where()} in {time.monotonic() - started:.1f} s")
    stop_server()
    return failures


def main():
    build, source, work = (Path(a).resolve() for a in sys.argv[1:4])
    if os.environ.get("PDSI_DOCS_NETNS") != "1":
        # A loopback of our own: the examples' port is free, and nothing
        # they might reach is outside.
        for tool in ("unshare", "ip", "bash", "curl", "Rscript", "/usr/bin/python3"):
            if not shutil.which(tool):
                sys.exit(f"examples_check: {tool} is missing: scripts/packages.sh build test installs it")
        as_user = [] if os.geteuid() == 0 else ["--map-root-user"]
        env = dict(os.environ, PDSI_DOCS_NETNS="1")
        os.execvpe("unshare", ["unshare", "--net", *as_user, "--", sys.executable, *sys.argv], env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)

    pages = [source / "README.md"] + sorted((source / "docs").glob("*.md"))
    found = [(page, *examples_of(page, str(page.relative_to(source)))) for page in pages]

    shutil.rmtree(work, ignore_errors=True)
    installed = work / "bin"
    installed.mkdir(parents=True)
    sample = work / "pdsisc1850-2010.txt"
    subprocess.run([build / "cli/pdsi", "sample", "--quiet", "--out", sample], check=True)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "PDSI_DOCS_NETNS")}
    env["PATH"] = f"{installed}:/usr/local/bin:/usr/bin:/bin"

    failures, count, unmarked_all = [], 0, []
    for page, examples, unmarked, stray in found:
        for where in stray:
            failures.append(where)
            count += 1
            print(f"FAILED {where}: a runs mark not followed by a shell, Python or R block (a server: shell)")
        unmarked_all += unmarked
        if not examples:
            continue
        cwd = work / page.stem
        lay_out(cwd, build, sample, installed)
        count += len(examples)
        failures += run_page(examples, cwd, env)
    if unmarked_all:
        print("not marked to run: " + ", ".join(unmarked_all))
    print(f"docs examples: {count - len(failures)} passed, {len(failures)} failed")
    sys.exit(1 if failures or count == 0 else 0)


if __name__ == "__main__":
    main()
