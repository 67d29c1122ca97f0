"""tarven-link.exe under wine beside tarven-link on Linux, against the paced simulator.

Run by bench/wine.sh inside its private mount namespace (wine's COM1 is a
symbolic link this script points at each simulator's pseudo-terminal; the
machine's serial devices are /dev/null there). Each round runs every case
once, the builds interleaved (the order turned round every other round), so
a change of the machine's load falls on all of them alike; the table gives
the median of the rounds.

Wake-ups are voluntary plus involuntary context switches: of tarven-link's
process (all its threads, from wait4) and, under wine, of wineserver over the
same run (from /proc). CPU is user plus system time of the same processes
over the run's wall time.
"""

import argparse
import os
import statistics
import subprocess
import time

from bench_parse import (MIB, RESULT_SUCCESS, first_transfer_frame, json_lines, line_problems, link_outcome,
                         sim_frames, transfer_mark, wire_seconds)
from bench_run import LineReader, link_command, make_image, start_sim, stop_sim, wait_child
from wine_report import fmt, render, write_results

LEVEL2_PASSWORD = "TREVSAN"
TICKS = os.sysconf("SC_CLK_TCK")


def proc_counters(pid):
    """(context switches, CPU seconds) of a live process, all its threads."""
    switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        switches += int(line.split()[1])
        except FileNotFoundError:
            continue  # a thread that ended meanwhile
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return switches, (int(fields[11]) + int(fields[12])) / TICKS


def wine_command(args, exe, mode, image, out):
    cmd = [args.wine, exe, "--trace=json", "--port", "COM1"]
    if mode == "upload":
        return cmd + ["upload", "--kind", "software", os.path.basename(image)]
    return cmd + ["readback", "--kind", "software", "--password", LEVEL2_PASSWORD, "--output",
                  os.path.basename(out), "--force"]


def run_case(args, variant, mode, tag):
    """One case: a fresh simulator, one tarven-link run, the figures."""
    work = args.work
    image = os.path.join(work, f"image-{args.size:g}MiB.bin")
    out = os.path.join(work, f"{tag}.out")
    if os.path.exists(out):
        os.unlink(out)
    wine = variant["exe"] is not None
    push = args.wine_push_ms if wine else args.push_ms
    sim, sim_err, _, device = start_sim({"sim": args.sim}, work, mode, image, out, True, push, tag)
    sim_lines = LineReader(sim.stdout)
    if wine:
        if os.path.lexists(args.line):
            os.unlink(args.line)
        os.symlink(device, args.line)
        cmd = wine_command(args, variant["exe"], mode, image, out)
    else:
        cmd = link_command({"link": args.linux_link}, mode, device, image, out)

    server0 = proc_counters(args.wineserver_pid) if wine else (0, 0.0)
    load = os.getloadavg()[0]
    t0 = time.monotonic()
    link = subprocess.Popen(cmd, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    link_out, link_err = LineReader(link.stdout), LineReader(link.stderr)
    status, usage = wait_child(link.pid)
    t1 = time.monotonic()
    server1 = proc_counters(args.wineserver_pid) if wine else (0, 0.0)
    stop_sim(sim, sim_lines, mode)
    sim_err.close()
    for reader in (sim_lines, link_out, link_err):
        reader.join()
    with open(image, "rb") as f:
        want = f.read()
    got = open(out, "rb").read() if os.path.exists(out) else b""
    return figures(variant, mode, {
        "t0": t0, "t1": t1, "status": os.waitstatus_to_exitcode(status), "usage": usage, "load": load,
        "server": (server1[0] - server0[0], server1[1] - server0[1]),
        "sim_events": json_lines(sim_lines.lines), "link_events": json_lines(link_err.lines),
        "ok_image": got == want, "got": len(got), "want": len(want),
    })


def figures(variant, mode, run):
    link_events = run["link_events"]
    problems = []
    if run["status"] != 0:
        problems.append(f"tarven-link exited {run['status']}")
    how, result = link_outcome(link_events)
    if how != "finished" or result != RESULT_SUCCESS:
        problems.append(f"the trace says the run ended {how or 'without a word'} (result {result})")
    if not run["ok_image"]:
        problems.append(f"image differs ({run['got']} of {run['want']} bytes)")
    frames = sim_frames(run["sim_events"])
    traffic, _, _, _ = line_problems(frames, mode, run["want"], True)
    problems += traffic
    wire = wire_seconds(frames)
    wire_transfer = wire_seconds(frames[first_transfer_frame(frames, mode):])
    # The transfer on the program's own clock (under wine, Windows' clock):
    # from its first data frame (upload) or the ready code's arrival
    # (read-back) to its "ended" event, so process start and exit stay out.
    mark = transfer_mark(link_events, mode)
    ended = next((e["t"] for e in reversed(link_events) if e.get("event") == "ended"), None)
    transfer = ended - mark if mark is not None and ended is not None else None
    wall = run["t1"] - run["t0"]
    usage = run["usage"]
    program_switches = usage.ru_nvcsw + usage.ru_nivcsw
    server_switches, server_cpu = run["server"]
    cpu = usage.ru_utime + usage.ru_stime + server_cpu
    return {
        "variant": variant["name"], "mode": mode, "wall": wall, "wire": wire,
        "ratio": wall / wire if wire else None, "transfer": transfer, "wire_transfer": wire_transfer,
        "ratio_transfer": transfer / wire_transfer if transfer and wire_transfer else None,
        "wakeups": (program_switches + server_switches) / wall,
        "program_wakeups": program_switches / wall, "server_wakeups": server_switches / wall,
        "cpu_share": cpu / wall, "load": run["load"], "problems": problems,
    }


def median_row(runs):
    row = {"variant": runs[0]["variant"], "mode": runs[0]["mode"], "rounds": len(runs),
           "problems": sorted({p for r in runs for p in r["problems"]}),
           "ratios": [r["ratio"] for r in runs], "ratios_transfer": [r["ratio_transfer"] for r in runs]}
    for key in ("wall", "wire", "ratio", "transfer", "wire_transfer", "ratio_transfer", "wakeups",
                "program_wakeups", "server_wakeups", "cpu_share", "load"):
        values = [r[key] for r in runs if r[key] is not None]
        row[key] = statistics.median(values) if values else None
    return row


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--sim", required=True)
    p.add_argument("--linux-link", required=True)
    p.add_argument("--wine", required=True)
    p.add_argument("--wineserver-pid", type=int, required=True)
    p.add_argument("--line", required=True, help="the path wine's COM1 stands for")
    p.add_argument("--exe", action="append", default=[], metavar="NAME=PATH",
                   help="a tarven-link.exe to run under wine (repeatable)")
    p.add_argument("--work", required=True)
    p.add_argument("--rounds", type=int, default=2)
    p.add_argument("--size", type=int, default=1, choices=(1, 2), help="MiB")
    p.add_argument("--modes", default="upload,readback")
    p.add_argument("--push-ms", type=int, default=300,
                   help="the simulator starts the read-back this long after it starts (Linux)")
    p.add_argument("--wine-push-ms", type=int, default=300, help="the same under wine")
    p.add_argument("--write", metavar="RESULTS_MD")
    p.add_argument("--info", action="append", default=[], metavar="KEY=VALUE", help="run facts for the report")
    return p.parse_args()


def main():
    args = parse_args()
    os.makedirs(args.work, exist_ok=True)
    make_image(os.path.join(args.work, f"image-{args.size:g}MiB.bin"), int(args.size * MIB), 19)
    variants = [{"name": "Linux", "exe": None}]
    for entry in args.exe:
        name, path = entry.split("=", 1)
        variants.append({"name": f"wine, {name}", "exe": path})
    modes = args.modes.split(",")
    runs = []
    started = time.strftime("%a %b %d %H:%M:%S UTC %Y", time.gmtime())
    load_start = os.getloadavg()
    for n in range(args.rounds):
        order = variants if n % 2 == 0 else variants[::-1]
        for mode in modes:
            for v in order:
                tag = f"r{n}-{mode}-{v['name'].replace(' ', '').replace(',', '-')}"
                r = run_case(args, v, mode, tag)
                runs.append(r)
                print(f"round {n + 1} {mode:8} {v['name']:24} ratio {fmt(r['ratio'], 4)} transfer "
                      f"{fmt(r['ratio_transfer'], 4)} wake-ups/s {r['wakeups']:.0f} "
                      f"CPU {100 * r['cpu_share']:.2f} % load {r['load']:.2f}"
                      + (f" PROBLEMS: {'; '.join(r['problems'])}" if r["problems"] else ""), flush=True)
    rows = [median_row([r for r in runs if r["variant"] == v["name"] and r["mode"] == m])
            for m in modes for v in variants]
    info = dict(kv.split("=", 1) for kv in args.info)
    info.update({"started": started, "ended": time.strftime("%a %b %d %H:%M:%S UTC %Y", time.gmtime()),
                 "load_start": load_start, "load_end": os.getloadavg(), "rounds": args.rounds,
                 "size": args.size, "push_ms": args.push_ms, "wine_push_ms": args.wine_push_ms})
    text = render(rows, runs, info)
    print(text)
    if args.write:
        write_results(args.write, text)
    return 1 if any(r["problems"] for r in runs) else 0


if __name__ == "__main__":
    raise SystemExit(main())
