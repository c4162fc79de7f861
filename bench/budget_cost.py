#!/usr/bin/env python3
"""What the mass budget and ten observation wells cost a run.

For each model (written by make_model.py) the run is timed with the budget and
ten wells (BASE.kvx) and with --no-budget and no extension file, alternating
the two, and the median of each is reported with their ratio. Two times: the
run's own total from --timings (reading, heads, flow field, time loop, output;
the front end notices the end of a run at its next poll of the run's state,
every 50 ms, which a wall clock around the process would count as well), and
the CPU time of the process (user and system), which other work on a shared
machine disturbs less.

With --together the two runs of a pair run at the same time, one on each of
the first two CPUs (swapped from pair to pair), and the median of the pairs'
ratios is reported: on a shared virtual machine whose speed wanders from
minute to minute both runs of a pair then see the same minute.

Usage: budget_cost.py [--bin BIN] [--pairs N] [--threads T] [--workdir DIR] [--together]
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODELS = {
    "none200": ["--rows", "200", "--cols", "200", "--network", "none",
                "--steps", "200", "--dt", "0.125"],
    "decay200": ["--rows", "200", "--cols", "200", "--mobile", "3", "--network", "decay",
                 "--steps", "200", "--dt", "0.125"],
    "dualmonod200": ["--rows", "200", "--cols", "200", "--mobile", "5", "--immobile", "2",
                     "--network", "dualmonod", "--steps", "200", "--dt", "0.125"],
}


def wells(rows, cols):
    """Ten wells spread along the plume's centre line and across it."""
    text = ""
    for w in range(10):
        text += "[[observe]]\nname = \"W%d\"\nrow = %d\ncol = %d\n\n" % (
            w, rows // 2 + (w % 3 - 1) * rows // 10, (w + 1) * cols // 12)
    return text


def timed(args):
    """(total of --timings, CPU seconds) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    run = subprocess.run(args[:1] + ["--timings"] + args[1:], check=True,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return total_of(run.stderr, args), cpu


def measure(binary, base, pairs, threads):
    kvx = base + ".kvx"
    with open(kvx) as f:
        text = f.read()
    on, off = [], []

    def run_on():
        with open(kvx, "w") as f:
            f.write(text)
        on.append(timed([binary, "--no-progress", "--threads", str(threads), base]))

    def run_off():
        if os.path.exists(kvx):
            os.remove(kvx)
        off.append(timed([binary, "--no-progress", "--no-budget", "--threads", str(threads),
                          base]))

    # Each pair's first run goes to the other side the next time, so that
    # whatever the first run of a pair pays is paid by both alike.
    for p in range(pairs):
        for run in ((run_on, run_off) if p % 2 == 0 else (run_off, run_on)):
            run()
    with open(kvx, "w") as f:
        f.write(text)
    return ([statistics.median(t[i] for t in on) for i in (0, 1)],
            [statistics.median(t[i] for t in off) for i in (0, 1)])


def total_of(stderr_text, args):
    """The total of --timings in a run's stderr."""
    for line in stderr_text.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == "total":
            return float(words[1])
    raise RuntimeError("no total in the timings of " + " ".join(args))


def together(runs):
    """Starts runs[i] on CPU i, all at once; (total, CPU seconds) of each."""
    started = []
    for cpu, args in enumerate(runs):
        err = tempfile.TemporaryFile(mode="w+")
        proc = subprocess.Popen(args[:1] + ["--timings"] + args[1:], stdout=subprocess.DEVNULL,
                                stderr=err, preexec_fn=lambda c=cpu: os.sched_setaffinity(0, {c}))
        started.append((proc, err, args))
    results = []
    for proc, err, args in started:
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            raise RuntimeError("exit code %d of %s" % (proc.returncode, " ".join(args)))
        err.seek(0)
        results.append((total_of(err.read(), args), usage.ru_utime + usage.ru_stime))
        err.close()
    return results


def measure_together(binary, base, pairs, threads):
    """Medians of the with and without runs and of the pairs' ratios, both
    runs of a pair at the same time (the budget's on CPU 0 in even pairs, on
    CPU 1 in odd ones)."""
    off_base = base + "_off"
    shutil.copyfile(base + ".kvi", off_base + ".kvi")
    on_args = [binary, "--no-progress", "--threads", str(threads), base]
    off_args = [binary, "--no-progress", "--no-budget", "--threads", str(threads), off_base]
    on, off = [], []
    for p in range(pairs):
        if p % 2 == 0:
            a, b = together([on_args, off_args])
        else:
            b, a = together([off_args, on_args])
        on.append(a)
        off.append(b)
    ratios = [[x[i] / y[i] for x, y in zip(on, off)] for i in (0, 1)]
    return ([statistics.median(t[i] for t in on) for i in (0, 1)],
            [statistics.median(t[i] for t in off) for i in (0, 1)],
            [statistics.median(r) for r in ratios])


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--bin", default=os.path.join(ROOT, "build/release/kova-compute"))
    p.add_argument("--pairs", type=int, default=7, help="alternating pairs of runs")
    p.add_argument("--threads", type=int, default=1)
    p.add_argument("--workdir")
    p.add_argument("--together", action="store_true",
                   help="run each pair at the same time, one run on each of CPUs 0 and 1")
    a = p.parse_args()
    work = a.workdir or tempfile.mkdtemp(prefix="kova-budget-cost-")
    os.makedirs(work, exist_ok=True)
    print("| model | total with budget and 10 wells (s) | without (s) | ratio "
          "| CPU with (s) | without (s) | ratio |")
    print("|---|---|---|---|---|---|---|")
    for name, args in MODELS.items():
        base = os.path.join(work, name)
        subprocess.run([sys.executable, os.path.join(ROOT, "bench/make_model.py"), base] + args,
                       check=True)
        with open(base + ".kvx", "w") as f:
            f.write(wells(200, 200))
        if a.together:
            on, off, ratio = measure_together(a.bin, base, a.pairs, a.threads)
        else:
            on, off = measure(a.bin, base, a.pairs, a.threads)
            ratio = [on[0] / off[0], on[1] / off[1]]
        print("| %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |"
              % (name, on[0], off[0], ratio[0], on[1], off[1], ratio[1]), flush=True)


if __name__ == "__main__":
    main()
