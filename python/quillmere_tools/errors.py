"""The exception of quillmere_tools' text functions."""

from __future__ import annotations


class InvalidGeometryError(ValueError):
    """An input text that could not be read.

    ``index`` is the position of the input in the list (0 for the single-text
    functions) and ``reason`` the message that says what is wrong with it: the
    one ``quillmere`` gives for that text where it has one. ``str()`` is
    ``"input {index}: {reason}"``. When several inputs are invalid, the one
    with the lowest index is reported, whatever the number of threads.
    """

    index: int
    reason: str

    def __init__(self, index: int, reason: str) -> None:
        super().__init__(f"input {index}: {reason}")
        self.index = index
        self.reason = reason

    def __reduce__(self) -> tuple[type[InvalidGeometryError], tuple[int, str]]:
        # Pickled with its two fields, so it crosses process boundaries whole.
        return (type(self), (self.index, self.reason))
