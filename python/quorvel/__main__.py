"""``python -m quorvel``: the same tool as the ``quorvel-jid`` command."""

from quorvel.cli import main

raise SystemExit(main(prog="python -m quorvel"))
