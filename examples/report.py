"""Rendering a ledger's figures as text or JSON."""

import json

from ledger.stats import summarise


def build(ledger, top):
    categories = {name: summarise(entries) for name, entries in ledger.by_category().items()}
    result = {
        "entries": len(ledger),
        "total_value": round(sum(c["value"] for c in categories.values()), 2),
        "categories": categories,
    }
    if top:
        result["largest"] = [
            {"item": e.item, "value": round(float(e.value), 2)} for e in ledger.largest(top)
        ]
    return result


def as_json(figures):
    return json.dumps(figures, indent=2, sort_keys=True)


def as_text(figures):
    lines = [f"{figures['entries']} entries, total value {figures['total_value']:.2f}"]
    for name, c in figures["categories"].items():
        lines.append(
            f"  {name:<8} {c['items']:>2} items {c['units']:>4} units "
            f"value {c['value']:>8.2f}  mean price {c['mean_price']:.2f} "
            f"(spread {c['price_spread']:.2f})"
        )
    for rank, entry in enumerate(figures.get("largest", []), start=1):
        lines.append(f"  #{rank} {entry['item']}: {entry['value']:.2f}")
    return "\n".join(lines)
