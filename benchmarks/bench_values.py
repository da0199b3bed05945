"""Throughput of setting-value conversion on typical values.

Times, per value:
- `float(text)` of the host, the floor any conversion is compared with;
- `_parse_value(text)`, the Python-visible function (includes the call overhead);
- the IR builder's route (`parse_value_text`), reached without a Python call
  per value: `_parse_location_comment` evaluates every comma-separated piece
  before it checks the count, so one call over N pieces converts N values.

Run: python benchmarks/bench_values.py
"""

from __future__ import annotations

import timeit

import tessel.core.spiceread as spiceread

VALUES = ["10u", "1.5", "abc", "2.5e-3", "100", "0.45n", "mmi1x2", "'w'"]
PIECES = 2000


def per_call_ns(statement, number: int) -> float:
    return min(timeit.repeat(statement, number=number, repeat=5)) / number * 1e9


def host_float(text):
    try:
        return float(text)
    except ValueError:
        return text


def main() -> None:
    print(f"{'value':>10} {'float()':>10} {'_parse_value':>14} {'builder route':>14}   (ns per value)")
    for value in VALUES:
        float_ns = per_call_ns(lambda: host_float(value), 200_000)
        kwargs = {"w": 1.0} if value.startswith("'") else {}
        parse_ns = per_call_ns(lambda: spiceread._parse_value(value, **kwargs), 200_000)
        if kwargs:
            route = "n/a"
        else:
            comment = "location=(" + ",".join([value] * PIECES) + ")"

            def whole():
                try:
                    spiceread._parse_location_comment(comment)
                except ValueError:
                    pass

            route = f"{per_call_ns(whole, 50) / PIECES:.0f}"
        print(f"{value:>10} {float_ns:>10.0f} {parse_ns:>14.0f} {route:>14}")


if __name__ == "__main__":
    main()
