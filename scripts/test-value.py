#!/usr/bin/env python3
"""Which tests earn their keep: a kill matrix over a sample of mutants.

Every mutant of the sample is built and every test program is run to its end (no first-failure stop),
so each mutant is paired with the tests that noticed it. The report lists, per test, the mutants it
kills and those only it kills; a test that kills nothing alone is a candidate for folding into another
or for removal. Runs in a build folder of its own and edits the sources in place, like mutants.py.

    python3 scripts/test-value.py routing/ mapping/ --per-folder 60 --json matrix.json
    python3 scripts/test-value.py --report matrix.json
    python3 scripts/test-value.py --report matrix.json --without 'XmlData.*,Record.CopiesAreDeepAndIndependent'
"""

import argparse
import fnmatch
import json
import os
import random
import re
import signal
import subprocess
import sys
import time
from collections import defaultdict

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutants as mutants_tool  # noqa: E402

ROOT = mutants_tool.ROOT
RUN_RE = re.compile(r"^\[ RUN      \] (\S+)")
END_RE = re.compile(r"^\[ +(OK|FAILED) +\] (\S+) \(")


def programs(build_dir):
    """The runs of one mutant: the unit tests in four filters, the concurrency tests in two, the C host."""
    tests = os.path.join(build_dir, "tests")
    runs = [([os.path.join(tests, prog), "--gtest_filter=" + f], "gtest")
            for prog, parts in (("em_tests", 4), ("em_mt_tests", 2))
            for f in mutants_tool.suite_filters(os.path.join(tests, prog), parts)]
    lib = mutants_tool.module_library(build_dir)
    host = os.path.join(tests, "em_c_host")
    if os.path.exists(host) and lib:
        runs.append(([host, lib], "CHost.SlotsAndCallbacks"))
    return runs


def failing_tests(build_dir, runs, timeout):
    procs = [(subprocess.Popen(cmd, cwd=build_dir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               start_new_session=True), kind)
             for cmd, kind in runs]
    failed = set()
    deadline = time.time() + timeout
    for p, kind in procs:
        try:
            out, _ = p.communicate(timeout=max(1, deadline - time.time()))
            hung = False
        except subprocess.TimeoutExpired:
            mutants_tool.kill_group(p)
            out, _ = p.communicate()
            hung = True
        mutants_tool.kill_group(p)  # children a test left behind
        text = out.decode(errors="replace")
        if kind != "gtest":
            if p.returncode != 0:
                failed.add(kind)
            continue
        running = None
        for line in text.splitlines():
            m = RUN_RE.match(line)
            if m:
                running = m.group(1)
                continue
            m = END_RE.match(line)
            if m:
                if m.group(1) == "FAILED":
                    failed.add(m.group(2))
                running = None
        # a crash or a hang is charged to the test that was running
        if running and (hung or p.returncode != 0):
            failed.add(running)
    return failed


def sample(paths, per_folder, seed):
    equivalent = mutants_tool.load_equivalent()
    chosen = []
    for p in paths:
        ms = [m for f in mutants_tool.collect_files([p]) for m in mutants_tool.find_mutants(f)
              if m.key() not in equivalent]
        if per_folder and per_folder < len(ms):
            ms = random.Random(seed).sample(ms, per_folder)
        chosen += ms
    # in a random order, so that a matrix stopped half way still speaks of every folder
    random.Random(seed).shuffle(chosen)
    return chosen


def lost_without(data, dropped):
    """The mutants killed now that nothing would kill once the tests matching the patterns go."""
    gone = lambda t: any(fnmatch.fnmatchcase(t, p) for p in dropped)
    lost = [r["key"] for r in data["mutants"] if r["failed"] and all(gone(t) for t in r["failed"])]
    print(f"{len(lost)} of {sum(1 for r in data['mutants'] if r['failed'])} killed mutants lost without "
          + ", ".join(dropped))
    for k in lost:
        print("  " + k)


def report(data):
    kills = defaultdict(set)
    for row in data["mutants"]:
        for t in row["failed"]:
            kills[t].add(row["key"])
    unique = defaultdict(set)
    for row in data["mutants"]:
        if len(row["failed"]) == 1:
            unique[row["failed"][0]].add(row["key"])
    killed = sum(1 for r in data["mutants"] if r["failed"])
    print(f"{len(data['mutants'])} mutants, {killed} killed by some test\n")
    print(f"{'alone':>5} {'kills':>5}  test")
    for t in sorted(set(data["tests"]) | set(kills), key=lambda t: (len(unique[t]), len(kills[t]), t)):
        print(f"{len(unique[t]):5} {len(kills[t]):5}  {t}")


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("paths", nargs="*", help="source files or folders")
    ap.add_argument("--build", default=os.path.join(ROOT, "build-mutants"))
    ap.add_argument("--per-folder", type=int, default=50, help="mutants drawn from each path given")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--timeout", type=int, default=60, help="seconds for the runs of one mutant")
    ap.add_argument("--json", help="write the matrix here (and read it back to go on after a stop)")
    ap.add_argument("--report", help="only print the report of a matrix written before")
    ap.add_argument("--without", help="with --report: the mutants lost if the tests matching these comma-separated "
                                      "patterns (Suite.* and the like) were dropped")
    args = ap.parse_args()
    if args.report:
        with open(args.report, encoding="utf-8") as f:
            data = json.load(f)
        if args.without:
            lost_without(data, args.without.split(","))
        else:
            report(data)
        return 0

    mutants = sample(args.paths, args.per_folder, args.seed)
    mutants_tool.configure(args.build)
    rc, out = mutants_tool.build(args.build, 1800)
    if rc != 0:
        sys.exit("the unmutated tree does not build:\n" + out)
    build_dir = os.path.abspath(args.build)
    runs = programs(build_dir)
    if failing_tests(build_dir, runs, args.timeout):
        sys.exit("the tests fail on the unmutated tree")
    data = {"tests": [f"{suite}.{name}" for prog in ("em_tests", "em_mt_tests")
                      for suite, names in mutants_tool.list_tests(os.path.join(build_dir, "tests", prog)).items()
                      for name in names] + ["CHost.SlotsAndCallbacks"],
            "mutants": []}
    done = {}
    if args.json and os.path.exists(args.json):
        with open(args.json, encoding="utf-8") as f:
            done = {r["key"]: r for r in json.load(f)["mutants"]}
    # rows of an earlier run that this sample does not draw are kept
    keys = {m.key() for m in mutants}
    data["mutants"] += [r for k, r in done.items() if k not in keys]
    originals = {}
    try:
        for i, m in enumerate(mutants, 1):
            if m.key() in done:
                data["mutants"].append(done[m.key()])
                continue
            if mutants_tool.build_mutant(m, originals, args.build) != 0:
                continue
            failed = sorted(failing_tests(build_dir, runs, args.timeout))
            data["mutants"].append({"key": m.key(), "kind": m.kind, "failed": failed})
            print(f"[{i}/{len(mutants)}] {len(failed):3} {m.key()}", flush=True)
            if args.json and i % 10 == 0:
                with open(args.json, "w", encoding="utf-8") as f:
                    json.dump(data, f, indent=0)
    finally:
        mutants_tool.restore_sources(originals, args.build)
        if args.json:
            with open(args.json, "w", encoding="utf-8") as f:
                json.dump(data, f, indent=0)
    report(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
