// dfs: the depth-first walk of a trie that drives an Agent.
//
// The walk is iterative, with one growable stack of (node, State) pairs. A
// popped node is checked against the trie, visited, and asked for the nodes
// to enter next; those are pushed last first, so the first of them is popped
// next and its whole subtree is walked before its next sibling. States are
// made by the agent in the list, moved once onto the stack, lent to the agent
// there, and destroyed when their node is done.
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
#include <iterator>
#include <optional>
#include <vector>

#include "prefix/agent.h"
#include "prefix/internal_error.h"
#include "prefix/trie.h"

namespace kelvaro {

template <Agent A>
void dfs(const Trie& trie, A& agent) {
  const std::vector<std::optional<Payload>>& payloads = trie.node_payloads();
  const std::size_t visit_budget = payloads.size();
  const std::size_t listing_budget = trie.child_indices().size();
  std::size_t visited = 0;
  std::size_t listed = 0;

  std::vector<NodeVisit> stack;
  Children children;
  std::vector<NodeVisit> next;
  stack.push_back({0, agent.initial_state()});

  while (!stack.empty()) {
    // The top pair is processed where it lies and popped only once its next
    // nodes are listed, which saves moving every State off the stack.
    NodeVisit& current = stack.back();
    std::optional<Payload> payload = checked_at(payloads, current.node);
    if (visited == visit_budget) [[unlikely]]
      fail("child runs do not form a tree");
    ++visited;

    agent.visit_node(current.node, payload, current.state);
    trie.get_children(current.node, children);
    listed += children.size();
    if (listed > listing_budget) [[unlikely]]
      fail("child runs do not form a tree");
    agent.get_children_to_visit(current.node, current.state, children, next);
    stack.pop_back();
    stack.insert(stack.end(), std::make_move_iterator(next.rbegin()),
                 std::make_move_iterator(next.rend()));
    next.clear();
  }
}

}  // namespace kelvaro
