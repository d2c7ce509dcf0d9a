"""``python -m quillmoor``: the command line (see ``quillmoor.cli``)."""

import sys

from quillmoor.cli import main

sys.exit(main())
