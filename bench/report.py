#!/usr/bin/env python3
"""Turns one run of vek_bench (its JSON output) into the tables of
docs/benchmarks.md: throughput per engine and workload, the ratios the
targets are stated in, and, with --bin, instruction counts from callgrind and
the peak memory of a 64 MiB template.

  report.py --json build-bench/bench.json                 print the tables
  report.py --json ... --bin build-bench/bin \\
            --docs docs/benchmarks.md --plot docs/benchmarks.png
                                                          also measure, rewrite the
                                                          results section and the plot
"""
import argparse
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

WORKLOADS = ["W1", "W2", "W3", "W4"]
ADVERSARIAL = ["W5a", "W5b", "W5c", "W5d"]
WARM = ["ctemplate_warm", "mustache_warm"]
COLD = ["ctemplate_cold", "mustache_cold", "mstch_cold"]
ENGINES = ["vek"] + WARM + COLD + ["memcpy"]
BEGIN, END = "<!-- results:begin -->", "<!-- results:end -->"


def load(path):
    """Median per benchmark: {run name: {"bps": bytes/s, "ns": cpu ns}}."""
    with open(path) as f:
        data = json.load(f)
    medians = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            medians[b["run_name"]] = {"error": b.get("error_message", "error")}
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        medians[b["run_name"]] = {"bps": b.get("bytes_per_second", 0.0),
                                   "ns": b["cpu_time"] * scale}
    return data.get("context", {}), medians


def mbs(medians, name):
    m = medians.get(name)
    return None if m is None or "error" in m else m["bps"] / 1e6


def fmt(v, digits=0):
    return "—" if v is None else f"{v:,.{digits}f}"


def fastest(medians, workload, engines):
    best = None
    for e in engines:
        v = mbs(medians, f"{workload}/{e}")
        if v is not None and (best is None or v > best[1]):
            best = (e, v)
    return best


def throughput_tables(medians):
    out = ["### Throughput (MB/s of output, 10^6 bytes; medians)", "",
           "| workload | " + " | ".join(ENGINES) + " |",
           "|---|" + "---:|" * len(ENGINES)]
    for w in WORKLOADS:
        out.append(f"| {w} | " + " | ".join(fmt(mbs(medians, f"{w}/{e}")) for e in ENGINES) + " |")
    out += ["", "### Ratios of the producer's throughput", "",
            "| workload | × memcpy | × fastest warm peer | × fastest cold peer |",
            "|---|---:|---:|---:|"]
    for w in WORKLOADS:
        v, mc = mbs(medians, f"{w}/vek"), mbs(medians, f"{w}/memcpy")
        warm, cold = fastest(medians, w, WARM), fastest(medians, w, COLD)
        cells = [fmt(v / mc, 3) if v and mc else "—",
                 f"{v / warm[1]:.2f} ({warm[0]})" if v and warm else "—",
                 f"{v / cold[1]:.2f} ({cold[0]})" if v and cold else "—"]
        out.append(f"| {w} | " + " | ".join(cells) + " |")
    return out


def adversarial_tables(medians):
    w2 = medians.get("W2/vek", {}).get("ns")
    out = ["", "### Adversarial templates (time of one expansion, against W2 of the same size)", "",
           "| case | what | ms | × W2 |", "|---|---|---:|---:|"]
    what = {"W5a": "a pair opener on every tag, never closed",
            "W5b": "an opening delimiter every ~32 bytes, none closed",
            "W5c": "one-byte delimiters «<» «>»: every HTML element a tag",
            "W5d": "one 1 MiB tag of blank-separated parameters"}
    for c in ADVERSARIAL:
        ns = medians.get(f"{c}/vek", {}).get("ns")
        out.append(f"| {c} | {what[c]} | {fmt(ns and ns / 1e6, 2)} | "
                   f"{fmt(ns / w2, 2) if ns and w2 else '—'} |")
    out += ["", "### Scaling (W2)", "", "| size | MB/s | × 1 MiB | memcpy MB/s |",
            "|---|---:|---:|---:|"]
    base = mbs(medians, "W2/vek")
    for size, name in [("1 MiB", "W2"), ("4 MiB", "W2_4MiB"), ("16 MiB", "W2_16MiB")]:
        v = mbs(medians, f"{name}/vek")
        out.append(f"| {size} | {fmt(v)} | {fmt(v / base, 2) if v and base else '—'} | "
                   f"{fmt(mbs(medians, name + '/memcpy'))} |")
    return out


def targets(medians, instructions, memory):
    def r(a, b):
        va, vb = mbs(medians, a), mbs(medians, b)
        return va / vb if va and vb else None

    def t(a, b):
        ta, tb = medians.get(a, {}).get("ns"), medians.get(b, {}).get("ns")
        return ta / tb if ta and tb else None

    rows = []

    def add(what, value, goal, ok, text=None):
        rows.append(f"| {what} | {text or fmt(value, 2)} | {goal} | "
                    f"{'—' if value is None else ('yes' if ok else '**no**')} |")

    v = r("W1/vek", "W1/memcpy")
    add("W1 × memcpy", v, "≥ 0.6", v is not None and v >= 0.6)
    v = r("W1/vek", "W1/ctemplate_warm")
    add("W1 × warm ctemplate", v, "> 1", v is not None and v > 1)
    v = r("W2/vek", "W2/ctemplate_warm")
    add("W2 × warm ctemplate", v, "≥ 1.5", v is not None and v >= 1.5)
    ipt = instructions.get(("vek", "W2")) if instructions else None
    add("W2 instructions per tag", ipt, "≤ 300", ipt is not None and ipt <= 300,
        fmt(ipt) if ipt else None)
    for w in ["W3", "W4"]:
        v = r(f"{w}/vek", f"{w}/ctemplate_warm")
        add(f"{w} × warm ctemplate", v, "≥ 1.2", v is not None and v >= 1.2)
    for w in ["W1", "W2", "W3"]:
        cold = fastest(medians, w, COLD)
        v = mbs(medians, f"{w}/vek") / cold[1] if cold and mbs(medians, f"{w}/vek") else None
        add(f"{w} × fastest cold peer ({cold[0] if cold else '—'})", v, "≥ 5",
            v is not None and v >= 5)
    v = r("W2_16MiB/vek", "W2/vek")
    add("W2 16 MiB × W2 1 MiB", v, "≥ 0.85", v is not None and v >= 0.85)
    for c in ADVERSARIAL:
        v = t(f"{c}/vek", "W2/vek")
        add(f"{c} time × W2 time", v, "≤ 3", v is not None and v <= 3)
    if memory:
        add("peak for a 64 MiB template (MiB)", memory["peak"], f"≤ {memory['limit']:.1f}",
            memory["peak"] <= memory["limit"], f"{memory['peak']:.1f}")
    return ["", "### Targets", "", "| target | measured | goal | met |", "|---|---:|---:|:---:|"] + rows


def callgrind(bindir, engine, workload, renders=2):
    """Instructions per tag of `renders` renders, counted by callgrind."""
    with tempfile.TemporaryDirectory() as tmp:
        out_file = os.path.join(tmp, "cg.out")
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", "--instr-atstart=no", f"--callgrind-out-file={out_file}",
             os.path.join(bindir, "vek_profile"), engine, workload, str(renders)],
            capture_output=True, text=True, check=True)
        tags = int(re.search(r"tags=(\d+)", run.stdout).group(1))
        # "totals:" holds what was collected ("summary:" may stay 0 when
        # collection starts late).
        with open(out_file) as f:
            total = next(int(l.split()[1]) for l in f if l.startswith("totals:"))
    return total / renders / tags


def instruction_tables(bindir, medians):
    peer = fastest(medians, "W2", WARM)
    peer = peer[0] if peer else "ctemplate_warm"
    counts = {}
    out = ["", f"### Instructions per tag (callgrind; the producer and the fastest warm peer on W2, "
           f"{peer})", "", f"| workload | vek | {peer} |", "|---|---:|---:|"]
    for w in WORKLOADS:
        for e in ["vek", peer]:
            counts[(e, w)] = callgrind(bindir, e, w)
        out.append(f"| {w} | {fmt(counts[('vek', w)])} | {fmt(counts[(peer, w)])} |")
    out += ["", "Counted over whole renders and divided by the tags the producer handles "
            "(for W4: one pair tag and three per row); the handlers of the benchmark are included."]
    return counts, out


def peak_memory(bindir):
    run = subprocess.run([os.path.join(bindir, "vek_peak_memory"), "64"], capture_output=True,
                         text=True)
    m = re.search(r"peak above start ([\d.]+) MiB .*; limit ([\d.]+) MiB", run.stdout)
    text = [l for l in run.stdout.splitlines() if l]
    return ({"peak": float(m.group(1)), "limit": float(m.group(2))} if m else None,
            ["", "### Peak memory (vek_peak_memory 64)", "", "```"] + text + ["```"])


def machine(context):
    cpu = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(l.split(":", 1)[1].strip() for l in f if l.startswith("model name"))
    except (OSError, StopIteration):
        pass
    try:
        cxx = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    except (OSError, IndexError):
        cxx = "?"
    caches = ", ".join(f"L{c['level']} {c['size'] // 1024} KiB" + (" ×" + str(c["num_sharing"])
                       if c.get("num_sharing", 0) > 1 else "")
                       for c in context.get("caches", []) if c.get("type") != "Instruction")
    return ["", f"Measured {context.get('date', '?')} on {cpu}, {context.get('num_cpus', '?')} "
            f"logical CPUs ({caches}), {platform.system()} {platform.release()}, {cxx}, "
            f"Google Benchmark library build type: {context.get('library_build_type', '?')}.", ""]


def plot(medians, path):
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "bench.dat")
        with open(data, "w") as f:
            f.write("workload " + " ".join(ENGINES) + "\n")
            for w in WORKLOADS:
                f.write(w + " " + " ".join(str(mbs(medians, f"{w}/{e}") or "NaN") for e in ENGINES)
                        + "\n")
        script = f"""
set terminal pngcairo size 1000,560 font ',11' noenhanced
set output '{path}'
set title 'Output throughput per engine and workload (MB/s, log scale; higher is better)'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set logscale y
set yrange [10:*]
set grid ytics
set key outside right top
set ylabel 'MB/s'
plot for [i=2:{len(ENGINES) + 1}] '{data}' using i:xtic(1) title columnheader(i)
"""
        try:
            subprocess.run(["gnuplot"], input=script, text=True, check=True, capture_output=True)
        except subprocess.CalledProcessError:  # gnuplot without cairo: the plain png terminal
            subprocess.run(["gnuplot"], input=script.replace("pngcairo", "png"), text=True,
                           check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--json", required=True)
    ap.add_argument("--bin", help="directory of vek_profile and vek_peak_memory")
    ap.add_argument("--docs", help="markdown file whose results section is rewritten")
    ap.add_argument("--plot", help="PNG file to draw")
    args = ap.parse_args()

    context, medians = load(args.json)
    errors = [f"{n}: {m['error']}" for n, m in medians.items() if "error" in m]
    lines = machine(context) + throughput_tables(medians) + adversarial_tables(medians)
    instructions, memory = None, None
    extra = []
    if args.bin:
        instructions, text = instruction_tables(args.bin, medians)
        extra += text
        memory, text = peak_memory(args.bin)
        extra += text
    lines += targets(medians, instructions, memory) + extra
    if errors:
        lines += ["", "### Errors", ""] + [f"- {e}" for e in errors]
    report = "\n".join(lines) + "\n"
    print(report)

    if args.plot:
        plot(medians, os.path.abspath(args.plot))
        lines += ["", f"![throughput]({os.path.basename(args.plot)})"]
    if args.docs:
        with open(args.docs) as f:
            doc = f.read()
        if BEGIN not in doc or END not in doc:
            sys.exit(f"{args.docs}: no {BEGIN} ... {END} section")
        head, rest = doc.split(BEGIN, 1)
        tail = rest.split(END, 1)[1]
        with open(args.docs, "w") as f:
            f.write(head + BEGIN + "\n" + "\n".join(lines) + "\n" + END + tail)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
