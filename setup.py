# Builds the extension module with the project's CMake (the target
# blocklevels_python_module) and packages it with the Python files of
# src/python/blocklevels.
#
# One build: the module is built in the build directory `make run` and
# `make test` use (build/, or $BLOCKLEVELS_BUILD), so that installing after
# `make test` compiles nothing again. That directory is reused as it is when
# its module was built for the interpreter running this build (a virtual
# environment of it counts as the same); for Debian's interpreter it is
# configured here as `make` configures it when it does not exist yet or has
# no module. A sanitized or unoptimised build, or another interpreter, gets
# a build of its own in build-pip/cmake. The build's progress goes to
# standard output: pip shows it with -v.
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))
DEBIAN_PYTHON = "/usr/bin/python3"


def cache_entries(build):
    """The entries NAME -> value of a build directory's CMakeCache.txt ({} if none)."""
    entries = {}
    try:
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
            for line in cache:
                name, _, rest = line.partition(":")
                if "=" in rest and not line.startswith(("#", "//")):
                    entries[name] = rest.split("=", 1)[1].rstrip("\n")
    except FileNotFoundError:
        pass
    return entries


def same_interpreter(path):
    return bool(path) and os.path.realpath(path) == os.path.realpath(sys.executable)


def is_on(value):
    return value.upper() in ("ON", "TRUE", "1", "YES", "Y")


def choose_build():
    """The build directory, and the options to configure it with (None when
    it is configured for this interpreter already)."""
    shared = os.path.join(SOURCE, os.environ.get("BLOCKLEVELS_BUILD", "build"))
    entries = cache_entries(shared)
    debian = same_interpreter(DEBIAN_PYTHON)
    why = None
    if is_on(entries.get("BLOCKLEVELS_SANITIZE", "OFF")):
        why = "it is sanitized"
    elif entries and entries.get("CMAKE_BUILD_TYPE") not in ("RelWithDebInfo", "Release"):
        why = "it is not optimised"
    elif same_interpreter(entries.get("BLOCKLEVELS_PYTHON_MODULE_INTERPRETER", "")):
        print(f"blocklevels: reusing the build in {shared}", flush=True)
        return shared, None
    elif not debian or not is_on(entries.get("BLOCKLEVELS_PYTHON", "ON")):
        why = f"its module is not built for {sys.executable}"
    if why is None:
        # Configured as `make` configures it: the Python headers found now
        # add the module, and nothing built before compiles again.
        print(f"blocklevels: configuring {shared} as `make` does", flush=True)
        return shared, []
    own = os.path.join(SOURCE, "build-pip", "cmake")
    if entries:
        print(f"blocklevels: not reusing {shared}: {why}", flush=True)
    print(f"blocklevels: building in {own}", flush=True)
    return own, ["-DBLOCKLEVELS_TESTS=OFF", f"-DPython_EXECUTABLE={sys.executable}"]


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build, options = choose_build()
        if options is not None:
            subprocess.check_call(["cmake", "-S", SOURCE, "-B", build,
                                   "-DCMAKE_BUILD_TYPE=RelWithDebInfo", *options])
        subprocess.check_call(["cmake", "--build", build, "-j2",
                               "--target", "blocklevels_python_module"])
        built = os.path.join(build, "python", "blocklevels",
                             os.path.basename(self.get_ext_filename(ext.name)))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(built, target)


setup(
    packages=["blocklevels"],
    package_dir={"": "src/python"},
    package_data={"blocklevels": ["*.pyi", "py.typed"]},
    ext_modules=[Extension("blocklevels._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Beside the project's own build directories, not in build/.
    options={"build": {"build_base": "build-pip"}},
)
