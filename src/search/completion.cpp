// The search behind complete().
//
// A word's distance is fixed by its path: the least last cell of the rows
// along it. Below a node whose path so far has distance d, a word can only
// do better where some deeper row still holds less than d, and
// EditBand::least_extended bounds every deeper row from the node's own. So a
// node is one of:
//   - open: something below can still beat d, and its row is kept so that
//     its children's rows can be computed;
//   - settled: nothing below can, every word below it has distance d, and
//     no row is needed any more.
// The queue holds open nodes, settled nodes and single words, each under
// the least key (distance, -payload, text) of any word it stands for: the
// least distance still possible below it, the largest payload below it, and
// its path text, which every text below it extends. A word comes off the
// queue only when nothing left can come before it, so words come off in
// order, and the search stops at the limit having opened only the subtrees
// that could still take a place.
//
// Unweighted, the key is (distance, text), and a settled node that comes off
// the queue gives all its words at once, depth first in code point order:
// every other key in the queue is a text that differs from the node's path
// at one of its characters, and so comes after every text below the node.
// The root's word, the empty text, which comes before every other text,
// waits beside the queue and is let out before the first entry that does
// not come before it.
#include "search/completion.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "prefix/edit_row.h"
#include "prefix/internal_error.h"
#include "prefix/interrupt.h"
#include "prefix/utf8.h"

namespace kelvaro {

namespace {

constexpr std::uint32_t kNoRow = 0xFFFFFFFF;
constexpr std::uint32_t kNoRecord = 0xFFFFFFFF;
// Never a character: the parent's character at depth 1, which has none.
constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// Rows, paths and records are numbered in 32 bits, to keep queue entries
// small; a search that outgrows them gives up rather than mix them up.
// `start` is where something of `size` elements begins.
std::uint32_t to_index(std::size_t start, std::size_t size) {
  if (start + size >= kNoRow) fail("completion search too large");
  return static_cast<std::uint32_t>(start);
}

class CompletionSearch {
 public:
  CompletionSearch(const CompactTrie& trie, PerFolded best, const EditBand& band, bool weighted,
                   bool transpositions)
      : trie_(trie), best_(best), band_(band), weighted_(weighted), swapping_(transpositions) {
    // The prefix's characters as the trie compares them, found once.
    for (const char32_t ch : band_.query())
      query_keys_.push_back(trie_.key_of(ch).value_or(CompactTrie::kNoKey));
  }

  // The queue's order holds a pointer to the search.
  CompletionSearch(const CompletionSearch&) = delete;
  CompletionSearch& operator=(const CompletionSearch&) = delete;

  std::vector<Completion> run(std::uint64_t limit) {
    limit_ = limit;
    rows_.assign(band_.stride(), 0);
    band_.root_row(rows_.data());
    records_.push_back({0, 0, 0, kNoRow, kNoRecord});
    // The root is opened whatever its distance: what lies below it may be
    // nearer.
    open(0, CompactTrie::root(), band_.last(0, rows_.data()));
    while (found_.size() < limit_) {
      // The root's word, the empty text, comes before every entry of its
      // distance (and weight): it is let out as soon as none comes first.
      if (root_word_ && (queue_.empty() || !key_after(*root_word_, queue_.front()))) {
        emit(std::u32string_view(), root_word_->payload, root_word_->least);
        root_word_.reset();
        continue;
      }
      if (queue_.empty()) break;
      std::pop_heap(queue_.begin(), queue_.end(), later_);
      const Entry next = queue_.back();
      queue_.pop_back();
      interrupts_.tick();
      switch (next.kind) {
        case Kind::kWord:
          emit(path_of(next), next.payload, next.least);
          break;
        case Kind::kSettled:
          if (weighted_) {
            open_settled(next);
          } else {
            emit_subtree(next);
          }
          break;
        case Kind::kOpen:
          open(add_record(next), next.node, next.distance);
          break;
      }
    }
    return std::move(found_);
  }

 private:
  enum class Kind : std::uint8_t { kWord, kSettled, kOpen };

  // A node or a word waiting in the queue. Its path text is its parent's
  // record's path and `ch`, so that queueing a child copies no text.
  struct Entry {
    Cell least;       // the least distance of any word it stands for
    Cell distance;    // the distance of its path so far
    Payload payload;  // the largest payload below it, or the word's
    CompactTrie::Place node;
    std::uint32_t parent;  // in records_
    std::uint32_t row;     // in rows_, for an open node
    char32_t ch;
    Kind kind;
  };

  // A node that has come off the queue and whose children are queued.
  struct Record {
    std::uint32_t path;  // its path text: paths_[path, path + depth)
    std::uint32_t depth;
    std::uint32_t row;         // in rows_, or kNoRow once settled
    std::uint32_t parent_row;  // its parent's row, for transpositions
    std::uint32_t parent;      // in records_
  };

  std::u32string_view record_path(std::uint32_t record) const {
    return std::u32string_view(paths_).substr(records_[record].path, records_[record].depth);
  }

  std::u32string path_of(const Entry& entry) const {
    std::u32string path(record_path(entry.parent));
    path.push_back(entry.ch);
    return path;
  }

  // Whether `a` comes after `b` by distance and, weighted, by weight.
  bool key_after(const Entry& a, const Entry& b) const {
    return a.least > b.least || (a.least == b.least && weighted_ && a.payload < b.payload);
  }

  // Whether `a` comes after `b`: the queue's order, made a max-heap's.
  bool comes_after(const Entry& a, const Entry& b) const {
    if (a.least != b.least) return a.least > b.least;
    if (weighted_ && a.payload != b.payload) return a.payload < b.payload;
    // Two entries never share a node, so their texts differ.
    if (a.parent == b.parent) return a.ch > b.ch;
    const std::u32string_view pa = record_path(a.parent);
    const std::u32string_view pb = record_path(b.parent);
    const std::size_t common = std::min(pa.size(), pb.size());
    const auto [ia, ib] = std::mismatch(pa.begin(), pa.begin() + common, pb.begin());
    if (ia != pa.begin() + common) return *ia > *ib;
    // One parent's path begins the other's: compare on from the shorter
    // one's own character, a text that ends first coming first.
    if (pa.size() < pb.size()) return a.ch > pb[common];
    if (pa.size() > pb.size()) return pa[common] >= b.ch;
    return a.ch > b.ch;
  }

  std::uint32_t add_record(const Entry& entry) {
    const Record& parent = records_[entry.parent];
    const std::uint32_t path = to_index(paths_.size(), parent.depth + 1);
    paths_.resize(paths_.size() + parent.depth + 1);
    std::copy_n(paths_.begin() + parent.path, parent.depth, paths_.begin() + path);
    paths_.back() = entry.ch;
    records_.push_back({path, parent.depth + 1, entry.row, parent.row, entry.parent});
    return to_index(records_.size() - 1, 1);
  }

  void push(const Entry& entry) {
    queue_.push_back(entry);
    std::push_heap(queue_.begin(), queue_.end(), later_);
  }

  void emit(std::u32string_view path, Payload payload, Cell distance) {
    found_.push_back({utf8::encode(path), payload, distance});
  }

  // An open node: its own word, and its children with rows of their own.
  void open(std::uint32_t record, CompactTrie::Place node, Cell distance) {
    const Record here = records_[record];
    const char32_t parent_ch = here.depth > 0 ? paths_[here.path + here.depth - 1] : kNoCharacter;
    if ((here.depth > 0 || CompactTrie::kRootIsWord) && distance <= band_.bound()) {
      if (const std::optional<Payload> payload = trie_.payload(node)) {
        const Entry word{distance,    distance, *payload,  node,
                         here.parent, kNoRow,   parent_ch, Kind::kWord};
        // The root's word waits beside the queue, so that the queue's order
        // never has to tell the empty text apart.
        if (here.depth == 0) {
          root_word_ = word;
        } else {
          push(word);
        }
      }
    }
    const Run run = trie_.run_of(node);
    if (run.size() == 0) return;
    const std::size_t depth = here.depth + 1;
    const Cell smallest = band_.smallest(rows_.data() + here.row);
    // Unmatched so far, and a child whose character the band does not
    // compare has cells one more than the node's least: only the children
    // whose characters it compares can come within reach.
    if (distance > band_.bound() && smallest + 1 > band_.bound()) {
      gather_compared(run, depth);
    } else {
      gathered_.resize(run.size());
      for (std::size_t i = 0; i < run.size(); ++i) gathered_[i] = run.start + i;
    }
    interrupts_.tick(static_cast<std::uint32_t>(gathered_.size() / 8));
    for (const std::size_t position : gathered_) {
      const CompactTrie::Place child = trie_.place_at(position, node);
      const char32_t ch = trie_.char_at(position);
      interrupts_.tick(band_.row_work());
      const std::size_t offset = rows_.size();
      rows_.resize(offset + band_.stride());
      Cell* row = rows_.data() + offset;
      const Cell* parent_row = rows_.data() + here.row;
      if (swapping_) {
        const Cell* grandparent =
            here.parent_row == kNoRow ? nullptr : rows_.data() + here.parent_row;
        band_.child_row_swapping(depth, ch, parent_ch, parent_row, grandparent, row);
      } else {
        band_.child_row(depth, ch, parent_row, row);
      }
      const Cell reached = std::min(distance, band_.last(depth, row));
      const Cell least = std::min(
          reached,
          band_.least_extended(depth, row, 0, trie_.deepest_below(child), CompactTrie::kFarthest));
      Entry entry{least, reached, best_[child], child, record, kNoRow, ch, Kind::kSettled};
      if (least < reached) {
        entry.kind = Kind::kOpen;
        entry.row = to_index(offset, band_.stride());
      } else {
        rows_.resize(offset);
      }
      if (least <= band_.bound()) push(entry);
    }
  }

  // A settled node in a weighted search: its word, and its children under
  // their best payloads.
  void open_settled(const Entry& entry) {
    if (const std::optional<Payload> payload = trie_.payload(entry.node)) {
      push({entry.least, entry.least, *payload, entry.node, entry.parent, kNoRow, entry.ch,
            Kind::kWord});
    }
    const Run run = trie_.run_of(entry.node);
    if (run.size() == 0) return;
    const std::uint32_t record = add_record(entry);
    interrupts_.tick(static_cast<std::uint32_t>(run.size() / 8));
    for (std::size_t position = run.start; position < run.end; ++position) {
      const CompactTrie::Place child = trie_.place_at(position, entry.node);
      push({entry.least, entry.least, best_[child], child, record, kNoRow, trie_.char_at(position),
            Kind::kSettled});
    }
  }

  // Every word below a settled node, in code point order, up to the limit.
  void emit_subtree(const Entry& entry) {
    path_ = path_of(entry);
    const std::size_t base = path_.size();
    struct Pending {
      CompactTrie::Place node;
      std::size_t depth;
      char32_t ch;
    };
    std::vector<Pending> pending{{entry.node, base, entry.ch}};
    while (!pending.empty() && found_.size() < limit_) {
      const Pending next = pending.back();
      pending.pop_back();
      interrupts_.tick();
      path_.resize(next.depth);
      path_[next.depth - 1] = next.ch;
      if (const std::optional<Payload> payload = trie_.payload(next.node))
        emit(path_, *payload, entry.least);
      const Run run = trie_.run_of(next.node);
      for (std::size_t position = run.end; position-- > run.start;)
        pending.push_back(
            {trie_.place_at(position, next.node), next.depth + 1, trie_.char_at(position)});
    }
  }

  // The children of a run whose characters the band compares at `depth`:
  // their positions, in run order, into gathered_.
  void gather_compared(Run run, std::size_t depth) {
    const auto [from, to] = band_.compared(depth, swapping_);
    trie_.children_carrying_keys(
        run, std::span<const CompactTrie::Key>(query_keys_).subspan(from, to - from), gathered_);
  }

  const CompactTrie& trie_;
  PerFolded best_;
  const EditBand& band_;
  bool weighted_;
  bool swapping_;
  std::uint64_t limit_ = 0;
  struct Later {
    const CompletionSearch* search;
    bool operator()(const Entry& a, const Entry& b) const { return search->comes_after(a, b); }
  } later_{this};
  std::optional<Entry> root_word_;
  std::vector<Entry> queue_;
  std::vector<Record> records_;
  std::u32string paths_;
  std::vector<Cell> rows_;
  std::vector<std::size_t> gathered_;
  std::vector<CompactTrie::Key> query_keys_;
  std::u32string path_;
  std::vector<Completion> found_;
  InterruptCheck interrupts_;
};

}  // namespace

std::vector<Completion> complete(const CompactTrie& trie, PerFolded best,
                                 std::u32string_view prefix, std::uint64_t max_dist,
                                 std::optional<std::uint64_t> limit, bool weighted,
                                 bool transpositions) {
  if (limit == 0 || trie.empty()) return {};
  if (best.values().size() != trie.folded_count())
    fail("completion needs the best payload of every node");
  const std::uint64_t reach = std::max<std::uint64_t>(prefix.size(), trie.height());
  const EditBand band(prefix, max_dist, reach);
  return CompletionSearch(trie, best, band, weighted, transpositions)
      .run(limit.value_or(std::numeric_limits<std::uint64_t>::max()));
}

}  // namespace kelvaro
