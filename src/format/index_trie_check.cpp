#include "format/index_trie_check.h"

namespace kelvaro {
namespace {

std::string check_arrays(const Trie& trie) {
  const std::size_t nodes = trie.node_shifts().size();
  if (nodes == 0) return "it has no root";
  if (trie.node_chars().size() != nodes || trie.node_payloads().size() != nodes)
    return "its node arrays differ in length";
  const auto& children = trie.child_indices();
  if (children.size() != nodes - 1) return "it does not list every node but the root as a child";
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (children[i] != i + 1) return "its children are not in level order";
  }
  return {};
}

std::string check_characters(const Trie& trie) {
  const auto& chars = trie.node_chars();
  if (chars[0].has_value()) return "its root has a character";
  for (std::size_t node = 1; node < chars.size(); ++node) {
    if (!chars[node].has_value()) return "node " + std::to_string(node) + " has no character";
  }
  return {};
}

// Runs follow each other in node order, each child comes after its parent,
// and siblings rise strictly in character order.
std::string check_runs(const Trie& trie) {
  const auto& shifts = trie.node_shifts();
  const auto& chars = trie.node_chars();
  const std::size_t nodes = shifts.size();
  if (shifts[0] != 0) return "the root's children do not come first";
  for (std::size_t node = 0; node < nodes; ++node) {
    const std::size_t start = shifts[node];
    const std::size_t end = node + 1 < nodes ? shifts[node + 1] : nodes - 1;
    if (end < start || end > nodes - 1) return "its child runs are out of order";
    if (start == end) continue;
    // The run holds the ids start + 1 .. end.
    if (start < node) return "node " + std::to_string(node) + " has a child before it";
    for (std::size_t child = start + 2; child <= end; ++child) {
      if (chars[child - 1].value() >= chars[child].value())
        return "the children of node " + std::to_string(node) + " are not in character order";
    }
  }
  return {};
}

}  // namespace

std::variant<IndexTrieCounts, std::string> check_index_trie(const Trie& trie) {
  for (auto check : {check_arrays, check_characters, check_runs}) {
    std::string problem = check(trie);
    if (!problem.empty()) return problem;
  }
  std::size_t words = 0;
  for (const auto& payload : trie.node_payloads()) words += payload.has_value();
  return IndexTrieCounts{trie.node_shifts().size(), words};
}

}  // namespace kelvaro
