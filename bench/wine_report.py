"""The wine bench's table, and its section of bench/RESULTS.md."""

BEGIN = "<!-- wine:begin (bench/wine.sh --write regenerates all above the notes marker) -->"
END = "<!-- wine:end -->"
NOTES = "<!-- wine:notes (by hand; kept by --write) -->"
TARGETS = {"upload": 1.012, "readback": 1.005}  # ratio to the wire bound
WAKEUPS_TARGET = 400  # a second


def fmt(value, digits):
    return "-" if value is None else f"{value:.{digits}f}"


def verdict(row):
    """Which targets the case meets (wake-ups, whole-run ratio, transfer ratio)."""
    limit = TARGETS[row["mode"]]
    notes = []
    if row["problems"]:
        return "FAILED: " + "; ".join(row["problems"])
    notes.append("wake-ups met" if row["wakeups"] <= WAKEUPS_TARGET else f"wake-ups > {WAKEUPS_TARGET}")
    notes.append("ratio met" if row["ratio"] <= limit else f"ratio > {limit}")
    rt = row["ratio_transfer"]
    notes.append("transfer met" if rt is not None and rt <= limit else f"transfer > {limit}")
    return ", ".join(notes)


def render(rows, runs, info):
    load0, load1 = info["load_start"], info["load_end"]
    lines = [
        "## Under wine beside Linux",
        "",
        f"- Run: {info['started']} to {info['ended']} (UTC), `{info.get('command', 'bench/wine.sh')}`",
        f"- Machine: {info.get('machine', '?')}; load average (1, 5, 15 min) "
        f"{load0[0]:.2f} {load0[1]:.2f} {load0[2]:.2f} at the start, {load1[0]:.2f} {load1[1]:.2f} "
        f"{load1[2]:.2f} at the end",
        f"- Builds: {info.get('builds', '?')}; {info.get('wine_version', 'wine')}",
        f"- {info['size']:g} MiB, software kind, paced simulator at 115,200 baud on a pseudo-terminal; wine's COM1 "
        f"is a link to it. Read-back pushed by the simulator {info['push_ms']} ms after it starts on Linux, "
        f"{info['wine_push_ms']} ms under wine. {info['rounds']} rounds, the cases "
        f"interleaved; the figures are the medians.",
        "- ratio: wall time from starting the program to its exit over the bytes' wire time; under wine the "
        "wall includes wine's start of the process. ratio (transfer): from the first data frame sent (upload) or "
        "the ready code received (read-back) to the program's \"ended\" event, on the program's own clock, over "
        "the wire time from that frame on; it leaves out the protocol's fixed pauses before the transfer (500 ms "
        "before an upload's start code) and process start and exit.",
        "- wake-ups/s: voluntary + involuntary context switches of tarven-link's process (all threads, wait4) "
        "plus, under wine, of wineserver over the same run (/proc), over the wall time. CPU %: user + system "
        "time of the same processes over the wall time. Wine's other processes (services, winedevice, "
        "explorer) are not counted.",
        f"- Targets: at most {WAKEUPS_TARGET} wake-ups a second, upload ratio at most {TARGETS['upload']}, "
        f"read-back at most {TARGETS['readback']}.",
        "",
        "| case | build | wall s | wire s | ratio | transfer s | wire in transfer s | ratio (transfer) "
        "| wake-ups/s (program + wineserver) | program | wineserver | CPU % | targets |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for r in rows:
        lines.append(
            f"| {r['mode']} {info['size']:g} MiB | {r['variant']} | {fmt(r['wall'], 2)} | {fmt(r['wire'], 2)} "
            f"| {fmt(r['ratio'], 4)} | {fmt(r['transfer'], 2)} | {fmt(r['wire_transfer'], 2)} "
            f"| {fmt(r['ratio_transfer'], 4)} | {fmt(r['wakeups'], 0)} | {fmt(r['program_wakeups'], 0)} "
            f"| {fmt(r['server_wakeups'], 0)} | {fmt(100 * r['cpu_share'], 2)} | {verdict(r)} |")
    lines += ["", "Each run (round order as run; load = 1-minute load average when it started):", "",
              "| case | build | ratio | ratio (transfer) | wake-ups/s | CPU % | load |",
              "|---|---|---:|---:|---:|---:|---:|"]
    for r in runs:
        lines.append(f"| {r['mode']} | {r['variant']} | {fmt(r['ratio'], 4)} | {fmt(r['ratio_transfer'], 4)} "
                     f"| {fmt(r['wakeups'], 0)} | {fmt(100 * r['cpu_share'], 2)} | {r['load']:.2f} |")
    return "\n".join(lines) + "\n"


def write_results(path, text):
    """Puts the section between its markers, at the end of the file when it has none yet.
    Notes written by hand after the NOTES marker inside the section stay."""
    with open(path) as f:
        old = f.read()
    start = old.find("<!-- wine:begin")
    end = old.find(END)
    notes = ""
    if start >= 0 and end > start:
        inside = old[start:end]
        if NOTES in inside:
            notes = inside[inside.index(NOTES):]
    block = f"{BEGIN}\n{text}\n{notes or NOTES + chr(10)}{END}\n"
    if start >= 0 and end > start:
        new = old[:start] + block + old[end + len(END):].lstrip("\n")
    else:
        new = old.rstrip("\n") + "\n\n" + block
    with open(path, "w") as f:
        f.write(new)
