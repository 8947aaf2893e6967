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
  nodes_ = static_cast<Node*>(std::malloc(sizeof(Node) * static_cast<std::size_t>(nodeRoom_)));
  arcs_ = static_cast<Arc*>(std::malloc(sizeof(Arc) * static_cast<std::size_t>(arcRoom_)));
  if (!nodes_ || !arcs_) fatal(kNoMemory);
}

MaxflowGraph::~MaxflowGraph() {
  std::free(nodes_);
  std::free(arcs_);
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
  auto* moved =
      static_cast<Node*>(std::realloc(nodes_, sizeof(Node) * static_cast<std::size_t>(room)));
  if (!moved) fatal(kNoMemory);
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

// `middle` runs from a source-tree node to a sink-tree node. The path's arcs are noted
// on the way to the terminals, so the second pass needs no walking.
void MaxflowGraph::augment(arc_id middle) {
  captype bottleneck = arcs_[middle].rCap;

  sourcePath_.clear();
  node_id i = arcs_[sister(middle)].head;
  for (;;) {
    const arc_id a = nodes_[i].parent;
    if (a == kTerminal) break;
    sourcePath_.push_back(a);
    bottleneck = std::min(bottleneck, arcs_[sister(a)].rCap);
    i = nodes_[i].up;
  }
  const node_id sourceRoot = i;
  bottleneck = std::min(bottleneck, nodes_[i].trCap);

  sinkPath_.clear();
  i = arcs_[middle].head;
  for (;;) {
    const arc_id a = nodes_[i].parent;
    if (a == kTerminal) break;
    sinkPath_.push_back(a);
    bottleneck = std::min(bottleneck, arcs_[a].rCap);
    i = nodes_[i].up;
  }
  const node_id sinkRoot = i;
  bottleneck = std::min(bottleneck, -nodes_[i].trCap);

  arcs_[sister(middle)].rCap += bottleneck;
  arcs_[middle].rCap -= bottleneck;

  // The tail of each parent arc is the node that hangs from it.
  for (const arc_id a : sourcePath_) {
    arcs_[a].rCap += bottleneck;
    arcs_[sister(a)].rCap -= bottleneck;
    if (arcs_[sister(a)].rCap == 0) setOrphanFront(arcs_[sister(a)].head);
  }
  nodes_[sourceRoot].trCap -= bottleneck;
  if (nodes_[sourceRoot].trCap == 0) setOrphanFront(sourceRoot);

  for (const arc_id a : sinkPath_) {
    arcs_[sister(a)].rCap += bottleneck;
    arcs_[a].rCap -= bottleneck;
    if (arcs_[a].rCap == 0) setOrphanFront(arcs_[sister(a)].head);
  }
  nodes_[sinkRoot].trCap += bottleneck;
  if (nodes_[sinkRoot].trCap == 0) setOrphanFront(sinkRoot);

  flow_ += bottleneck;
}

// Looks for a new parent in the orphan's own tree among neighbours whose way to the
// terminal does not pass an orphan; prefers the shortest way, first arc on ties.
void MaxflowGraph::processSourceOrphan(node_id i) {
  arc_id best = kNoParent;
  int bestDistance = kInfiniteDistance;

  for (arc_id a0 = nodes_[i].first; a0 != kNoParent; a0 = arcs_[a0].next) {
    if (arcs_[sister(a0)].rCap == 0) continue;
    node_id j = arcs_[a0].head;
    if ((nodes_[j].flags & kInSinkTree) || nodes_[j].parent == kNoParent) continue;
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
    for (j = arcs_[a0].head; nodes_[j].ts != time_; j = nodes_[j].up) {
      nodes_[j].ts = time_;
      nodes_[j].dist = d--;
    }
  }

  Node& orphan = nodes_[i];
  orphan.parent = best;
  if (best != kNoParent) {
    orphan.up = arcs_[best].head;
    orphan.ts = time_;
    orphan.dist = bestDistance + 1;
    return;
  }
  for (arc_id a0 = orphan.first; a0 != kNoParent; a0 = arcs_[a0].next) {
    const node_id j = arcs_[a0].head;
    const Node& n = nodes_[j];
    const arc_id a = n.parent;
    if ((n.flags & kInSinkTree) || a == kNoParent) continue;
    if (arcs_[sister(a0)].rCap != 0) setActive(j);
    if (a != kTerminal && a != kOrphan && n.up == i) setOrphanRear(j);
  }
}

void MaxflowGraph::processSinkOrphan(node_id i) {
  arc_id best = kNoParent;
  int bestDistance = kInfiniteDistance;

  for (arc_id a0 = nodes_[i].first; a0 != kNoParent; a0 = arcs_[a0].next) {
    if (arcs_[a0].rCap == 0) continue;
    node_id j = arcs_[a0].head;
    if (!(nodes_[j].flags & kInSinkTree) || nodes_[j].parent == kNoParent) continue;
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
    for (j = arcs_[a0].head; nodes_[j].ts != time_; j = nodes_[j].up) {
      nodes_[j].ts = time_;
      nodes_[j].dist = d--;
    }
  }

  Node& orphan = nodes_[i];
  orphan.parent = best;
  if (best != kNoParent) {
    orphan.up = arcs_[best].head;
    orphan.ts = time_;
    orphan.dist = bestDistance + 1;
    return;
  }
  for (arc_id a0 = orphan.first; a0 != kNoParent; a0 = arcs_[a0].next) {
    const node_id j = arcs_[a0].head;
    const Node& n = nodes_[j];
    const arc_id a = n.parent;
    if (!(n.flags & kInSinkTree) || a == kNoParent) continue;
    if (arcs_[a0].rCap != 0) setActive(j);
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
    if (!(ni.flags & kInSinkTree)) {
      for (arc_id a = ni.first; a != kNoParent; a = arcs_[a].next) {
        if (arcs_[a].rCap == 0) continue;
        const node_id j = arcs_[a].head;
        Node& nj = nodes_[j];
        if (nj.parent == kNoParent) {
          nj.flags &= static_cast<std::uint8_t>(~kInSinkTree);
          nj.parent = sister(a);
          nj.up = i;
          nj.ts = ni.ts;
          nj.dist = ni.dist + 1;
          setActive(j);
        } else if (nj.flags & kInSinkTree) {
          path = a;
          break;
        } else if (nj.ts <= ni.ts && nj.dist > ni.dist) {
          nj.parent = sister(a);
          nj.up = i;
          nj.ts = ni.ts;
          nj.dist = ni.dist + 1;
        }
      }
    } else {
      for (arc_id a = ni.first; a != kNoParent; a = arcs_[a].next) {
        if (arcs_[sister(a)].rCap == 0) continue;
        const node_id j = arcs_[a].head;
        Node& nj = nodes_[j];
        if (nj.parent == kNoParent) {
          nj.flags |= kInSinkTree;
          nj.parent = sister(a);
          nj.up = i;
          nj.ts = ni.ts;
          nj.dist = ni.dist + 1;
          setActive(j);
        } else if (!(nj.flags & kInSinkTree)) {
          path = sister(a);
          break;
        } else if (nj.ts <= ni.ts && nj.dist > ni.dist) {
          nj.parent = sister(a);
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
        processSinkOrphan(orphan);
      else
        processSourceOrphan(orphan);
    }
  }
}
