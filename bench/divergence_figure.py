#!/usr/bin/python3
"""docs/divergence.png: the level model, the block-state model and the
simulated algorithm, generation by generation, from the columns that
`blocklevels_model_versus_simulation figure ...` writes.

    build/bench/blocklevels_model_versus_simulation figure 20000 10000 0.05 4 0 3 8 20 \\
        > /tmp/divergence.txt
    /usr/bin/python3 bench/divergence_figure.py /tmp/divergence.txt docs/divergence.png

The title is built from the arguments after the file names (optional):
lambda mu pmut b acc l runs.
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402


def main():
    data = np.loadtxt(sys.argv[1], ndmin=2)
    out = sys.argv[2]
    setting = sys.argv[3:] or ["20000", "10000", "0.05", "4", "0", "3", "20"]
    lam, mu, pmut, b, acc, l, runs = setting
    t = data[:, 0]
    groups = (data.shape[1] - 1) // 4  # mean level, then X_l .. X_1
    blocks = groups - 1
    colours = ["#0072b2", "#d55e00", "#009e73", "#cc79a7", "#e69f00", "#56b4e9"]

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8.5, 9.5), sharex=True)
    for g in range(1, groups):
        j = blocks - g + 1
        sim, hw, level, block = (data[:, 1 + 4 * g + k] for k in range(4))
        c = colours[(j - 1) % len(colours)]
        top.errorbar(t, sim, yerr=hw, fmt="o", color=c, markersize=6, capsize=3, zorder=3)
        top.plot(t, level, "--", color=c, linewidth=1.6)
        top.plot(t, block, "-", color=c, linewidth=1.6)
    top.set_yscale("log")
    top.set_ylabel("fraction of the offspring at or above level j")
    top.grid(True, which="major", alpha=0.3)

    sim, hw, level, block = (data[:, 1 + k] for k in range(4))
    c = "#333333"
    bottom.errorbar(t, sim, yerr=hw, fmt="o", color=c, markersize=6, capsize=3, zorder=3)
    bottom.plot(t, level, "--", color=c, linewidth=1.6)
    bottom.plot(t, block, "-", color=c, linewidth=1.6)
    bottom.set_ylabel("mean level (complete blocks)")
    bottom.set_xlabel("generation t")
    bottom.grid(True, alpha=0.3)
    bottom.set_xticks(t)

    styles = [
        Line2D([], [], color="black", marker="o", linestyle="none",
               label=f"simulation, mean of {runs} runs with 95 % interval"),
        Line2D([], [], color="black", linestyle="--", label="level model"),
        Line2D([], [], color="black", linestyle="-", label="block-state model"),
    ]
    levels = [Line2D([], [], color=colours[(j - 1) % len(colours)], linewidth=6,
                     label=f"level j = {j}") for j in range(1, blocks + 1)]
    fig.legend(handles=styles + levels, loc="lower center", ncol=2, frameon=False,
               fontsize=10)
    fig.suptitle(f"lambda = {lam}, mu = {mu}, Pmut = {pmut}, blocks of {b} positions "
                 f"({acc} two-option), l = {l}", fontsize=11)
    fig.tight_layout(rect=(0, 0.11, 1, 0.97))
    fig.savefig(out, dpi=110)


if __name__ == "__main__":
    main()
