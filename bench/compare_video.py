#!/usr/bin/env python3
"""Runs two builds of video_bench in turn and compares them benchmark by benchmark.

    bench/compare_video.py --runs 5 --filter 'BM_Encode' BEFORE/video_bench AFTER/video_bench

Each round runs BEFORE, then AFTER (the order swaps every round, so that neither
always runs on the warmer machine), each once over the benchmarks the filter
picks. For every benchmark it prints each build's CPU time per iteration (median
and range over the rounds), the speed-up BEFORE / AFTER taken round by round
(median and range), and the median of the counters named by --counter.
"""
import argparse
import json
import statistics
import subprocess
import sys


def run(binary, pattern, extra):
    out = subprocess.run([binary, f"--benchmark_filter={pattern}", "--benchmark_format=json"] + extra,
                         check=True, capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("error_occurred"):
            sys.exit(f"{binary}: {b['name']}: {b.get('error_message')}")
        results[b["name"]] = b
    return results


def spread(values, digits=3):
    return f"{statistics.median(values):.{digits}g} ({min(values):.{digits}g} to {max(values):.{digits}g})"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--filter", default="BM_Encode")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--counter", action="append", default=[])
    parser.add_argument("extra", nargs="*", help="further video_bench arguments (after --)")
    args = parser.parse_args()

    rounds = []
    for r in range(args.runs):
        order = [("before", args.before), ("after", args.after)]
        if r % 2:
            order.reverse()
        got = {name: run(binary, args.filter, args.extra) for name, binary in order}
        rounds.append(got)
        print(f"round {r + 1} of {args.runs} done", file=sys.stderr)

    for name in rounds[0]["before"]:
        before = [r["before"][name]["cpu_time"] for r in rounds]
        after = [r["after"][name]["cpu_time"] for r in rounds]
        unit = rounds[0]["before"][name]["time_unit"]
        ratios = [b / a for b, a in zip(before, after)]
        print(f"{name}\n  before {spread(before)} {unit}   after {spread(after)} {unit}"
              f"   speed-up {spread(ratios)}")
        for counter in args.counter:
            if counter in rounds[0]["before"][name]:
                cb = [r["before"][name][counter] for r in rounds]
                ca = [r["after"][name][counter] for r in rounds]
                print(f"  {counter}: before {spread(cb)}   after {spread(ca)}")


if __name__ == "__main__":
    main()
