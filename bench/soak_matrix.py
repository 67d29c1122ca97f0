#!/usr/bin/env python3
"""Adds up the fault soak's per-row machine lines ("soak-cell", one per
transfer and profile, from one or more soak_tests processes) into the
markdown matrix that bench/RESULTS.md keeps; or, with --insert FILE, puts
such a matrix (read from stdin) into FILE between its long-soak markers."""
import argparse
import sys

OUTCOMES = ["identical", "limit-diff", "DIFFERENT", "result0", "result2", "limit-hang", "HANG"]
CONFIRMATION = ["confirmed-identical", "confirmed-different", "confirmed-different-invisible", "unconfirmed-identical", "unconfirmed-different",
                "verified", "verify-caught", "verify-missed", "verify-false-alarm", "verify-not-done"]
BEGIN, END = "<!-- long-soak:begin (bench/long-soak.sh --write) -->", "<!-- long-soak:end -->"


def read_cells(lines):
    cells = {}
    order = []
    for line in lines:
        parts = line.rstrip("\n").split("\t")
        if len(parts) != 3 + 1 + len(OUTCOMES) + len(CONFIRMATION) or parts[0] != "soak-cell":
            continue
        key = (parts[1], parts[2])
        values = [int(v) for v in parts[3:]]
        if key not in cells:
            cells[key] = [0] * len(values)
            order.append(key)
        cells[key] = [a + b for a, b in zip(cells[key], values)]
    return order, cells


def row(cells_):
    return "| " + " | ".join(str(c) for c in cells_) + " |"


def matrix(args, order, cells):
    out = ["## Long soak", ""]
    total_runs = sum(c[0] for c in cells.values())
    out.append(f"- Run: {args.started} to {args.finished} (`date -u`), `bash bench/long-soak.sh {args.runs}`"
               f" ({args.jobs} process(es), scale {float(args.scale):.3f}), commit {args.commit}")
    out.append(f"- Runs: {total_runs} in all; soak_tests exit status {'0' if args.status == '0' else 'non-zero'}")
    out.append("")
    out.append("Every run, by what reached the far side (columns as in the CI soak's matrix):")
    out.append("")
    out.append(row(["transfer", "fault", "runs"] + OUTCOMES))
    out.append(row(["---", "---"] + ["---:"] * (1 + len(OUTCOMES))))
    totals = [0] * (1 + len(OUTCOMES) + len(CONFIRMATION))
    for key in order:
        c = cells[key]
        totals = [a + b for a, b in zip(totals, c)]
        out.append(row([key[0], key[1]] + c[:1 + len(OUTCOMES)]))
    out.append(row(["all", ""] + totals[:1 + len(OUTCOMES)]))
    out.append("")
    out.append("Uploads that ended with result 1, sorted by the engine's word (confirmed / unconfirmed) and by "
               "what the receiver holds (identical / different); the fdd ones checked by reading the image back "
               "on the same line (verified), where a differing copy must be caught (verify-caught) and never "
               "read back as identical (verify-missed):")
    out.append("")
    out.append(row(["fault", "runs", "result 1"] + CONFIRMATION))
    out.append(row(["---"] + ["---:"] * (2 + len(CONFIRMATION))))
    up = [0] * (1 + len(OUTCOMES) + len(CONFIRMATION))
    for key in order:
        if key[0] != "upload":
            continue
        c = cells[key]
        up = [a + b for a, b in zip(up, c)]
        conf = c[1 + len(OUTCOMES):]
        out.append(row([key[1], c[0], sum(conf[:5])] + conf))
    conf = up[1 + len(OUTCOMES):]
    out.append(row(["all", up[0], sum(conf[:5])] + conf))
    return "\n".join(out) + "\n"


def insert(path, text):
    with open(path) as f:
        content = f.read()
    block = BEGIN + "\n" + text.rstrip("\n") + "\n" + END
    if BEGIN in content and END in content:
        start = content.index(BEGIN)
        end = content.index(END) + len(END)
        content = content[:start] + block + content[end:]
    else:
        content = content.rstrip("\n") + "\n\n" + block + "\n"
    with open(path, "w") as f:
        f.write(content)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--insert")
    for name in ["runs", "scale", "jobs", "started", "finished", "commit", "status"]:
        p.add_argument("--" + name, default="?")
    args = p.parse_args()
    if args.insert:
        insert(args.insert, sys.stdin.read())
        return
    order, cells = read_cells(sys.stdin)
    if not cells:
        sys.exit("no soak-cell lines in the input")
    sys.stdout.write(matrix(args, order, cells))


if __name__ == "__main__":
    main()
