#!/usr/bin/env python3
"""Upload and read-back speed of tarven-link against the simulated receiver.

Driven by bench/run.sh, which builds the two programs first. Every case runs
tarven-link against a fresh tarven-receiver-sim and measures:

  wall      wall time of tarven-link, from its start to its exit
  wire      the lower bound: every byte both sides put on the line, at 10 bits
            a byte at the speed in force for it. The byte counts come from the
            simulator's --trace=json (each frame it received or sent, with its
            size and the speed), and are checked against the frame counts the
            protocol implies for the image size.
  ratio     wall / wire
  transfer  the part of the run after the protocol's set-up: from the first
            data frame the program sends (upload), or from the receiver's
            "ready" (18) that starts a read-back, to the program's exit. Its
            lower bound counts only the bytes on the line in that window.
  CPU       user + system time of tarven-link (getrusage of the child), as a
            share of its wall time.

Each paced case runs again behind a simulated USB adapter (--latencies, 16
and 1 ms by default): the receiver's bytes reach the program in 62-byte
packets, a short one only when the adapter's latency timer runs out, which
is what every acknowledgement of this stop-and-wait protocol pays.

The machine may be shared (other builds and tests), so every case also
records how busy all its CPUs were (from /proc/stat) while it ran. CPU time is
counted for tarven-link alone, but other load still moves it (more wake-ups,
colder caches): compare repeated runs before reading much into a change.

Both programs run with --trace=json, so every figure comes from JSON lines
stamped with the monotonic clock when the event happened. The work is split
in three: bench_run.py runs one case, bench_parse.py reads the traces into
figures, bench_report.py writes the tables; this file chooses the cases.

Before and after: --before REV (40740f9 by default, the commit the round of
the end's listen, low latency and fewer wake-ups started from) builds that
commit's tarven-link beside the current one (bench_before.py), and every paced
case runs with both programs in turn, in the same run and against the same
simulator settings, so the first table compares like with like.

Writes a Markdown report between two marker lines of bench/RESULTS.md (text
outside the markers, such as the analysis, is kept) and prints the tables.
Every figure of the run is also kept in last-run.json (in --work), from which
--tables-from writes the tables again without running anything.
Exits 1 when any case failed (wrong image, unexpected traffic, link error).
"""

import argparse
import json
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

from bench_parse import MIB, measure
from bench_before import build_before
from bench_report import ROOT, fmt, load_average, machine_info, machine_lines, source_revision, tables, write_results
from bench_run import make_image, run_case

HERE = os.path.dirname(os.path.abspath(__file__))
TARGETS = (1.02, 11.2, 2.0)  # ratio at most, payload kB/s at least, link CPU % of wall under


def parse_args():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    build = os.environ.get("BENCH_BUILD_DIR", os.path.join(ROOT, "build-bench"))
    ap.add_argument("--bin", default=os.path.join(build, "bin"), help="where the two programs are")
    ap.add_argument("--work", default=os.path.join(build, "bench-work"), help="images and outputs")
    ap.add_argument("--sizes", default="1,2", help="image sizes in MiB (1 and/or 2)")
    ap.add_argument("--cases", default="upload,readback")
    ap.add_argument("--no-paced", action="store_true", help="skip the paced runs")
    ap.add_argument("--latencies", default="16,1",
                    help="paced cases repeated behind a USB adapter with these latency timers in ms "
                         "(16: the usual default, 1: lowered); empty for none")
    ap.add_argument("--no-unpaced", action="store_true", help="skip the unpaced runs")
    ap.add_argument("--unpaced-repeats", type=int, default=3, help="unpaced uploads; the read-backs run once")
    ap.add_argument("--serial", action="store_true",
                    help="one paced case at a time (about 10 minutes); by default the upload "
                         "cases and the read-back cases run side by side, each against its own "
                         "simulator, to keep a full run near 5 minutes")
    ap.add_argument("--push-ms", type=int, default=300,
                    help="the simulator starts the read-back this long after it starts")
    ap.add_argument("--before", default="40740f9",
                    help="also run every paced case with tarven-link as built from this commit; "
                         "empty for none")
    ap.add_argument("--results", default=os.path.join(HERE, "RESULTS.md"))
    ap.add_argument("--no-write", action="store_true", help="print only; leave RESULTS.md alone")
    ap.add_argument("--tables-from", metavar="JSON",
                    help="run nothing: write the tables from the figures a run kept (its last-run.json)")
    args = ap.parse_args()
    args.build = build
    return args


def case(bins, args, mode, size, paced, push_ms, tag, latency_ms=0):
    r = measure(run_case(bins, args.work, mode, size, paced, push_ms, tag, latency_ms))
    r["latency_ms"] = latency_ms
    return r


def run_paced(bins, args, modes, sizes, programs):
    """programs: (name, tarven-link, commit) to run each case with; with two,
    they take turns going first, so neither always meets the warmer machine."""
    latencies = [0] + [int(x) for x in args.latencies.split(",") if x]
    cases = [(s, lat) for s in sizes for lat in latencies]

    def lane(mode):
        done = []
        for k, (s, latency) in enumerate(cases):
            for program, link, commit in (programs if k % 2 == 0 else programs[::-1]):
                tag = (f"paced-{mode}-{s // MIB}MiB" + (f"-usb{latency}ms" if latency else "")
                       + ("-before" if program == "before" else ""))
                print(f"... {tag}", flush=True)
                r = case(dict(bins, link=link), args, mode, s, True, args.push_ms, tag, latency)
                r["program"], r["commit"] = (program, commit) if len(programs) > 1 else (None, commit)
                done.append(r)
                print(f"    {tag}: wall {r['wall']:.2f} s, wire {r['wire']:.2f} s, ratio {fmt(r['ratio'], '.4f')}, "
                      f"CPU {r['cpu_share'] * 100:.2f} %" + ("  " + "; ".join(r["problems"]) if r["problems"] else ""),
                      flush=True)
        return done

    if args.serial:
        return [r for m in modes for r in lane(m)]
    with ThreadPoolExecutor(max_workers=len(modes)) as pool:
        return [r for done in list(pool.map(lane, modes)) for r in done]


def run_unpaced(bins, args, modes, sizes):
    results = []
    for m in modes:
        for s in sizes:
            # The read-back's own pauses make it slow and steady off the line: once is enough.
            for k in range(1, (args.unpaced_repeats if m == "upload" else 1) + 1):
                tag = f"unpaced-{m}-{s // MIB}MiB-{k}"
                print(f"... {tag}", flush=True)
                results.append(case(bins, args, m, s, False, 300, tag))
    return results


def report(meta, results):
    body = ["## Latest run", ""] + machine_lines(meta)
    body += [f"- Paced cases: {'one at a time' if meta['serial'] else 'upload and read-back lanes side by side'}; "
             f"read-back pushed by the simulator {meta['push_ms']} ms after it starts",
             f"- Targets: ratio at most {TARGETS[0]} (payload at least {TARGETS[1]} kB/s), "
             f"tarven-link CPU under {TARGETS[2]} % of its wall time", ""]
    before = meta["before"]["commit"] if meta.get("before") else None
    return body + tables(results, TARGETS, before, meta["revision"].split()[0])


def run(args):
    """Runs the cases; returns (meta, results) and keeps both in last-run.json."""
    bins = {"link": os.path.join(args.bin, "tarven-link"), "sim": os.path.join(args.bin, "tarven-receiver-sim")}
    for b in bins.values():
        if not os.access(b, os.X_OK):
            sys.exit(f"missing {b}: run bench/run.sh, which builds it")
    os.makedirs(args.work, exist_ok=True)
    sizes = [int(s) * MIB for s in args.sizes.split(",") if s]
    for s in sizes:
        if s not in (MIB, 2 * MIB):
            sys.exit("sizes: the software kind takes 1 or 2 MiB")
        make_image(os.path.join(args.work, f"image-{s // MIB}MiB.bin"), s, seed=s)
    modes = [m for m in args.cases.split(",") if m]
    revision = source_revision()
    try:
        before = build_before(args.before, args.build) if args.before and not args.no_paced else None
    except (ValueError, RuntimeError, subprocess.CalledProcessError) as e:
        sys.exit(f"bench: {e}")
    programs = [("after", bins["link"], revision.split()[0])]
    if before:
        programs = [("before", before["bin"], before["commit"])] + programs

    meta = {"args": sys.argv[1:], "revision": revision,
            "machine": machine_info(os.path.dirname(os.path.abspath(args.bin))), "serial": args.serial, "push_ms": args.push_ms, "load_start": load_average(),
            "before": {k: before[k] for k in ("commit", "subject")} if before else None,
            "started": subprocess.run(["date"], capture_output=True, text=True).stdout.strip()}
    results = []
    if not args.no_paced:
        results += run_paced(bins, args, modes, sizes, programs)
    if not args.no_unpaced:
        results += run_unpaced(bins, args, modes, sizes)
    meta["finished"] = subprocess.run(["date"], capture_output=True, text=True).stdout.strip()
    meta["load_end"] = load_average()
    kept = os.path.join(args.work, "last-run.json")
    with open(kept, "w") as f:
        json.dump({"meta": meta, "results": results}, f)
    print(f"figures kept in {kept}")
    return meta, results


def main():
    args = parse_args()
    if args.tables_from:
        with open(args.tables_from) as f:
            kept = json.load(f)
        meta, results = kept["meta"], kept["results"]
    else:
        meta, results = run(args)
    body = report(meta, results)
    print("\n".join(body))
    if not args.no_write:
        write_results(args.results, body)
        print(f"written to {args.results}")
    return 1 if any(r["problems"] for r in results) else 0


if __name__ == "__main__":
    sys.exit(main())
