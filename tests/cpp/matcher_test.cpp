#include "prefix/matcher.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace kelvaro {
namespace {

using testing::expect_internal_error;
using testing::kNoneMessage;
using Row = Matcher::Row;
using Path = Matcher::Path;

State state_with_prefix(Path path) {
  State state;
  state.put(Matcher::kCurPrefix, std::move(path));
  return state;
}

// States that the matcher never builds itself; each must stop the search
// with an internal error rather than be read as something it is not.
TEST(Matcher, FailsOnStatesItDidNotBuild) {
  Matcher matcher(U"car", 1, std::nullopt);
  struct Case {
    const char* name;
    std::function<void()> operation;
    std::string message;
  };
  const Case cases[] = {
      {"visit without a path",
       [&] {
         State state;
         matcher.visit_node(1, std::nullopt, state);
       },
       kNoneMessage},
      {"visit with a path of another type",
       [&] {
         State state;
         state.put(Matcher::kCurPrefix, std::u32string(U"c"));
         matcher.visit_node(1, std::nullopt, state);
       },
       kNoneMessage},
      {"non-root visit without the parent's row",
       [&] {
         State state = state_with_prefix(Path{U'c'});
         matcher.visit_node(1, std::nullopt, state);
       },
       kNoneMessage},
      {"parent's row shorter than the query",
       [&] {
         State state = state_with_prefix(Path{U'c'});
         state.put(Matcher::kPrevRow, Row{0, 1});
         matcher.visit_node(1, std::nullopt, state);
       },
       "index out of bounds: the len is 2 but the index is 2"},
      {"children asked for before the node's row",
       [&] {
         std::vector<NodeVisit> out;
         matcher.get_children_to_visit(0, state_with_prefix(Path{}), {}, out);
       },
       kNoneMessage},
      {"children of a node with an empty row",
       [&] {
         State state = state_with_prefix(Path{});
         state.put(Matcher::kCurRow, Row{});
         std::vector<NodeVisit> out;
         matcher.get_children_to_visit(0, state, {}, out);
       },
       kNoneMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_internal_error(c.operation, c.message);
  }
  EXPECT_TRUE(matcher.results().empty());
}

// Each child's State owns its copy of the parent's row and its own path,
// which outlive the matcher.
TEST(Matcher, StatesMayOutliveTheMatcher) {
  std::vector<NodeVisit> children;
  {
    Matcher matcher(U"ab", 1, std::nullopt);
    State root = matcher.initial_state();
    matcher.visit_node(0, std::nullopt, root);
    matcher.get_children_to_visit(0, root, std::vector<Child>{{U'a', 1}, {U'b', 2}}, children);
  }
  ASSERT_EQ(children.size(), 2u);
  // The root's band, and its padding cell, both capped at max_dist + 1.
  EXPECT_EQ(*children[0].state.get<Row>(Matcher::kPrevRow), (Row{0, 1, 2, 2}));
  EXPECT_EQ(*children[1].state.get<Path>(Matcher::kCurPrefix), (Path{U'b'}));
}

}  // namespace
}  // namespace kelvaro
