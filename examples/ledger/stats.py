"""Figures of a group of entries."""

import math


def summarise(entries):
    values = [float(entry.value) for entry in entries]
    prices = [float(entry.price) for entry in entries]
    total = math.fsum(values)
    mean_price = math.fsum(prices) / len(prices)
    spread = math.sqrt(math.fsum((p - mean_price) ** 2 for p in prices) / len(prices))
    return {
        "items": len(entries),
        "units": sum(entry.quantity for entry in entries),
        "value": round(total, 2),
        "mean_price": round(mean_price, 2),
        "price_spread": round(spread, 2),
    }
