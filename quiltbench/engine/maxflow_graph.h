// Minimum s-t cut on a directed graph with float capacities, by augmenting paths found
// between two search trees grown from the terminals and repaired by orphan adoption.
// Every seam cut and the spatio-temporal blend builds one graph, cuts it once and reads
// each node's side.
#pragma once

#include <cstdint>
#include <vector>

class MaxflowGraph {
 public:
  using captype = float;
  using flowtype = float;
  using node_id = int;
  using arc_id = int;

  // Receives the text of a fatal error just before the process ends; may be null.
  using ErrorFunction = void (*)(const char* text);

  enum termtype { SOURCE = 0, SINK = 1 };

  // Room for max(nodeHint, 16) nodes and 2 * max(edgeHint, 16) arcs. Running out of
  // memory here or at any later growth reports "Not enough memory!" and exits with 1.
  MaxflowGraph(int nodeHint, int edgeHint, ErrorFunction error = nullptr);
  ~MaxflowGraph();
  MaxflowGraph(const MaxflowGraph&) = delete;
  MaxflowGraph& operator=(const MaxflowGraph&) = delete;

  // Appends `count` nodes and returns the index of the first; indexes run on from 0.
  node_id AddNodes(int count = 1);

  // Arc i -> j with `capacity` and its sister j -> i with `reverseCapacity`.
  void AddEdge(node_id i, node_id j, captype capacity, captype reverseCapacity);

  // Adds capacity from the source and to the sink of node i; accumulates over calls.
  void AddTerminalWeights(node_id i, captype sourceCapacity, captype sinkCapacity);

  // Runs the cut and returns the total flow. Trees are never reused here: callers pass
  // false and null, anything else ends the process with the refusal text.
  flowtype maxflow(bool reuse_trees = false, std::vector<node_id>* changed_list = nullptr);

  // After maxflow: SOURCE or SINK for a node in a search tree, `defaultSegment` for a
  // node neither tree reached.
  termtype WhatSegment(node_id i, termtype defaultSegment = SOURCE) const;

  int NodeCount() const { return nodeCount_; }
  int ArcCount() const { return arcCount_; }
  flowtype Flow() const { return flow_; }

 private:
  // Parent markers besides a real arc index.
  static constexpr arc_id kNoParent = -1;
  static constexpr arc_id kTerminal = -2;
  static constexpr arc_id kOrphan = -3;
  static constexpr node_id kNoNode = -1;

  enum NodeFlags : std::uint8_t { kInSinkTree = 1, kMarked = 2, kInChangedList = 4 };

  struct Node {
    arc_id first;   // first outgoing arc, kNoParent when none
    arc_id parent;  // arc to the parent, or kNoParent / kTerminal / kOrphan
    node_id up;     // the parent arc's head, kept beside it so walks skip the arc
    node_id next;   // next active node; kNoNode: not queued; itself: last queued
    int ts;         // time stamp of the distance below
    int dist;       // distance to the terminal
    captype trCap;  // residual terminal capacity: > 0 from the source, < 0 to the sink
    std::uint8_t flags;
  };

  // The arcs of one edge sit side by side, so an arc's sister is its index xor 1.
  struct Arc {
    node_id head;
    arc_id next;   // next arc out of the same tail
    captype rCap;  // residual capacity
  };

  // While maxflow runs the arcs are packed by tail, each node's in list order, so that
  // scanning a node's arcs reads one stretch of memory; the sister is then stored.
  struct PackedArc {
    node_id head;
    arc_id sister;
    captype rCap;
  };

  struct OrphanEntry {
    node_id node;
    OrphanEntry* next;
  };

  class OrphanStore;

  static arc_id sister(arc_id a) { return a ^ 1; }
  [[noreturn]] void fatal(const char* text) const;

  static Node* allocateNodes(int count);
  void ReallocateNodes(int count);
  void ReallocateArcs();
  void packArcs();
  void unpackArcs();

  void runTrees();
  void setActive(node_id i);
  node_id nextActive();
  void setOrphanFront(node_id i);
  void setOrphanRear(node_id i);
  void augment(arc_id middle);
  template <bool sinkTree>
  void processOrphan(node_id i);

  Node* nodes_ = nullptr;
  int nodeCount_ = 0;
  int nodeRoom_ = 0;
  Arc* arcs_ = nullptr;  // null while the arcs are packed
  int arcCount_ = 0;
  int arcRoom_ = 0;
  // Packed arcs; a node's arcs run from its `first` to the next node's `first` (the
  // node array keeps one spare entry for the last node's end).
  PackedArc* packed_ = nullptr;
  OrphanStore* orphanStore_ = nullptr;  // only while maxflow runs
  ErrorFunction error_ = nullptr;
  flowtype flow_ = 0;
  int maxflowIteration_ = 0;

  node_id queueFirst_[2] = {kNoNode, kNoNode};
  node_id queueLast_[2] = {kNoNode, kNoNode};
  OrphanEntry* orphanFirst_ = nullptr;
  OrphanEntry* orphanLast_ = nullptr;
  int time_ = 0;

  // Scratch of one augmentation: the parent arcs on each side of the path.
  std::vector<arc_id> sourcePath_;
  std::vector<arc_id> sinkPath_;
};
