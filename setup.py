"""Builds the Python module tempo with the project's own CMake build, so
that it is compiled with the same flags as the programs (the classic
method's arithmetic depends on them), and installs it with its typing
stubs. Used by pip install --no-build-isolation . from the clone."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(tempo VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    """The extension tempo._tempo as CMake builds it (target tempo_python)."""

    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise RuntimeError("the module is built with CMake: apt-get install cmake ninja-build g++")
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = [cmake, "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DTEMPO_WITH_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}",
                     # The module reads files; it writes no tags and keeps no index.
                     "-DTEMPO_WITH_TAGLIB=OFF", "-DTEMPO_WITH_SQLITE=OFF"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run([cmake, "--build", str(build), "--target", "tempo_python", "-j", jobs], check=True)
        built = next((build / "python" / "tempo").glob("_tempo*"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    packages=["tempo"],
    package_dir={"": "python"},
    package_data={"tempo": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("tempo._tempo", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
