# Builds the extension module with the project's CMake (the target
# blocklevels_python_module, with Debian's or the running interpreter's
# headers) and packages it with the Python files of src/python/blocklevels.
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.check_call(["cmake", "-S", SOURCE, "-B", build,
                               "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DBLOCKLEVELS_TESTS=OFF",
                               f"-DPython_EXECUTABLE={sys.executable}"])
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
