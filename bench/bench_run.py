"""Runs one benchmark case: tarven-link against a fresh tarven-receiver-sim.

Collects what the two programs said (their JSON traces), the wall time and
resource use of tarven-link, and how busy the machine was; bench_parse turns
that into figures.
"""

import os
import random
import signal
import subprocess
import threading
import time

from bench_parse import MIB, json_lines, sim_answered_last

LEVEL2_PASSWORD = "TREVSAN"


def cpu_busy_snapshot():
    """(busy, total) jiffies of all CPUs together."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + (fields[4] if len(fields) > 4 else 0)
    total = sum(fields[:8])
    return total - idle, total


def make_image(path, size, seed):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    rng = random.Random(seed)
    with open(path, "wb") as f:
        f.write(rng.randbytes(size))


class LineReader:
    """Reads a pipe on a thread; keeps (monotonic time, line) pairs."""

    def __init__(self, stream):
        self.lines = []
        self._stream = stream
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        for raw in iter(self._stream.readline, b""):
            self.lines.append((time.monotonic(), raw.decode(errors="replace").rstrip("\n")))

    def join(self, timeout=5):
        self._thread.join(timeout)


def wait_child(pid, deadline_s=None):
    """os.wait4 with an optional deadline: (status, rusage) or None on time-out."""
    end = None if deadline_s is None else time.monotonic() + deadline_s
    while True:
        if end is None:
            _, status, usage = os.wait4(pid, 0)
            return status, usage
        got, status, usage = os.wait4(pid, os.WNOHANG)
        if got == pid:
            return status, usage
        if time.monotonic() >= end:
            return None
        time.sleep(0.02)


def start_sim(bins, work, mode, image, out, paced, push_ms, tag, latency_ms=0):
    cmd = [bins["sim"], "--trace=json"]
    if paced:
        cmd.append("--paced")
    if latency_ms:
        cmd += ["--adapter-latency", str(latency_ms)]
    if mode == "upload":
        cmd += ["--upload-output", out]
    else:
        cmd += ["--readback-image", image, "--push-readback-after", str(push_ms)]
    err = open(os.path.join(work, f"{tag}.sim.err"), "wb")
    sim = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=err, stdin=subprocess.DEVNULL)
    started = time.monotonic()
    device = sim.stdout.readline().decode().strip()
    if not device.startswith("/dev/"):
        sim.kill()
        raise RuntimeError(f"{tag}: the simulator printed no device ({device!r})")
    return sim, err, started, device


def stop_sim(sim, lines, mode):
    """Stops the simulator once it printed its answer to the program's last
    frame (it prints its trace every 50 ms and drops what is left at a
    signal; the program exits only after that answer reached it)."""
    end = time.monotonic() + 3
    while time.monotonic() < end and not sim_answered_last(json_lines(lines.lines), mode):
        time.sleep(0.02)
    sim.send_signal(signal.SIGTERM)
    waited = wait_child(sim.pid, 15)
    if waited is None:
        sim.kill()
        waited = wait_child(sim.pid)
    sim.returncode = os.waitstatus_to_exitcode(waited[0])
    return waited[1]


def link_command(bins, mode, device, image, out):
    cmd = [bins["link"], "--trace=json", "--device", device]
    if mode == "upload":
        return cmd + ["upload", "--kind", "software", image]
    return cmd + ["readback", "--kind", "software", "--password", LEVEL2_PASSWORD, "--output", out, "--force"]


def run_case(bins, work, mode, size, paced, push_ms, tag, latency_ms=0):
    """Runs one case; returns what bench_parse.measure needs."""
    image = os.path.join(work, f"image-{size // MIB}MiB.bin")
    out = os.path.join(work, f"{tag}.out")
    if os.path.exists(out):
        os.unlink(out)
    sim, sim_err, sim_started, device = start_sim(bins, work, mode, image, out, paced, push_ms, tag, latency_ms)
    sim_lines = LineReader(sim.stdout)

    busy0 = cpu_busy_snapshot()
    load = os.getloadavg()[0]
    t0 = time.monotonic()
    link = subprocess.Popen(link_command(bins, mode, device, image, out), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    link_out = LineReader(link.stdout)
    link_err = LineReader(link.stderr)
    status, usage = wait_child(link.pid)
    t1 = time.monotonic()
    busy1 = cpu_busy_snapshot()

    sim_usage = stop_sim(sim, sim_lines, mode)
    sim_err.close()
    for reader in (sim_lines, link_out, link_err):
        reader.join()
    with open(image, "rb") as f:
        want = f.read()
    got = b""
    if os.path.exists(out):
        with open(out, "rb") as f:
            got = f.read()
    return {
        "tag": tag, "mode": mode, "size": size, "paced": paced,
        "t0": t0, "t1": t1, "link_status": os.waitstatus_to_exitcode(status), "usage": usage,
        "sim_usage": sim_usage, "sim_wall": time.monotonic() - sim_started,
        "busy0": busy0, "busy1": busy1, "load": load,
        "sim_lines": sim_lines.lines, "link_err": link_err.lines,
        "want": want, "got": got,
    }
