#!/usr/bin/python3
"""Runs the README's commands as a reader copies them, and checks them.

    readme_test.py README BUILD [--section TITLE | --except-section TITLE] [--python]
    readme_test.py README --untested COUNT

Commands are the fenced `sh` blocks (each a script) and the lines of fenced
`text` blocks that start with "$ " (with their continuation lines); the lines
after such a command up to the next are its output. A block whose line
before the fence is `<!-- untested: REASON -->` is not run. Every command
must exit with status 0, and a command shown with output must print it
(standard output and error together): a line "..." stands for any number of
lines, a line ending in "..." for any line that starts with the rest, and
every other line is matched exactly.

The blocks run in README order in one scratch directory: a copy of the
source tree whose build/ is BUILD, an empty HOME, no standard input, the
environment of a fresh login, and its own /tmp (a private mount of the
scratch directory's tmp/), so that the commands run exactly as written.
--section runs the blocks of the sections titled TITLE only, --except-section
all others; --python says that they install the Python package, and skips
them where that cannot be done (a sanitized build, no module, a tool
missing). With --untested, the marked blocks are listed, and their number
must be COUNT: a block no test runs is a decision made here too.

Exit status 0: all passed; 1: a failure (said on standard output); 77:
skipped, with the reason.
"""
import argparse
import functools
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
UNTESTED = re.compile(r"^<!--\s*untested:\s*(.*?)\s*-->\s*$")
FENCE = re.compile(r"^```(\w*)\s*$")


class Block:
    def __init__(self, line, section, language, lines, untested):
        self.line, self.section, self.language = line, section, language
        self.lines, self.untested = lines, untested

    def commands(self):
        """(command, expected output lines or None) in order; empty when the
        block is no commands (a `text` block of a file's contents)."""
        if self.language == "sh":
            return [("\n".join(self.lines), None)]
        commands = []
        for line in self.lines:
            if line.startswith("$ "):
                commands.append([line[2:], []])
            elif commands and commands[-1][0].endswith("\\") and not commands[-1][1]:
                commands[-1][0] += "\n" + line
            elif commands:
                commands[-1][1].append(line)
        return [(command, expected or None) for command, expected in commands]


def blocks_of(readme):
    """The README's `sh` and `text` blocks, with their sections and markers."""
    blocks, section, previous = [], "", ""
    with open(readme, encoding="utf-8") as text:
        lines = text.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("## "):
            section = line[3:].strip()
        opening = FENCE.match(line)
        if opening:
            end = i + 1
            while end < len(lines) and not lines[end].startswith("```"):
                end += 1
            marker = UNTESTED.match(previous)
            if marker and not marker.group(1):
                raise SystemExit(f"README line {i}: an untested marker without its reason")
            if opening.group(1) in ("sh", "text"):
                blocks.append(Block(i + 1, section, opening.group(1), lines[i + 1:end],
                                    marker.group(1) if marker else None))
            i, previous = end, "```"
        elif line.strip():
            previous = line
        i += 1
    return blocks


def output_matches(expected, actual):
    """Whether the output lines match the README's, with its "..." elisions."""
    @functools.lru_cache(maxsize=None)
    def match(e, a):
        if e == len(expected):
            return a == len(actual)
        if expected[e] == "...":
            return any(match(e + 1, b) for b in range(a, len(actual) + 1))
        if a == len(actual):
            return False
        line = expected[e]
        same = (actual[a].startswith(line[:-3]) if line.endswith("...") else actual[a] == line)
        return same and match(e + 1, a + 1)
    sys.setrecursionlimit(max(10000, 4 * (len(expected) + len(actual))))
    return match(0, 0)


def fresh_environment(home):
    """A login's environment: HOME the scratch one, nothing of the caller's
    Python, Jupyter or pip setup, and the PATH without the caller's home."""
    caller_home = os.environ.get("HOME", "/nonexistent")
    path = [d for d in os.environ.get("PATH", "/usr/bin:/bin").split(":")
            if d and not d.startswith(caller_home + "/") and d != caller_home]
    keep = ("LANG", "LC_ALL", "TERM", "USER", "LOGNAME", "ASAN_OPTIONS", "UBSAN_OPTIONS")
    environment = {name: os.environ[name] for name in keep if name in os.environ}
    environment.update(HOME=home, PATH=":".join(path), SHELL="/bin/sh")
    return environment


def private_tmp_prefix():
    """The command that runs the rest with its own /tmp, or None."""
    if shutil.which("unshare") is None:
        return None
    user = [] if os.geteuid() == 0 else ["--user", "--map-root-user"]
    prefix = ["unshare", *user, "--mount", "--propagation", "private", "--", "sh", "-c",
              'mount --bind "$0" /tmp && cd "$1" && shift && exec "$@"']
    probe = subprocess.run([*prefix, tempfile.gettempdir(), "/", "true"],
                           stdin=subprocess.DEVNULL, capture_output=True)
    return prefix if probe.returncode == 0 else None


def copy_source(source, checkout, build):
    """The source tree without its build directories and what they leave."""
    def ignore(directory, names):
        top = os.path.samefile(directory, source)
        return [n for n in names if n in ("__pycache__", ".git") or n.endswith(".egg-info")
                or (top and (n.startswith("build") or n.startswith("fuzz-corpus")))]
    shutil.copytree(source, checkout, ignore=ignore, symlinks=True)
    os.symlink(os.path.abspath(build), os.path.join(checkout, "build"))


def python_section_prerequisites(build):
    """Why the Python package's installation cannot be followed here, or None."""
    cache = os.path.join(build, "CMakeCache.txt")
    entries = open(cache, encoding="utf-8").read() if os.path.exists(cache) else ""
    if "BLOCKLEVELS_SANITIZE:BOOL=ON" in entries:
        return ("the sanitized build's module loads only with the sanitizers' runtimes "
                "preloaded; the plain build's suite runs these commands")
    if not re.search(r"^BLOCKLEVELS_PYTHON_MODULE_INTERPRETER:INTERNAL=.+$", entries, re.M):
        return "the build has no Python module (Debian: pybind11-dev, python3-dev)"
    missing = [name for name in ("venv", "ensurepip", "setuptools", "wheel", "ipykernel",
                                 "nbclient", "matplotlib")
               if subprocess.run(["/usr/bin/python3", "-c", f"import {name}"],
                                 capture_output=True).returncode != 0]
    if missing:
        return "Debian's python3 lacks " + ", ".join(missing) + " (see .ci/install-deps)"
    if shutil.which("jupyter-execute") is None:
        return "jupyter-execute is not installed (Debian: python3-nbclient)"
    return None


def run_blocks(blocks, source, build, scratch):
    checkout, home, tmp = (os.path.join(scratch, name) for name in ("checkout", "home", "tmp"))
    copy_source(source, checkout, build)
    os.makedirs(home)
    os.makedirs(tmp)
    if os.path.realpath(scratch).startswith("/tmp/"):
        # The README's commands get a /tmp of their own, which would hide a
        # checkout (and a build) that lies under /tmp.
        print(f"skipped: readme: the build directory {build} lies under /tmp, which the "
              "README's commands replace with their own; build elsewhere to run them")
        return SKIPPED
    prefix = private_tmp_prefix()
    if prefix is None:
        print("skipped: readme: no private /tmp (unshare with a mount namespace) here")
        return SKIPPED
    environment = fresh_environment(home)
    failures = 0
    for block in blocks:
        for command, expected in block.commands():
            shown = command.replace("\n", "\n  ")
            print(f"README line {block.line} ({block.section}): {shown}", flush=True)
            try:
                run = subprocess.run([*prefix, tmp, checkout, "sh", "-e", "-c", command],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, env=environment, timeout=1800)
                status, output = run.returncode, run.stdout.decode(errors="replace")
            except subprocess.TimeoutExpired as timeout:
                status, output = "timed out", (timeout.output or b"").decode(errors="replace")
            lines = output.split("\n")
            if lines and lines[-1] == "":
                lines.pop()
            problem = None
            if status != 0:
                problem = f"exit status {status}"
            elif expected is not None and not output_matches(expected, lines):
                problem = "the output is not the README's"
            if problem:
                failures += 1
                print(f"FAILED: {problem}; the README shows:")
                print("\n".join("  | " + line for line in expected or ["(no output shown)"]))
                print("the command printed:")
                print("\n".join("  | " + line for line in lines[-60:]))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("readme")
    parser.add_argument("build", nargs="?")
    parser.add_argument("--section", action="append", default=[])
    parser.add_argument("--except-section", action="append", default=[])
    parser.add_argument("--untested", type=int)
    parser.add_argument("--python", action="store_true",
                        help="the commands install the Python package: skip where they cannot")
    args = parser.parse_args()
    blocks = blocks_of(args.readme)

    if args.untested is not None:
        blocks = [b for b in blocks if b.commands()]
        untested = [b for b in blocks if b.untested]
        for block in untested:
            print(f"untested: README line {block.line} ({block.section}): {block.untested}")
        print(f"{len(untested)} of {len(blocks)} command blocks are not run by a test")
        if len(untested) != args.untested:
            print(f"FAILED: {args.untested} untested blocks expected: a block no test runs "
                  "is decided in tests/CMakeLists.txt too")
            return 1
        return 0

    chosen = [b for b in blocks if b.commands() and not b.untested
              and (not args.section or b.section in args.section)
              and b.section not in args.except_section]
    if not chosen:
        print("FAILED: no commands to run in the README's sections", args.section or "")
        return 1
    if args.python:
        why = python_section_prerequisites(args.build)
        if why:
            print(f"skipped: readme: {why}")
            return SKIPPED
    source = os.path.dirname(os.path.abspath(args.readme))
    scratch = tempfile.mkdtemp(prefix="readme-", dir=os.path.abspath(args.build))
    try:
        status = run_blocks(chosen, source, args.build, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if status == 0:
        print(f"{sum(len(b.commands()) for b in chosen)} README commands ran as written")
    return status


if __name__ == "__main__":
    sys.exit(main())
