#!/usr/bin/env python3
"""Peak memory of one cartinfo run over 50 and over 5,000 operands.

The lister keeps one cartridge in memory at a time, so its peak resident
size must not grow with the number of operands. Usage:
    bench/cartinfo_rss.py [cartinfo] [make_fixtures] [peak_rss]
"""
import os
import subprocess
import sys
import tempfile

cartinfo = sys.argv[1] if len(sys.argv) > 1 else "build/cartinfo/cartinfo"
make_fixtures = sys.argv[2] if len(sys.argv) > 2 else "build/tests/make_fixtures"
peak_rss = sys.argv[3] if len(sys.argv) > 3 else "build/bench/peak_rss"


def peak_rss_kib(args):
    """Peak RSS of one cartinfo run, measured by a small parent process."""
    with open(os.devnull, "wb") as null:
        result = subprocess.run([peak_rss, cartinfo] + args, stdout=subprocess.PIPE,
                                stderr=null, check=True)
    # cartinfo's listing went to the same pipe; the figure is the last line.
    return int(result.stdout.splitlines()[-1])


with tempfile.TemporaryDirectory() as scratch:
    subprocess.check_call([make_fixtures, scratch])
    sample = os.path.join(scratch, "sample.mdr")
    # Distinct names, so that nothing could be shared between operands.
    operands = []
    for i in range(5000):
        name = os.path.join(scratch, f"c{i}.mdr")
        os.link(sample, name)
        operands.append(name)
    small = peak_rss_kib(operands[:50])
    large = peak_rss_kib(operands)
    print(f"peak RSS, 50 operands:    {small} KiB")
    print(f"peak RSS, 5000 operands:  {large} KiB")
    print(f"ratio: {large / small:.3f} (flat is 1.0)")
