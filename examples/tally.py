"""tally: summarise stock ledgers. The program's main module."""

import argparse
import sys

import report
from errors import LedgerError
from ledger.model import Ledger
from ledger.parse import parse_text


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="tally", description="Summarise stock ledgers.")
    parser.add_argument("files", nargs="+", help="ledger files: category,item,quantity,price")
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    parser.add_argument("--top", type=int, default=0, metavar="N", help="list the N largest items")
    return parser.parse_args(argv)


def load(paths):
    ledger = Ledger()
    for path in paths:
        try:
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
        except OSError as error:
            raise LedgerError(path, 0, error.strerror) from None
        parse_text(path, text, ledger)
    if not len(ledger):
        raise LedgerError(", ".join(paths), 0, "no entries")
    return ledger


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        figures = report.build(load(args.files), args.top)
    except LedgerError as error:
        print(f"tally: {error}", file=sys.stderr)
        sys.exit(2)
    print(report.as_json(figures) if args.json else report.as_text(figures))


if __name__ == "__main__":
    main()
