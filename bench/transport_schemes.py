#!/usr/bin/python3
"""The transport schemes on problems with known answers, in both directions.

  ogata-banks  1-D column, 101 nodes 10 apart, pore velocity 0.24, dispersivity
               10, the inlet held at 1 for 2000 days (the stable step of each
               scheme, or --step): the largest difference from the Ogata-Banks
               solution over every record, with the water flowing towards the
               higher and towards the lower index, and the smallest and largest
               value at any record; then a fine column, 101 nodes 0.5 apart,
               pore velocity 0.5, dispersivity 1, 60 days.
  slug         1-D, 41 nodes 1 apart, pore velocity 0.1, dispersivity 0.5, a
               unit slug at one node, 12 days: the nodes around the slug after
               it moved, in both directions.
  well         an injection well in the middle of a square grid: how far
               nodes mirrored about the centre lines differ.
  mirror       a 2-D plume in diagonal flow (every head held, so the flow field
               is exact) and its images with rows, columns or both reversed:
               whether the results mirror to the last bit.

Usage: transport_schemes.py [--bin BIN] [--workdir DIR] [--plot FILE] [--step DAYS]
                            [--fine-step DAYS] [--columns-only] [--scheme NAME ...]
"""
import argparse
import math
import os
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCHEMES = ("default", "symmetric", "tvd")


def label(scheme):
    """The scheme as the tables name it: the model file's own is the default."""
    return "default" if scheme == SCHEMES[0] else scheme


def num(x):
    return repr(float(x))


def column_model(n, dx, velocity, alpha_l, end, interval, reverse, porosity=0.3,
                 conductivity=10.0, initial=None, inlet=True, step=0.0):
    """A one-row model with fixed heads at both ends; the inlet node (the
    upstream end) held at 1 by a linear assignment when inlet is true."""
    length = dx * (n - 1)
    drop = velocity * porosity * length / conductivity
    high, low = 10.0 + drop, 10.0
    first, last = (low, high) if reverse else (high, low)
    inlet_node = n - 1 if reverse else 0
    lines = ["1 %d 0 1 %d %d" % (n, 1 if inlet else 0, 2 if inlet else 1),
             "0.0 %s %s %s 1e-09" % (num(end), num(interval), num(step)),
             "0.0",
             " ".join(num(dx * j) for j in range(n)),
             "%s 0.0 0.0" % num(alpha_l),
             "10.0 0.0 %s %s %s 0.0 0.0 0.0" % (num(porosity), num(conductivity),
                                              num(conductivity))]
    overrides = ["0 0 0 %s" % num(first), "0 %d 0 %s" % (n - 1, num(last))]
    for j, value in (initial or {}).items():
        overrides.append("0 %d 7 %s" % (j, num(value)))
    lines.append("%d %s" % (len(overrides), " ".join(overrides)))
    lines.append("2 0 0 0 %d" % (n - 1))
    if inlet:
        lines.append("1 " + " ".join(["0.0"] * 8) + " 7 1.0")
        lines += ["0", "1 0 %d 1" % inlet_node, "0 0", "1 0 0"]
    else:
        lines += ["0", "0", "0 0"]
    return "\n".join(lines) + "\n"


def plane_model(size, reverse_rows, reverse_cols, end):
    """A size x size plume in diagonal flow; every head is held at a plane,
    so the fluxes are the same on every face and mirror exactly."""
    lines = ["%d %d 0 1 0 1" % (size, size),
             "0.0 %s %s 0.0 1e-09" % (num(end), num(end / 4)),
             " ".join(num(i) for i in range(size)),
             " ".join(num(j) for j in range(size)),
             "1.0 0.125 0.0",
             "0.0 0.0 0.25 1.0 1.0 0.0 0.0 0.0"]
    overrides = []
    for i in range(size):
        for j in range(size):
            di = size - 1 - i if reverse_rows else i
            dj = size - 1 - j if reverse_cols else j
            overrides.append("%d %d 0 %s" % (i, j, num(64 - di - dj)))
            if size // 4 <= di < size // 2 and size // 4 <= dj < size // 2:
                overrides.append("%d %d 7 1.0" % (i, j))
    lines.append("%d %s" % (len(overrides), " ".join(overrides)))
    lines.append("%d %s" % (size * size, " ".join(
        "%d %d" % (i, j) for i in range(size) for j in range(size))))
    lines += ["0", "0", "0 0"]
    return "\n".join(lines) + "\n"


def well_model(size, end):
    """A square grid whose edge holds head 10, with an injection well at its
    centre and a patch of solute around it: a flow field symmetric about
    both centre lines."""
    centre = size // 2
    lines = ["%d %d 0 1 0 1" % (size, size),
             "0.0 %s %s 0.0 1e-09" % (num(end), num(end)),
             " ".join(num(i) for i in range(size)),
             " ".join(num(j) for j in range(size)),
             "1.0 0.1 0.0",
             "10.0 0.0 0.3 1.0 1.0 0.0 0.0 0.0"]
    overrides = ["%d %d 1 0.5" % (centre, centre)]
    for i in range(centre - 3, centre + 4):
        for j in range(centre - 3, centre + 4):
            overrides.append("%d %d 7 1.0" % (i, j))
    edge = [(i, j) for i in range(size) for j in range(size)
            if i in (0, size - 1) or j in (0, size - 1)]
    lines.append("%d %s" % (len(overrides), " ".join(overrides)))
    lines.append("%d %s" % (len(edge), " ".join("%d %d" % node for node in edge)))
    lines += ["0", "0", "0 0"]
    return "\n".join(lines) + "\n"


def well_case(binary, workdir):
    size = 41
    print("\nInjection well at the centre of a 41 x 41 grid, 20 d: the largest difference "
          "between nodes mirrored about the centre lines")
    for scheme in SCHEMES:
        t, last = run(binary, workdir, "well", well_model(size, 20.0), scheme)[-1]
        c = [[last[i * size + j][7] for j in range(size)] for i in range(size)]
        rows = max(abs(c[i][j] - c[size - 1 - i][j]) for i in range(size) for j in range(size))
        cols = max(abs(c[i][j] - c[i][size - 1 - j]) for i in range(size) for j in range(size))
        low = min(min(r) for r in c)
        print("%-10s rows %.3g, columns %.3g, smallest value %.3g"
              % (label(scheme), rows, cols, low))


def run(binary, workdir, name, text, scheme, extra_kvx=""):
    base = os.path.join(workdir, name + "_" + scheme)
    with open(base + ".kvi", "w") as f:
        f.write(text)
    with open(base + ".kvx", "w") as f:
        f.write('[transport]\nscheme = "%s"\n%s' % (scheme, extra_kvx))
    done = subprocess.run([binary, "--no-budget", "--threads", "1", base],
                          capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("%s failed: %s" % (base, done.stderr))
    return read_records(base)


def read_records(base):
    """The records of a run: a list of (time, values) with values[node][entry]."""
    with open(base + ".kvi") as f:
        head = f.read().split()
    rows, cols, immobile, mobile = (int(x) for x in head[:4])
    comp = 7 + immobile + mobile
    with open(base + ".kvt", "rb") as f:
        kvt = f.read()
    with open(base + ".kvo", "rb") as f:
        data = f.read()
    count = struct.unpack_from("<i", kvt, 0)[0]
    times = struct.unpack_from("<%dd" % count, kvt, 36)
    size = rows * cols * comp
    records = []
    for r, t in enumerate(times):
        values = struct.unpack_from("<%dd" % size, data, 8 * size * r)
        records.append((t, [values[n * comp:(n + 1) * comp] for n in range(rows * cols)]))
    return records


def ogata_banks(x, t, v, d):
    if t <= 0:
        return 0.0
    root = 2.0 * math.sqrt(d * t)
    tail = math.exp(v * x / d) * math.erfc((x + v * t) / root) if v * x / d < 700 else 0.0
    return 0.5 * (math.erfc((x - v * t) / root) + tail)


def largest_error(records, reverse, dx, v, alpha):
    """The largest difference from the Ogata-Banks solution over every record
    after the start, the nodes counted from the inlet."""
    error = 0.0
    for t, rec in records:
        if t <= 0:
            continue
        values = [node[7] for node in rec]
        if reverse:
            values = values[::-1]
        error = max(error, max(abs(c - ogata_banks(dx * j, t, v, alpha * v))
                               for j, c in enumerate(values)))
    return error


# The columns: name, nodes, dx, pore velocity, alphaL, end, record interval.
COLUMNS = {
    "coarse": (101, 10.0, 0.24, 10.0, 2000.0, 100.0),
    "fine": (101, 0.5, 0.5, 1.0, 60.0, 5.0),
}


def ogata_banks_case(binary, workdir, column="coarse", step=0.0, schemes=SCHEMES):
    n, dx, v, alpha, end, interval = COLUMNS[column]
    print("Ogata-Banks, %d nodes, dx %g, v %g, alphaL %g, %g d, step %s: largest error "
          "over every record (inlet = 1), and the range of every record"
          % (n, dx, v, alpha, end, "%g d" % step if step > 0 else "the scheme's own"))
    print("%-10s %-9s %10s %10s %12s" % ("scheme", "flow", "error", "min", "max"))
    results = {}
    for scheme in schemes:
        for reverse in (False, True):
            text = column_model(n, dx, v, alpha, end, interval, reverse, step=step)
            records = run(binary, workdir, "ob%d" % reverse, text, scheme)
            error = largest_error(records, reverse, dx, v, alpha)
            low = min(node[7] for _, rec in records for node in rec)
            high = max(node[7] for _, rec in records for node in rec)
            results[(scheme, reverse)] = error
            print("%-10s %-9s %10.5f %10.3g %12.9f" % (
                label(scheme), "reverse" if reverse else "forward", error, low, high))
    return results


def ogata_banks_implicit_case(binary, workdir):
    """The same column with the implicit step at Courant numbers 1 and 5
    (steps dx / v and 5 dx / v), beside the explicit schemes above."""
    n, dx, v, alpha = 101, 10.0, 0.24, 10.0
    print("\nOgata-Banks, implicit, at Courant numbers 1 and 5: largest error, range")
    print("%-10s %-8s %-9s %10s %10s %12s" % ("scheme", "courant", "flow", "error", "min", "max"))
    for scheme in SCHEMES:
        for courant in (1.0, 5.0):
            for reverse in (False, True):
                # The inlet starts at 1: the assignment that holds it acts at
                # the end of a step, and a first step of 200 days without
                # inflow would lag the front by a whole step.
                inlet = n - 1 if reverse else 0
                text = column_model(n, dx, v, alpha, 2000.0, 2000.0 / 5, reverse,
                                    step=courant * dx / v, initial={inlet: 1.0})
                records = run(binary, workdir, "obi%d" % reverse, text, scheme,
                              'time = "implicit"\n')
                t, last = records[-1]
                values = [node[7] for node in last]
                if reverse:
                    values = values[::-1]
                error = max(abs(values[j] - ogata_banks(dx * j, t, v, alpha * v))
                            for j in range(n))
                low = min(node[7] for _, rec in records for node in rec)
                high = max(node[7] for _, rec in records for node in rec)
                print("%-10s %-8g %-9s %10.5f %10.3g %12.9f" % (
                    label(scheme), courant, "reverse" if reverse else "forward", error, low, high))


def slug_case(binary, workdir, plot):
    n = 41
    print("\nSlug, 41 nodes, v 0.1, alphaL 0.5, 12 d: nodes 10..16 forward, 30..24 reversed")
    curves = {}
    for scheme in SCHEMES:
        for reverse in (False, True):
            start = 30 if reverse else 10
            text = column_model(n, 1.0, 0.1, 0.5, 12.0, 12.0, reverse, inlet=False,
                                initial={start: 1.0})
            t, last = run(binary, workdir, "slug%d" % reverse, text, scheme)[-1]
            values = [node[7] for node in last]
            if reverse:
                values = values[::-1]
            curves[(scheme, reverse)] = values
            print("%-10s %-8s %s" % (label(scheme), "reverse" if reverse else "forward",
                                     " ".join("%8.4f" % c for c in values[10:17])))
    if plot:
        draw_slugs(curves, plot)


def draw_slugs(curves, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(1, 3, figsize=(11, 3.4), sharey=True)
    # The analytic slug: unit mass over one metre, D = alphaL v, after 12 days.
    fine = [5 + 0.05 * i for i in range(341)]
    spread = 4.0 * 0.5 * 0.1 * 12.0
    exact = [math.exp(-(x - 10.0 - 1.2) ** 2 / spread) / math.sqrt(math.pi * spread)
             for x in fine]
    for ax, scheme in zip(axes, SCHEMES):
        x = list(range(41))
        ax.plot(fine, exact, color="grey", lw=1, label="analytic")
        ax.plot(x, curves[(scheme, False)], "o-", ms=3, label="towards higher index")
        ax.plot(x, curves[(scheme, True)], "s--", ms=3,
                label="towards lower index (mirrored)")
        ax.set_title('scheme = "%s"' % scheme)
        ax.set_xlim(5, 22)
        ax.set_xlabel("node, counted from the end the water enters")
        ax.axhline(0.0, color="grey", lw=0.5)
    axes[0].set_ylabel("concentration after 12 d")
    axes[0].legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def mirror_case(binary, workdir):
    size = 16
    print("\nMirror images, 16 x 16 diagonal flow: bit-identical mirrored results?")
    for scheme in SCHEMES:
        base = run(binary, workdir, "m00", plane_model(size, False, False, 8.0), scheme)
        verdicts = []
        for rr, rc in ((True, False), (False, True), (True, True)):
            image = run(binary, workdir, "m%d%d" % (rr, rc), plane_model(size, rr, rc, 8.0),
                        scheme)
            same = len(image) == len(base)
            for (_, a), (_, b) in zip(base, image):
                for i in range(size):
                    for j in range(size):
                        mi = size - 1 - i if rr else i
                        mj = size - 1 - j if rc else j
                        if a[i * size + j][7] != b[mi * size + mj][7]:
                            same = False
            verdicts.append("%s: %s" % ({(True, False): "rows", (False, True): "columns",
                                         (True, True): "both"}[(rr, rc)],
                                        "yes" if same else "NO"))
        print("%-10s %s" % (label(scheme), ", ".join(verdicts)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default=os.path.join(ROOT, "build/release/kova-compute"))
    parser.add_argument("--workdir")
    parser.add_argument("--plot", help="draw the slugs into this PNG file")
    parser.add_argument("--step", type=float, default=0.0,
                        help="the coarse column's step in days (default: each scheme's own)")
    parser.add_argument("--fine-step", type=float, default=0.0,
                        help="the fine column's step in days (default: each scheme's own)")
    parser.add_argument("--columns-only", action="store_true",
                        help="only the two explicit Ogata-Banks columns")
    parser.add_argument("--scheme", choices=SCHEMES, action="append",
                        help="only this scheme in the explicit columns (repeatable)")
    args = parser.parse_args()
    workdir = args.workdir or tempfile.mkdtemp(prefix="kova-schemes-")
    os.makedirs(workdir, exist_ok=True)
    schemes = tuple(args.scheme) if args.scheme else SCHEMES
    ogata_banks_case(args.bin, workdir, "coarse", args.step, schemes)
    print()
    ogata_banks_case(args.bin, workdir, "fine", args.fine_step, schemes)
    if args.columns_only:
        return
    print()
    ogata_banks_implicit_case(args.bin, workdir)
    slug_case(args.bin, workdir, args.plot)
    mirror_case(args.bin, workdir)
    well_case(args.bin, workdir)


if __name__ == "__main__":
    main()
