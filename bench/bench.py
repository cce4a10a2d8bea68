#!/usr/bin/env python3
"""The mailing path measured end to end, and the add-in's own cost natively.

Run by scripts/bench, which builds what this needs first:
  bench.py --top DIR --native BINARY [--wine EXE] --work DIR [--size smoke|quick|full] [--no-jobs]

--wine names the same program built as the add-in is built (32-bit, the
DLL's compiler), run under Wine through scripts/wine-run beside the native one.

--size smoke runs the native program once on tiny lists and checks what it
prints, no jobs: the test suite's check that the bench still builds and runs.

Prints one table. Every figure comes from work that was checked to have been
done: a job whose delivered files do not number its recipients, or a native
run that fails, prints FAILED in its row and makes the exit status 1.
"""
import argparse
import csv
import glob
import os
import re
import shutil
import subprocess
import sys
import threading
import time

FIELDS_8 = ["First Name", "Last Name", "E-Mail Address", "Company", "City", "Country", "Phone", "Member Since"]
MERGE_RECIPIENTS = {"smoke": 20, "quick": 2000, "full": 20000}
READER_RECORDS = {"smoke": 200, "quick": 100000, "full": 1000000}
JOBS = {
    "quick": [("plain", 1000), ("html", 1000)],
    "full": [("plain", 1000), ("plain", 10000), ("plain", 100000), ("html", 1000), ("html", 10000)],
}


def header_fields(columns):
    if columns == 8:
        return list(FIELDS_8)
    # A contacts export: many short columns, the address among them; the
    # header must stay within one record's 511 characters.
    names = ["C%d" % i for i in range(columns)]
    names[2] = "E-mail"
    names[0] = "First"
    return names


def write_list(path, count, columns, seed_text="x"):
    names = header_fields(columns)
    address_column = next(i for i, n in enumerate(names) if "mail" in n.lower())
    with open(path, "w", newline="") as f:
        f.write(",".join(names) + "\n")
        for n in range(1, count + 1):
            row = []
            for c in range(columns):
                if c == address_column:
                    row.append("person%d@example.com" % n)
                elif c == 0:
                    row.append("Name%d" % n)
                elif columns == 8:
                    row.append("%s%d" % (names[c].split()[0], n % 997))
                else:
                    row.append("" if c % 3 else "v%d" % (n % 89))
            # A quoted field with the delimiter in it, as real lists have.
            if columns == 8:
                row[3] = '"Company %d, Ltd"' % (n % 101)
            f.write(",".join(row) + "\n")


def write_bodies(work, columns):
    """A 20 KB HTML body, its plain text, and a plain letter; each with ten
    placeholders of the list's columns."""
    names = header_fields(columns)
    picks = [names[0], names[1], names[2], names[min(4, columns - 1)], names[-1]]
    paragraph = ("<p>Dear [[%s]], our autumn meeting takes place in [[%s]] this year. "
                 "We would be glad to see you and [[%s]] there; the programme follows below, "
                 "with the times and the rooms of every session.</p>\n")
    html = ["<html><head><meta charset=\"windows-1252\"><title>Autumn meeting</title></head><body>\n"]
    filler = "<tr><td>Session</td><td>Room 4</td><td>10:00 to 11:30</td><td>Speaker to be announced</td></tr>\n"
    html.append(paragraph % (picks[0], picks[3], picks[4]))
    html.append("<table>\n")
    while sum(len(p) for p in html) < 19000:
        html.append(filler)
    html.append("</table>\n")
    for i in range(7):
        html.append("<p>Item %d for [[%s]] ([[%s]]).</p>\n" % (i, picks[i % len(picks)], picks[2]) if i < 3 else
                    "<p>Item %d.</p>\n" % i)
    html.append("</body></html>\n")
    html_text = "".join(html)
    # The plain body that goes with it: the same text without its tags, as
    # the stand-in host makes it for an HTML message.
    plain_of_html = re.sub(r"<[^>]*>", "", html_text)
    letter = ("Dear [[%s]] [[%s]],\n\nour autumn meeting takes place in [[%s]] this year.\n"
              "Your address with us is [[%s]].\n\nKind regards\n" % (picks[0], picks[1], picks[3], picks[2])) * 3
    paths = {}
    for name, text in (("html", html_text), ("html_plain", plain_of_html), ("plain", letter),
                       ("subject", "Autumn meeting in [[%s]], [[%s]]" % (picks[3], picks[0]))):
        path = os.path.join(work, "%s-%d.txt" % (name, columns))
        with open(path, "w", newline="") as f:
            f.write(text)
        paths[name] = path
    return paths


def run_native(args):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stderr)
        return None
    words = result.stdout.split()
    return dict(zip(words[0::2], words[1::2]))


# ---- the add-in's own cost --------------------------------------------------

def windows_path(path):
    """A path as the program under Wine names it: Wine's Z: drive is the root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def program_args(program, args):
    """The command for one run: the native program as it is, the Windows one
    through scripts/wine-run with its paths as Windows names them."""
    if program[0] == "native":
        return [program[1]] + args
    return [program[2], program[1]] + [windows_path(a) if os.path.isabs(a) else a for a in args]


def measure_merge(program, work, size):
    rows = []
    for columns in (8, 90):
        bodies = write_bodies(work, columns)
        listing = os.path.join(work, "merge-%d.csv" % columns)
        write_list(listing, MERGE_RECIPIENTS[size], columns)
        for kind, texts in (("20 KB HTML", [bodies["subject"], bodies["html_plain"], bodies["html"]]),
                            ("plain", [bodies["subject"], bodies["plain"]])):
            # The best of three runs: the machine is shared, and the slower runs
            # measure the neighbours rather than the code.
            best = None
            for _ in range(3):
                figures = run_native(program_args(program, ["merge", listing] + texts))
                if figures is not None and (int(figures["columns"]) != columns or
                                            int(figures["recipients"]) != MERGE_RECIPIENTS[size]):
                    sys.stderr.write("bench: the merge read %s recipients of %s columns, not %d of %d\n" %
                                     (figures["recipients"], figures["columns"], MERGE_RECIPIENTS[size], columns))
                    figures = None
                if figures is None:
                    best = None
                    break
                us = float(figures["us_per_recipient"])
                best = us if best is None else min(best, us)
            rows.append((kind, columns, best))
    return rows


def python_csv_pass(path):
    start = time.perf_counter()
    n = 0
    with open(path, newline="") as f:
        for _ in csv.reader(f):
            n += 1
    return n, time.perf_counter() - start


def measure_reader(program, work, size):
    path = os.path.join(work, "reader.csv")
    write_list(path, READER_RECORDS[size], 8)
    size = os.path.getsize(path)
    best_reader = best_plain = best_python = None
    records = None
    for _ in range(3):
        figures = run_native(program_args(program, ["read", path]))
        if figures is None:
            return None
        records = int(figures["records"])
        r, p = float(figures["reader_seconds"]), float(figures["plain_seconds"])
        best_reader = r if best_reader is None else min(best_reader, r)
        best_plain = p if best_plain is None else min(best_plain, p)
        n, seconds = python_csv_pass(path)
        if n != records:
            sys.stderr.write("bench: the reader found %d records, Python's csv %d\n" % (records, n))
            return None
        best_python = seconds if best_python is None else min(best_python, seconds)
    mb = size / 1e6
    return {"records": records, "mb": mb, "reader": mb / best_reader, "python": mb / best_python,
            "plain": mb / best_plain}


# ---- the whole path through run-job ---------------------------------------

class PeakMemory(threading.Thread):
    """Samples the peak resident size (VmHWM) of the stand-in host that runs
    under the given temporary folder; other jobs on the machine have hosts of
    their own in other folders."""

    def __init__(self, marker):
        super().__init__(daemon=True)
        self.marker = marker.encode()
        self.peak_kb = 0
        self.stopped = threading.Event()

    def host_pids(self):
        for status in glob.glob("/proc/[0-9]*/cmdline"):
            try:
                with open(status, "rb") as f:
                    if b"outlook-standin.exe" not in f.read():
                        continue
                pid = status.split("/")[2]
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if self.marker in f.read():
                        yield pid
            except OSError:
                continue

    def run(self):
        pids = []
        while not self.stopped.is_set():
            if not pids:
                pids = list(self.host_pids())
            for pid in list(pids):
                try:
                    with open("/proc/%s/status" % pid) as f:
                        for line in f:
                            if line.startswith("VmHWM:"):
                                self.peak_kb = max(self.peak_kb, int(line.split()[1]))
                except OSError:
                    pids.remove(pid)
            self.stopped.wait(0.25)


def run_job(top, work, kind, count):
    listing = os.path.join(work, "job-%d.csv" % count)
    if not os.path.exists(listing):
        write_list(listing, count, 8)
    bodies = write_bodies(work, 8)
    out = os.path.join(work, "job-%s-%d" % (kind, count))
    shutil.rmtree(out, ignore_errors=True)
    tmp = os.path.join(work, "tmp-%s-%d" % (kind, count))
    os.makedirs(tmp, exist_ok=True)
    args = [os.path.join(top, "scripts", "run-job"), "--list", listing, "--out", out, "--pause", "0",
            "--subject", "Autumn meeting in [[City]], [[First Name]]"]
    if kind == "html":
        args += ["--html", bodies["html"]]
    else:
        args += ["--body", bodies["plain"]]
    env = dict(os.environ, TMPDIR=tmp)
    sampler = PeakMemory(tmp)
    sampler.start()
    start = time.perf_counter()
    with open(os.path.join(work, "job-%s-%d.log" % (kind, count)), "w") as log:
        status = subprocess.run(args, env=env, stdout=log, stderr=subprocess.STDOUT).returncode
    seconds = time.perf_counter() - start
    sampler.stopped.set()
    sampler.join()
    shutil.rmtree(tmp, ignore_errors=True)

    files = glob.glob(os.path.join(out, "delivered", "*.eml"))
    numbered = sorted((int(os.path.basename(f)[:-4]), os.stat(f).st_mtime_ns) for f in files)
    row = {"kind": kind, "count": count, "status": status, "seconds": seconds, "peak_mb": sampler.peak_kb / 1024.0}
    if status != 0 or [n for n, _ in numbered] != list(range(1, count + 1)):
        row["failed"] = "exit %d, %d of %d delivered" % (status, len(numbered), count)
        return row
    times = [t / 1e9 for _, t in numbered]
    tenth = max(count // 10, 2)
    # Every tenth's ms per message, so that a slow stretch can be told from
    # a trend: the machine is shared, and another job's burst shows in one
    # tenth only.
    row["tenths"] = [(times[min((i + 1) * tenth, count - 1)] - times[i * tenth]) * 1000.0 /
                     (min((i + 1) * tenth, count - 1) - i * tenth) for i in range(10)]
    row["load"] = os.getloadavg()[0]
    row["first_ms"] = (times[tenth - 1] - times[0]) * 1000.0 / (tenth - 1)
    row["last_ms"] = (times[-1] - times[-tenth]) * 1000.0 / (tenth - 1)
    # The whole job: from the first delivery to the last, and per second of
    # the run-job command, set-up and collection included.
    row["per_second"] = count / seconds
    shutil.rmtree(out, ignore_errors=True)
    return row


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--top", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--work", required=True)
    parser.add_argument("--size", choices=("smoke", "quick", "full"), default="full")
    parser.add_argument("--no-jobs", action="store_true")
    options = parser.parse_args()
    if options.size == "smoke":
        options.no_jobs = True
    os.makedirs(options.work, exist_ok=True)
    failed = False
    lines = []

    def say(text):
        print(text, flush=True)
        lines.append(text)

    mode = options.size if options.size != "full" or not options.no_jobs else "native"
    say("Lettercast benchmark (%s), %s, %d cores" % (mode,
                                                      time.strftime("%Y-%m-%d %H:%M"), os.cpu_count()))
    say("")
    programs = [("native, -O2", ("native", options.native))]
    if options.wine:
        programs.append(("32-bit under Wine", ("wine", options.wine, os.path.join(options.top, "scripts", "wine-run"))))
    for build, program in programs:
        say("The add-in's own cost per recipient (%s; reading both passes and merging; best of 3)" % build)
        say("  %-12s %8s %14s" % ("body", "columns", "us/recipient"))
        for kind, columns, us in measure_merge(program, options.work, options.size):
            if us is None:
                failed = True
                say("  %-12s %8d %14s" % (kind, columns, "FAILED"))
            else:
                say("  %-12s %8d %14.1f" % (kind, columns, us))
        say("")

        reader = measure_reader(program, options.work, options.size)
        if reader is None:
            failed = True
            say("List reader (%s): FAILED" % build)
        else:
            say("List reader (%s), one pass over %d records (%.1f MB), best of 3" % (build, reader["records"],
                                                                                  reader["mb"]))
            say("  %-28s %10s" % ("reader", "MB/s"))
            say("  %-28s %10.1f" % ("Lettercast list reader", reader["reader"]))
            say("  %-28s %10.1f" % ("Python csv module", reader["python"]))
            say("  %-28s %10.1f" % ("plain read (the limit)", reader["plain"]))
            say("  ratio reader / Python csv: %.2f" % (reader["reader"] / reader["python"]))
        say("")

    if options.no_jobs:
        with open(os.path.join(options.work, "last-table.txt"), "w") as f:
            f.write("\n".join(lines) + "\n")
        return 1 if failed else 0
    say("The whole path through scripts/run-job, Pause 0")
    say("  %-6s %10s %9s %9s %12s %12s %11s %5s" % ("body", "recipients", "seconds", "msg/s", "ms first 10%",
                                                    "ms last 10%", "host peak MB", "load"))
    tenths = []
    for kind, count in JOBS[options.size]:
        row = run_job(options.top, options.work, kind, count)
        if "failed" in row:
            failed = True
            say("  %-6s %10d FAILED: %s" % (kind, count, row["failed"]))
            continue
        say("  %-6s %10d %9.1f %9.1f %12.2f %12.2f %11.1f %5.1f" % (kind, count, row["seconds"], row["per_second"],
                                                                    row["first_ms"], row["last_ms"], row["peak_mb"],
                                                                    row["load"]))
        tenths.append("  %-6s %10d  %s" % (kind, count, " ".join("%.2f" % ms for ms in row["tenths"])))
    say("")
    say("ms per message in each tenth of the job (load: the 1-minute load average as it ended)")
    for line in tenths:
        say(line)
    with open(os.path.join(options.work, "last-table.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
