#!/usr/bin/env python3
"""Writes docs/PERFORMANCE.md from the results that scripts/bench collected.

Usage: report.py RESULTS_DIR OUTPUT_FILE

RESULTS_DIR holds machine.json, NAME.json files (one JSON object per line, one
line per run of a benchmark program) and render.md (the render table). A
benchmark without results is listed as not run, so one benchmark can be run
again alone and the report still holds the others.
"""
import json
import os
import statistics
import sys


def lines_of(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def med(values):
    return statistics.median(values) if values else float("nan")


def verdict(ok):
    return "holds" if ok else "**misses**"


def fmt(value, digits=1):
    return f"{value:.{digits}f}"


def machine_section(machine):
    out = ["## Machine", ""]
    for key, label in [
        ("cpu", "Processor"),
        ("cores", "Cores"),
        ("memory", "Memory"),
        ("system", "System"),
        ("kernel", "Kernel"),
        ("qt", "Qt"),
        ("openssl", "OpenSSL"),
        ("nginx", "nginx"),
        ("wrk", "wrk"),
        ("node", "node"),
        ("date", "Measured"),
    ]:
        if machine.get(key):
            out.append(f"- {label}: {machine[key]}")
    out += [
        "",
        "The machine is shared: several engineers build and test on its two cores at the",
        "same time, so every figure is a median of several runs, peers are measured in the",
        "same run, and the load average beside each benchmark says how busy the machine was.",
        "",
    ]
    return out


def load_note(runs):
    loads = [r["load"] for r in runs if "load" in r]
    return f" (load average at the start: {', '.join(loads)})" if loads else ""


def main():
    results, output = sys.argv[1], sys.argv[2]
    machine = (lines_of(os.path.join(results, "machine.json")) or [{}])[-1]
    http = lines_of(os.path.join(results, "http.json"))
    prints = lines_of(os.path.join(results, "print.json"))
    startup = lines_of(os.path.join(results, "startup.json"))
    memory = lines_of(os.path.join(results, "memory.json"))
    render_md = os.path.join(results, "render.md")

    out = [
        "# Performance",
        "",
        "Written by `scripts/bench` (all benchmarks, or `scripts/bench NAME` for one: render,",
        "http, print, startup, memory). The budgets are those of the engineering guide.",
        "",
    ]
    out += machine_section(machine)
    budgets = []

    out += ["## /getStatus over TLS keep-alive (bench/http)", ""]
    if http:
        h = http[-1]
        out += [
            f"wrk (one thread) for {h['seconds']} s per run, {h['runs']} runs per server and connection count,",
            "the servers taking turns; `Authorization: Bearer KEY` on every request. nginx",
            f"({h['nginxWorkers']} worker processes, as Debian ships it) serves the same JSON body with",
            "the same content type and certificate from a loopback port. Medians of the runs"
            + load_note(http) + ".",
            "",
            "Processor time per request (user and system time of the server's process, nginx's",
            "workers included, divided by the requests) is what the noise of a shared machine",
            "disturbs least; its ratio is given too.",
            "",
            "| connections | Quorva Link req/s | p50 ms | p99 ms | µs CPU/req | nginx req/s | p50 ms | p99 ms | µs CPU/req | req/s ratio | p99 ratio | CPU ratio |",
            "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
        ]
        for row in h["table"]:
            a, b = row["quorvaLink"], row["nginx"]
            out.append(
                f"| {row['connections']} | {a['rps']} | {fmt(a['p50Ms'], 2)} | {fmt(a['p99Ms'], 2)} | "
                f"{fmt(a['cpuUsPerRequest'])} | {b['rps']} | {fmt(b['p50Ms'], 2)} | {fmt(b['p99Ms'], 2)} | "
                f"{fmt(b['cpuUsPerRequest'])} | {fmt(row['rpsRatio'], 2)} | {fmt(row['p99Ratio'], 2)} | "
                f"{fmt(row['cpuRatio'], 2)} |"
            )
            if row["connections"] == 8:
                budgets.append(
                    ("/getStatus, 8 connections: req/s ≥ 0.5 × nginx", f"{fmt(row['rpsRatio'], 2)} ×",
                     verdict(row["rpsRatio"] >= 0.5)))
                budgets.append(
                    ("/getStatus, 8 connections: p99 ≤ 2 × nginx", f"{fmt(row['p99Ratio'], 2)} ×",
                     verdict(row["p99Ratio"] <= 2)))
        out.append("")
    else:
        out += ["Not run.", ""]

    out += ["## /sendJob until the bytes reach the printer (bench/print)", ""]
    if prints:
        p50 = med([p["printedP50Ms"] for p in prints])
        p99 = med([p["printedP99Ms"] for p in prints])
        a50 = med([p["answeredP50Ms"] for p in prints])
        a99 = med([p["answeredP99Ms"] for p in prints])
        p = prints[-1]
        out += [
            f"A receipt with a 384 × 120 logo (Base64 PNG) and 21 lines of Portuguese text, {p['requestBytes']} bytes",
            f"of JSON, {p['printerBytes']} bytes of ESC/POS, posted over HTTPS keep-alive; {p['jobs']} jobs per run,",
            f"{len(prints)} runs, each on a fresh program and a fresh raw CUPS queue to a capture",
            "printer on loopback. Timed from the request until the printer has received the whole",
            "job; the API answers once the job is spooled, before that. Medians of the runs"
            + load_note(prints) + ".",
            "",
            "| | p50 ms | p99 ms |",
            "|---|---:|---:|",
            f"| until the printer has the bytes | {fmt(p50)} | {fmt(p99)} |",
            f"| until the API answers | {fmt(a50)} | {fmt(a99)} |",
            "",
        ]
        budgets.append(("/sendJob until the bytes reach the printer: p50 ≤ 50 ms", f"{fmt(p50)} ms", verdict(p50 <= 50)))
    else:
        out += ["Not run.", ""]

    out += ["## Start to first HTTPS answer, no display (bench/startup)", ""]
    if startup:
        s = startup[-1]
        m = med([r["medianMs"] for r in startup])
        out += [
            f"From the start of the process (offscreen platform, fresh settings with the terms accepted",
            f"and a known key) to the first 200 answer of /getStatus over TLS; {s['runs']} runs after one",
            "that fills the page cache" + load_note(startup) + ".",
            "",
            f"Median {fmt(m)} ms (fastest {fmt(s['minMs'])} ms, slowest {fmt(s['maxMs'])} ms).",
            "",
        ]
        budgets.append(("Start to first HTTPS answer ≤ 120 ms", f"{fmt(m)} ms", verdict(m <= 120)))
    else:
        out += ["Not run.", ""]

    out += ["## Resident memory (bench/memory)", ""]
    if memory:
        out += [
            "Resident set (VmRSS) 3 s after the first answer, and 3 s after 10,000 /getStatus",
            "requests (ten keep-alive connections of 1,000), with the peak (VmHWM); headless is",
            "`quorva-link --headless` on the offscreen platform (it runs quorva-link-headless in its",
            "place), the tray runs on Xvfb with its window never opened. Medians of the runs" + load_note(memory) + ".",
            "",
            "The resident set splits into the program's own (anonymous) memory and pages of mapped",
            "files, almost all of them the Qt, OpenSSL and C++ libraries, shared with the other",
            "programs that map them.",
            "",
            "| | runs | idle MiB | of which own | of which files | after 10,000 requests MiB | of which own | peak MiB |",
            "|---|---:|---:|---:|---:|---:|---:|---:|",
        ]
        for row in memory:
            label = "headless" if row["platform"] == "offscreen" else "tray, window never opened (Xvfb)"
            out.append(
                f"| {label} | {row['runs']} | {fmt(row['idleMiB'])} | {fmt(row['idleAnonMiB'])} | "
                f"{fmt(row['idleFileMiB'])} | {fmt(row['afterRequestsMiB'])} | {fmt(row['afterRequestsAnonMiB'])} | "
                f"{fmt(row['peakMiB'])} |")
            limit = 30 if row["platform"] == "offscreen" else 45
            budgets.append((f"Resident memory idle, {label} ≤ {limit} MB", f"{fmt(row['idleMiB'])} MiB",
                            verdict(row["idleMiB"] <= limit)))
        out.append("")
        for row in memory:
            if "releasedMiB" not in row:
                continue
            out += [
                "Then, on Xvfb, the window asked for as a second start asks (its process starts and loads",
                "the documents), left open 3 s, closed, and measured again once the window's process has",
                "gone (told to after 3 s hidden instead of two minutes). Open, the figure is the sum of",
                "both processes, so the libraries they share count twice:",
                "",
                "| | window open MiB | closed and released MiB | of which own |",
                "|---|---:|---:|---:|",
                f"| Xvfb | {fmt(row['windowOpenMiB'])} | {fmt(row['releasedMiB'])} | {fmt(row['releasedAnonMiB'])} |",
                "",
            ]
            if "showFirstStartMs" in row:
                out += [
                    "How soon the window shows, in ms to its map on the X server: from the program's start at a",
                    "first start (no key yet); from a click on the tray icon once the window's process has gone;",
                    "from \"Abrir\" chosen 0.3 s after the tray menu opened (the menu's opening starts the",
                    "process), once it has gone; from a click while the process still runs (hidden less than the",
                    "delay). Medians of the runs, with the program's resident set once the window's process has",
                    "gone again after them (the menu's window included):",
                    "",
                    "| | first start | click, process gone | menu, process gone | click, process running | then MiB |",
                    "|---|---:|---:|---:|---:|---:|",
                    f"| Xvfb | {fmt(row['showFirstStartMs'])} | {fmt(row['showClickAfterReleaseMs'])} | "
                    f"{fmt(row['showMenuAfterReleaseMs'])} | {fmt(row['showClickWhileRunningMs'])} | "
                    f"{fmt(row['afterShowsMiB'])} |",
                    "",
                ]
            budgets.append(("Resident memory idle, window opened, closed and released (Xvfb) ≤ 50 MB",
                            f"{fmt(row['releasedMiB'])} MiB", verdict(row["releasedMiB"] <= 50)))
    else:
        out += ["Not run.", ""]

    out += ["## Receipt rendering (bench/render)", ""]
    render = lines_of(os.path.join(results, "render.json"))
    if render:
        r = render[-1]
        budgets.append(("Render a 576 × 1200 PNG image job ≤ 10 ms", f"{fmt(r['image_ms'], 2)} ms",
                        verdict(r["image_ms"] <= 10)))
        budgets.append(("Render a 576 × 1200 photo-like PNG (stress case) ≤ 10 ms", f"{fmt(r['photo_ms'], 2)} ms",
                        verdict(r["photo_ms"] <= 10)))
        budgets.append(("Render a 200-line text job ≤ 1 ms", f"{fmt(r['text_ms'], 3)} ms", verdict(r["text_ms"] <= 1)))
        for key, label in (("text_preview_ms", "the text job"), ("image_preview_ms", "the image job")):
            if key in r:
                budgets.append((f"Preview (PNG) of {label} ≤ 20 ms", f"{fmt(r[key], 2)} ms", verdict(r[key] <= 20)))
        for key, label in (("qr_native_ms", "native QR command"), ("qr_image_ms", "QR code as an image")):
            if key in r:
                budgets.append((f"Invoice with an ATCUD QR code, {label} ≤ 2 ms", f"{fmt(r[key], 3)} ms",
                                verdict(r[key] <= 2)))
    if os.path.exists(render_md):
        with open(render_md, encoding="utf-8") as f:
            table = [line for line in f]
        for line in table:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) > 2 and cells[-1].endswith("x") and cells[0].startswith(("text job", "image job")):
                ratio = float(cells[-1][:-1])
                budgets.append((f"{cells[0]}: ≥ 20 × faster than the fastest peer", f"{ratio} ×", verdict(ratio >= 20)))
        text = "".join(table).strip("\n")
        out += text.splitlines() + [""]
        if render and render[-1].get("load"):
            out += [f"Load average at the start: {render[-1]['load']}.", ""]
        if render and "text_preview_ms" in render[-1]:
            r = render[-1]
            out += ["Preview (no peer): the job rendered, drawn one pixel per dot and encoded as PNG, as",
                    "/previewJob does. Medians in ms, wall clock and processor time of the thread.", "",
                    "| job | wall | (processor time) | PNG |", "|---|---:|---:|---:|",
                    f"| text job, 200 lines | {fmt(r['text_preview_ms'], 2)} | {fmt(r['text_preview_cpu_ms'], 2)} | "
                    f"{round(r['text_preview_png_bytes'] / 1024)} KiB |",
                    f"| image job, 576x1200 receipt PNG | {fmt(r['image_preview_ms'], 2)} | "
                    f"{fmt(r['image_preview_cpu_ms'], 2)} | {round(r['image_preview_png_bytes'] / 1024)} KiB |", ""]
        if render and "qr_image_ms" in render[-1]:
            r = render[-1]
            out += ["The invoice with an ATCUD QR code (ten lines, the code with 4-dot modules, a cut), with the",
                    "printer's QR command and as an image made by the connector. Medians in ms.", "",
                    "| job | wall | (processor time) | bytes |", "|---|---:|---:|---:|",
                    f"| native QR command | {fmt(r['qr_native_ms'], 3)} | {fmt(r['qr_native_cpu_ms'], 3)} | "
                    f"{r['qr_native_bytes']} |",
                    f"| QR code as an image | {fmt(r['qr_image_ms'], 3)} | {fmt(r['qr_image_cpu_ms'], 3)} | "
                    f"{r['qr_image_bytes']} |", ""]
        out.append("")
    else:
        out += ["Not run.", ""]

    summary = ["## Budgets", "", "| budget | measured | |", "|---|---:|---|"]
    summary += [f"| {b} | {m} | {v} |" for b, m, v in budgets]
    summary.append("")
    notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "NOTES.md")
    tail = []
    if os.path.exists(notes):
        with open(notes, encoding="utf-8") as f:
            tail = ["", f.read().rstrip("\n"), ""]
    text = "\n".join(out[:5] + summary + out[5:]).rstrip("\n") + "\n" + "\n".join(tail)
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
