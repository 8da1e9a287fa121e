#!/usr/bin/env python3
"""A small mutation harness: how many plausible slips in the code the tests catch.

  tools/mutate.py --files 'engine/*.cpp' [--files ...] --test 'build/tests/test_engine --gtest_brief=1'
                  [--targets 'test_engine velmora'] [--escalate 'ctest --test-dir build -j3']
                  [--sample 40] [--seed 1] [--timeout 300] [--out mutants.tsv] [--keep DIR]

It copies the tracked files of the tree into a scratch folder, builds it once (cmake, the build
folder `build` inside the copy), lists every mutation of the chosen files, samples --sample of
them with --seed (the same seed and files give the same mutants), and for each: applies it,
rebuilds (only what changed, and only --targets when given), runs the test command in the copy (a shell command, with
--timeout seconds), writes one row (file, line, mutation, result: killed / survived / no build /
timeout) and undoes it. The last line gives the score, killed / (killed + survived).

With --escalate, a mutant that survives the test command meets a second one (usually the whole
suite, after a build of everything): the layer's own test program runs first because it is fast,
and a mutant that a higher layer or an end-to-end script catches still counts as killed (the row
says "killed (escalated)").

Mutations, one at a time, on code lines (not comments or preprocessor lines; text inside quotes
is left alone): a relational operator swapped (< <=, > >=, == !=), an integer constant off by
one, && and || swapped, an if condition negated, return true and return false swapped, and a
statement deleted.
"""
import argparse
import glob
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile

SWAPS = [(r"(?<![<>])<=", "<"), (r"(?<![<>])>=", ">"), (r"==", "!="), (r"!=", "=="), (r"&&", "||"), (r"\|\|", "&&")]


def code_part(line):
    """The line without a trailing // comment, and whether it is code at all."""
    stripped = line.strip()
    if not stripped or stripped.startswith(("//", "#", "*", "/*")):
        return None
    return re.sub(r'"(\\.|[^"\\])*"|\'(\\.|[^\'\\])*\'', lambda m: "\0" * len(m.group(0)), line.split("//")[0])


def mutations(path, lines):
    """Yields (line number, description, new line) for every mutation of the file."""
    for number, line in enumerate(lines, 1):
        code = code_part(line)
        if code is None:
            continue
        for pattern, replacement in SWAPS:
            for m in re.finditer(pattern, code):
                yield number, "%s -> %s" % (m.group(0), replacement), line[:m.start()] + replacement + line[m.end():]
        for m in re.finditer(r" ([<>]) ", code):  # spaced: a comparison, not a template or a shift
            yield number, "%s -> %s=" % (m.group(1), m.group(1)), line[:m.end(1)] + "=" + line[m.end(1):]
        for m in re.finditer(r"(?<![\w.])(\d+)(u|ull|ll|l)?(?![\w.])", code):
            value = int(m.group(1))
            yield number, "%d -> %d" % (value, value + 1), line[:m.start(1)] + str(value + 1) + line[m.end(1):]
        m = re.search(r"\bif \((.*)\)(\s*(\{|return|continue|break|[A-Za-z_]))", code)
        if m:
            yield number, "negate if", line[:m.start(1)] + "!(" + m.group(1) + ")" + line[m.end(1):]
        for word, other in (("true", "false"), ("false", "true")):
            m = re.search(r"\breturn %s;" % word, code)
            if m:
                yield number, "return %s -> %s" % (word, other), line[:m.start()] + "return %s;" % other + line[m.end():]
        s = code.strip()
        if s.endswith(";") and not s.startswith(("return", "case", "default", "}", "using", "typedef")) and \
                not re.match(r"^(const |static |inline |constexpr |auto |[A-Za-z_][\w:<>,\s\*&]*\s+[\*&]?\w+\s*(=|\(|\[|;|\{))", s) \
                and "(" in s:
            yield number, "delete statement", re.sub(r"\S.*", "/* deleted */", line, count=1)


def run(command, cwd, timeout):
    """The command's exit code, or None when it ran past the timeout. The command runs in a process
    group of its own, and a timeout ends the whole group: a mutant that loops for ever must not
    outlive its run (the shell alone would be killed, the test program left spinning)."""
    process = subprocess.Popen(command, shell=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--files", action="append", required=True, help="glob of files to mutate (repeatable)")
    parser.add_argument("--test", required=True, help="shell command that passes on the unchanged tree")
    parser.add_argument("--sample", type=int, default=40)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=int, default=300)
    parser.add_argument("--out", default="-")
    parser.add_argument("--keep", help="reuse (or make) this copy of the tree instead of a scratch one")
    parser.add_argument("--targets", default="", help="build targets the test needs (default: everything)")
    parser.add_argument("--escalate", default="", help="shell command that survivors meet, after a full build")
    args = parser.parse_args()

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    copy = args.keep or tempfile.mkdtemp(prefix="velmora-mutate.")
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=root, capture_output=True, text=True,
                             check=True).stdout.split("\0")[:-1]
    for name in tracked:
        target = os.path.join(copy, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target) or open(os.path.join(root, name), "rb").read() != open(target, "rb").read():
            shutil.copy2(os.path.join(root, name), target)
    build = "cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BENCH=OFF >/dev/null && " \
            "cmake --build build -j%d >/dev/null 2>&1" % os.cpu_count()
    if run(build, copy, 3600) != 0 or run(args.test, copy, args.timeout) != 0:
        sys.exit("mutate: the unchanged tree does not build or does not pass: " + args.test)

    candidates = []
    for pattern in args.files:
        for path in sorted(glob.glob(os.path.join(copy, pattern))):
            lines = open(path, encoding="utf-8", errors="surrogateescape").read().split("\n")
            for number, what, new in mutations(path, lines):
                candidates.append((os.path.relpath(path, copy), number, what, new))
    chosen = random.Random(args.seed).sample(candidates, min(args.sample, len(candidates)))
    out = sys.stdout if args.out == "-" else open(args.out, "w")
    counts = {"killed": 0, "survived": 0, "no build": 0, "timeout": 0}
    for name, number, what, new in sorted(chosen):
        path = os.path.join(copy, name)
        original = open(path, encoding="utf-8", errors="surrogateescape").read()
        lines = original.split("\n")
        lines[number - 1] = new
        open(path, "w", encoding="utf-8", errors="surrogateescape").write("\n".join(lines))
        targets = " ".join("--target " + t for t in args.targets.split())
        if run("cmake --build build -j%d %s >/dev/null 2>&1" % (os.cpu_count(), targets), copy, 1800) != 0:
            result = "no build"
        else:
            code = run(args.test, copy, args.timeout)
            result = "timeout" if code is None else "survived" if code == 0 else "killed"
            if result == "survived" and args.escalate:
                built = run("cmake --build build -j%d >/dev/null 2>&1" % os.cpu_count(), copy, 1800) == 0
                if not built or run(args.escalate, copy, args.timeout) != 0:
                    result = "killed (escalated)"
        counts[result.split(" (")[0]] += 1
        open(path, "w", encoding="utf-8", errors="surrogateescape").write(original)
        print("%s\t%d\t%s\t%s" % (name, number, what, result), file=out, flush=True)
    run("cmake --build build -j%d >/dev/null 2>&1" % os.cpu_count(), copy, 1800)
    judged = counts["killed"] + counts["survived"]
    print("# %d mutants of %d: killed %d, survived %d, no build %d, timeout %d; score %.2f" %
          (len(chosen), len(candidates), counts["killed"], counts["survived"], counts["no build"], counts["timeout"],
           counts["killed"] / judged if judged else 0.0), file=out, flush=True)
    if not args.keep:
        shutil.rmtree(copy)


if __name__ == "__main__":
    main()
