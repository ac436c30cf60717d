#!/usr/bin/env python3
"""Every #include "folder/..." in src/ is an arrow the layers allow: a file
may include its own folder's headers and those of the folders its folder's
CMakeLists.txt declares with USES (blocklevels_layer), nothing else. The
architecture page's table must declare the same arrows. Prints each
forbidden include with its file and line; exits 1 when there is one."""
import pathlib
import re
import sys

source = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
src = source / "src"

# The folders each layer may use, from its blocklevels_layer(... USES ...).
uses = {}
for cmake in sorted(src.glob("*/CMakeLists.txt")):
    folder = cmake.parent.name
    text = cmake.read_text()
    found = re.search(r"blocklevels_layer\(\s*\w+(.*?)\)", text, re.S)
    declared = []
    if found and "USES" in found.group(1):
        declared = found.group(1).split("USES", 1)[1].split()
    uses[folder] = set(declared)
# The program links its layers without being one.
program = re.search(r"target_link_libraries\(blocklevels PRIVATE ([^)]*)\)",
                    (src / "program" / "CMakeLists.txt").read_text())
uses["program"] = {name.replace("blocklevels_", "") for name in program.group(1).split()}

problems = []
for path in sorted(src.rglob("*")):
    if path.suffix not in (".hpp", ".cpp") or path.parent.parent != src:
        continue
    folder = path.parent.name
    for number, line in enumerate(path.read_text().splitlines(), 1):
        include = re.match(r'\s*#\s*include\s+"([a-z_]+)/', line)
        if not include:
            continue
        target = include.group(1)
        if target != folder and target not in uses.get(folder, set()):
            problems.append(f"{path.relative_to(source)}:{number}: {folder}/ includes {target}/, "
                            f"which it does not use (USES {' '.join(sorted(uses.get(folder, [])))})")

# The architecture page's table: | `folder/` | what it holds | uses |.
page = (source / "docs" / "architecture.md").read_text()
for row in re.finditer(r"^\| `(\w+)/` \| .* \| ([^|]*) \|$", page, re.M):
    folder, listed = row.group(1), row.group(2).strip()
    said = set() if listed == "nothing" else {w.strip() for w in listed.split(",")}
    if folder in uses and said != uses[folder]:
        problems.append(f"docs/architecture.md: {folder}/ uses {', '.join(sorted(said))}, "
                        f"but its CMakeLists.txt says {', '.join(sorted(uses[folder]))}")
    uses.pop(folder, None)
for folder in sorted(uses):
    problems.append(f"docs/architecture.md: no row for {folder}/")

for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
