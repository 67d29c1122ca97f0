#!/usr/bin/env python3
"""tarven-link's --json and --report output, from the built program against
simulated receivers: every --json output parses, and every report line
matches the schema and names the SHA-256 of the file that was really sent.

    json_check.py TARVEN_LINK TARVEN_RECEIVER_SIM SCHEMA
"""
import hashlib
import json
import os
import re
import resource
import subprocess
import sys
import tempfile

LINK, SIM, SCHEMA_PATH = (os.path.abspath(p) for p in sys.argv[1:4])
with open(SCHEMA_PATH) as f:
    SCHEMA = json.load(f)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


# Only the simulator's pseudo-terminals: none of the machine's own ports.
ENV = {k: v for k, v in os.environ.items() if not k.startswith("TARVEN_COM")}


def fallback_errors(line, schema):
    """Required fields, types, enums and patterns, for a machine without python3-jsonschema."""
    errors = []
    kinds = {"string": str, "integer": int, "number": (int, float), "array": list, "object": dict}

    def value_errors(name, value, rule):
        if "enum" in rule:
            return [] if value in rule["enum"] else [f"{name}: {value!r} not in {rule['enum']}"]
        types = rule.get("type", [])
        types = [types] if isinstance(types, str) else types
        if value is None:
            return [] if "null" in types else [f"{name}: null"]
        if isinstance(value, bool) or not any(isinstance(value, kinds[t]) for t in types if t in kinds):
            return [f"{name}: {value!r} is not {types}"]
        if isinstance(value, str) and "pattern" in rule and not re.search(rule["pattern"], value):
            return [f"{name}: {value!r} does not match {rule['pattern']}"]
        if isinstance(value, dict):
            return object_errors(name + ".", value, rule)
        if isinstance(value, list):
            return [e for i, v in enumerate(value) for e in value_errors(f"{name}[{i}]", v, rule.get("items", {}))]
        return []

    def object_errors(prefix, obj, rule):
        found = [f"{prefix}{k} missing" for k in rule.get("required", []) if k not in obj]
        if rule.get("additionalProperties") is False:
            found += [f"{prefix}{k} not allowed" for k in obj if k not in rule.get("properties", {})]
        for k, sub in rule.get("properties", {}).items():
            if k in obj:
                found += value_errors(prefix + k, obj[k], sub)
        return found

    errors += object_errors("", line, schema)
    return errors


try:
    import jsonschema

    VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)

    def schema_errors(line):
        return [e.message for e in VALIDATOR.iter_errors(line)]

except ImportError:
    print("python3-jsonschema not installed: report lines checked by the fallback checker")

    def schema_errors(line):
        return fallback_errors(line, SCHEMA)


def run(args, env=None, cwd=None, file_size_limit=None):
    def limit():
        if file_size_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))

    ran = subprocess.run([LINK] + args, env=dict(ENV, **(env or {})), cwd=cwd, capture_output=True, timeout=120,
                         preexec_fn=limit)
    return ran.returncode, ran.stdout.decode("utf-8", "strict"), ran.stderr.decode("utf-8", "replace")


def parsed(text, what):
    try:
        return json.loads(text)
    except ValueError as e:
        check(False, f"{what}: not JSON ({e}): {text!r}")
        return None


class Sim:
    def __init__(self, *args):
        self.process = subprocess.Popen([SIM] + [a if isinstance(a, bytes) else str(a) for a in args],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.device = self.process.stdout.readline().decode().strip()

    def stop(self):
        self.process.kill()
        self.process.wait()


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def report_lines(path, count, what):
    with open(path, "rb") as f:
        raw = f.read()
    check(raw.endswith(b"\n"), f"{what}: the report does not end with a newline")
    lines = [parsed(text.decode("utf-8"), f"{what} line") for text in raw.splitlines()]
    check(len(lines) == count, f"{what}: {len(lines)} report lines, expected {count}")
    for line in lines:
        if line is not None:
            for error in schema_errors(line):
                check(False, f"{what}: schema: {error} in {line}")
    return [line for line in lines if line is not None]


def check_batch(folder):
    image = os.path.join(folder, "cam.bin")
    with open(image, "wb") as f:
        f.write(os.urandom(20000))
    report = os.path.join(folder, "bench.jsonl")
    # A receiver text is bytes, not always UTF-8: é in Latin-1, a control byte.
    sims = [Sim("--hardware", b"HW-%d \xe9\x01" % i, "--software", f"SW-{i} \u00e9") for i in range(3)]
    try:
        args = [a for s in sims for a in ("--device", s.device)]
        status, out, err = run(args + ["--json", "--report", report, "upload", "--read-versions", "--kind", "chip",
                                       image])
        check(status == 0, f"batch --json exit {status}: {err}")
        rows = parsed(out, "batch --json") or []
        check(isinstance(rows, list) and len(rows) == 3, f"batch --json: not three rows: {out}")
        lines = report_lines(report, 3, "batch")
        for i, line in enumerate(sorted(lines, key=lambda line: line["device"])):
            check(line["files"][0]["sha256"] == sha256(image), f"batch line {i}: sha256 differs from the file")
            check(line["result"] == "ok" and line["exit_status"] == 0, f"batch line {i}: {line}")
        by_device = {line["device"]: line for line in lines}
        for i, s in enumerate(sims):
            line = by_device.get(s.device, {})
            check(line.get("hardware") == f"HW-{i} \u00e9\u0001", f"hardware text of {s.device}: {line}")
            check(line.get("software") == f"SW-{i} \u00e9", f"software text of {s.device}: {line}")
        check([r.get("device") for r in rows] == [s.device for s in sims], "batch --json rows not in target order")

        # The table: a duration and, with --read-versions, the versions.
        status, out, err = run(args + ["--report", report, "upload", "--read-versions", "--kind", "chip", image])
        check(status == 0 and "VERSIONS" in out.splitlines()[0], f"batch table: {out} {err}")
        check("HW-0 \\xe9\\x01 / SW-0 \\xc3\\xa9" in out, f"batch table lacks the versions: {out}")
        report_lines(report, 6, "two batches")

        # Refused before any child starts (a size fdd does not take): still a record per receiver.
        status, out, err = run(args + ["--json", "--report", report, "upload", "--kind", "fdd", image])
        refused = parsed(out, "refused batch --json") or []
        check(status == 2 and [r.get("result") for r in refused] == ["refused"] * 3, f"refused batch: {out} {err}")
        check(all("accepts" in (r.get("reason") or "") for r in refused), f"refused batch reasons: {out}")
        report_lines(report, 9, "two batches and a refused one")
    finally:
        for s in sims:
            s.stop()


def check_single_runs(folder):
    image = os.path.join(folder, "fdd.bin")
    with open(image, "wb") as f:
        f.write(os.urandom(65536))
    report = os.path.join(folder, "single.jsonl")
    sim = Sim("--hardware", "HW", "--software", "SW", "--readback-image", image)
    aborting = Sim("--abort-at", 2)
    try:
        status, out, _ = run(["ports", "--json"], {"TARVEN_COM1": sim.device, "TARVEN_COM2": "/nonexistent/ttyUSB9"})
        ports = parsed(out, "ports --json") or {}
        check(status == 0 and [p["name"] for p in ports.get("ports", [])][:6] == [f"COM{i}" for i in range(1, 7)],
              f"ports --json: {out}")
        com1, com2, com3 = ports["ports"][:3]
        check(com1["state"] == "available" and com1["reason"] is None and com1["device"] == sim.device, str(com1))
        check(com2["state"] == "missing" and com2["reason"].startswith("missing"), str(com2))
        check(com3["device"] is None and com3["adapter"] is None, str(com3))
        check(isinstance(ports.get("console"), list), "ports --json: no console list")

        status, out, _ = run(["--device", sim.device, "version", "--json"])
        version = parsed(out, "version --json") or {}
        check(status == 0 and version.get("hardware") == "HW" and version.get("software") == "SW", out)

        status, out, _ = run(["--device", sim.device, "--json", "--report", report, "readback", "--kind", "fdd",
                              "--output", "back.bin"], cwd=folder)
        back = parsed(out, "readback --json") or {}
        check(status == 0 and back.get("files", [{}])[0].get("sha256") == sha256(image), f"readback: {out}")

        status, out, _ = run(["--device", aborting.device, "--json", "--report", report, "upload", "--kind", "fdd",
                              image])
        failed = parsed(out, "failed upload --json") or {}
        check(status == 1 and failed.get("result") == "failed" and "aborted" in (failed.get("reason") or ""),
              f"failed upload: {out}")
        # A disturbed line: the engine's doubt as its word, and --verify's finding.
        disturbed = Sim("--slow-ack-at", 5, "--slow-ack-seconds", 4, "--repeat-at", 10, "--readback-upload")
        status, out, _ = run(["--device", disturbed.device, "--json", "--report", report, "upload", "--verify",
                              "--kind", "fdd", image])
        disturbed.stop()
        different = parsed(out, "disturbed upload --json") or {}
        check(status == 6 and different.get("verify") == "different" and different.get("doubt") is not None,
              f"disturbed upload: {out}")
        lines = report_lines(report, 3, "single runs")
        check([line["command"] for line in lines] == ["readback", "upload", "upload"], f"single runs: {lines}")

        # A report that cannot be written stops the run before anything is sent.
        fresh = Sim("--upload-output", os.path.join(folder, "never.bin"))
        status, out, err = run(["--device", fresh.device, "--report", os.path.join(folder, "no", "such.jsonl"),
                                "upload", "--kind", "fdd", image])
        fresh.stop()
        check(status == 2 and "report" in err, f"unwritable report: exit {status}: {err}")
        check(not os.path.exists(os.path.join(folder, "never.bin")), "unwritable report: the image was sent")

        # --read-versions without an answer: exit 4, nothing sent.
        silent = Sim("--silent-requests", 1000, "--upload-output", os.path.join(folder, "unsent.bin"))
        status, out, err = run(["--device", silent.device, "--timeout", "1", "--json", "upload", "--read-versions",
                                "--kind", "fdd", image])
        silent.stop()
        unanswered = parsed(out, "unanswered --read-versions") or {}
        check(status == 4 and unanswered.get("result") == "no version", f"unanswered --read-versions: {out} {err}")
        check(not os.path.exists(os.path.join(folder, "unsent.bin")), "--read-versions without an answer sent")

        # A line that cannot be written after the run (a full disk): said, and the run's status kept.
        full = os.path.join(folder, "full.jsonl")
        status, out, err = run(["--device", sim.device, "--report", full, "upload", "--kind", "fdd", image],
                               file_size_limit=16)
        check(status == 0 and "could not be written" in err, f"report write failure: exit {status}: {err}")
    finally:
        sim.stop()
        aborting.stop()


with tempfile.TemporaryDirectory(prefix="tarven-json-") as folder:
    check_batch(folder)
    check_single_runs(folder)

print(f"{len(failures)} JSON check(s) failed" if failures else "all JSON checks passed")
sys.exit(1 if failures else 0)
