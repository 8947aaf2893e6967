#include "quiltbench/engine/maxflow_graph.h"

#include <cstdio>
#include <cstdlib>

class MaxflowGraph::OrphanStore {};

MaxflowGraph::MaxflowGraph(int, int, ErrorFunction error) : error_(error) {}
MaxflowGraph::~MaxflowGraph() = default;
MaxflowGraph::node_id MaxflowGraph::AddNodes(int count) {
  const node_id first = nodeCount_;
  nodeCount_ += count;
  return first;
}
void MaxflowGraph::AddEdge(node_id, node_id, captype, captype) {}
void MaxflowGraph::AddTerminalWeights(node_id, captype, captype) {}
MaxflowGraph::flowtype MaxflowGraph::maxflow(bool, std::vector<node_id>*) { return flow_; }
MaxflowGraph::termtype MaxflowGraph::WhatSegment(node_id, termtype defaultSegment) const {
  return defaultSegment;
}
void MaxflowGraph::fatal(const char* text) const {
  if (error_) error_(text);
  std::exit(1);
}
