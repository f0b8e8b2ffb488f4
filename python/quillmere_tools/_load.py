"""Loads quillmere_tools._native from quillmere's shared object.

Both extension modules live in one shared object, so the process has a
single worker pool whichever module is used first.
"""

from __future__ import annotations

import importlib.machinery
import importlib.util
import sys


def load_native() -> None:
    name = "quillmere_tools._native"
    if name in sys.modules:
        return
    found = importlib.util.find_spec("quillmere")
    if found is None or found.origin is None:
        raise ImportError("quillmere_tools needs the quillmere extension module, which is not installed")
    loader = importlib.machinery.ExtensionFileLoader(name, found.origin)
    native_spec = importlib.util.spec_from_file_location(name, found.origin, loader=loader)
    assert native_spec is not None
    module = importlib.util.module_from_spec(native_spec)
    sys.modules[name] = module
    try:
        loader.exec_module(module)
    except BaseException:
        del sys.modules[name]
        raise
