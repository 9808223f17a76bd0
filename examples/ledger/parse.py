"""Ledger text to entries."""

from decimal import Decimal, InvalidOperation

from errors import LedgerError
from ledger.model import Entry

FIELDS = 4


def parse_line(source, number, text):
    parts = [part.strip() for part in text.split(",")]
    if len(parts) != FIELDS:
        raise LedgerError(source, number, f"expected {FIELDS} fields, found {len(parts)}")
    category, item, quantity, price = parts
    try:
        count = int(quantity)
    except ValueError:
        raise LedgerError(source, number, f"quantity {quantity!r} is not a whole number") from None
    try:
        unit = Decimal(price)
    except InvalidOperation:
        raise LedgerError(source, number, f"price {price!r} is not a number") from None
    if count < 0 or unit < 0:
        raise LedgerError(source, number, "quantity and price must not be negative")
    return Entry(category, item, count, unit)


def parse_text(source, text, ledger):
    for number, line in enumerate(text.splitlines(), start=1):
        stripped = line.strip()
        if stripped and not stripped.startswith("#"):
            ledger.add(parse_line(source, number, stripped))
    return ledger
