"""Reads the two programs' JSON traces into the figures of one benchmark case.

Both programs run with --trace=json: every frame, progress step and outcome
is one JSON object a line, stamped with the monotonic clock when it happened
(the clock of time.monotonic()). Nothing here reads text meant for people.
"""

import json

MIB = 1048576
BLOCK = 4096
HEADER = 4          # length header in front of the image
COMMAND = 12        # a command frame on the line
DATA_OVERHEAD = 16  # 12-byte header + 4-byte CRC around every data payload
BAUD = 115200
RESULT_SUCCESS = 1  # the result a finished run reports when the transfer succeeded


def json_lines(lines):
    """The JSON objects among (read time, text) lines; anything else is skipped."""
    objects = []
    for _, line in lines:
        if not line.startswith("{"):
            continue
        try:
            objects.append(json.loads(line))
        except ValueError:
            continue
    return objects


def sim_frames(sim_events):
    """Frames the simulator saw or sent that reached the line, in order."""
    frames = []
    for e in sim_events:
        if e.get("event") != "frame" or e.get("dropped"):
            continue
        kind = e["kind"]
        frames.append({
            "from_program": e["from"] == "program",
            "kind": "data" if kind in ("data", "bad crc") else kind,
            "code": e.get("code", 48 if kind in ("data", "bad crc") else None),
            "bytes": e["bytes"],
            "payload": e.get("payload", 0),
            "baud": e.get("baud", 0),
        })
    return frames


def sim_answered_last(sim_events, mode):
    """The simulator has printed its answer to the program's last frame."""
    names = [e.get("event") for e in sim_events]
    if mode == "readback":
        return "read-back finished" in names
    # The answer (0, or 37) to the end code, then the image written to its file.
    frames = [e for e in sim_events if e.get("event") == "frame"]
    last_end = max((i for i, f in enumerate(frames)
                    if f["from"] == "program" and f.get("code") == 19), default=-1)
    return (last_end >= 0 and any(f["from"] == "receiver" for f in frames[last_end + 1:])
            and "image written" in names)


def wire_seconds(frames):
    return sum(f["bytes"] * 10.0 / (f["baud"] or BAUD) for f in frames)


def expected_frames(mode, size):
    """Frames and bytes each side sends in a clean software-kind exchange."""
    total = size + HEADER
    first = min(total, HEADER + BLOCK)
    payloads = [first]
    left = total - first
    while left > 0:
        payloads.append(min(BLOCK, left))
        left -= payloads[-1]
    data = sum(p + DATA_OVERHEAD for p in payloads)
    n = len(payloads)
    if mode == "upload":
        # program: preamble 18, start code, the data frames, end code 19
        # receiver: stand-by 4, one ack per data frame, ack of the end code
        program = 3 * COMMAND + data
        receiver = (n + 2) * COMMAND
    else:
        # receiver: ready 18, the data frames, end code 19
        # program: one ack per data frame, ack of the end code
        receiver = 2 * COMMAND + data
        program = (n + 1) * COMMAND
    return {"data_frames": n, "program_bytes": program, "receiver_bytes": receiver}


def data_marks(link_events, mode):
    """(time, payload) of each data frame the program sent (upload) or took whole (read-back)."""
    if mode == "upload":
        return [(e["t"], e["payload"]) for e in link_events
                if e["event"] == "sent" and e.get("kind") == "data"]
    return [(e["t"], e["payload"]) for e in link_events
            if e["event"] == "received" and e.get("kind") == "data" and e.get("crc") == "good"]


def transfer_mark(link_events, mode):
    """When the transfer proper began: the program's first data frame (upload),
    or the receiver's ready code 18 reaching it (read-back)."""
    for e in link_events:
        if mode == "upload" and e["event"] == "sent" and e.get("kind") == "data":
            return e["t"]
        if (mode == "readback" and e["event"] == "received" and e.get("kind") == "command"
                and e.get("code") == 18):
            return e["t"]
    return None


def cycle_overheads(link_events, mode):
    """One cycle per data frame, timed from the program's own trace: an upload
    from one data frame sent to the next (the frame crosses the line, the
    acknowledgement comes back), a read-back from one data frame received to
    the next (the acknowledgement goes out, the next frame crosses). What a
    cycle takes beyond the wire time of its bytes is its overhead."""
    marks = data_marks(link_events, mode)
    cycles = []
    for (t0, p0), (t1, p1) in zip(marks, marks[1:]):
        payload = p0 if mode == "upload" else p1
        cycles.append((t1 - t0) - (payload + DATA_OVERHEAD + COMMAND) * 10.0 / BAUD)
    return sorted(cycles)


def link_outcome(link_events):
    """The program's own account of how the run ended: (how, result) or (None, None)."""
    how = next((e["how"] for e in reversed(link_events) if e["event"] == "ended"), None)
    result = next((e["result"] for e in reversed(link_events) if e["event"] == "finished"), None)
    return how, result


def line_problems(frames, mode, size, paced):
    """What the traffic on the line says went wrong, if anything."""
    problems = []
    program_bytes = sum(f["bytes"] for f in frames if f["from_program"])
    receiver_bytes = sum(f["bytes"] for f in frames if not f["from_program"])
    data_frames = sum(1 for f in frames if f["kind"] == "data")
    expect = expected_frames(mode, size)
    if (program_bytes, receiver_bytes, data_frames) != (
            expect["program_bytes"], expect["receiver_bytes"], expect["data_frames"]):
        problems.append(f"line traffic {program_bytes}+{receiver_bytes} bytes in {data_frames} data "
                        f"frames, the protocol implies {expect['program_bytes']}+"
                        f"{expect['receiver_bytes']} in {expect['data_frames']}")
    if paced:
        slow = sorted({f["baud"] for f in frames if f["baud"] != BAUD})
        if slow:
            problems.append(f"frames went at {slow} baud, not only {BAUD}")
    return problems, program_bytes, receiver_bytes, data_frames


def first_transfer_frame(frames, mode):
    if mode == "upload":
        return next((i for i, f in enumerate(frames) if f["from_program"] and f["kind"] == "data"),
                    len(frames))
    return next((i for i, f in enumerate(frames) if not f["from_program"] and f["code"] == 18),
                len(frames))


def measure(run):
    """The figures of one case from what bench_run.run_case collected."""
    mode, size, paced = run["mode"], run["size"], run["paced"]
    sim_events = json_lines(run["sim_lines"])
    link_events = json_lines(run["link_err"])
    problems = []
    if run["link_status"] != 0:
        problems.append(f"tarven-link exited {run['link_status']}")
    how, result = link_outcome(link_events)
    if how != "finished" or result != RESULT_SUCCESS:
        problems.append(f"tarven-link's trace says the run ended {how or 'without a word'}"
                        + (f" with result {result}" if result is not None else ""))
    if run["got"] != run["want"]:
        problems.append(f"{'uploaded' if mode == 'upload' else 'read-back'} image differs "
                        f"({len(run['got'])} of {len(run['want'])} bytes)")

    frames = sim_frames(sim_events)
    traffic, program_bytes, receiver_bytes, data_frames = line_problems(frames, mode, size, paced)
    problems += traffic
    wire = wire_seconds(frames)
    mark = transfer_mark(link_events, mode)
    if mark is None:
        problems.append("no transfer mark in the link's trace")
    t0, t1 = run["t0"], run["t1"]
    transfer = (t1 - mark) if mark is not None else None
    wire_transfer = wire_seconds(frames[first_transfer_frame(frames, mode):])
    cycles = cycle_overheads(link_events, mode)

    wall = t1 - t0
    setup = (mark - t0) - (wire - wire_transfer) if mark is not None else None
    usage, sim_usage = run["usage"], run["sim_usage"]
    cpu = usage.ru_utime + usage.ru_stime
    sim_cpu = sim_usage.ru_utime + sim_usage.ru_stime
    busy0, busy1 = run["busy0"], run["busy1"]
    return {
        "tag": run["tag"], "mode": mode, "size": size, "paced": paced,
        "wall": wall, "wire": wire, "ratio": wall / wire if wire else None,
        "transfer": transfer, "wire_transfer": wire_transfer,
        "ratio_transfer": (transfer / wire_transfer) if transfer and wire_transfer else None,
        "idle_before": (mark - t0) if mark is not None else None,
        "program_bytes": program_bytes, "receiver_bytes": receiver_bytes,
        "data_frames": data_frames,
        "cpu": cpu, "utime": usage.ru_utime, "stime": usage.ru_stime,
        "cpu_share": cpu / wall, "nvcsw": usage.ru_nvcsw, "nivcsw": usage.ru_nivcsw,
        "maxrss_kb": usage.ru_maxrss,
        "sim_cpu": sim_cpu, "sim_cpu_share": sim_cpu / run["sim_wall"],
        "host_busy": (busy1[0] - busy0[0]) / max(1, busy1[1] - busy0[1]), "load": run["load"],
        "cycles": cycles, "cycle_sum": sum(cycles),
        # Above the bound and outside the set-up and the data cycles: the last
        # frames, the end code and its answer, the listen after it, the exit.
        "setup": setup, "rest": (wall - wire) - setup - sum(cycles) if setup is not None and cycles else None,
        "wakeups_per_frame": usage.ru_nvcsw / data_frames if data_frames else None,
        "problems": problems,
    }
