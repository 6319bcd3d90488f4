#!/usr/bin/env python3
"""Plants the faults of tools/mutants.json one at a time and reports which ones the tests catch.

Each fault replaces one exact, unique piece of text in one file of a scratch copy of this
tree, which is then rebuilt incrementally and tested with ctest; the file is restored before
the next fault. A fault is *killed* when a test fails (or times out), *survives* when every
test passes, and is *broken* when its text is not found exactly once or the mutated code does
not compile. Faults marked "equivalent" (no observable behaviour can differ) are not run unless
asked for; they are left out of the kill rate.

The scratch copy (by default under the system's temporary directory) is a git clone of this
repository whose tracked files are brought up to date with the working tree, uncommitted
changes included, before each campaign; it has its own build directory, so a developer's
build is never touched. It is kept between runs, so later campaigns build incrementally.

    python3 tools/mutants.py                    # the whole campaign
    python3 tools/mutants.py --only 3,7-9       # faults by index (as the table shows them)
    python3 tools/mutants.py --file renderer/   # faults in files whose path contains this
    python3 tools/mutants.py --list             # the faults, without running anything
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_faults(path):
    with open(path, encoding="utf-8") as f:
        faults = json.load(f)
    if not isinstance(faults, list):
        sys.exit(f"{path}: expected a JSON array")
    for i, fault in enumerate(faults):
        missing = [k for k in ("file", "find", "replace", "why") if k not in fault]
        if missing:
            sys.exit(f"{path}: fault {i} lacks {', '.join(missing)}")
    return faults


def parse_selection(text, count):
    chosen = set()
    for part in text.split(","):
        part = part.strip()
        if not part:
            continue
        m = re.fullmatch(r"(\d+)(?:-(\d+))?", part)
        if not m:
            sys.exit(f"--only: cannot read '{part}'")
        first = int(m.group(1))
        last = int(m.group(2) or first)
        for i in range(first, last + 1):
            if i >= count:
                sys.exit(f"--only: there is no fault {i} (the list has {count})")
            chosen.add(i)
    return chosen


def run(cmd, cwd, timeout=None, log=None):
    """Runs cmd; returns (exit code or None on timeout, combined output)."""
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout, text=True, errors="replace")
        out, rc = p.stdout, p.returncode
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        rc = None
    if log:
        with open(log, "a", encoding="utf-8") as f:
            f.write(f"$ {' '.join(cmd)}\n{out}\n")
    return rc, out


def tracked_files(repo):
    out = subprocess.run(["git", "ls-files", "-z"], cwd=repo, stdout=subprocess.PIPE,
                         check=True).stdout
    return [p for p in out.decode().split("\0") if p]


def same_content(a, b):
    try:
        if os.path.getsize(a) != os.path.getsize(b):
            return False
        with open(a, "rb") as fa, open(b, "rb") as fb:
            return fa.read() == fb.read()
    except OSError:
        return False


def prepare_scratch(scratch):
    """A clone of this repository under scratch/src whose tracked files equal the working
    tree's; only files that differ are rewritten, so the build stays incremental."""
    src = os.path.join(scratch, "src")
    if not os.path.isdir(os.path.join(src, ".git")):
        os.makedirs(scratch, exist_ok=True)
        subprocess.run(["git", "clone", "--quiet", "--no-hardlinks", ROOT, src], check=True)
    updated = 0
    wanted = set()
    for rel in tracked_files(ROOT):
        origin = os.path.join(ROOT, rel)
        if not os.path.isfile(origin) or os.path.islink(origin):
            continue
        wanted.add(rel)
        target = os.path.join(src, rel)
        if not same_content(origin, target):
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(origin, target)
            os.utime(target)  # newer than the objects built from the old content
            updated += 1
    # Files the clone tracks that the working tree no longer has would still be built.
    for rel in tracked_files(src):
        if rel not in wanted and os.path.exists(os.path.join(src, rel)):
            os.remove(os.path.join(src, rel))
            updated += 1
    return src, updated


def failed_tests(ctest_output):
    """The failing tests in ctest's summary, in its order, with the reason ctest gives."""
    failed = []
    in_summary = False
    for line in ctest_output.splitlines():
        if line.startswith("The following tests FAILED:"):
            in_summary = True
            continue
        if in_summary:
            m = re.match(r"\s+\d+\s+-\s+(\S+)\s+\((.*)\)", line)
            if m:
                failed.append((m.group(1), m.group(2)))
            elif line.strip():
                break
    return failed


def location(text, find):
    return text[: text.find(find)].count("\n") + 1


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--faults", default=os.path.join(ROOT, "tools", "mutants.json"),
                    help="the list of faults (default: tools/mutants.json)")
    default_scratch = os.path.join(
        tempfile.gettempdir(),
        "nimbra-mutants-" + hashlib.sha1(ROOT.encode()).hexdigest()[:8])
    ap.add_argument("--scratch", default=default_scratch,
                    help=f"scratch directory for the clone and its build (default: {default_scratch})")
    ap.add_argument("--only", help="fault indexes to run, e.g. 0,4-6")
    ap.add_argument("--file", help="run only the faults in files whose path contains this")
    ap.add_argument("--jobs", type=int, default=2, help="parallel build and test jobs (default 2)")
    ap.add_argument("--timeout", type=int, default=60,
                    help="seconds a single test may run; longer counts as killed (default 60)")
    ap.add_argument("--run-equivalent", action="store_true",
                    help="run the faults marked equivalent as well (they should survive)")
    ap.add_argument("--list", action="store_true", help="list the faults and exit")
    ap.add_argument("--markdown", help="also write the table to this file as Markdown")
    args = ap.parse_args()

    faults = load_faults(args.faults)
    selected = set(range(len(faults)))
    if args.only:
        selected &= parse_selection(args.only, len(faults))
    if args.file:
        selected = {i for i in selected if args.file in faults[i]["file"]}

    if args.list:
        for i in sorted(selected):
            f = faults[i]
            mark = "  [equivalent]" if "equivalent" in f else ""
            print(f"{i:3d}  {f['file']}: {f['why']}{mark}")
        return 0

    src, updated = prepare_scratch(args.scratch)
    build = os.path.join(args.scratch, "build")
    log = os.path.join(args.scratch, "mutants.log")
    with open(log, "w", encoding="utf-8") as f:
        f.write(f"campaign of {time.strftime('%Y-%m-%d %H:%M:%S')}\n")
    print(f"scratch clone {src} ({updated} files brought up to date), build {build}, log {log}")

    def build_and_test():
        rc, out = run(["cmake", "--build", build, "-j", str(args.jobs)], src, log=log)
        if rc != 0:
            return "nobuild", out
        # Whole-suite limit: enough for every test to hit its own timeout once.
        rc, out = run(["ctest", "--test-dir", build, "-j", str(args.jobs),
                       "--timeout", str(args.timeout), "--no-tests=error"],
                      src, timeout=args.timeout * 20, log=log)
        if rc is None:
            return "hung", out
        return ("pass" if rc == 0 else "fail"), out

    rc, out = run(["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], src,
                  log=log)
    if rc != 0:
        sys.exit(f"configuring the scratch build failed; see {log}")
    state, out = build_and_test()
    if state != "pass":
        failed = ", ".join(n for n, _ in failed_tests(out)) or state
        sys.exit(f"the unmutated tree does not pass ({failed}); see {log}")
    total = re.search(r"tests passed, \d+ tests failed out of (\d+)", out)
    print(f"unmutated tree: all {total.group(1) if total else '?'} tests pass\n")

    rows = []
    for i in sorted(selected):
        fault = faults[i]
        path = os.path.join(src, fault["file"])
        started = time.time()
        try:
            with open(path, encoding="utf-8") as f:
                original = f.read()
        except OSError as e:
            rows.append((i, fault, "broken", f"cannot read the file: {e.strerror}", 0))
            print(f"[{i}] broken: cannot read {fault['file']}", flush=True)
            continue
        n = original.count(fault["find"])
        where = f"{fault['file']}:{location(original, fault['find'])}" if n else fault["file"]
        if n != 1:
            rows.append((i, fault, "broken", f"find text occurs {n} times", 0))
            print(f"[{i}] broken: find text occurs {n} times in {fault['file']}", flush=True)
            continue
        if "equivalent" in fault and not args.run_equivalent:
            rows.append((i, fault, "equivalent", fault["equivalent"], 0, where))
            continue
        with open(log, "a", encoding="utf-8") as f:
            f.write(f"\n==== fault {i}: {where}: {fault['why']}\n")
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(fault["find"], fault["replace"], 1))
            state, out = build_and_test()
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        seconds = time.time() - started
        if state == "nobuild":
            verdict, detail = "broken", "does not compile"
        elif state == "hung":
            verdict, detail = "killed", "the whole test run timed out"
        elif state == "fail":
            failed = failed_tests(out)
            first = f"{failed[0][0]} ({failed[0][1]})" if failed else "ctest failed"
            more = f" +{len(failed) - 1} more" if len(failed) > 1 else ""
            verdict, detail = "killed", first + more
        else:
            verdict, detail = "survived", ""
        if "equivalent" in fault:
            detail = (detail + "; " if detail else "") + "marked equivalent: " + fault["equivalent"]
            verdict = "equivalent" if verdict == "survived" else verdict + " (marked equivalent)"
        rows.append((i, fault, verdict, detail, seconds, where))
        print(f"[{i}] {where}: {verdict} {detail} ({seconds:.0f} s)", flush=True)

    # Rebuild the restored tree, so the next campaign starts from an unmutated build.
    run(["cmake", "--build", build, "-j", str(args.jobs)], src, log=log)

    print()
    header = ("#", "file", "fault", "result")
    table = []
    for row in rows:
        i, fault, verdict, detail = row[0], row[1], row[2], row[3]
        where = row[5] if len(row) > 5 else fault["file"]
        result = verdict if not detail else f"{verdict}: {detail}"
        table.append((str(i), where, fault["why"], result))
    for r in table:
        print(f"{r[0]:>3}  {r[1]}\n     {r[2]}\n     -> {r[3]}")
    killed = sum(1 for r in rows if r[2] == "killed")
    survived = sum(1 for r in rows if r[2] == "survived")
    equivalent = sum(1 for r in rows if r[2] == "equivalent")
    broken = sum(1 for r in rows if r[2] == "broken")
    judged = killed + survived
    rate = f"{100.0 * killed / judged:.1f} %" if judged else "n/a"
    summary = (f"killed {killed}, survived {survived}, equivalent {equivalent}, broken {broken}; "
               f"kill rate {rate} ({killed} of {judged} non-equivalent faults)")
    print("\n" + summary)
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write("| " + " | ".join(header) + " |\n|---|---|---|---|\n")
            for r in table:
                f.write("| " + " | ".join(c.replace("|", "\\|") for c in r) + " |\n")
            f.write("\n" + summary + "\n")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
