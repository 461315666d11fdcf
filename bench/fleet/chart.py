#!/usr/bin/env python3
"""The fleet simulator's chart: adoption of the latest good version, the
share of machines that ever had a bad version, installations in flight and
feed fetches, by day, from the CSV that tamsel-fleet --csv writes.

usage: chart.py FLEET.csv FLEET.png [TITLE]
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], newline="") as f:
        rows = list(csv.DictReader(f))
    days = [int(r["day"]) for r in rows]
    column = lambda name: [float(r[name]) * 100 for r in rows]  # noqa: E731
    fetches = [float(r["feed_fetches_per_machine"]) for r in rows]

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(9, 6.5), sharex=True,
                                      gridspec_kw={"height_ratios": [3, 1]})
    top.plot(days, column("on_latest_good_share"), label="on the latest good version")
    top.plot(days, column("ever_ran_bad_share"), label="ever had a bad version installed")
    top.plot(days, column("pending_share"), label="installation in flight at the day's end")
    top.set_ylabel("% of machines")
    top.set_ylim(0, 100)
    top.grid(True, alpha=0.3)
    top.legend(loc="center right")
    top.set_title(argv[3] if len(argv) == 4 else
                  f"Simulated fleet: {rows[0]['switched_on'] if rows else 0} machines switched on at day 0")
    bottom.plot(days, fetches, color="gray")
    bottom.set_ylim(0, max([1.2] + fetches) * 1.05)
    bottom.set_ylabel("feed fetches\nper machine")
    bottom.set_xlabel(f"day (from {rows[0]['date'] if rows else '?'})")
    bottom.grid(True, alpha=0.3)
    fig.tight_layout()
    fig.savefig(argv[2], dpi=100)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
