// The k-means library in one include. A clustering of `count` vectors into k groups:
//
//   KMeansPointSet points(dim, count);
//   for (int i = 0; i < count; ++i) std::copy(vec[i], vec[i] + dim, points.point(i));
//   points.buildTree();
//   KMeansFilterCenterSet centres(k, points, 1.0);
//   KMeansLloydRestartSearch search(centres, termination);  // e.g. {100, 0, 0, 0, 0.10,
//   centres = search.Execute();                              //  0.10, 3, 0.50, 10, 0.95}
//   std::vector<int> cluster(count);
//   centres.GetAssignments(cluster.data(), nullptr);  // centres.center(c): dim doubles
//
// Draws come from the library's own fixed-seed source (KMeansRandomUniform), so a program
// repeats its clusterings run after run. The library ends the process only on its fatal
// errors (KMeansReportError); bad sizes throw std::invalid_argument or std::logic_error.
#pragma once

#include "patchloom/kmeans/center_set.h"
#include "patchloom/kmeans/kc_tree.h"
#include "patchloom/kmeans/kmeans_random.h"
#include "patchloom/kmeans/local_search.h"
#include "patchloom/kmeans/point_set.h"
