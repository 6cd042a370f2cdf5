// The search on well-formed tries, against the general engine and a plain
// recursive twin.
//
// The input describes a tree (each node's parent, character and payload,
// and a rotation or a sort of each child run), then one lookup. On a tree every
// lookup must finish, and its matches, their order included, must be those
// of the general engine (dfs driving a Matcher, which the typed walk stands
// in for on such a tree) and of the twin: a walk with one full row of the
// edit-distance table per node, children of the node entered in the
// search's preferred order. Rotated runs are unsorted and sorted ones are
// searched by bisection: the typed walk reads the two differently. A tree
// whose siblings are distinct is also folded into the compact layout (whose
// numbering is its own, so the tree's need not be breadth first), and the
// fold must walk as the tree does.
//
// Input layout (make_seeds.py writes it): the node count, less one; the
// root's payload; per further node its parent (modulo its own id), its
// character and its payload; per node a rotation of its child run; then the
// query's length and characters, max_dist and limit, one byte each.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "checks.h"
#include "entry_points.h"
#include "fold_checks.h"
#include "input_reader.h"
#include "prefix/internal_error.h"
#include "prefix/queries.h"
#include "prefix/trie.h"
#include "prefix/utf8.h"

namespace kelvaro::fuzz {
namespace {

// Few characters, so that siblings share them and queries meet them, one
// of each UTF-8 width beyond the first, and one that no tree holds.
constexpr char32_t kAlphabet[] = {U'a', U'b', U'c', U'\u00e9', U'\u20ac', U'\U0001f600', U'z'};
constexpr std::size_t kTreeLetters = std::size(kAlphabet) - 1;

struct Tree {
  std::vector<OptionalChar> chars;
  std::vector<std::optional<Payload>> payloads;
  std::vector<std::vector<NodeId>> children;

  Trie to_trie() const {
    std::vector<std::uint32_t> shifts;
    std::vector<NodeId> child_indices;
    for (const std::vector<NodeId>& run : children) {
      shifts.push_back(static_cast<std::uint32_t>(child_indices.size()));
      child_indices.insert(child_indices.end(), run.begin(), run.end());
    }
    return Trie(std::move(shifts), chars, payloads, std::move(child_indices));
  }
};

Tree read_tree(InputReader& reader) {
  const std::size_t size = 1 + reader.byte() % 128;
  Tree tree{{OptionalChar()}, {reader.optional_payload()}, std::vector<std::vector<NodeId>>(size)};
  for (NodeId node = 1; node < size; ++node) {
    tree.children[reader.byte() % node].push_back(node);
    tree.chars.push_back(OptionalChar(kAlphabet[reader.byte() % kTreeLetters]));
    tree.payloads.push_back(reader.optional_payload());
  }
  // All runs sorted, as the builder makes them, or all rotated.
  const bool sorted = reader.byte() & 1;
  for (std::vector<NodeId>& run : tree.children) {
    const std::uint8_t rotation = reader.byte();
    if (run.empty()) continue;
    if (sorted) {
      std::stable_sort(run.begin(), run.end(), [&](NodeId a, NodeId b) {
        return tree.chars[a].value() < tree.chars[b].value();
      });
    } else {
      std::rotate(run.begin(), run.begin() + rotation % run.size(), run.end());
    }
  }
  return tree;
}

class ReferenceSearch {
 public:
  ReferenceSearch(const Tree& tree, std::u32string query, std::uint64_t max_dist,
                  std::optional<std::uint64_t> limit)
      : tree_(tree), query_(std::move(query)), max_dist_(max_dist), limit_(limit) {}

  std::vector<Match> run() {
    std::vector<std::uint64_t> row(query_.size() + 1);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = i;
    enter_children(0, U"", row);
    return std::move(matches_);
  }

 private:
  bool limit_reached() const { return limit_.has_value() && matches_.size() >= *limit_; }

  void visit(NodeId node, const std::u32string& path, const std::vector<std::uint64_t>& parent) {
    const char32_t ch = path.back();
    std::vector<std::uint64_t> row{parent[0] + 1};
    for (std::size_t i = 1; i <= query_.size(); ++i) {
      row.push_back(
          std::min({parent[i] + 1, row[i - 1] + 1, parent[i - 1] + (query_[i - 1] == ch ? 0 : 1)}));
    }
    if (tree_.payloads[node].has_value() && row.back() <= max_dist_ && !limit_reached())
      matches_.push_back({utf8::encode(path), tree_.payloads[node], row.back()});
    enter_children(node, path, row);
  }

  // The last child that continues the query goes first, the others follow
  // in run order.
  void enter_children(NodeId node, const std::u32string& path,
                      const std::vector<std::uint64_t>& row) {
    if (limit_reached() || *std::min_element(row.begin(), row.end()) > max_dist_) return;
    std::vector<NodeId> order = tree_.children[node];
    if (path.size() < query_.size()) {
      auto preferred = std::find_if(order.rbegin(), order.rend(), [&](NodeId child) {
        return tree_.chars[child].value() == query_[path.size()];
      });
      if (preferred != order.rend())
        std::rotate(order.begin(), preferred.base() - 1, preferred.base());
    }
    for (NodeId child : order) visit(child, path + tree_.chars[child].value(), row);
  }

  const Tree& tree_;
  std::u32string query_;
  std::uint64_t max_dist_;
  std::optional<std::uint64_t> limit_;
  std::vector<Match> matches_;
};

}  // namespace

void run(std::span<const std::uint8_t> input) {
  InputReader reader(input);
  const Tree tree = read_tree(reader);
  std::u32string query;
  // Mostly short queries, sometimes one longer than a machine word's bits.
  const std::uint8_t length = reader.byte();
  for (std::size_t i = length < 240 ? length % 9 : 60 + length % 16; i > 0; --i)
    query.push_back(kAlphabet[reader.byte() % std::size(kAlphabet)]);
  // Small distances, where the band is narrow, and sometimes one beyond
  // any path.
  const std::uint8_t distance = reader.byte();
  const std::uint64_t max_dist = distance < 250 ? distance % 5 : distance;
  const std::uint8_t limit_byte = reader.byte();
  const std::optional<std::uint64_t> limit =
      limit_byte == 0 ? std::nullopt : std::optional<std::uint64_t>((limit_byte - 1) % 12);

  const Trie trie = tree.to_trie();
  require(trie.is_tree(), "a tree with a payload entry per node is not tree-shaped");
  const std::vector<Match> found = fuzzy_match(trie, query, max_dist, limit);
  require(found == general_fuzzy_match(trie, query, max_dist, limit),
          "fuzzy_match differs from the general engine");
  require(found == ReferenceSearch(tree, query, max_dist, limit).run(),
          "fuzzy_match differs from the reference");
  std::vector<Match> exact = ReferenceSearch(tree, query, 0, std::nullopt).run();
  require(exact_match(trie, query) ==
              (exact.empty() ? std::nullopt : std::optional<Match>(exact.front())),
          "exact_match differs from the reference");
  if (trie.siblings_distinct()) {
    const CompactTrieArrays arrays = fold(trie);
    const CompactTrie folded(arrays.spans());
    for (const bool transpositions : {false, true})
      check_folded_lookup(trie, folded, query, max_dist, limit, transpositions);
  }
}

}  // namespace kelvaro::fuzz
