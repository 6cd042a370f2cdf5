// dfs: the depth-first walk of a trie that drives an Agent.
//
// The walk is iterative. Each node's list of nodes to enter, as its agent
// returned it, becomes one frame of the walk, and the frames stack up as the
// walk goes deeper: the innermost frame's next node is visited, its own list
// becomes the next frame, and a frame is left when all its nodes are done.
// So the first node of a list and its whole subtree are walked before the
// next node of the same list, exactly as with one stack that the lists are
// pushed onto last first, but no State is ever moved: each stays where its
// agent put it until its node is done. Each depth keeps its frame's storage
// for the rest of the run, so lists are not allocated per node either.
//
// The trie is never checked to be a tree. Child runs that lead back to an
// ancestor would keep the walk going forever, and overlapping runs would let
// every visit list and push the same children again. A walk of a tree visits
// each node at most once and lists each entry of child_indices at most once,
// so a run that would visit more nodes than the trie has payload entries, or
// list more children than child_indices holds, fails instead. The second
// bound also keeps the work and the stack of a malformed trie in proportion
// to its size when the agent enters only the children it is shown.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "prefix/agent.h"
#include "prefix/internal_error.h"
#include "prefix/interrupt.h"
#include "prefix/trie.h"

namespace kelvaro {

template <Agent A>
void dfs(const Trie& trie, A& agent) {
  const std::vector<std::optional<Payload>>& payloads = trie.node_payloads();
  const std::size_t visit_budget = payloads.size();
  std::size_t visited = 0;
  std::size_t listed = 0;

  // The nodes to enter from one node, how many there are, and how many of
  // them are done.
  struct Frame {
    std::vector<NodeVisit> visits;
    std::size_t size = 0;
    std::size_t done = 0;
  };
  std::vector<Frame> frames(1);
  frames[0].visits.push_back({0, agent.initial_state()});
  frames[0].size = 1;
  std::size_t depth = 0;
  Children children;
  InterruptCheck interrupts;

  while (true) {
    Frame& frame = frames[depth];
    if (frame.done == frame.size) {
      frame.visits.clear();
      if (depth == 0) break;
      --depth;
      continue;
    }
    // Growing `frames` moves the Frames but not the visits they own, so
    // this reference stays valid below.
    NodeVisit& current = frame.visits[frame.done++];
    std::optional<Payload> payload = checked_at(payloads, current.node);
    if (visited == visit_budget) [[unlikely]]
      fail("child runs do not form a tree");
    ++visited;

    interrupts.tick();

    agent.visit_node(current.node, payload, current.state);
    trie.get_children(current.node, children);
    listed += children.size();
    if (listed > trie.child_indices().size()) [[unlikely]]
      fail("child runs do not form a tree");

    if (depth + 1 == frames.size()) frames.emplace_back();
    Frame& inner = frames[depth + 1];
    agent.get_children_to_visit(current.node, current.state, children, inner.visits);
    // The node is done: its State goes now rather than with its frame, so
    // that a deep walk holds the States of the nodes still to enter, not
    // those of every node on its way down.
    current.state = State();
    inner.size = inner.visits.size();
    inner.done = 0;
    if (inner.size != 0) ++depth;
  }
}

}  // namespace kelvaro
