"""The ``quillmere`` command: ``quillmere smooth INPUT -k K -t TOL [-o OUTPUT]``
on GeoJSON, GeoJSON lines, WKT lines, CSV/TSV and GeoParquet files, streamed
in chunks, with bad rows reported by line and outputs never half-written.

Modules: ``main`` (arguments, exit statuses, messages), ``formats`` (each
format's chunks and rows), ``parquet`` (GeoParquet), ``streaming`` (the
reader/writer threads), ``atomic`` (temporary file and rename), ``files``
(input and compression), ``rows`` (invalid rows, rejects), ``progress``.
"""

from .main import main

__all__ = ["main"]
