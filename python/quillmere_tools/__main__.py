"""``python -m quillmere_tools`` runs the ``quillmere`` command."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
