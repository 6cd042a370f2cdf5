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

State state_with_prefix(std::u32string path) {
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
         state.put(Matcher::kCurPrefix, std::u32string_view(U"c"));
         matcher.visit_node(1, std::nullopt, state);
       },
       kNoneMessage},
      {"non-root visit without the parent's row",
       [&] {
         State state = state_with_prefix(U"c");
         matcher.visit_node(1, std::nullopt, state);
       },
       kNoneMessage},
      {"parent's row shorter than the query",
       [&] {
         State state = state_with_prefix(U"c");
         state.put(Matcher::kPrevRow, Row{0, 1});
         matcher.visit_node(1, std::nullopt, state);
       },
       "index out of bounds: the len is 2 but the index is 2"},
      {"children asked for before the node's row",
       [&] {
         std::vector<NodeVisit> out;
         matcher.get_children_to_visit(0, state_with_prefix(U""), {}, out);
       },
       kNoneMessage},
      {"children of a node with an empty row",
       [&] {
         State state = state_with_prefix(U"");
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

}  // namespace
}  // namespace kelvaro
