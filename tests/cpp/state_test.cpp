#include "prefix/state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvaro {
namespace {

using Row = std::vector<std::uint64_t>;

// Counts live instances, so that a value destroyed twice or never shows up.
// Small enough for std::any to hold inside itself.
struct Tracked {
  static inline int live = 0;
  int id;
  explicit Tracked(int id) : id(id) { ++live; }
  Tracked(const Tracked& other) : id(other.id) { ++live; }
  Tracked(Tracked&& other) noexcept : id(other.id) { ++live; }
  ~Tracked() { --live; }
};

// Too large for that, so std::any keeps it on the heap.
struct LargeTracked : Tracked {
  using Tracked::Tracked;
  std::array<char, 256> padding{};
};

// "KEY" and 3 give "KEY3".
std::string numbered(std::string_view name, int number) {
  std::string key(name);
  key += std::to_string(number);
  return key;
}

TEST(State, GetGivesAbsentUnlessKeyAndExactTypeMatch) {
  State state;
  EXPECT_TRUE(state.empty());
  EXPECT_EQ(state.get<Row>("CUR_ROW"), nullptr);

  state.put("CUR_ROW", Row{0, 1, 2});
  ASSERT_NE(state.get<Row>("CUR_ROW"), nullptr);
  EXPECT_EQ(*state.get<Row>("CUR_ROW"), (Row{0, 1, 2}));

  // Another type, even one with the same layout, is absent.
  EXPECT_EQ(state.get<std::vector<std::int64_t>>("CUR_ROW"), nullptr);
  EXPECT_EQ(state.get<std::u32string>("CUR_ROW"), nullptr);
  // Keys are exact byte strings.
  EXPECT_EQ(state.get<Row>("cur_row"), nullptr);
  EXPECT_EQ(state.get<Row>("CUR_RO"), nullptr);
  EXPECT_EQ(state.get<Row>("CUR_ROW "), nullptr);
  EXPECT_EQ(state.get<Row>(std::string_view("CUR_ROW\0", 8)), nullptr);
}

TEST(State, PutReplacesTheValueWhateverItsType) {
  State state;
  state.put("KEY", Row{1, 2});
  state.put("OTHER", std::u32string(U"kept"));
  state.put("KEY", std::u32string(U"text"));
  EXPECT_EQ(state.get<Row>("KEY"), nullptr);
  ASSERT_NE(state.get<std::u32string>("KEY"), nullptr);
  EXPECT_EQ(*state.get<std::u32string>("KEY"), U"text");
  EXPECT_EQ(*state.get<std::u32string>("OTHER"), U"kept");

  // A row or a path, held in the entry, and a value of any other type, held
  // boxed, replace one another too.
  state.put("KEY", 7);
  EXPECT_EQ(state.get<std::u32string>("KEY"), nullptr);
  EXPECT_EQ(*state.get<int>("KEY"), 7);
  state.put("KEY", Row{3});
  EXPECT_EQ(state.get<int>("KEY"), nullptr);
  EXPECT_EQ(*state.get<Row>("KEY"), (Row{3}));
}

TEST(State, LongKeysDifferAnywhere) {
  const std::string common(40, 'k');
  State state;
  state.put(common + "A", 1);
  state.put(common + "B", 2);
  EXPECT_EQ(*state.get<int>(common + "A"), 1);
  EXPECT_EQ(*state.get<int>(common + "B"), 2);
  EXPECT_EQ(state.get<int>(common), nullptr);
}

TEST(State, PutOfACopyOfItsOwnValue) {
  // The copy is taken before entries are added or replaced, even when adding
  // one moves the others.
  State state;
  for (int i = 0; i < 12; ++i) state.put(numbered("KEY", i), Row{static_cast<std::uint64_t>(i)});
  for (int i = 0; i < 12; ++i) state.put(numbered("COPY", i), *state.get<Row>(numbered("KEY", i)));
  state.put("KEY11", *state.get<Row>("KEY11"));
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(*state.get<Row>(numbered("COPY", i)), (Row{static_cast<std::uint64_t>(i)}));
  }
  EXPECT_EQ(*state.get<Row>("KEY11"), (Row{11}));
}

TEST(State, MoveTakesEveryEntryAndLeavesTheSourceEmpty) {
  State source;
  source.put("PATH", std::u32string(U"a long path text beyond any inline buffer"));
  for (int i = 0; i < 6; ++i) source.put(numbered("N", i), i);

  State moved(std::move(source));
  EXPECT_TRUE(source.empty());
  EXPECT_EQ(source.get<std::u32string>("PATH"), nullptr);
  EXPECT_EQ(source.get<int>("N5"), nullptr);
  EXPECT_EQ(*moved.get<std::u32string>("PATH"), U"a long path text beyond any inline buffer");
  EXPECT_EQ(*moved.get<int>("N5"), 5);

  // Assignment drops what the target held before.
  State target;
  target.put("OLD", 1);
  target = std::move(moved);
  EXPECT_EQ(target.get<int>("OLD"), nullptr);
  EXPECT_EQ(*target.get<int>("N0"), 0);

  // A moved-from State is usable again, its freed entries with other keys,
  // long ones too, and none of what it held before shows through.
  const std::string long_key(40, 'p');
  for (int i = 0; i < 6; ++i) source.put(numbered(long_key, i), i + 10);
  source.put("PATH", 7);
  EXPECT_EQ(*source.get<int>("PATH"), 7);
  EXPECT_EQ(*source.get<int>(numbered(long_key, 5)), 15);
  EXPECT_EQ(source.get<int>("N0"), nullptr);
}

TEST(State, ValuesAreMovedInAndAlongNeverCopied) {
  // A vector's buffer stays where it was through put and every move of the
  // State, for entries inside the State and spilled ones, and for rows held
  // in their entry and boxed vectors alike.
  State state;
  std::vector<const std::uint64_t*> buffers;
  for (int i = 0; i < 6; ++i) {
    Row row(100, static_cast<std::uint64_t>(i));
    buffers.push_back(row.data());
    state.put(numbered("ROW", i), std::move(row));
  }
  std::vector<int> boxed(100);
  const int* boxed_buffer = boxed.data();
  state.put("BOXED", std::move(boxed));
  State moved(std::move(state));
  State assigned;
  assigned.put("ROW0", 1);
  assigned = std::move(moved);
  for (int i = 0; i < 6; ++i) {
    const Row* row = assigned.get<Row>(numbered("ROW", i));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->data(), buffers[i]);
  }
  EXPECT_EQ(assigned.get<std::vector<int>>("BOXED")->data(), boxed_buffer);
}

TEST(State, DestroysEveryValueExactlyOnce) {
  Tracked::live = 0;
  {
    State state;
    state.put("SMALL", Tracked(1));
    state.put("LARGE", LargeTracked(2));
    for (int i = 0; i < 6; ++i) state.put(numbered("SPILL", i), Tracked(i));
    EXPECT_EQ(Tracked::live, 8);

    state.put("SMALL", LargeTracked(3));
    state.put("LARGE", Tracked(4));
    EXPECT_EQ(Tracked::live, 8);

    State moved(std::move(state));
    State assigned;
    assigned.put("SMALL", Tracked(5));
    assigned = std::move(moved);
    EXPECT_EQ(Tracked::live, 8);
    EXPECT_EQ(assigned.get<LargeTracked>("SMALL")->id, 3);
    EXPECT_EQ(assigned.get<Tracked>("SMALL"), nullptr);  // a base is another type
    EXPECT_EQ(assigned.get<Tracked>("LARGE")->id, 4);
  }
  EXPECT_EQ(Tracked::live, 0);
}

}  // namespace
}  // namespace kelvaro
