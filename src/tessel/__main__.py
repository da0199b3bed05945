"""``python -m tessel``: the ``tessel`` command."""

import sys

from tessel.cli import main

sys.exit(main())
