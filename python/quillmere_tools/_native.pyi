from typing import Any, Optional

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
def smooth_simplify_wkts(
    name: str,
    texts: tuple[Optional[str], ...],
    iterations: int,
    tolerance: float,
    keep_collapsed: bool,
    first_only: bool,
    /,
) -> tuple[Optional[list[Optional[str]]], int, int, Optional[str]]: ...
def smooth_simplify_geojsons(
    name: str,
    texts: tuple[Optional[str], ...],
    iterations: int,
    tolerance: float,
    keep_collapsed: bool,
    first_only: bool,
    /,
) -> tuple[Optional[list[Optional[str]]], int, int, Optional[str]]: ...
