#!/usr/bin/env python3
"""The mailing path measured end to end, and the add-in's own cost natively.

Run by scripts/bench, which builds what this needs first:
  bench.py --top DIR --native BINARY [--wine EXE] [--wine64 EXE] --work DIR [--size smoke|quick|full] [--no-jobs]

--wine names the same program built as the add-in is built (32-bit, the
DLL's compiler), run under Wine through scripts/wine-run beside the native one;
--wine64 the same built for 64-bit Windows, whose rows say "not built" without it.

--size smoke runs every build once on tiny lists and checks what each prints
and that they agree (the same recipients, columns and merged bytes, the same
records), no jobs: the test suite's check that the bench still builds and runs.

Beside every figure stands the machine's 1-minute load average as it was
taken (/proc/loadavg): the machine is shared, and a figure taken at a load of
4 measures the neighbours as much as the code.

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
    "full": [("plain", 1000), ("plain", 10000), ("plain", 100000), ("html", 1000), ("html", 10000),
             ("html", 100000)],
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
    with open(path, "w", newline="", encoding="utf-8") as f:
        f.write(",".join(names) + "\n")
        for n in range(1, count + 1):
            row = []
            for c in range(columns):
                if c == address_column:
                    row.append("person%d@example.com" % n)
                elif c == 0:
                    # One name in ten beyond ASCII, as real lists have: its
                    # record's HTML values go into the HTML's code page.
                    row.append(("Jos\u00e9%d" if n % 10 == 0 else "Name%d") % n)
                elif columns == 8:
                    row.append("%s%d" % (names[c].split()[0], n % 997))
                else:
                    row.append("" if c % 3 else "v%d" % (n % 89))
            # A quoted field with the delimiter in it, as real lists have.
            if columns == 8:
                row[3] = '"Company %d, Ltd"' % (n % 101)
            f.write(",".join(row) + "\n")


def write_workbook(path, rows):
    """An Excel workbook of one sheet as Excel writes one: a header of eight
    names, then rows of texts (shared strings, as Excel keeps them), a date,
    an amount in euros, a number with leading zeros and a percentage, each
    through its number format."""
    import zipfile
    ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    rel_ns = 'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"'
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    header = ["Email", "First", "Last", "City", "Joined", "Amount", "Member", "Share"]
    cities = ["Berlin", "Z\u00fcrich", "\u0391\u03b8\u03ae\u03bd\u03b1", "Lisboa", "\u6771\u4eac"]
    strings = header + cities
    parts = {
        "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types '
            'xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/></Types>',
        "_rels/.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships %s><Relationship Id="rId1" '
            'Type="%sofficeDocument" Target="xl/workbook.xml"/></Relationships>' % (rel_ns, rel),
        "xl/workbook.xml": '<?xml version="1.0" encoding="UTF-8"?><workbook %s xmlns:r="%s"><sheets>'
            '<sheet name="Members" sheetId="1" r:id="rId1"/></sheets></workbook>' % (ns, rel[:-1]),
        "xl/_rels/workbook.xml.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships %s>'
            '<Relationship Id="rId1" Type="%sworksheet" Target="worksheets/sheet1.xml"/>'
            '<Relationship Id="rId2" Type="%ssharedStrings" Target="sharedStrings.xml"/>'
            '<Relationship Id="rId3" Type="%sstyles" Target="styles.xml"/></Relationships>' % (rel_ns, rel, rel, rel),
        "xl/styles.xml": '<?xml version="1.0" encoding="UTF-8"?><styleSheet %s><numFmts count="3">'
            '<numFmt numFmtId="164" formatCode="d mmmm yyyy"/>'
            '<numFmt numFmtId="165" formatCode="&quot;\u20ac&quot;#,##0.00;\\-&quot;\u20ac&quot;#,##0.00"/>'
            '<numFmt numFmtId="166" formatCode="00000"/></numFmts><cellXfs count="5"><xf numFmtId="0"/>'
            '<xf numFmtId="164"/><xf numFmtId="165"/><xf numFmtId="166"/><xf numFmtId="10"/></cellXfs>'
            '</styleSheet>' % ns,
        "xl/sharedStrings.xml": '<?xml version="1.0" encoding="UTF-8"?><sst %s>%s</sst>' % (
            ns, "".join("<si><t>%s</t></si>" % t for t in strings)),
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text.encode("utf-8"))
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as sheet:
            sheet.write(('<?xml version="1.0" encoding="UTF-8"?><worksheet %s><sheetData><row r="1">%s</row>'
                         % (ns, "".join('<c t="s"><v>%d</v></c>' % i for i in range(len(header))))).encode())
            piece = []
            for n in range(2, rows + 2):
                piece.append('<row r="%d"><c t="inlineStr"><is><t>person%d@example.com</t></is></c>'
                             '<c t="inlineStr"><is><t>First%d</t></is></c><c t="inlineStr"><is><t>Last%d</t></is></c>'
                             '<c t="s"><v>%d</v></c><c s="1"><v>%d</v></c><c s="2"><v>%d.%02d</v></c>'
                             '<c s="3"><v>%d</v></c><c s="4"><v>0.%03d</v></c></row>'
                             % (n, n, n, n, len(header) + n % len(cities), 36526 + n % 9000, n % 5000, n % 100,
                                n % 100000, n % 1000))
                if len(piece) == 10000:
                    sheet.write("".join(piece).encode())
                    piece = []
            sheet.write(("".join(piece) + "</sheetData></worksheet>").encode())


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


def load_now():
    """The 1-minute load average as /proc/loadavg gives it now."""
    try:
        with open("/proc/loadavg") as f:
            return float(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return os.getloadavg()[0]


# ---- the add-in's own cost --------------------------------------------------

def windows_path(path):
    """A path as the program under Wine names it: Wine's Z: drive is the root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def program_args(program, args):
    """The command for one run: the native program as it is, the Windows one
    through scripts/wine-run with its paths as Windows names them."""
    if program[0] == "native":
        return [program[1]] + args
    return list(program[2]) + [program[1]] + [windows_path(a) if os.path.isabs(a) else a for a in args]


def measure_merge(program, work, size):
    """Per body and column count: the best of three runs of what the engine
    does per recipient (both reading passes, the HTML's fields in its code
    page, the merge of subject, plain body and HTML), its parts, what was
    merged (for the builds to be held against each other) and the load."""
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
                if best is None or float(figures["us_per_recipient"]) < float(best["us_per_recipient"]):
                    best = dict(figures, load=load_now())
            rows.append((kind, columns, best))
    return rows
def python_csv_pass(path):
    start = time.perf_counter()
    n = 0
    with open(path, newline="", encoding="utf-8") as f:
        for _ in csv.reader(f):
            n += 1
    return n, time.perf_counter() - start


def measure_reader(program, work, size):
    path = os.path.join(work, "reader.csv")
    if not os.path.exists(path):
        write_list(path, READER_RECORDS[size], 8)
    size = os.path.getsize(path)
    best_reader = best_plain = best_python = None
    records = fields = None
    for _ in range(3):
        figures = run_native(program_args(program, ["read", path]))
        if figures is None:
            return None
        records, fields = int(figures["records"]), int(figures["fields"])
        r, p = float(figures["reader_seconds"]), float(figures["plain_seconds"])
        best_reader = r if best_reader is None else min(best_reader, r)
        best_plain = p if best_plain is None else min(best_plain, p)
        # Python's csv on the same file right after each pass of the reader,
        # so that both meet the same machine.
        n, seconds = python_csv_pass(path)
        if n != records:
            sys.stderr.write("bench: the reader found %d records, Python's csv %d\n" % (records, n))
            return None
        best_python = seconds if best_python is None else min(best_python, seconds)
    mb = size / 1e6
    return {"records": records, "fields": fields, "mb": mb, "reader": mb / best_reader, "python": mb / best_python,
            "plain": mb / best_plain, "load": load_now()}


def best_of_three(program, args, key):
    """Of three runs, the one whose figure key is least, with the load as it
    was taken; None when a run failed."""
    best = None
    for _ in range(3):
        figures = run_native(program_args(program, args))
        if figures is None:
            return None
        if best is None or float(figures[key]) < float(best[key]):
            best = dict(figures, load=load_now())
    return best


def measure_first(program, work, size):
    """What the dialog reads of the reader's list when it is chosen, and what
    Send reads of it before its first recipient: the best of three, with the
    times the list was read (bytes read over its size) where the system
    tells them."""
    path = os.path.join(work, "reader.csv")
    if not os.path.exists(path):
        write_list(path, READER_RECORDS[size], 8)
    copy = os.path.join(work, "reader-copy.csv")
    return best_of_three(program, ["first", path, copy], "send_seconds")


def measure_sheet(program, work, size):
    """A workbook's sheet of the reader's size written out as the job's
    list, as Send does before its counting pass; best of 3."""
    path = os.path.join(work, "reader.xlsx")
    if not os.path.exists(path):
        write_workbook(path, READER_RECORDS[size])
    best = best_of_three(program, ["sheet", path, os.path.join(work, "sheet.csv")], "seconds")
    if best is None:
        return None
    best["rows"] = READER_RECORDS[size] + 1
    best["mb"] = os.path.getsize(path) / 1e6
    return best


# ---- the whole path through run-job ---------------------------------------

SENT_LINE = re.compile(rb"# (\d+), To: [^\n]*Sent Successfully")
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")


class HostWatch(threading.Thread):
    """Watches the stand-in host that runs under the given temporary folder
    (other jobs on the machine have hosts of their own in other folders):
    its peak resident size (VmHWM), and, as the job log advances, its CPU
    time (user and system, /proc/PID/stat) against the messages the log
    says were sent, so that the CPU time per message of any stretch of the
    job can be read off the samples."""

    def __init__(self, marker):
        super().__init__(daemon=True)
        self.marker = marker
        self.peak_kb = 0
        self.samples = []   # (messages sent, host CPU seconds), one per step of the log
        self.stopped = threading.Event()

    def host_pids(self):
        for status in glob.glob("/proc/[0-9]*/cmdline"):
            try:
                with open(status, "rb") as f:
                    if b"outlook-standin.exe" not in f.read():
                        continue
                pid = status.split("/")[2]
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if self.marker.encode() in f.read():
                        yield pid
            except OSError:
                continue

    def job_log(self):
        found = glob.glob(os.path.join(self.marker, "lettercast-job.*", "prefix", "drive_c", "users", "*",
                                       "AppData", "Roaming", "Lettercast", "CurrentJob.txt"))
        return found[0] if found else None

    @staticmethod
    def last_sent(log):
        """The number of the last message the job log says was sent."""
        try:
            with open(log, "rb") as f:
                f.seek(0, os.SEEK_END)
                f.seek(max(f.tell() - 4096, 0))
                found = SENT_LINE.findall(f.read())
        except OSError:
            return None
        return int(found[-1]) if found else None

    @staticmethod
    def cpu_seconds(pid):
        with open("/proc/%s/stat" % pid) as f:
            # The command name may hold blanks; the fields after it do not.
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / float(TICKS_PER_SECOND)

    def run(self):
        pids = []
        log = None
        while not self.stopped.is_set():
            if not pids:
                pids = list(self.host_pids())
            if log is None:
                log = self.job_log()
            for pid in list(pids):
                try:
                    with open("/proc/%s/status" % pid) as f:
                        for line in f:
                            if line.startswith("VmHWM:"):
                                self.peak_kb = max(self.peak_kb, int(line.split()[1]))
                    sent = self.last_sent(log) if log else None
                    if sent is not None and (not self.samples or sent > self.samples[-1][0]):
                        self.samples.append((sent, self.cpu_seconds(pid)))
                except (OSError, IndexError, ValueError):
                    pids.remove(pid)
            self.stopped.wait(0.1)

    def cpu_ms_per_message(self, first, last):
        """Host CPU ms per message from message first to message last, read
        off the samples nearest to each; None when the samples do not reach
        both or stand too close together."""
        # The log may tell of several messages at once, and the host may end
        # before the last is sampled: a stretch then starts at the first
        # sample the job gave and ends at the last, however far on they are.
        before = [s for s in self.samples if s[0] <= first] or [s for s in self.samples[:1] if s[0] < last]
        after = [s for s in self.samples if s[0] >= last] or [s for s in self.samples[-1:] if s[0] > first]
        if not before or not after or after[0][0] - before[-1][0] < 2:
            return None
        (n0, c0), (n1, c1) = before[-1], after[0]
        return (c1 - c0) * 1000.0 / (n1 - n0)


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
    sampler = HostWatch(tmp)
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
    row["load"] = load_now()
    row["first_ms"] = (times[tenth - 1] - times[0]) * 1000.0 / (tenth - 1)
    row["last_ms"] = (times[-1] - times[-tenth]) * 1000.0 / (tenth - 1)
    # The host's own CPU time over the same stretches: what the neighbours
    # take from the machine shows in the wall time, not in this.
    row["first_cpu"] = sampler.cpu_ms_per_message(1, tenth)
    row["last_cpu"] = sampler.cpu_ms_per_message(count - tenth + 1, count)
    row["cpu_tenths"] = [sampler.cpu_ms_per_message(i * tenth + 1, min((i + 1) * tenth, count)) for i in range(10)]
    # The whole job: from the first delivery to the last, and per second of
    # the run-job command, set-up and collection included.
    row["per_second"] = count / seconds
    return row


def fmt(value, spec):
    return "-" if value is None else spec % value


def say_builds(say, builds, results, line):
    """One line a build: "not built", FAILED, or what line makes of its
    figures; False when a build's figures failed."""
    good = True
    for build, program in builds:
        if program is None:
            say("  %-13s not built" % build)
        elif results[build] is None:
            good = False
            say("  %-13s FAILED" % build)
        else:
            say(line(build, results[build]))
    return good


def known(text):
    """A count the bench program printed, None where it printed -1: unknown."""
    value = float(text)
    return None if value < 0 else value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--top", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--wine64")
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
    wine_run = os.path.join(options.top, "scripts", "wine-run")
    # The 64-bit program runs in its own build's 64-bit prefix (BUILD/x64/bench/...).
    wine64_run = ["/usr/bin/env", "LETTERCAST_ARCH=x64",
                  "LETTERCAST_BUILD_DIR=" + os.path.dirname(os.path.dirname(os.path.abspath(options.wine64 or "."))),
                  wine_run]
    # Every build the add-in has, each with its program when it was built.
    builds = [("native, -O2", ("native", options.native)),
              ("32-bit, Wine", ("wine", options.wine, [wine_run]) if options.wine else None),
              ("64-bit, Wine", ("wine", options.wine64, wine64_run) if options.wine64 else None)]
    merges = {}
    readers = {}
    firsts = {}
    sheets = {}
    for build, program in builds:
        if program is not None:
            merges[build] = measure_merge(program, options.work, options.size)
            readers[build] = measure_reader(program, options.work, options.size)
            firsts[build] = measure_first(program, options.work, options.size)
            sheets[build] = measure_sheet(program, options.work, options.size)

    say("The add-in's own cost per recipient: both reading passes, the HTML's names and values made and put into")
    say("its code page (EncodeFieldsForHtml), the merge of subject, plain body and HTML; best of 3, us")
    say("  %-13s %-11s %7s %9s %8s %7s %8s %5s" % ("build", "body", "columns", "total", "reading", "fields",
                                                 "merging", "load"))
    for build, program in builds:
        if program is None:
            say("  %-13s not built" % build)
            continue
        for kind, columns, figures in merges[build]:
            if figures is None:
                failed = True
                say("  %-13s %-11s %7d %9s" % (build, kind, columns, "FAILED"))
                continue
            say("  %-13s %-11s %7d %9.1f %8.1f %7.1f %8.1f %5.2f" % (
                build, kind, columns, float(figures["us_per_recipient"]), float(figures["us_reading"]),
                float(figures["us_fields"]), float(figures["us_merging"]), figures["load"]))
    say("")

    # Every build merges the same lists into the same texts and reads the same
    # records: a build that merged or read otherwise is broken, however fast.
    built = [b for b, p in builds if p is not None]
    for build in built[1:]:
        for (kind, columns, mine), (_, _, native) in zip(merges[build], merges[built[0]]):
            if mine is None or native is None:
                continue
            if (mine["recipients"], mine["merged_bytes"]) != (native["recipients"], native["merged_bytes"]):
                failed = True
                say("DISAGREE: %s merged %s bytes for %s recipients (%s, %d columns), %s %s for %s" % (
                    build, mine["merged_bytes"], mine["recipients"], kind, columns, built[0],
                    native["merged_bytes"], native["recipients"]))
        mine, native = readers[build], readers[built[0]]
        if mine and native and (mine["records"], mine["fields"]) != (native["records"], native["fields"]):
            failed = True
            say("DISAGREE: %s read %d records of %d fields, %s %d of %d" % (
                build, mine["records"], mine["fields"], built[0], native["records"], native["fields"]))
        mine, native = sheets[build], sheets[built[0]]
        if mine and native and (mine["lines"], mine["list_bytes"]) != (native["lines"], native["list_bytes"]):
            failed = True
            say("DISAGREE: %s wrote the sheet as %s lines of %s bytes, %s as %s of %s" % (
                build, mine["lines"], mine["list_bytes"], built[0], native["lines"], native["list_bytes"]))

    if len(built) > 1 and not failed:
        say("Every build merged the same bytes for the same recipients, read the same records and wrote the")
        say("same list of the same sheet.")
        say("")

    first = next((r for r in readers.values() if r), None)
    if first:
        say("The list reader, one pass over %d records (%.1f MB), beside Python's csv module on the same file in"
            % (first["records"], first["mb"]))
        say("the same run; best of 3, MB/s")
    else:
        say("The list reader")
    say("  %-13s %8s %11s %6s %10s %5s" % ("build", "reader", "Python csv", "ratio", "plain read", "load"))
    failed = not say_builds(say, builds, readers, lambda build, reader: "  %-13s %8.1f %11.1f %6.2f %10.1f %5.2f" % (
        build, reader["reader"], reader["python"], reader["reader"] / reader["python"], reader["plain"],
        reader["load"])) or failed
    say("")

    say("The same list chosen in the dialog (the delimiter, the header and the first recipient, as a Preview's")
    say("opening and a Pause and Send read it too) and at Send up to the first recipient (the delimiter, the private")
    say("copy, the counting pass, the sending pass's first record); best of 3, with the times the list and its copy")
    say("were read, by the bytes read over the list's size")
    say("  %-13s %10s %6s %10s %6s %5s" % ("build", "dialog ms", "reads", "Send s", "reads", "load"))
    failed = not say_builds(say, builds, firsts, lambda build, first: "  %-13s %10.1f %6s %10.2f %6s %5.2f" % (
        build, 1000 * float(first["dialog_seconds"]), fmt(known(first["dialog_reads"]), "%.2f"),
        float(first["send_seconds"]), fmt(known(first["send_reads"]), "%.2f"), first["load"])) or failed
    say("")

    first = next((r for r in sheets.values() if r), None)
    if first:
        say("A workbook of %d rows of 8 cells (%.1f MB; texts, a date, an amount in euros, leading zeros and a"
            % (first["rows"], first["mb"]))
        say("percentage through their formats) written out as the job's list at Send; best of 3")
    else:
        say("A workbook written out as the job's list")
    say("  %-13s %10s %10s %5s" % ("build", "seconds", "rows/s", "load"))
    failed = not say_builds(say, builds, sheets, lambda build, sheet: "  %-13s %10.2f %10.0f %5.2f" % (
        build, float(sheet["seconds"]), sheet["rows"] / float(sheet["seconds"]), sheet["load"])) or failed
    say("")

    if options.no_jobs:
        with open(os.path.join(options.work, "last-table.txt"), "w") as f:
            f.write("\n".join(lines) + "\n")
        return 1 if failed else 0
    say("The whole path through scripts/run-job, Pause 0: ms per message over the first and the last tenth, by the")
    say("delivered files' times (wall) and by the stand-in host's own CPU time; flat when the last tenth takes at")
    say("most 1.3 times the first")
    say("  %-6s %10s %8s %7s %8s %7s %5s %8s %7s %5s %7s %5s" % (
        "body", "recipients", "seconds", "msg/s", "wall 1st", "last", "flat", "CPU 1st", "last", "flat",
        "peak MB", "load"))
    tenths = []

    def flat(first, last):
        return "-" if first is None or last is None or first <= 0 else ("yes" if last <= 1.3 * first else "no")

    # The delivered files stay until every job has run, and a job waits a
    # minute after a large one: a file system without a journal (ext4 here)
    # passes over every file deleted in the last minute (six while its table
    # of files is not yet on disk) each time it makes a new one, so that the
    # deletions of one job would slow the next.
    outputs = []
    previous = 0
    for kind, count in JOBS[options.size]:
        os.sync()
        if previous >= 10000:
            time.sleep(61)
        row = run_job(options.top, options.work, kind, count)
        outputs.append(os.path.join(options.work, "job-%s-%d" % (kind, count)))
        previous = count
        if "failed" in row:
            failed = True
            say("  %-6s %10d FAILED: %s" % (kind, count, row["failed"]))
            continue
        say("  %-6s %10d %8.1f %7.1f %8.2f %7.2f %5s %8s %7s %5s %7.1f %5.2f" % (
            kind, count, row["seconds"], row["per_second"], row["first_ms"], row["last_ms"],
            flat(row["first_ms"], row["last_ms"]), fmt(row["first_cpu"], "%.2f"), fmt(row["last_cpu"], "%.2f"),
            flat(row["first_cpu"], row["last_cpu"]), row["peak_mb"], row["load"]))
        tenths.append("  %-6s %10d wall %s" % (kind, count, " ".join("%.2f" % ms for ms in row["tenths"])))
        tenths.append("  %-6s %10d CPU  %s" % (kind, count, " ".join(fmt(ms, "%.2f") for ms in row["cpu_tenths"])))
    for out in outputs:
        shutil.rmtree(out, ignore_errors=True)
    say("")
    say("ms per message in each tenth of the job (load: the 1-minute load average as it ended)")
    for line in tenths:
        say(line)
    with open(os.path.join(options.work, "last-table.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
