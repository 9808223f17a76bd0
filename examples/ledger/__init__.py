"""Reading ledgers and computing their figures."""
