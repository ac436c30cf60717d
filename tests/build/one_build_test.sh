#!/usr/bin/env bash
# One build for the two commands and the package:
#
#   tests/build/one_build_test.sh flags SOURCE_DIR WORK_DIR
#   tests/build/one_build_test.sh make-run SOURCE_DIR BUILD_DIR
#
# flags: configures SOURCE_DIR twice in WORK_DIR, as `make run` does on a
# fresh machine (neither GoogleTest nor pybind11 installed yet) and as
# `make test` does after installing them, and checks that every file the
# first compiles, the second compiles with the same command: then `make
# test` compiles nothing again. make-run: `make run` with BUILD_DIR built
# already writes on standard output the dialogue's bytes and nothing else
# (the same as the program run directly), and says on standard error what
# it builds; skipped (77) for a directory make did not configure.
set -uo pipefail
mode=$1 source=$2 dir=$3
fail() { echo "FAILED: $*"; exit 1; }

case $mode in
  flags)
    rm -rf "$dir/fresh" "$dir/full"
    configure() {
      cmake -S "$source" -B "$dir/$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${@:2}" \
        >"$dir/$1.log" 2>&1 || fail "configuring $1: $(tail -5 "$dir/$1.log")"
    }
    configure fresh -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_pybind11=ON
    configure full
    # Each compile command by its source file, with the build directory's
    # own path taken out.
    commands() {
      /usr/bin/python3 - "$dir/$1" <<'PYTHON'
import json, sys
build = sys.argv[1]
for entry in json.load(open(build + "/compile_commands.json")):
    command = entry["command"].replace(build, "BUILD")
    print(entry["file"] + "\t" + command)
PYTHON
    }
    commands fresh | sort >"$dir/fresh.commands" || fail "no compile commands"
    commands full | sort >"$dir/full.commands" || fail "no compile commands"
    count=$(wc -l <"$dir/fresh.commands")
    [ "$count" -gt 20 ] || fail "only $count files compiled for the program"
    missing=$(comm -23 "$dir/fresh.commands" "$dir/full.commands")
    [ -z "$missing" ] || fail "make test would compile again (first differing command):" \
      "$(head -1 <<<"$missing")"
    echo "the $count compile commands without GoogleTest and pybind11 are the same with them"
    rm -rf "$dir/fresh" "$dir/full"
    ;;
  make-run)
    # make run configures the directory as make does: one configured
    # otherwise would be changed, and built again, under the running suite.
    grep -qx 'CMAKE_BUILD_TYPE:STRING=RelWithDebInfo' "$dir/CMakeCache.txt" ||
      { echo "skipped: Build.make_run: $dir is not configured as make configures it"; exit 77; }
    work=$(mktemp -d "${TMPDIR:-/tmp}/blocklevels-make-run.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    printf '20\n0.1\n3\n1\n2\n6\n2\n5\n%s\n' "$work/report.txt" >"$work/answers"
    make -C "$source" --no-print-directory run BUILD="$dir" <"$work/answers" \
      >"$work/make.out" 2>"$work/make.err" || fail "make run: $(tail -5 "$work/make.err")"
    "$dir/blocklevels" <"$work/answers" >"$work/program.out" 2>"$work/program.err" ||
      fail "the program itself"
    cmp "$work/make.out" "$work/program.out" ||
      fail "make run's standard output is not the dialogue's: $(diff "$work/make.out" "$work/program.out" | head -5)"
    grep -q "^building blocklevels in $dir/ " "$work/make.err" ||
      fail "make run does not say what it builds: $(head -3 "$work/make.err")"
    echo "make run: $(wc -c <"$work/make.out") bytes on standard output, the dialogue's"
    ;;
  *) fail "no mode '$mode'" ;;
esac
