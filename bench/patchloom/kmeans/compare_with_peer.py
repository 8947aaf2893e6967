#!/usr/bin/python3
"""The k-means benchmark's three clusterings (k = 4, 100 stages) next to scikit-learn's
Lloyd k-means on one thread, in one run: same points, same k, same first centres, at most
100 iterations with no tolerance.

    bench/patchloom/kmeans/compare_with_peer.py build/bench/patchloom/kmeans/kmeans_bench

The peer comes from Debian's python3-sklearn, which the build does not install
(apt-get install python3-sklearn).

scikit-learn stops early once the assignments no longer change, so its figure is also scaled
to 100 iterations: the time of a one-iteration fit (its fixed cost) plus 99 times the cost of
each further iteration. Our stages include the restarts from new random
centres and the final assignment pass.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

# One thread for the peer, set before its numerical libraries load.
for variable in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[variable] = "1"

import numpy as np  # noqa: E402
from sklearn.cluster import KMeans  # noqa: E402

SIZES = [(841, 3072), (3721, 768), (14641, 192)]
REPEATS = 3


def ours(bench, folder):
    env = dict(os.environ, KMEANS_PEER_POINTS=folder)
    subprocess.run([bench, "--benchmark_filter=BM_ExportPoints"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    out = subprocess.run([bench, "--benchmark_filter=BM_Clustering",
                          "--benchmark_format=json", "--benchmark_repetitions=%d" % REPEATS,
                          "--benchmark_report_aggregates_only=true"],
                         check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True).stdout
    times = {}
    for run in json.loads(out)["benchmarks"]:
        if run.get("aggregate_name") != "median":
            continue
        name = run["run_name"]
        assert run["time_unit"] == "ms"
        times[name] = run["real_time"] / 1000.0
    return times


def peer(folder, count, dim):
    name = "%dx%d" % (count, dim)
    points = np.fromfile(os.path.join(folder, "points-" + name + ".u8"), dtype=np.uint8)
    points = points.reshape(count, dim).astype(np.float64)
    start = np.fromfile(os.path.join(folder, "start-" + name + ".f64"), dtype=np.float64)
    start = start.reshape(4, dim)
    def fit(iterations):
        best = None
        for _ in range(REPEATS):
            model = KMeans(n_clusters=4, init=start, n_init=1, max_iter=iterations, tol=0.0,
                           algorithm="lloyd")
            began = time.perf_counter()
            model.fit(points)
            seconds = time.perf_counter() - began
            best = seconds if best is None else min(best, seconds)
        return best, model.n_iter_

    seconds, iterations = fit(100)
    once, _ = fit(1)
    per100 = once + (seconds - once) * 99 / max(1, iterations - 1)
    return seconds, iterations, per100


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: compare_with_peer.py <path to kmeans_bench>")
    with tempfile.TemporaryDirectory() as folder:
        times = ours(sys.argv[1], folder)
        print("%-14s %14s %14s %22s %10s" % ("points", "ours (engine)", "ours (kc-tree)",
                                            "scikit-learn (iters)", "per 100"))
        for which, (count, dim) in enumerate(SIZES):
            seconds, iterations, per100 = peer(folder, count, dim)
            engine = times["BM_Clustering/%d" % which]
            tree = times["BM_ClusteringOnKcTree/%d" % which]
            print("%-14s %12.3f s %12.3f s %14.3f s (%3d) %8.3f s" % (
                "%dx%d" % (count, dim), engine, tree, seconds, iterations,
                per100))


if __name__ == "__main__":
    main()
