// Agent: the visitor that dfs drives through a trie.
//
// For every node it enters, the traversal calls the agent twice with the
// node's own State: visit_node, which may record something in the agent and
// store values in the State, and then get_children_to_visit, which reads
// that State and says which nodes to enter next, in which order, and with
// which State each. The traversal does not check that the returned nodes are
// children of the node, nor that they are new.
//
// The interface is a concept rather than a base class so that dfs is
// instantiated per agent type and the three calls are bound when the module
// is built, with no indirect call per node.
#pragma once

#include <concepts>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "prefix/state.h"
#include "prefix/trie.h"

namespace kelvaro {

// A node to enter, with the State it is entered with.
//
// The constructors are the aggregate's own, written out: value-initialising
// an aggregate (as emplace_back() does) would zero the State's few hundred
// bytes of storage before constructing it, once for every child entered.
struct NodeVisit {
  NodeVisit() noexcept {}
  NodeVisit(NodeId node, State state) noexcept : node(node), state(std::move(state)) {}

  NodeId node = 0;
  State state;
};

// get_children_to_visit receives the node's children as a view of a buffer
// that the traversal reuses, and appends the nodes to enter to `out`, which
// arrives empty and is also reused; no list is allocated per node.
template <typename A>
concept Agent = requires(A& agent, const A& const_agent, NodeId node,
                         std::optional<Payload> payload, State& state, const State& const_state,
                         std::span<const Child> children, std::vector<NodeVisit>& out) {
  { const_agent.initial_state() } -> std::same_as<State>;
  { agent.visit_node(node, payload, state) } -> std::same_as<void>;
  { const_agent.get_children_to_visit(node, const_state, children, out) } -> std::same_as<void>;
};

}  // namespace kelvaro
