#!/usr/bin/env python3
"""Small mutation check: which planted faults do the test suites catch?

    python3 scripts/mutation.py                  run every fault, compare with the baseline
    python3 scripts/mutation.py --only c1 j3     run some faults
    python3 scripts/mutation.py --list           list the faults
    python3 scripts/mutation.py --write-baseline run every fault and record the result

The faults are data, in docs/mutation-faults.json beside the baseline
(docs/mutation-baseline.txt): each is one exact text replacement in one file
of vorn/ or apps/, with a line saying what it breaks. The original
snippet must occur exactly once (else the fault is stale and the run fails).
The faulty text is written, only the suites of the fault's subsystem are
rebuilt (one build dir, reused: ninja recompiles the changed file and relinks)
and run; a failing suite means the fault was caught. The file is always put
back, even on Ctrl-C. Exits non-zero when a fault the baseline records as
caught is not caught any more.

A fault in a header (the hash table is a template) would rebuild the whole
library twice, once with it and once after it. Instead only the suites' own
objects are compiled with it and linked against the library as built; the
header gets its old timestamp back and those objects are deleted, so the
library is never rebuilt and the objects are rebuilt clean on the next build.
Such a fault is therefore checked where the suites instantiate the header.

Suites get a timeout of four times their clean run (at least 20 s), so a
fault that hangs a loop costs seconds, and the first failing suite settles a
fault. A full run takes a few minutes on two cores once the build dir is up
to date.

The build dir defaults to the coverage preset's (build/coverage, -O0: the
quickest to recompile); coverage data of these runs goes to a scratch folder.
"""
import argparse
import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BASELINE = os.path.join(ROOT, "docs", "mutation-baseline.txt")

# Suites (ctest regex) that guard each subsystem.
SUITES = {
    "core": r"^vorn_core_",
    "containers": r"^vorn_containers_",
    "values": r"^vorn_values_",
    "events": r"^vorn_events_",
    "json": r"^vorn_(json|bridge)_",
    "model": r"^vorn_model_",
    "views": r"^vorn_views_",
    "runtime": r"^vorn_(runtime|mainthread)_",
    "remote": r"^vorn_remote_",
    "contexts": r"^vorn_contexts_",
    "host": r"^vorn_(host|bridge)_",
    # orvelnode's server, driven in process through fake peers.
    "apps": r"^vorn_orvel_(server|protocol)_tests$",
}

# The faults, one object each: id, subsystem, file (from the top), the line
# of what it breaks, the original snippet and the faulty one.
FAULTS_FILE = os.path.join(ROOT, "docs", "mutation-faults.json")


def load_faults():
    with open(FAULTS_FILE) as f:
        return [(x["id"], x["subsystem"], x["file"], x["original"], x["faulty"], x["breaks"]) for x in json.load(f)]


FAULTS = load_faults()

_restore = {}  # path -> original text, while a fault is applied
_times = {}  # header path -> its os.stat before the fault


def restore_all():
    for path, text in list(_restore.items()):
        with open(path, "w") as f:
            f.write(text)
        del _restore[path]
        if path in _times:
            st = _times.pop(path)
            os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))


def on_signal(signum, _frame):
    restore_all()
    sys.exit(128 + signum)


def run(cmd, env=None, timeout=None):
    return subprocess.run(cmd, cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", timeout=timeout)


def ninja(build, *args):
    return run(["ninja", "-C", build, *args])


def suite_objects(build, target_path):
    """Object files compiled for one target (paths relative to the build dir)."""
    out = ninja(build, "-t", "query", target_path).stdout
    return [line.strip() for line in out.splitlines() if line.strip().endswith(".o")]


def executable(build, target):
    """The path of a target's executable, from its phony alias."""
    lines = [line.strip() for line in ninja(build, "-t", "query", target).stdout.splitlines()]
    return lines[lines.index("input: phony") + 1]


def suite_targets(build, regex):
    """The executables (targets) the suites run; one may run under several tests."""
    out = run(["ctest", "--test-dir", build, "-N", "-R", regex, "--show-only=json-v1"]).stdout
    names = [os.path.basename(t["command"][0]) for t in json.loads(out).get("tests", []) if t.get("command")]
    return list(dict.fromkeys(names))


def source(rel):
    """The file a fault names, from the top of the tree."""
    return os.path.join(ROOT, rel)


def check_snippets():
    bad = []
    for fid, _, rel, orig, _, _ in FAULTS:
        with open(source(rel)) as f:
            n = f.read().count(orig)
        if n != 1:
            bad.append(f"{fid}: {rel}: original snippet found {n} times")
    return bad


def changed_subsystems(rev):
    """Subsystems whose library folder or suites differ between rev and the
    working tree. A change to what every subsystem shares (build files, test
    support, the faults themselves) counts for all of them."""
    out = run(["git", "diff", "--name-only", rev, "--", "vorn", "apps", "tests", "cmake", "CMakeLists.txt",
               "docs/mutation-faults.json"])
    if out.returncode != 0:
        sys.exit(f"git diff {rev}: {out.stdout.strip()}")
    # Folders whose suites guard a subsystem under another name.
    suites_of = {"mainthread": "runtime", "bridge": "json", "orvelnode": "apps"}
    changed = set()
    for path in out.stdout.split():
        parts = path.split("/")
        if parts[0] in ("vorn", "tests") and len(parts) > 2:
            sub = "apps" if parts[1] == "apps" else suites_of.get(parts[1], parts[1])
            if parts[1] in ("web", "package"):  # no suite of the mutation check
                continue
            changed |= set(SUITES) if sub not in SUITES else {sub}
        elif parts[0] == "apps":
            changed.add("apps")
        else:
            changed |= set(SUITES)
    return changed


def read_baseline():
    caught = set()
    if os.path.exists(BASELINE):
        for line in open(BASELINE):
            parts = line.split()
            if len(parts) >= 2 and parts[1] == "caught":
                caught.add(parts[0])
    return caught


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(ROOT, "build", "coverage"))
    ap.add_argument("--only", nargs="*", help="fault ids to run")
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--write-baseline", action="store_true")
    ap.add_argument("--timeout", type=int, default=0,
                    help="seconds for a subsystem's suites (default: 4x their clean run, at least 20 s)")
    ap.add_argument("--changed-since", metavar="REV",
                    help="only the faults of subsystems whose sources or tests differ from REV")
    ap.add_argument("--max-seconds", type=int, default=0,
                    help="start no fault after this many seconds; the rest are reported as not run")
    args = ap.parse_args()

    if args.list:
        for fid, sub, rel, _, _, desc in FAULTS:
            print(f"{fid:4} {sub:10} {rel:34} {desc}")
        return 0

    # Faults are planted in the shared source tree: two runs at once (from
    # two build dirs) would build each other's faults. Take turns.
    lock = open(os.path.join(tempfile.gettempdir(), "vorn-mutation.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    bad = check_snippets()
    if bad:
        print("stale faults:\n  " + "\n  ".join(bad))
        return 2

    build = os.path.abspath(args.build_dir)
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "--preset", "coverage", "-B", build], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    # The unmutated suites must pass first, or nothing below means anything.
    faults = [f for f in FAULTS if not args.only or f[0] in args.only]
    if args.changed_since:
        changed = changed_subsystems(args.changed_since)
        print("changed since " + args.changed_since + ": " + (" ".join(sorted(changed)) or "nothing"))
        faults = [f for f in faults if f[1] in changed]
        if not faults:
            return 0
    regexes = sorted({SUITES[f[1]] for f in faults})
    scratch = tempfile.mkdtemp(prefix="vorn-mutation-")
    env = dict(os.environ, GCOV_PREFIX=scratch)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    # A fault that hangs a suite (a loop that never ends) is caught by the
    # timeout; scaling it from the clean run keeps such faults from costing
    # minutes each. The first failing suite settles a fault.
    timeouts = {}
    durations = {}

    def test(regex):
        # --stop-time, not --timeout: the suites' own TIMEOUT property would
        # override the latter.
        stop = time.strftime("%H:%M:%S", time.localtime(time.time() + timeouts.get(regex, 600)))
        start = time.time()
        t = run(["ctest", "--test-dir", build, "-R", regex, "-j2", "--stop-on-failure", "--stop-time", stop], env=env)
        durations[regex] = time.time() - start
        return ("caught" if t.returncode != 0 else "survived"), t.stdout

    def build_and_test(regex):
        b = run(["cmake", "--build", build, "-j2", "--target", *suite_targets(build, regex)])
        return ("nobuild", b.stdout) if b.returncode != 0 else test(regex)

    def header_build_and_test(regex):
        """The suites' objects with the faulty header, linked against the library as it is."""
        built = []
        try:
            for target in suite_targets(build, regex):
                path = executable(build, target)
                objects = suite_objects(build, path)
                built += objects + [path]
                b = ninja(build, "-j2", *objects)
                if b.returncode != 0:
                    return "nobuild", b.stdout
                link = ninja(build, "-t", "commands", "-s", path).stdout.strip().splitlines()[-1]
                b = subprocess.run(link, shell=True, cwd=build, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                   errors="replace")
                if b.returncode != 0:
                    return "nobuild", b.stdout
            return test(regex)
        finally:
            restore_all()
            for rel in built:  # compiled with the fault: rebuilt clean next time
                try:
                    os.remove(os.path.join(build, rel))
                except FileNotFoundError:
                    pass

    results = []
    try:
        for regex in regexes:
            status, out = build_and_test(regex)
            if status != "survived":
                print(out[-3000:])
                print(f"the unmutated suites {regex} do not pass: fix them first")
                return 2
            timeouts[regex] = args.timeout or max(20, int(4 * durations[regex]) + 1)
        began = time.time()
        for fid, sub, rel, orig, faulty, desc in faults:
            if args.max_seconds and time.time() - began > args.max_seconds:
                print(f"{fid:4} not run: over {args.max_seconds} s", flush=True)
                continue
            path = source(rel)
            text = open(path).read()
            # Only the library is worth sparing a rebuild: an app's header
            # is compiled into its static library, which relinks quickly.
            header = rel.endswith(".h") and rel.startswith("vorn/")
            _restore[path] = text
            if header:
                _times[path] = os.stat(path)
            with open(path, "w") as f:
                f.write(text.replace(orig, faulty, 1))
            start = time.time()
            try:
                status, _ = (header_build_and_test if header else build_and_test)(SUITES[sub])
            finally:
                restore_all()
            results.append((fid, status, desc))
            print(f"{fid:4} {status:9} {time.time() - start:5.0f}s  {sub:10} {desc}", flush=True)
    finally:
        restore_all()
        shutil.rmtree(scratch, ignore_errors=True)

    caught = {fid for fid, status, _ in results if status == "caught"}
    print(f"\ncaught {len(caught)} of {len(results)} faults")
    if args.write_baseline:
        # Rows of the faults not run this time stay as they were.
        rows = {}
        if os.path.exists(BASELINE):
            for line in open(BASELINE):
                if not line.startswith("#") and line.split():
                    rows[line.split()[0]] = line.rstrip("\n")
        for fid, status, desc in results:
            rows[fid] = f"{fid} {status} {desc}"
        with open(BASELINE, "w") as f:
            f.write("# python3 scripts/mutation.py --write-baseline: fault id, result, description\n")
            for fault in FAULTS:
                if fault[0] in rows:
                    f.write(rows[fault[0]] + "\n")
        print(f"baseline written to {os.path.relpath(BASELINE, ROOT)}")
        return 0
    lost = sorted((read_baseline() & {fid for fid, _, _ in results}) - caught)
    if lost:
        print("caught in the baseline, not caught now: " + " ".join(lost))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
