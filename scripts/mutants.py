#!/usr/bin/env python3
"""Mutation testing for the module's sources.

Makes one small change at a time to a source file (a mutant), rebuilds what the change touches in a
build folder of its own, runs the tests and reports whether they noticed (killed), did not (survived)
or hung (timed out). A mutant that does not compile is left out of the score.

    python3 scripts/mutants.py routing/               # every mutant of every .cpp under routing/
    python3 scripts/mutants.py mapping/oid_map_table.cpp --sample 40 --seed 7
    python3 scripts/mutants.py msglog/ --list         # the mutants only, nothing is built
    python3 scripts/mutants.py tasks/ --label mt      # only the tests of one CTest label

Mutants that cannot be told apart from the original by any test (equivalent mutants) are listed in
scripts/mutants-equivalent.txt as "path:line: change  # reason" and left out of the score.
"""

import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EQUIVALENT_FILE = os.path.join(ROOT, "scripts", "mutants-equivalent.txt")
# Tests left out of every run: they check the install tree, which no mutant changes.
EXCLUDED_TESTS = "^InstallTree\\."


@dataclass
class Mutant:
    path: str      # relative to the project root
    line: int      # 1-based
    column: int    # 0-based, in the line
    old: str
    new: str
    kind: str

    def key(self):
        return f"{self.path}:{self.line}: {self.old} -> {self.new}"


# ---- finding mutants ------------------------------------------------------------------------------

def mask_line(line, in_block_comment):
    """The line with comments and string/char literals blanked, so operators inside them are not
    taken for code. Returns (masked, still_in_block_comment)."""
    out = []
    i, n = 0, len(line)
    while i < n:
        if in_block_comment:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_block_comment = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_block_comment = True
            continue
        if c in "\"'":
            # u"..", L'..', R"(..)" prefixes stay as code; the literal itself is blanked
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            out.append(" " * (min(j + 1, n) - i))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out), in_block_comment


RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
LOGICAL = {"&&": "||", "||": "&&"}
# An operator with spaces on both sides is a comparison, not a template bracket or a shift.
OPERATOR_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|&&|\|\||<|>)(?=\s)")
NUMBER_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
CALL_STATEMENT_RE = re.compile(r"^(\s*)((?:[A-Za-z_][\w:]*(?:\.|->))*[A-Za-z_][\w:]*\s*\(.*\)\s*;)\s*$")
RETURN_RE = re.compile(r"\breturn\s+(true|false|0|1)\s*;")
# A status the module answers or checks: success becomes "not handled", any other becomes success.
STATUS_RE = re.compile(r"\bstatus::(k\w+)")
# Trace lines are left alone unless asked for: their texts are checked where they matter, and a
# mutant per trace argument would swamp the report.
TRACE_RE = re.compile(r"\b(EM_TRACE\w*|Trace)\s*\(")
NOT_A_CALL = {"return", "if", "while", "for", "switch", "sizeof", "static_assert", "delete", "throw",
              "case", "EM_GUARDED_BY", "EM_REQUIRES", "EM_EXCLUDES", "catch", "decltype"}


def number_mutations(text):
    is_hex = text[:2].lower() == "0x"
    if not is_hex and len(text) > 1 and text.startswith("0"):
        return      # octal (file modes and the like): left alone
    value = int(text, 0)
    out = {value + 1}
    if value > 0:
        out.add(value - 1)
    if is_hex and value > 1:
        out.add(value ^ (1 << (value.bit_length() - 1)))   # the highest bit dropped
    elif value == 0:
        out.add(1)
    for v in sorted(out):
        if v == value or v < 0:
            continue
        yield (f"0x{v:0{len(text) - 2}X}" if is_hex else str(v))


def find_mutants(path, traces=False):
    rel = os.path.relpath(path, ROOT)
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    mutants = []
    in_comment = False
    for number, line in enumerate(lines, 1):
        masked, in_comment = mask_line(line, in_comment)
        stripped = masked.strip()
        if not stripped or stripped.startswith("#") or "static_assert" in stripped:
            continue
        if not traces and TRACE_RE.search(masked):
            continue
        for m in OPERATOR_RE.finditer(masked):
            op = m.group(1)
            new = RELATIONAL.get(op) or LOGICAL[op]
            mutants.append(Mutant(rel, number, m.start(), op, new,
                                  "logical" if op in LOGICAL else "relational"))
        for m in NUMBER_RE.finditer(masked):
            # array sizes and bit-field widths rarely make sense to change
            if masked[m.end():].lstrip().startswith("]"):
                continue
            for new in number_mutations(m.group(1)):
                mutants.append(Mutant(rel, number, m.start(1), m.group(1), new, "constant"))
        call = CALL_STATEMENT_RE.match(masked)
        if call and call.group(2).split("(")[0].strip().split("::")[-1] not in NOT_A_CALL \
                and masked.count("(") == masked.count(")") and "=" not in masked.split("(")[0]:
            start = call.start(2)
            old = line[start:].rstrip()
            mutants.append(Mutant(rel, number, start, old, ";", "call removed"))
        for m in RETURN_RE.finditer(masked):
            flip = {"true": "false", "false": "true", "0": "1", "1": "0"}[m.group(1)]
            mutants.append(Mutant(rel, number, m.start(1), m.group(1), flip, "return value"))
        for m in STATUS_RE.finditer(masked):
            new = "kNotHandled" if m.group(1) == "kOk" else "kOk"
            mutants.append(Mutant(rel, number, m.start(1), m.group(1), new, "status"))
    return mutants


def apply(mutant, original_lines):
    lines = list(original_lines)
    line = lines[mutant.line - 1]
    assert line[mutant.column:mutant.column + len(mutant.old)] == mutant.old, mutant.key()
    lines[mutant.line - 1] = line[:mutant.column] + mutant.new + line[mutant.column + len(mutant.old):]
    return "\n".join(lines)


def load_equivalent():
    known = {}
    if os.path.exists(EQUIVALENT_FILE):
        with open(EQUIVALENT_FILE, encoding="utf-8") as f:
            for raw in f:
                entry, _, reason = raw.partition("#")
                entry = entry.strip()
                if entry:
                    known[entry] = reason.strip()
    return known


# ---- building and testing --------------------------------------------------------------------------

def kill_group(p):
    """Ends a test program with the children it started (a hung child would eat the CPU of the
    mutants after it)."""
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    p.wait()


def run(cmd, timeout, cwd=ROOT):
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out.decode(errors="replace")
    except subprocess.TimeoutExpired:
        kill_group(p)
        return None, ""


def configure(build):
    if os.path.exists(os.path.join(build, "build.ninja")):
        return
    cmd = ["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
           "-DEM_BUILD_BENCH=OFF", "-DCMAKE_CXX_FLAGS=-O1"]
    if shutil.which("ccache"):
        cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    rc, out = run(cmd, 600)
    if rc != 0:
        sys.exit("configure failed:\n" + out)


def build(build_dir, timeout):
    # Everything the tests run: the test programs, the library and the substitute host.
    return run(["ninja", "-C", build_dir], timeout)


def list_tests(program):
    """The tests of a GoogleTest program, suite by suite in its own order: {suite: [test, ...]}."""
    rc, out = run([program, "--gtest_list_tests"], 60)
    suites, suite = {}, None
    for line in out.splitlines():
        if line and not line.startswith(" "):
            suite = line.split()[0].rstrip(".")
            suites[suite] = []
        elif suite and line.strip():
            suites[suite].append(line.split()[0])
    return suites


def suite_filters(program, parts):
    """The suites of a test program split in filters of about the same number of tests (no sharding
    variables: some tests start the test program again as a child, which must not inherit them)."""
    groups = [[] for _ in range(parts)]
    sizes = [0] * parts
    for name, tests in sorted(list_tests(program).items(), key=lambda kv: -len(kv[1])):
        i = sizes.index(min(sizes))
        groups[i].append(name + ".*")
        sizes[i] += len(tests)
    return [":".join(g) for g in groups if g]


def module_library(build_dir):
    """The module library the C host loads, wherever this build put it (None if it did not)."""
    found = [os.path.join(build_dir, n) for n in ("libem_tarnel.so", "module/libem_tarnel.so")]
    return next((l for l in found if os.path.exists(l)), None)


def quick_commands(build_dir):
    """The test programs run side by side in the quick mode: the unit tests in two shards, the
    concurrency tests and the C host. Each stops at its first failure."""
    build_dir = os.path.abspath(build_dir)
    tests = os.path.join(build_dir, "tests")
    lib = module_library(build_dir)
    cmds = [([os.path.join(tests, "em_tests"), "--gtest_fail_fast", "--gtest_brief=1", "--gtest_filter=" + f], None)
            for f in suite_filters(os.path.join(tests, "em_tests"), 2)]
    cmds.append(([os.path.join(tests, "em_mt_tests"), "--gtest_fail_fast", "--gtest_brief=1"], None))
    if lib and os.path.exists(os.path.join(tests, "em_c_host")):
        cmds.append(([os.path.join(tests, "em_c_host"), lib], None))
    return cmds


def build_mutant(mutant, originals, build_dir, timeout=600):
    """Builds the tree with one mutant in it and puts the source back at once (the tests run on the
    binaries). originals keeps each file's text as first read. Returns ninja's exit code."""
    full = os.path.join(ROOT, mutant.path)
    if full not in originals:
        with open(full, encoding="utf-8") as f:
            originals[full] = f.read()
    try:
        with open(full, "w", encoding="utf-8") as f:
            f.write(apply(mutant, originals[full].split("\n")))
        return build(build_dir, timeout)[0]
    finally:
        with open(full, "w", encoding="utf-8") as f:
            f.write(originals[full])


def restore_sources(originals, build_dir):
    """Every mutated file as it was, and the build folder matching the sources again."""
    for full, text in originals.items():
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)
    build(build_dir, 1800)


def test_quick(build_dir, timeout):
    procs = [subprocess.Popen(c, env=e, cwd=build_dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
             for c, e in quick_commands(build_dir)]
    # the programs together take seconds: a mutant still running after one test's time-out hangs
    deadline = time.time() + timeout
    outcome = "survived"
    try:
        while procs and outcome == "survived":
            for p in list(procs):
                rc = p.poll()
                if rc is None:
                    continue
                procs.remove(p)
                if rc != 0:
                    outcome = "killed"
            if time.time() > deadline:
                outcome = "timed out"
            time.sleep(0.02)
    finally:
        for p in procs:
            kill_group(p)
    return outcome


def test(build_dir, label, timeout, full=False):
    if not label and not full:
        outcome = test_quick(build_dir, timeout)
        if outcome != "survived":
            return outcome
        # the stress run of the substitute host is the slow one: only for what the others missed
        label = None
        cmd = ["ctest", "--test-dir", build_dir, "--timeout", str(timeout), "-Q", "-R", "^emhost_stress$"]
        rc, out = run(cmd, timeout * 4)
        if rc is None or "***Timeout" in out:
            return "timed out"
        return "survived" if rc == 0 else "killed"
    cmd = ["ctest", "--test-dir", build_dir, "-j", str(os.cpu_count() or 2), "--timeout", str(timeout),
           "--stop-on-failure", "-Q", "-E", EXCLUDED_TESTS]
    if label:
        cmd += ["-L", label]
    # ctest's own time-out ends a hung test; ours ends a hung ctest
    rc, out = run(cmd, timeout * 4)
    if rc is None or "***Timeout" in out:
        return "timed out"
    return "survived" if rc == 0 else "killed"


# ---- main -------------------------------------------------------------------------------------------

def collect_files(paths):
    files = []
    for p in paths:
        p = os.path.join(ROOT, p) if not os.path.isabs(p) else p
        if os.path.isdir(p):
            for dirpath, _, names in os.walk(p):
                # the Windows backend is not part of the build the mutants run in
                if os.sep + "win32" in dirpath[len(ROOT):]:
                    continue
                files += [os.path.join(dirpath, n) for n in sorted(names) if n.endswith(".cpp")]
        else:
            files.append(p)
    return sorted(set(files))


def main():
    # a kill restores the sources as Ctrl-C does
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("paths", nargs="+", help="source files or folders (their .cpp files)")
    ap.add_argument("--build", default=os.path.join(ROOT, "build-mutants"), help="build folder of its own")
    ap.add_argument("--label", help="run only the tests of this CTest label")
    ap.add_argument("--sample", type=int, help="test this many mutants, drawn at random")
    ap.add_argument("--seed", type=int, default=1, help="seed of the sample")
    ap.add_argument("--timeout", type=int, default=60, help="seconds for one test")
    ap.add_argument("--full", action="store_true",
                    help="run every CTest test (the stress run too) instead of the test programs side by side")
    ap.add_argument("--lines", help="only mutants on these lines of the files given, as 120-180,200")
    ap.add_argument("--list", action="store_true", help="list the mutants, build nothing")
    ap.add_argument("--traces", action="store_true", help="mutate trace calls as well")
    ap.add_argument("--json", help="write the results to this file as well")
    args = ap.parse_args()

    mutants = [m for f in collect_files(args.paths) for m in find_mutants(f, args.traces)]
    if args.lines:
        wanted = set()
        for part in args.lines.split(","):
            first, _, last = part.partition("-")
            wanted.update(range(int(first), int(last or first) + 1))
        mutants = [m for m in mutants if m.line in wanted]
    equivalent = load_equivalent()
    skipped = [m for m in mutants if m.key() in equivalent]
    mutants = [m for m in mutants if m.key() not in equivalent]
    if args.sample and args.sample < len(mutants):
        mutants = sorted(random.Random(args.seed).sample(mutants, args.sample),
                         key=lambda m: (m.path, m.line, m.column))
    if args.list:
        for m in mutants:
            print(f"{m.key()}  [{m.kind}]")
        print(f"{len(mutants)} mutants, {len(skipped)} listed as equivalent")
        return 0

    configure(args.build)
    rc, out = build(args.build, 1800)
    if rc != 0:
        sys.exit("the unmutated tree does not build:\n" + out)
    if test(args.build, args.label, args.timeout, args.full) != "survived":
        sys.exit("the tests fail on the unmutated tree")

    results = []
    started = time.time()
    originals = {}
    try:
        for i, m in enumerate(mutants, 1):
            rc = build_mutant(m, originals, args.build)
            outcome = "uncompilable" if rc != 0 else test(args.build, args.label, args.timeout, args.full)
            results.append((m, outcome))
            mark = {"killed": "  ", "survived": "S ", "timed out": "T ", "uncompilable": "- "}[outcome]
            print(f"{mark}[{i}/{len(mutants)}] {outcome:12} {m.key()}  [{m.kind}]", flush=True)
    finally:
        restore_sources(originals, args.build)

    counts = {k: sum(1 for _, o in results if o == k) for k in ("killed", "survived", "timed out", "uncompilable")}
    scored = counts["killed"] + counts["survived"] + counts["timed out"]
    score = 100.0 * (counts["killed"] + counts["timed out"]) / scored if scored else 100.0
    print(f"\n{counts['killed']} killed, {counts['survived']} survived, {counts['timed out']} timed out, "
          f"{counts['uncompilable']} did not compile, {len(skipped)} equivalent; "
          f"score {score:.1f} % in {time.time() - started:.0f} s")
    for m, o in results:
        if o == "survived":
            print(f"survived: {m.key()}  [{m.kind}]")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"score": score, "counts": counts, "equivalent": len(skipped),
                       "results": [dict(m.__dict__, outcome=o) for m, o in results]}, f, indent=1)
    return 0 if counts["survived"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
