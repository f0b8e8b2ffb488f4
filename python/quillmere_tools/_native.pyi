from typing import Any

def num_threads() -> int: ...
def smooth_simplify_ragged(
    geometry_type: int,
    coords: Any,
    offsets: tuple[Any, ...],
    iterations: int,
    tolerance: float,
    keep_collapsed: bool,
    /,
) -> tuple[Any, bytearray, tuple[bytearray, ...]]: ...
