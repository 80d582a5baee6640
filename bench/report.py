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
ADVERSARIAL = ["W5a", "W5b", "W5c", "W5d", "W5e", "W5f"]
# The producer: HTMLDoc prepared (Content), a text seen before (Execute), every
# text seen the first time (Execute, no prepared texts kept).
VEK = ["vek_prepared", "vek", "vek_first"]
# W4 also with every row answered through RetText (no ExpandBody).
RETTEXT = ["vek_prepared_rettext", "vek_rettext"]
WARM = ["ctemplate_warm", "mustache_warm"]
COLD = ["ctemplate_cold", "mustache_cold", "mstch_cold"]
ENGINES = VEK + WARM + COLD + ["memcpy"]
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
                                   "ns": b["cpu_time"] * scale,
                                   "wall_ns": b["real_time"] * scale,
                                   "in_bytes": b.get("in_bytes")}
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
            "| workload | engine | × memcpy | × fastest warm peer | × fastest cold peer |",
            "|---|---|---:|---:|---:|"]
    for w in WORKLOADS:
        for e in VEK:
            v, mc = mbs(medians, f"{w}/{e}"), mbs(medians, f"{w}/memcpy")
            warm, cold = fastest(medians, w, WARM), fastest(medians, w, COLD)
            cells = [fmt(v / mc, 3) if v and mc else "—",
                     f"{v / warm[1]:.2f} ({warm[0]})" if v and warm else "—",
                     f"{v / cold[1]:.2f} ({cold[0]})" if v and cold else "—"]
            out.append(f"| {w} | {e} | " + " | ".join(cells) + " |")
    return out


def time_table(medians):
    """Thread CPU time beside wall time per render: on a shared machine the
    wall time includes waiting for a core, the CPU time does not."""
    out = ["", "### Time per render (ms, medians): thread CPU time / wall time", "",
           "| workload | engine | CPU ms | wall ms | CPU × ctemplate_warm | wall × ctemplate_warm |",
           "|---|---|---:|---:|---:|---:|"]
    for w in WORKLOADS:
        base = medians.get(f"{w}/ctemplate_warm")
        for e in VEK + (RETTEXT if w == "W4" else []) + WARM:
            m = medians.get(f"{w}/{e}")
            if m is None or "error" in m:
                continue
            ok = base is not None and "error" not in base
            out.append(f"| {w} | {e} | {m['ns'] / 1e6:.3f} | {m['wall_ns'] / 1e6:.3f} | "
                       + (f"{base['ns'] / m['ns']:.2f} | {base['wall_ns'] / m['wall_ns']:.2f} |"
                          if ok else "— | — |"))
    return out


def per_byte(medians, name, engine):
    """CPU ns per template byte of one expansion."""
    m = medians.get(f"{name}/{engine}", {})
    return m["ns"] / m["in_bytes"] if m.get("ns") and m.get("in_bytes") else None


def adversarial_tables(medians):
    out = ["", "### Adversarial templates (time per template byte, against W2's)", "",
           "| case | what | ms (vek_first) | × W2 vek_first | × W2 vek |", "|---|---|---:|---:|---:|"]
    what = {"W5a": "a pair opener on every tag, never closed",
            "W5b": "an opening delimiter every ~32 bytes, none closed",
            "W5c": "one-byte delimiters «<» «>»: every HTML element a tag",
            "W5d": "one 1 MiB tag of blank-separated parameters",
            "W5e": "«<#never#>», then 10,000 closed pairs of distinct names",
            "W5f": "«<li><#row#>cell</li>» repeated over 256 KiB, «row» never closed"}
    for c in ADVERSARIAL:
        ns = medians.get(f"{c}/vek_first", {}).get("ns")
        cells = []
        for e in ["vek_first", "vek"]:
            a, b = per_byte(medians, c, e), per_byte(medians, "W2", e)
            cells.append(fmt(a / b, 2) if a and b else "—")
        out.append(f"| {c} | {what[c]} | {fmt(ns and ns / 1e6, 2)} | " + " | ".join(cells) + " |")
    out += ["", "### Linear in size: the two pair findings at 1, 2 and 4 times (vek_first)", "",
            "| case | ms 1× | ms 2× | ms 4× | 2× / 1× | 4× / 1× |", "|---|---:|---:|---:|---:|---:|"]
    for c in ["W5e", "W5f"]:
        t = [medians.get(f"{c}{x}/vek_first", {}).get("ns") for x in ["", "x2", "x4"]]
        out.append(f"| {c} | " + " | ".join(fmt(v and v / 1e6, 2) for v in t) + " | " +
                   " | ".join(fmt(v / t[0], 2) if v and t[0] else "—" for v in t[1:]) + " |")
    out += ["", "### Scaling (W2)", "", "| size | vek MB/s | × 1 MiB | vek_first MB/s | × 1 MiB | memcpy MB/s |",
            "|---|---:|---:|---:|---:|---:|"]
    for size, name in [("1 MiB", "W2"), ("4 MiB", "W2_4MiB"), ("16 MiB", "W2_16MiB")]:
        cells = []
        for e in ["vek", "vek_first"]:
            v, base = mbs(medians, f"{name}/{e}"), mbs(medians, f"W2/{e}")
            cells += [fmt(v), fmt(v / base, 2) if v and base else "—"]
        out.append(f"| {size} | " + " | ".join(cells) + f" | {fmt(mbs(medians, name + '/memcpy'))} |")
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

    def warm(w, e, goal):
        v = r(f"{w}/{e}", f"{w}/ctemplate_warm")
        add(f"{w} {e} × warm ctemplate", v, f"≥ {goal}", v is not None and v >= goal)

    def cold(w, e, goal):
        c = fastest(medians, w, COLD)
        v = mbs(medians, f"{w}/{e}") / c[1] if c and mbs(medians, f"{w}/{e}") else None
        add(f"{w} {e} × fastest cold peer ({c[0] if c else '—'})", v, f"≥ {goal}",
            v is not None and v >= goal)

    warm("W1", "vek_prepared", 0.8)
    warm("W1", "vek_first", 0.6)
    warm("W2", "vek_prepared", 1.5)
    ipt = instructions.get(("vek_prepared", "W2")) if instructions else None
    add("W2 vek_prepared instructions per tag", ipt, "≤ 380", ipt is not None and ipt <= 380,
        fmt(ipt) if ipt else None)
    warm("W2", "vek_first", 1.1)
    warm("W3", "vek_prepared", 1.1)
    cold("W3", "vek_first", 5)
    warm("W4", "vek_prepared", 1.0)
    cold("W1", "vek_first", 5)
    cold("W2", "vek_first", 5)
    v = r("W2_16MiB/vek_first", "W2/vek_first")
    add("W2 16 MiB × W2 1 MiB (vek_first)", v, "≥ 0.85", v is not None and v >= 0.85)
    for c in ADVERSARIAL:
        a, b = per_byte(medians, c, "vek_first"), per_byte(medians, "W2", "vek_first")
        v = a / b if a and b else None
        add(f"{c} time per byte × W2's (vek_first)", v, "≤ 3", v is not None and v <= 3)
    if memory:
        for kind in ["string", "sink"]:
            if kind in memory:
                m = memory[kind]
                add(f"peak for a 64 MiB template to a {kind} (MiB)", m["peak"],
                    f"≤ {m['limit']:.1f}", m["peak"] <= m["limit"], f"{m['peak']:.1f}")
    return ["", "### Targets", "", "| target | measured | goal | met |", "|---|---:|---:|:---:|"] + rows


def callgrind(bindir, engine, workload, renders=2):
    """Instructions per tag of `renders` renders, counted by callgrind."""
    tags, total = callgrind_total(bindir, engine, workload, renders)
    return total / renders / tags


def instruction_tables(bindir, medians):
    engines = VEK + ["ctemplate_warm"]
    counts = {}
    out = ["", "### Instructions per tag (callgrind)", "",
           "| workload | " + " | ".join(engines) + " |", "|---|" + "---:|" * len(engines)]
    for w in WORKLOADS:
        for e in engines:
            counts[(e, w)] = callgrind(bindir, e, w)
        out.append(f"| {w} | " + " | ".join(fmt(counts[(e, w)]) for e in engines) + " |")
    out += ["", "Counted over two renders after two unmeasured ones (so that the producer has "
            "prepared its text) and divided by the tags the producer handles (for W4: one pair "
            "tag and three per row); the handlers of the benchmark are included.",
            "", "Linear in size, counted (vek_first, one render; W2s is W2 of 256 KiB, "
            "W5f is 256 KiB, W5e 10,000 pairs at 1×):", "",
            "| case | instructions per tag at 1× | total 2× / 1× | total 4× / 1× |",
            "|---|---:|---:|---:|"]
    for c in ["W5e", "W5f", "W2s"]:
        runs = [callgrind_total(bindir, "vek_first", c + x) for x in ["", "2", "4"]]
        tags0, total0 = runs[0]
        out.append(f"| {c} | {fmt(total0 / tags0)} | {runs[1][1] / total0:.2f} | "
                   f"{runs[2][1] / total0:.2f} |")
    return counts, out


def callgrind_total(bindir, engine, workload, renders=1):
    """The tags a run of `renders` renders handles, and its instructions."""
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
    return tags, total


def peak_memory(bindir):
    memory, text = {}, ["", "### Peak memory (vek_peak_memory 64, to a string and to a sink)", "", "```"]
    for kind, args in [("string", ["64"]), ("sink", ["64", "sink"])]:
        run = subprocess.run([os.path.join(bindir, "vek_peak_memory")] + args, capture_output=True,
                             text=True)
        m = re.search(r"peak above start ([\d.]+) MiB .*; limit ([\d.]+) MiB", run.stdout)
        if m:
            memory[kind] = {"peak": float(m.group(1)), "limit": float(m.group(2))}
        text += [l for l in run.stdout.splitlines() if l]
    return memory, text + ["```"]


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
    lines = (machine(context) + throughput_tables(medians) + time_table(medians)
             + adversarial_tables(medians))
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
