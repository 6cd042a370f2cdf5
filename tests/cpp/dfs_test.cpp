#include "prefix/dfs.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "test_support.h"

namespace kelvaro {
namespace {

using testing::expect_internal_error;
using testing::kNotATreeMessage;
using testing::make_trie;

State tagged(int tag) {
  State state;
  state.put("TAG", tag);
  return state;
}

struct Visit {
  NodeId node;
  std::optional<Payload> payload;
  int tag;  // identifies the State the node was visited with
  friend bool operator==(const Visit&, const Visit&) = default;
};

// An agent whose choice of nodes to enter is given by the test, and which
// logs what the traversal shows it.
class ScriptedAgent {
 public:
  using Choose = std::function<void(NodeId, std::span<const Child>, std::vector<NodeVisit>&)>;

  explicit ScriptedAgent(Choose choose) : choose_(std::move(choose)) {}

  State initial_state() const { return tagged(-1); }

  void visit_node(NodeId node, std::optional<Payload> payload, State& state) {
    visits.push_back({node, payload, *state.get<int>("TAG")});
    state.put("VISITED", node);
  }

  void get_children_to_visit(NodeId node, const State& state, std::span<const Child> children,
                             std::vector<NodeVisit>& out) const {
    // The same State, after visit_node, and a fresh list.
    EXPECT_EQ(*state.get<NodeId>("VISITED"), node);
    EXPECT_TRUE(out.empty());
    children_seen.emplace_back(children.begin(), children.end());
    choose_(node, children, out);
  }

  std::vector<NodeId> visited_nodes() const {
    std::vector<NodeId> nodes;
    for (const Visit& visit : visits) nodes.push_back(visit.node);
    return nodes;
  }

  std::vector<Visit> visits;
  mutable std::vector<std::vector<Child>> children_seen;

 private:
  Choose choose_;
};

void enter(std::vector<NodeVisit>& out, NodeId node, int tag) {
  out.push_back({node, tagged(tag)});
}

void enter_all_children(NodeId, std::span<const Child> children, std::vector<NodeVisit>& out) {
  for (const Child& child : children) enter(out, child.node, static_cast<int>(child.node));
}

// Root 0 (payload 7) with children 1 (a) then 2 (b); 1 has the child 3 (c,
// payload 9).
Trie small_tree() {
  return make_trie({0, 2, 3, 3}, U"-abc", {7, std::nullopt, std::nullopt, 9}, {1, 2, 3});
}

TEST(Dfs, VisitsDepthFirstInTheReturnedOrder) {
  Trie trie = small_tree();

  ScriptedAgent forward(enter_all_children);
  dfs(trie, forward);
  EXPECT_EQ(
      forward.visits,
      (std::vector<Visit>{{0, 7, -1}, {1, std::nullopt, 1}, {3, 9, 3}, {2, std::nullopt, 2}}));
  // Leaves are asked too, with no children.
  EXPECT_EQ(forward.children_seen,
            (std::vector<std::vector<Child>>{{{U'a', 1}, {U'b', 2}}, {{U'c', 3}}, {}, {}}));

  ScriptedAgent reversed(
      [](NodeId node, std::span<const Child> children, std::vector<NodeVisit>& out) {
        for (auto it = children.rbegin(); it != children.rend(); ++it) enter(out, it->node, node);
      });
  dfs(trie, reversed);
  EXPECT_EQ(reversed.visited_nodes(), (std::vector<NodeId>{0, 2, 1, 3}));
}

TEST(Dfs, EmptyListForTheRootEndsAfterOneVisit) {
  ScriptedAgent agent([](NodeId, std::span<const Child>, std::vector<NodeVisit>&) {});
  dfs(small_tree(), agent);
  EXPECT_EQ(agent.visits, (std::vector<Visit>{{0, 7, -1}}));
}

TEST(Dfs, EntersWhateverNodesTheAgentReturnsEachWithItsOwnState) {
  // From the root: node 1 twice, and node 3, which is not a child of the
  // root. Visiting node 1 twice lists its child twice, so this tree has an
  // entry of child_indices in no node's run (a fifth shift closes node 3's
  // run) to leave room within the listing budget.
  Trie trie = make_trie({0, 2, 3, 3, 3}, U"-abc", {7, std::nullopt, std::nullopt, 9}, {1, 2, 3, 0});
  ScriptedAgent agent([](NodeId node, std::span<const Child>, std::vector<NodeVisit>& out) {
    if (node != 0) return;
    enter(out, 1, 10);
    enter(out, 3, 30);
    enter(out, 1, 20);
  });
  dfs(trie, agent);
  EXPECT_EQ(
      agent.visits,
      (std::vector<Visit>{{0, 7, -1}, {1, std::nullopt, 10}, {3, 9, 30}, {1, std::nullopt, 20}}));
}

TEST(Dfs, NodeOutOfRangeFailsBeforeItIsVisited) {
  ScriptedAgent agent([](NodeId node, std::span<const Child>, std::vector<NodeVisit>& out) {
    if (node == 0) {
      enter(out, 1, 1);
      enter(out, 9, 9);
    }
  });
  Trie trie = small_tree();
  expect_internal_error([&] { dfs(trie, agent); },
                        "index out of bounds: the len is 4 but the index is 9");
  EXPECT_EQ(agent.visited_nodes(), (std::vector<NodeId>{0, 1}));

  ScriptedAgent on_empty(enter_all_children);
  Trie empty;
  expect_internal_error([&] { dfs(empty, on_empty); },
                        "index out of bounds: the len is 0 but the index is 0");
  EXPECT_TRUE(on_empty.visits.empty());
}

TEST(Dfs, ChildRunsThatLoopBackExhaustTheVisitBudget) {
  struct Case {
    const char* name;
    Trie trie;
  };
  Case cases[] = {
      // 0 -> 1 -> 2 -> 1
      {"back to an ancestor", make_trie({0, 1, 2}, U"-ab", {{}, {}, {}}, {1, 2, 1})},
      // 0 -> 1 -> 0
      {"back to the root", make_trie({0, 1}, U"ab", {{}, {}}, {1, 0})},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedAgent agent(enter_all_children);
    expect_internal_error([&] { dfs(c.trie, agent); }, kNotATreeMessage);
    EXPECT_EQ(agent.visits.size(), c.trie.node_payloads().size());
  }
}

TEST(Dfs, ChildRunsThatOverlapExhaustTheListingBudget) {
  // Runs [0, 3) of nodes 0 and 2 overlap: node 2 lists the root's children
  // again. Only three visits happen, within the visit budget, but the fourth
  // child listed is one more than child_indices holds.
  Trie trie = make_trie({0, 3, 0, 3}, U"-abc", {{}, {}, {}, {}}, {1, 2, 3});
  ScriptedAgent agent(enter_all_children);
  expect_internal_error([&] { dfs(trie, agent); }, kNotATreeMessage);
  EXPECT_EQ(agent.visited_nodes(), (std::vector<NodeId>{0, 1, 2}));
}

TEST(Dfs, ListingBudgetCountsOnlyWhatIsListed) {
  // The same overlap, but the agent enters nothing below the root's first
  // child: node 2 is never visited, so its run is never listed again.
  Trie trie = make_trie({0, 3, 0, 3}, U"-abc", {{}, {}, {}, {}}, {1, 2, 3});
  ScriptedAgent agent(
      [](NodeId node, std::span<const Child> children, std::vector<NodeVisit>& out) {
        if (node == 0) enter(out, children[0].node, 1);
      });
  dfs(trie, agent);
  EXPECT_EQ(agent.visited_nodes(), (std::vector<NodeId>{0, 1}));
}

}  // namespace
}  // namespace kelvaro
