#!/usr/bin/python3
"""The implicit transport on a 2-D plume, beside the explicit step.

  plume  300 x 300 nodes 10 m apart (3 km square), uniform flow along the
         columns with pore velocity 0.24 m/d (heads held on the first and the
         last column, conductivity 10 m/d, porosity 0.3), dispersivities 10 m
         and 1 m, no diffusion, first-order decay 1e-3 /d (a kinetic
         power-law reaction of order 1), and a held source: water injected at
         node (150, 30) at the rate 1e-4 of its pore volume a day with
         concentration 100 ([[inject]]), for 10 000 days.

Runs with one transport scheme (--scheme, default tvd): the explicit step at its stable step, then the
implicit step with 10, 100 and as many steps as the explicit run took, each
ending at the explicit run's end time. For each: the wall time of the whole run and
the time of its transport (--timings), the largest difference of the end state
from the explicit run's and from the implicit run with 1000 steps (the
converged reference), both relative to the largest value, and the largest
difference along the centre line downstream of the source (100 m to 2 km) from
the continuous point source with decay in uniform 2-D flow,
  c(x, 0, t) = c_in src dx dy / (4 pi sqrt(DL DT))
               * integral over 0..t of exp(-lambda tau - (x - v tau)^2 / (4 DL tau)) / tau dtau
relative to the analytic value at 100 m.

With --profile: where an implicit step goes, on the same plume at
100 x 100, 300 x 300 and 1000 x 1000 nodes (the source at row n/2, column
n/10) and at Courant numbers 0.5, 5 and 50 (the step C dx / v), STEPS steps
each: the median over --repeat runs of the whole run, the heads, the
transport and the reactions, and of --timings' implicit lines (passes, trial
passes, iterations a solve, the matrices' assembly, the preconditioner's
set-up, the right-hand sides, the iterations, the changes from the fluxes,
the trial passes' copies) per step. With --baseline BIN the same runs of an
older build alternate with this one's (its implicit lines, when it has
none, are left out).

Usage: implicit_plume.py [--bin BIN] [--workdir DIR] [--scheme S] [--skip-reference]
       implicit_plume.py --profile [--sizes 100,300,1000] [--courants 0.5,5,50]
                         [--steps 10] [--repeat 3] [--baseline BIN] [--bin BIN]
"""
import argparse
import math
import os
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
N, DX, V, POROSITY, K = 300, 10.0, 0.24, 0.3, 10.0
ALPHA_L, ALPHA_T, DECAY = 10.0, 1.0, 1e-3
SOURCE_ROW, SOURCE_COL, SOURCE_RATE, C_IN = 150, 30, 1e-4, 100.0
END = 10000.0
COMP = 8


def num(x):
    return repr(float(x))


def model_text(step, end, n=N):
    """The model file of an n x n plume; the run ends at end with one record there."""
    source_row, source_col = (SOURCE_ROW, SOURCE_COL) if n == N else (n // 2, n // 10)
    drop = V * POROSITY * DX * (n - 1) / K
    lines = ["%d %d 0 1 1 1" % (n, n),
             "0.0 %s %s %s 1e-09" % (num(end), num(end), num(step)),
             " ".join(num(DX * i) for i in range(n)),
             " ".join(num(DX * j) for j in range(n)),
             "%s %s 0.0" % (num(ALPHA_L), num(ALPHA_T)),
             "10.0 0.0 %s %s %s 0.0 0.0 0.0" % (num(POROSITY), num(K), num(K))]
    overrides = ["%d 0 0 %s" % (i, num(10.0 + drop)) for i in range(n)]
    overrides.append("%d %d 1 %s" % (source_row, source_col, num(SOURCE_RATE)))
    lines.append("%d %s" % (len(overrides), " ".join(overrides)))
    held = ["%d 0" % i for i in range(n)] + ["%d %d" % (i, n - 1) for i in range(n)]
    lines.append("%d %s" % (len(held), " ".join(held)))
    lines.append("2  0 0 0 0 0 0 0 -1  1 7 %s" % num(DECAY))
    lines += ["0", "0", "0  1 0"]
    return "\n".join(lines) + "\n"


def extension_text(implicit, scheme, n=N):
    source_row, source_col = (SOURCE_ROW, SOURCE_COL) if n == N else (n // 2, n // 10)
    text = ('[entries]\nmobile = ["c"]\n[transport]\nscheme = "%s"\n' % scheme +
            ('time = "implicit"\n' if implicit else "") +
            '[[inject]]\nname = "source"\nnodes = [[%d, %d]]\nconcentration = { c = %s }\n'
            % (source_row, source_col, num(C_IN)))
    return text


def run(binary, workdir, name, step, implicit, end, scheme):
    base = os.path.join(workdir, name)
    with open(base + ".kvi", "w") as f:
        f.write(model_text(step, end))
    with open(base + ".kvx", "w") as f:
        f.write(extension_text(implicit, scheme))
    start = time.perf_counter()
    done = subprocess.run([binary, "--no-progress", "--no-budget", "--timings", "--threads", "1",
                           base], capture_output=True, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed: %s" % (base, done.stderr))
    steps = int(re.search(r"(\d+) global steps", done.stderr).group(1))
    transport = float(re.search(r"transport\s+([0-9.e+-]+) s", done.stderr).group(1))
    return base, wall, transport, steps


def last_record(base):
    """The record times and the concentration of every node at the last one."""
    with open(base + ".kvt", "rb") as f:
        kvt = f.read()
    count = struct.unpack_from("<i", kvt, 0)[0]
    times = struct.unpack_from("<%dd" % count, kvt, 36)
    size = N * N * COMP
    with open(base + ".kvo", "rb") as f:
        f.seek(8 * size * (count - 1))
        values = struct.unpack("<%dd" % size, f.read(8 * size))
    return times[-1], values[7::COMP]


def analytic(x, t):
    """The continuous point source with decay on the centre line."""
    dl, dt = ALPHA_L * V, ALPHA_T * V
    scale = C_IN * SOURCE_RATE * DX * DX / (4.0 * math.pi * math.sqrt(dl * dt))
    # Simpson's rule in u = ln tau, where the integrand is smooth.
    low, high, parts = math.log(1e-3), math.log(t), 4000
    h = (high - low) / parts
    total = 0.0
    for p in range(parts + 1):
        tau = math.exp(low + p * h)
        f = math.exp(-DECAY * tau - (x - V * tau) ** 2 / (4.0 * dl * tau))
        total += f * (1 if p in (0, parts) else 4 if p % 2 else 2)
    return scale * total * h / 3.0


def largest_difference(a, b):
    return max(abs(p - q) for p, q in zip(a, b))


IMPLICIT_COUNTS = re.compile(
    r"implicit transport: (\d+) passes \((\d+) trial\), (\d+) solves, (\d+) iterations")
IMPLICIT_TIMES = re.compile(
    r"\(assembly ([0-9.e+-]+)s in \d+, preconditioner ([0-9.e+-]+)s in \d+, right-hand sides "
    r"([0-9.e+-]+)s, iterations ([0-9.e+-]+)s, changes ([0-9.e+-]+)s, copies ([0-9.e+-]+)s\)")
PROFILE_PARTS = ["assembly", "set-up", "rhs", "iterations", "changes", "copies"]


def profile_run(binary, base):
    """One run's phases (s) and --timings' implicit figures, or None for those."""
    start = time.perf_counter()
    done = subprocess.run(["taskset", "-c", "1", binary, "--no-progress", "--no-budget",
                           "--timings", "--threads", "1", base], capture_output=True, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed: %s" % (base, done.stderr))
    phases = {"wall": wall}
    for phase in ("heads", "transport", "reactions"):
        phases[phase] = float(re.search(r"^  %s\s+([0-9.e+-]+) s" % phase, done.stderr,
                                        re.M).group(1))
    counts = IMPLICIT_COUNTS.search(done.stderr)
    times = IMPLICIT_TIMES.search(done.stderr)
    if counts and times:
        phases["passes"], phases["trial"], phases["solves"], phases["its"] = (
            int(g) for g in counts.groups())
        for name, value in zip(PROFILE_PARTS, times.groups()):
            phases[name] = float(value)
    return phases


def profile(args, workdir):
    """The table of --profile: per grid and Courant number, per build."""
    builds = [("this", args.bin)] + ([("baseline", args.baseline)] if args.baseline else [])
    print("implicit steps, --scheme %s, %d steps each, medians of %d alternating runs; "
          "times in ms per step (passes and trial passes per step, iterations per solve)"
          % (args.scheme, args.steps, args.repeat))
    print("%-5s %5s %-8s %8s %7s %9s %9s %6s %6s %6s %s" % (
        "n", "C", "build", "wall s", "heads s", "transport", "reactions", "passes", "trial",
        "its", " ".join("%10s" % p for p in PROFILE_PARTS)))
    for n in [int(v) for v in args.sizes.split(",")]:
        for courant in [float(v) for v in args.courants.split(",")]:
            step = courant * DX / V
            base = os.path.join(workdir, "profile_%d_%g" % (n, courant))
            with open(base + ".kvi", "w") as f:
                f.write(model_text(step, step * args.steps, n))
            with open(base + ".kvx", "w") as f:
                f.write(extension_text(True, args.scheme, n))
            runs = {name: [] for name, _ in builds}
            for _ in range(args.repeat):
                for name, binary in builds:
                    runs[name].append(profile_run(binary, base))
            for name, _ in builds:
                med = {key: statistics.median(r[key] for r in runs[name])
                       for key in runs[name][0]}
                per_step = 1e3 / args.steps
                line = "%-5d %5g %-8s %8.3f %7.3f %9.2f %9.2f" % (
                    n, courant, name, med["wall"], med["heads"], med["transport"] * per_step,
                    med["reactions"] * per_step)
                if "passes" in med:
                    line += " %6.2f %6.2f %6.2f %s" % (
                        med["passes"] / args.steps, med["trial"] / args.steps,
                        med["its"] / max(med["solves"], 1),
                        " ".join("%10.3f" % (med[p] * per_step) for p in PROFILE_PARTS))
                print(line)
            sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default=os.path.join(ROOT, "build/release/kova-compute"))
    parser.add_argument("--workdir")
    parser.add_argument("--scheme", default="tvd", choices=["default", "symmetric", "tvd"])
    parser.add_argument("--skip-reference", action="store_true",
                        help="no implicit run with 1000 steps")
    parser.add_argument("--profile", action="store_true",
                        help="where an implicit step goes, by grid and Courant number")
    parser.add_argument("--sizes", default="100,300,1000")
    parser.add_argument("--courants", default="0.5,5,50")
    parser.add_argument("--steps", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--baseline", help="an older kova-compute, its runs alternating")
    args = parser.parse_args()
    workdir = args.workdir or tempfile.mkdtemp(prefix="kova-implicit-")
    os.makedirs(workdir, exist_ok=True)
    if args.profile:
        profile(args, workdir)
        return

    # The explicit run at its stable step ends after the first step that
    # reaches 10 000 d, at t_end; the implicit runs end there too, after
    # exactly their count of steps (each run stops at the first step past
    # t_end - step / 2, whatever the rounding of the steps' sum).
    base, wall, transport, count = run(args.bin, workdir, "explicit", 0.0, False, END, args.scheme)
    t_end, c = last_record(base)
    results = [("explicit", count, wall, transport, count, t_end, c)]
    print("300 x 300 plume, %s: explicit stable step %.4g d, %d steps to t_end = %.6g d" %
          (args.scheme, t_end / count, count, t_end))
    runs = [10, 100, count] + ([] if args.skip_reference else [1000])
    for steps in runs:
        step = t_end / steps
        base, wall, transport, taken = run(args.bin, workdir, "implicit_%d" % steps, step, True,
                                           t_end - 0.5 * step, args.scheme)
        t, c = last_record(base)
        results.append(("implicit", steps, wall, transport, taken, t, c))

    explicit = results[0][6]
    reference = results[-1][6] if not args.skip_reference else None
    top = max(explicit)
    xs = [DX * (j - SOURCE_COL) for j in range(SOURCE_COL + 10, SOURCE_COL + 201)]
    exact = [analytic(x, t_end) for x in xs]
    print("analytic at 100 m: %.5g, the model's largest value %.5g" % (exact[0], top))
    print("%-9s %6s %9s %11s %12s %12s %12s" % ("run", "steps", "wall s", "transport s",
                                                "vs explicit", "vs reference", "vs analytic"))
    for kind, steps, wall, transport, taken, t, c in results:
        line = [c[SOURCE_ROW * N + j] for j in range(SOURCE_COL + 10, SOURCE_COL + 201)]
        to_analytic = largest_difference(line, exact) / exact[0]
        to_explicit = largest_difference(c, explicit) / top
        to_reference = largest_difference(c, reference) / top if reference else float("nan")
        print("%-9s %6d %9.2f %11.2f %12.3g %12.3g %12.3g   (t = %.6g, %d steps)" % (
            kind, steps, wall, transport, to_explicit, to_reference, to_analytic, t, taken))
        low = min(c)
        if low < 0.0:
            print("          smallest value %.3g" % low)


if __name__ == "__main__":
    main()
