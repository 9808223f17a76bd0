"""The entries of a ledger and their grouping."""

from collections import defaultdict


class Entry:
    """One ledger line: so many items of a kind at a unit price."""

    __slots__ = ("category", "item", "quantity", "price")

    def __init__(self, category, item, quantity, price):
        self.category = category
        self.item = item
        self.quantity = quantity
        self.price = price

    @property
    def value(self):
        return self.quantity * self.price

    def __repr__(self):
        return f"Entry({self.category!r}, {self.item!r}, {self.quantity}, {self.price})"


class Ledger:
    """The entries of one or more files, in reading order."""

    def __init__(self):
        self.entries = []

    def add(self, entry):
        self.entries.append(entry)

    def __len__(self):
        return len(self.entries)

    def by_category(self):
        groups = defaultdict(list)
        for entry in self.entries:
            groups[entry.category].append(entry)
        return dict(sorted(groups.items()))

    def largest(self, count):
        return sorted(self.entries, key=lambda e: (-e.value, e.item))[:count]
