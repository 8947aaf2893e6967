// Two-tree augmenting-path max-flow. Nodes and arcs live in two flat arrays grown by
// half; the active queue threads through the nodes; orphans come from 128-entry blocks.
#include "quiltbench/engine/maxflow_graph.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int kMinNodeRoom = 16;
constexpr int kMinEdgeRoom = 16;
constexpr int kInfiniteDistance = 0x7FFFFFFF;
constexpr const char* kNoMemory = "Not enough memory!";

}  // namespace

// Nodes start on a cache line, so that no node straddles two.
MaxflowGraph::Node* MaxflowGraph::allocateNodes(int count) {
  const std::size_t bytes = (sizeof(Node) * static_cast<std::size_t>(count) + 63) / 64 * 64;
  return static_cast<Node*>(std::aligned_alloc(64, bytes));
}

// Orphan entries handed out from blocks of 128 and recycled through a free list, so a
// long adoption cascade never allocates per entry.
class MaxflowGraph::OrphanStore {
 public:
  static constexpr int kBlockEntries = 128;

  // Null when a new block cannot be allocated.
  OrphanEntry* take() {
    if (free_) {
      OrphanEntry* e = free_;
      free_ = e->next;
      return e;
    }
    if (usedInLast_ == kBlockEntries || blocks_.empty()) {
      auto* block = new (std::nothrow) OrphanEntry[kBlockEntries];
      if (!block) return nullptr;
      try {
        blocks_.emplace_back(block);
      } catch (const std::bad_alloc&) {
        delete[] block;
        return nullptr;
      }
      usedInLast_ = 0;
    }
    return &blocks_.back()[usedInLast_++];
  }
  void give(OrphanEntry* e) {
    e->next = free_;
    free_ = e;
  }

 private:
  std::vector<std::unique_ptr<OrphanEntry[]>> blocks_;
  int usedInLast_ = 0;
  OrphanEntry* free_ = nullptr;
};

MaxflowGraph::MaxflowGraph(int nodeHint, int edgeHint, ErrorFunction error) : error_(error) {
  nodeRoom_ = std::max(nodeHint, kMinNodeRoom);
  const int edges = std::max(edgeHint, kMinEdgeRoom);
  if (edges > INT_MAX / 2) fatal(kNoMemory);
  arcRoom_ = 2 * edges;
  nodes_ = allocateNodes(nodeRoom_);
  arcs_ = static_cast<Arc*>(std::malloc(sizeof(Arc) * static_cast<std::size_t>(arcRoom_)));
  if (!nodes_ || !arcs_) fatal(kNoMemory);
}

MaxflowGraph::~MaxflowGraph() {
  std::free(nodes_);
  std::free(arcs_);
  std::free(packed_);
  delete orphanStore_;
}

void MaxflowGraph::fatal(const char* text) const {
  if (error_)
    error_(text);
  else
    std::fprintf(stderr, "%s\n", text);
  std::exit(1);
}

void MaxflowGraph::ReallocateNodes(int count) {
  if (count > INT_MAX - nodeCount_) fatal(kNoMemory);
  const long long grown = static_cast<long long>(nodeRoom_) + nodeRoom_ / 2;
  const int room = static_cast<int>(std::min<long long>(
      std::max<long long>(grown, static_cast<long long>(nodeCount_) + count), INT_MAX));
  auto* moved = allocateNodes(room);
  if (!moved) fatal(kNoMemory);
  if (nodeCount_) std::memcpy(moved, nodes_, sizeof(Node) * static_cast<std::size_t>(nodeCount_));
  std::free(nodes_);
  // Arcs hold node indexes, not addresses, so nothing needs rebasing after a move.
  nodes_ = moved;
  nodeRoom_ = room;
}

void MaxflowGraph::ReallocateArcs() {
  long long room = static_cast<long long>(arcRoom_) + arcRoom_ / 2;
  room += room & 1;  // arcs come in pairs
  if (room > INT_MAX - 1) fatal(kNoMemory);
  auto* moved =
      static_cast<Arc*>(std::realloc(arcs_, sizeof(Arc) * static_cast<std::size_t>(room)));
  if (!moved) fatal(kNoMemory);
  arcs_ = moved;
  arcRoom_ = static_cast<int>(room);
}

MaxflowGraph::node_id MaxflowGraph::AddNodes(int count) {
  if (count <= 0) return nodeCount_;
  if (packed_) unpackArcs();
  if (count > nodeRoom_ - nodeCount_) ReallocateNodes(count);
  const node_id first = nodeCount_;
  if (count == 1) {
    Node& n = nodes_[first];
    n.first = kNoParent;
    n.trCap = 0;
    // The remaining fields are set by maxflow before they are read; keep them defined.
    n.parent = kNoParent;
    n.up = kNoNode;
    n.next = kNoNode;
    n.ts = 0;
    n.dist = 0;
    n.flags = 0;
  } else {
    for (int k = 0; k < count; ++k)
      nodes_[first + k] = Node{kNoParent, kNoParent, kNoNode, kNoNode, 0, 0, 0.0f, 0};
  }
  nodeCount_ += count;
  return first;
}

void MaxflowGraph::AddEdge(node_id i, node_id j, captype capacity, captype reverseCapacity) {
  if (packed_) unpackArcs();
  if (arcCount_ + 2 > arcRoom_) ReallocateArcs();
  const arc_id a = arcCount_;
  const arc_id b = a + 1;
  arcs_[a] = Arc{j, nodes_[i].first, capacity};
  arcs_[b] = Arc{i, nodes_[j].first, reverseCapacity};
  nodes_[i].first = a;
  nodes_[j].first = b;
  arcCount_ += 2;
}

void MaxflowGraph::AddTerminalWeights(node_id i, captype sourceCapacity, captype sinkCapacity) {
  const captype d = nodes_[i].trCap;
  if (d > 0)
    sourceCapacity += d;
  else
    sinkCapacity -= d;
  flow_ += std::min(sourceCapacity, sinkCapacity);
  nodes_[i].trCap = sourceCapacity - sinkCapacity;
}

MaxflowGraph::termtype MaxflowGraph::WhatSegment(node_id i, termtype defaultSegment) const {
  const Node& n = nodes_[i];
  if (n.parent == kNoParent) return defaultSegment;
  return (n.flags & kInSinkTree) ? SINK : SOURCE;
}

// Queued nodes go to the back of the second queue; the first queue drains first.
inline void MaxflowGraph::setActive(node_id i) {
  Node& n = nodes_[i];
  if (n.next != kNoNode) return;
  if (queueLast_[1] != kNoNode)
    nodes_[queueLast_[1]].next = i;
  else
    queueFirst_[1] = i;
  queueLast_[1] = i;
  n.next = i;
}

inline MaxflowGraph::node_id MaxflowGraph::nextActive() {
  for (;;) {
    node_id i = queueFirst_[0];
    if (i == kNoNode) {
      queueFirst_[0] = i = queueFirst_[1];
      queueLast_[0] = queueLast_[1];
      queueFirst_[1] = queueLast_[1] = kNoNode;
      if (i == kNoNode) return kNoNode;
    }
    Node& n = nodes_[i];
    if (n.next == i)
      queueFirst_[0] = queueLast_[0] = kNoNode;
    else
      queueFirst_[0] = n.next;
    n.next = kNoNode;
    if (n.parent != kNoParent) return i;
  }
}

inline void MaxflowGraph::setOrphanFront(node_id i) {
  nodes_[i].parent = kOrphan;
  OrphanEntry* e = orphanStore_->take();
  if (!e) fatal(kNoMemory);
  e->node = i;
  e->next = orphanFirst_;
  orphanFirst_ = e;
  if (!orphanLast_) orphanLast_ = e;
}

inline void MaxflowGraph::setOrphanRear(node_id i) {
  nodes_[i].parent = kOrphan;
  OrphanEntry* e = orphanStore_->take();
  if (!e) fatal(kNoMemory);
  e->node = i;
  e->next = nullptr;
  if (orphanLast_)
    orphanLast_->next = e;
  else
    orphanFirst_ = e;
  orphanLast_ = e;
}

// Packs the arcs by tail. Each node's arcs keep their list order, so every scan below
// visits them exactly as the lists would.
void MaxflowGraph::packArcs() {
  if (nodeCount_ == nodeRoom_) ReallocateNodes(1);  // the spare entry for the last end
  auto* packed =
      static_cast<PackedArc*>(std::malloc(sizeof(PackedArc) * std::max<std::size_t>(arcCount_, 1)));
  auto* position =
      static_cast<arc_id*>(std::malloc(sizeof(arc_id) * std::max<std::size_t>(arcCount_, 1)));
  if (!packed || !position) fatal(kNoMemory);
  std::fill(position, position + arcCount_, kNoParent);
  arc_id next = 0;
  for (node_id i = 0; i < nodeCount_; ++i) {
    const arc_id listHead = nodes_[i].first;
    nodes_[i].first = next;
    for (arc_id a = listHead; a != kNoParent; a = arcs_[a].next) position[a] = next++;
  }
  nodes_[nodeCount_].first = next;
  // An edge from a node to itself drops one arc from the node's list; it goes past the
  // last node's end, where no scan reaches it.
  for (arc_id a = 0; a < arcCount_; ++a)
    if (position[a] == kNoParent) position[a] = next++;
  for (arc_id a = 0; a < arcCount_; ++a)
    packed[position[a]] = PackedArc{arcs_[a].head, position[sister(a)], arcs_[a].rCap};
  std::free(position);
  std::free(arcs_);
  arcs_ = nullptr;
  packed_ = packed;
}

// Back to paired arcs in growable lists, for a graph that grows after a cut. Pairs are
// numbered afresh; each node's list keeps its order.
void MaxflowGraph::unpackArcs() {
  auto* arcs = static_cast<Arc*>(std::malloc(sizeof(Arc) * static_cast<std::size_t>(arcRoom_)));
  auto* pairOf =
      static_cast<arc_id*>(std::malloc(sizeof(arc_id) * std::max<std::size_t>(arcCount_, 1)));
  if (!arcs || !pairOf) fatal(kNoMemory);
  arc_id pairs = 0;
  for (arc_id c = 0; c < arcCount_; ++c) {
    const arc_id t = packed_[c].sister;
    if (c < t) {
      pairOf[c] = 2 * pairs;
      pairOf[t] = 2 * pairs + 1;
      ++pairs;
    }
  }
  for (node_id i = 0; i < nodeCount_; ++i) {
    const arc_id begin = nodes_[i].first, end = nodes_[i + 1].first;
    arc_id head = kNoParent;
    for (arc_id c = end; c-- > begin;) {
      arcs[pairOf[c]] = Arc{packed_[c].head, head, packed_[c].rCap};
      head = pairOf[c];
    }
    nodes_[i].first = head;
  }
  for (arc_id c = nodes_[nodeCount_].first; c < arcCount_; ++c)
    arcs[pairOf[c]] = Arc{packed_[c].head, kNoParent, packed_[c].rCap};
  // The parent arcs that the segments are read from are not needed again, except as
  // markers: keep them meaningful.
  for (node_id i = 0; i < nodeCount_; ++i)
    if (nodes_[i].parent >= 0) nodes_[i].parent = pairOf[nodes_[i].parent];
  std::free(pairOf);
  std::free(packed_);
  packed_ = nullptr;
  arcs_ = arcs;
}

// `middle` runs from a source-tree node to a sink-tree node. The path's arcs are noted
// on the way to the terminals, so the second pass needs no walking.
void MaxflowGraph::augment(arc_id middle) {
  PackedArc* arcs = packed_;
  captype bottleneck = arcs[middle].rCap;

  sourcePath_.clear();
  node_id i = arcs[arcs[middle].sister].head;
  for (;;) {
    const arc_id a = nodes_[i].parent;
    if (a == kTerminal) break;
    sourcePath_.push_back(a);
    bottleneck = std::min(bottleneck, arcs[arcs[a].sister].rCap);
    i = nodes_[i].up;
  }
  const node_id sourceRoot = i;
  bottleneck = std::min(bottleneck, nodes_[i].trCap);

  sinkPath_.clear();
  i = arcs[middle].head;
  for (;;) {
    const arc_id a = nodes_[i].parent;
    if (a == kTerminal) break;
    sinkPath_.push_back(a);
    bottleneck = std::min(bottleneck, arcs[a].rCap);
    i = nodes_[i].up;
  }
  const node_id sinkRoot = i;
  bottleneck = std::min(bottleneck, -nodes_[i].trCap);

  arcs[arcs[middle].sister].rCap += bottleneck;
  arcs[middle].rCap -= bottleneck;

  // The tail of each parent arc is the node that hangs from it.
  for (const arc_id a : sourcePath_) {
    PackedArc& back = arcs[arcs[a].sister];
    arcs[a].rCap += bottleneck;
    back.rCap -= bottleneck;
    if (back.rCap == 0) setOrphanFront(back.head);
  }
  nodes_[sourceRoot].trCap -= bottleneck;
  if (nodes_[sourceRoot].trCap == 0) setOrphanFront(sourceRoot);

  for (const arc_id a : sinkPath_) {
    PackedArc& back = arcs[arcs[a].sister];
    back.rCap += bottleneck;
    arcs[a].rCap -= bottleneck;
    if (arcs[a].rCap == 0) setOrphanFront(back.head);
  }
  nodes_[sinkRoot].trCap += bottleneck;
  if (nodes_[sinkRoot].trCap == 0) setOrphanFront(sinkRoot);

  flow_ += bottleneck;
}

// Looks for a new parent in the orphan's own tree among neighbours whose way to the
// terminal does not pass an orphan; prefers the shortest way, first arc on ties. Without
// one the orphan is freed: neighbours that could grow into it are queued again and its
// children become orphans in turn. `sinkTree` picks the residual direction that matters.
template <bool sinkTree>
void MaxflowGraph::processOrphan(node_id i) {
  const PackedArc* arcs = packed_;
  auto open = [&](arc_id a0) {
    return sinkTree ? arcs[a0].rCap != 0 : arcs[arcs[a0].sister].rCap != 0;
  };
  auto inTree = [](const Node& n) { return ((n.flags & kInSinkTree) != 0) == sinkTree; };

  arc_id best = kNoParent;
  int bestDistance = kInfiniteDistance;
  const arc_id begin = nodes_[i].first, end = nodes_[i + 1].first;

  for (arc_id a0 = begin; a0 < end; ++a0) {
    if (!open(a0)) continue;
    node_id j = arcs[a0].head;
    if (!inTree(nodes_[j]) || nodes_[j].parent == kNoParent) continue;
    int d = 0;
    for (;;) {
      Node& n = nodes_[j];
      if (n.ts == time_) {
        d += n.dist;
        break;
      }
      const arc_id a = n.parent;
      ++d;
      if (a == kTerminal) {
        n.ts = time_;
        n.dist = 1;
        break;
      }
      if (a == kOrphan) {
        d = kInfiniteDistance;
        break;
      }
      j = n.up;
    }
    if (d == kInfiniteDistance) continue;
    if (d < bestDistance) {
      best = a0;
      bestDistance = d;
    }
    for (j = arcs[a0].head; nodes_[j].ts != time_; j = nodes_[j].up) {
      nodes_[j].ts = time_;
      nodes_[j].dist = d--;
    }
  }

  Node& orphan = nodes_[i];
  orphan.parent = best;
  if (best != kNoParent) {
    orphan.up = arcs[best].head;
    orphan.ts = time_;
    orphan.dist = bestDistance + 1;
    return;
  }
  for (arc_id a0 = begin; a0 < end; ++a0) {
    const node_id j = arcs[a0].head;
    const Node& n = nodes_[j];
    const arc_id a = n.parent;
    if (!inTree(n) || a == kNoParent) continue;
    if (open(a0)) setActive(j);
    if (a != kTerminal && a != kOrphan && n.up == i) setOrphanRear(j);
  }
}

MaxflowGraph::flowtype MaxflowGraph::maxflow(bool reuse_trees, std::vector<node_id>* changed_list) {
  if (reuse_trees && maxflowIteration_ == 0)
    fatal("reuse_trees cannot be used in the first call to maxflow()!");
  if (changed_list && !reuse_trees) fatal("changed_list cannot be used without reuse_trees!");
  // A later call asking to reuse the trees gets fresh ones: growing them again over the
  // residual graph gives the same flow. No node is ever reported as changed.
  if (changed_list) changed_list->clear();

  if (!packed_) packArcs();
  delete orphanStore_;
  orphanStore_ = new (std::nothrow) OrphanStore;
  if (!orphanStore_) fatal(kNoMemory);

  queueFirst_[0] = queueLast_[0] = queueFirst_[1] = queueLast_[1] = kNoNode;
  orphanFirst_ = orphanLast_ = nullptr;
  time_ = 0;
  for (node_id i = 0; i < nodeCount_; ++i) {
    Node& n = nodes_[i];
    n.next = kNoNode;
    n.flags = 0;
    n.ts = time_;
    if (n.trCap > 0) {
      n.parent = kTerminal;
      n.dist = 1;
      setActive(i);
    } else if (n.trCap < 0) {
      n.flags = kInSinkTree;
      n.parent = kTerminal;
      n.dist = 1;
      setActive(i);
    } else {
      n.parent = kNoParent;
    }
  }

  try {
    runTrees();
  } catch (const std::bad_alloc&) {
    fatal(kNoMemory);
  }

  delete orphanStore_;
  orphanStore_ = nullptr;
  ++maxflowIteration_;
  return flow_;
}

void MaxflowGraph::runTrees() {
  const PackedArc* arcs = packed_;
  node_id current = kNoNode;
  for (;;) {
    node_id i = current;
    if (i != kNoNode) {
      nodes_[i].next = kNoNode;
      if (nodes_[i].parent == kNoParent) i = kNoNode;
    }
    if (i == kNoNode) {
      i = nextActive();
      if (i == kNoNode) break;
    }

    arc_id path = kNoParent;
    const Node& ni = nodes_[i];
    const arc_id begin = ni.first, end = nodes_[i + 1].first;
    if (!(ni.flags & kInSinkTree)) {
      for (arc_id a = begin; a < end; ++a) {
        if (arcs[a].rCap == 0) continue;
        const node_id j = arcs[a].head;
        Node& nj = nodes_[j];
        if (nj.parent == kNoParent) {
          nj.flags &= static_cast<std::uint8_t>(~kInSinkTree);
          nj.parent = arcs[a].sister;
          nj.up = i;
          nj.ts = ni.ts;
          nj.dist = ni.dist + 1;
          setActive(j);
        } else if (nj.flags & kInSinkTree) {
          path = a;
          break;
        } else if (nj.ts <= ni.ts && nj.dist > ni.dist) {
          nj.parent = arcs[a].sister;
          nj.up = i;
          nj.ts = ni.ts;
          nj.dist = ni.dist + 1;
        }
      }
    } else {
      for (arc_id a = begin; a < end; ++a) {
        if (arcs[arcs[a].sister].rCap == 0) continue;
        const node_id j = arcs[a].head;
        Node& nj = nodes_[j];
        if (nj.parent == kNoParent) {
          nj.flags |= kInSinkTree;
          nj.parent = arcs[a].sister;
          nj.up = i;
          nj.ts = ni.ts;
          nj.dist = ni.dist + 1;
          setActive(j);
        } else if (!(nj.flags & kInSinkTree)) {
          path = arcs[a].sister;
          break;
        } else if (nj.ts <= ni.ts && nj.dist > ni.dist) {
          nj.parent = arcs[a].sister;
          nj.up = i;
          nj.ts = ni.ts;
          nj.dist = ni.dist + 1;
        }
      }
    }

    ++time_;

    if (path == kNoParent) {
      current = kNoNode;
      continue;
    }
    nodes_[i].next = i;  // keeps i current without putting it in a queue
    current = i;
    augment(path);
    while (OrphanEntry* e = orphanFirst_) {
      orphanFirst_ = e->next;
      if (!orphanFirst_) orphanLast_ = nullptr;
      const node_id orphan = e->node;
      orphanStore_->give(e);
      if (nodes_[orphan].flags & kInSinkTree)
        processOrphan<true>(orphan);
      else
        processOrphan<false>(orphan);
    }
  }
}
