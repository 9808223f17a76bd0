"""The one error type of tally: a ledger it cannot read."""


class LedgerError(Exception):
    """A ledger line or file that cannot be used; carries where it went wrong."""

    def __init__(self, source, line, reason):
        super().__init__(f"{source}:{line}: {reason}")
        self.source = source
        self.line = line
        self.reason = reason
