"""Type checks of the installed quillmere (stubs from quillmere-stubs) and
quillmere_tools (inline types, py.typed), run by `make test-typing`:

1. user_code.py passes mypy --strict, and every name of both packages'
   public surface (their __all__ lists) appears in it;
2. wrong_calls.py fails mypy --strict with exactly the errors its
   ``# expect: CODE`` comments name;
3. user_code.py runs;
4. mypy's stubtest finds the types of both packages true to the runtime
   (stubtest_allowlist_<package>.txt list the justified exceptions).

Run with the interpreter whose site-packages hold the installed packages.
"""

from __future__ import annotations

import ast
import importlib
import importlib.util
import re
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
CACHE = ROOT / "build" / "mypy-cache"
PACKAGES = ("quillmere", "quillmere_tools")
ERROR = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): error: (?P<message>.*?)(?:  \[(?P<code>[a-z-]+)\])?$")
EXPECT = re.compile(r"#\s*expect:\s*(?P<codes>[a-z-]+(?:\s*,\s*[a-z-]+)*)")

failures: list[str] = []


def run(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, cwd=HERE)


def mypy(file: str) -> subprocess.CompletedProcess[str]:
    return run(
        "-m", "mypy", "--config-file", str(HERE / "mypy.ini"), "--strict", "--no-color-output", "--show-error-codes",
        "--cache-dir", str(CACHE), file,
    )


def public_names() -> dict[str, set[str]]:
    """Each package's public surface as user code spells it: quillmere's
    __all__; quillmere_tools' __all__, and for each public submodule with an
    __all__ of its own the names it does not re-export, as MODULE.NAME (read
    from source, not imported: a submodule may need an optional dependency)."""
    found: dict[str, set[str]] = {}
    quillmere = importlib.import_module("quillmere")
    found["quillmere"] = set(quillmere.__all__)
    located = importlib.util.find_spec("quillmere_tools")
    assert located is not None and located.submodule_search_locations, "quillmere_tools is not installed"
    package = Path(list(located.submodule_search_locations)[0])
    surfaces: dict[tuple[str, ...], list[str]] = {}
    for path in sorted(package.rglob("*.py")):
        parts = path.relative_to(package).with_suffix("").parts
        if any(part.startswith("_") and part != "__init__" for part in parts):
            continue
        module = parts[:-1] if parts[-1] == "__init__" else parts
        for node in ast.parse(path.read_text(encoding="utf-8")).body:
            targets = node.targets if isinstance(node, ast.Assign) else [node.target] if isinstance(node, ast.AnnAssign) else []
            if any(isinstance(t, ast.Name) and t.id == "__all__" for t in targets) and node.value is not None:
                surfaces[module] = list(ast.literal_eval(node.value))
    top = set(surfaces.get((), []))
    names = set(top)
    for module, exported in surfaces.items():
        names.update(f"{module[-1]}.{name}" for name in exported if module and name not in top)
    found["quillmere_tools"] = names
    return found


def check_user_code() -> None:
    result = mypy("user_code.py")
    if result.returncode != 0:
        failures.append("mypy --strict user_code.py must pass:\n" + result.stdout + result.stderr)
    else:
        print("typing: mypy --strict user_code.py: no error")
    text = (HERE / "user_code.py").read_text(encoding="utf-8")
    for package, names in public_names().items():
        missing = sorted(n for n in names if not re.search(rf"\b{re.escape(n)}\b", text))
        if missing:
            failures.append(
                f"tests/typing/user_code.py never uses {', '.join(missing)} of {package}'s public surface "
                "(__all__): add a typed use of each there"
            )
        else:
            print(f"typing: user_code.py uses all of {package}: {', '.join(sorted(names))}")


def check_wrong_calls() -> None:
    lines = (HERE / "wrong_calls.py").read_text(encoding="utf-8").splitlines()
    expected = {
        (i, code.strip())
        for i, line in enumerate(lines, 1)
        if (m := EXPECT.search(line))
        for code in m["codes"].split(",")
    }
    result = mypy("wrong_calls.py")
    found: set[tuple[int, str | None]] = set()
    for line in result.stdout.splitlines():
        if (m := ERROR.match(line)) and m["file"].endswith("wrong_calls.py"):
            found.add((int(m["line"]), m["code"]))
    missing = sorted(expected - found)
    unexpected = sorted(found - expected, key=lambda e: (e[0], e[1] or ""))
    if result.returncode == 0 or missing or unexpected:
        failures.append(
            "mypy --strict wrong_calls.py must fail with the expected errors only:\n"
            + "".join(f"  line {n}: no [{code}] error: {lines[n - 1].strip()}\n" for n, code in missing)
            + "".join(f"  line {n}: unexpected [{code}] error\n" for n, code in unexpected)
            + result.stdout
        )
    else:
        print(f"typing: mypy --strict wrong_calls.py: the {len(expected)} expected errors and no other")


def check_runs() -> None:
    result = run("user_code.py")
    if result.returncode != 0:
        failures.append("user_code.py must run:\n" + result.stdout + result.stderr)
    else:
        print("typing: user_code.py runs")


def check_stubtest() -> None:
    for package in PACKAGES:
        result = run(
            "-m", "mypy.stubtest", package, "--allowlist", str(HERE / f"stubtest_allowlist_{package}.txt"),
            "--mypy-config-file", str(HERE / "mypy.ini"),
        )
        if result.returncode != 0:
            failures.append(f"stubtest {package}:\n" + result.stdout + result.stderr)
        else:
            print(f"typing: stubtest {package}: " + (result.stdout.strip().splitlines() or ["ok"])[-1])


def main() -> int:
    check_user_code()
    check_wrong_calls()
    check_runs()
    check_stubtest()
    for failure in failures:
        print("typing: FAILED: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
