"""quillmoor: fast in-memory spreadsheet workbooks for Python report code.

Build a workbook (``Book`` or a ``Service`` subclass), fill ``Sheet`` cells
with typed values, export it as one exact JSON document, and search cells in
parallel - in your own sheets or, through ``quillmoor.readable``, in cells you
already hold (objects or dicts from any spreadsheet reader).
"""

from quillmoor import _quillmoor
from quillmoor._quillmoor import *  # noqa: F401,F403
from quillmoor._quillmoor import __all__ as _extension_all
from quillmoor._quillmoor import __version__  # noqa: F401

readable = _quillmoor.readable

__all__ = list(_extension_all)
