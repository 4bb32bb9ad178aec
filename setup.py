"""Builds atsp_solver._core with the repository's CMake project, so that the
module is compiled from the one build description the C++ side uses.

The CMake build folder is build/python/ (or $ATSP_PYTHON_BUILD), kept between
installs so that a second `pip install .` only recompiles what changed.
"""

import os
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        module_dir = Path(self.get_ext_fullpath(ext.name)).resolve().parent
        build_dir = Path(os.environ.get("ATSP_PYTHON_BUILD", ROOT / "build" / "python")).resolve()
        configure = [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DATSP_BUILD_PYTHON=ON",
            "-DATSP_BUILD_TESTS=OFF",
            "-DATSP_BUILD_BENCHMARKS=OFF",
            f"-DPython_EXECUTABLE={sys.executable}",
            f"-DATSP_PYTHON_MODULE_DIR={module_dir}",
        ]
        try:  # pybind11's CMake files, from its Python package where there is one
            import pybind11

            if Path(pybind11.get_cmake_dir()).is_dir():
                configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        subprocess.run(configure, check=True)
        jobs = os.environ.get("ATSP_PYTHON_JOBS", str(os.cpu_count() or 1))
        subprocess.run(
            ["cmake", "--build", str(build_dir), "--target", "_core", "-j", jobs], check=True
        )


setup(ext_modules=[CMakeExtension("atsp_solver._core")], cmdclass={"build_ext": CMakeBuild})
