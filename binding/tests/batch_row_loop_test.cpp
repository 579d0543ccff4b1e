// The batch route's plain C++ parts against the per-row route: the chunked
// row loop, the Arrow readers over hand-made buffers, the export back
// through the same readers, and the grouping.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/arrow_abi.h"
#include "batch/arrow_column.h"
#include "batch/arrow_export.h"
#include "batch/grouping.h"
#include "batch/row_loop.h"

namespace quorvel::binding::batch {
namespace {

struct VectorRows {
  std::vector<std::optional<std::string>> values;
  std::optional<std::string_view> get(std::size_t i) const {
    if (!values[i]) return std::nullopt;
    return std::string_view(*values[i]);
  }
  std::size_t bytes(std::size_t b, std::size_t e) const {
    std::size_t n = 0;
    for (std::size_t i = b; i < e; ++i) n += values[i] ? values[i]->size() : 0;
    return n;
  }
};

const std::vector<std::optional<std::string>> kMix = {
    "Juliet@Example.COM/Balcony", std::nullopt, "", "a@@b", "@b", "a@b/", "example.com",
    "\xC3\x89lan@Example.org/r\xC3\xA9s", "user@[::1]", "a@b@c", std::string(1100, 'x') + "@b",
    "\xFF\xFE@bad", "B\xC3\xBC" "cher@D\xC3\xB6main.example", "x@y/z/w",
};

// The per-row route: what one row's status and text must be.
std::pair<std::uint8_t, std::string> expected(const std::optional<std::string>& v, const Options& o) {
  if (!v) return {kRowNull, ""};
  if (v->empty()) return {kRowValid, ""};
  if (o.check_utf8 && !is_utf8(*v)) return {kInvalidUtf8, ""};
  Result<JidValue> r = parse_with(o.profile, *v);
  if (!r.ok()) return {static_cast<std::uint8_t>(r.error()), ""};
  if (o.bare) strip_resource(r.value());
  return {kRowValid, std::string(r.value().text())};
}

VectorRows repeated(std::size_t times) {
  VectorRows rows;
  for (std::size_t t = 0; t < times; ++t) rows.values.insert(rows.values.end(), kMix.begin(), kMix.end());
  return rows;
}

class RowLoop : public ::testing::TestWithParam<std::tuple<Profile, bool, std::size_t>> {};

TEST_P(RowLoop, EveryRowAsTheRowRouteAtAnyThreadCount) {
  const auto [profile, bare, threads] = GetParam();
  Options o;
  o.profile = profile;
  o.bare = bare;
  o.check_utf8 = true;
  const VectorRows rows = repeated(50);
  // With the separators kept, and without them (the text alone, as a call
  // without parts asks).
  for (bool separators : {true, false}) {
    o.separators = separators;
    const auto outputs = normalise_column(rows, rows.values.size(), o, threads, /*min_chunk=*/7);
    EXPECT_EQ(outputs.size(), threads);
    std::size_t seen = 0;
    for_each_row(outputs, [&](std::size_t row, const ChunkOutput& c, std::size_t k) {
      const auto [status, text] = expected(rows.values[row], o);
      ASSERT_EQ(c.status[k], status) << row;
      ASSERT_EQ(c.text(k), text) << row;
      ASSERT_EQ(c.at.size(), separators ? c.rows() : 0u);
      if (separators && status == kRowValid && !text.empty()) {
        const Result<JidValue> v = parse_row(*rows.values[row], o);
        ASSERT_EQ(c.at[k], v.value().localpart_end()) << row;
        ASSERT_EQ(c.slash[k], v.value().slash_position()) << row;
      }
      ++seen;
    });
    EXPECT_EQ(seen, rows.values.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Batch, RowLoop,
                         ::testing::Combine(::testing::Values(Profile::Rfc6122, Profile::Rfc7622),
                                            ::testing::Bool(), ::testing::Values(1u, 2u, 5u)));

// With elide_unchanged (the list route's), a row whose normalised text is
// its input reports kRowAsWritten and adds no text; every other row is as
// without it.
TEST(RowLoop, RowsAsWrittenAreReportedAndNotCopied) {
  for (Profile profile : {Profile::Rfc6122, Profile::Rfc7622}) {
    for (bool bare : {false, true}) {
      Options o;
      o.profile = profile;
      o.bare = bare;
      o.check_utf8 = true;
      o.separators = false;
      o.elide_unchanged = true;
      const VectorRows rows = repeated(3);
      std::size_t as_written = 0;
      const auto outputs = normalise_column(rows, rows.values.size(), o, 2, 5);
      for_each_row(outputs, [&](std::size_t row, const ChunkOutput& c, std::size_t k) {
        const auto [status, text] = expected(rows.values[row], o);
        if (c.status[k] == kRowAsWritten) {
          ASSERT_EQ(status, kRowValid) << row;
          ASSERT_EQ(text, *rows.values[row]) << row;
          ASSERT_EQ(c.text(k), "") << row;
          ++as_written;
        } else {
          ASSERT_EQ(c.status[k], status) << row;
          ASSERT_EQ(c.text(k), text) << row;
          ASSERT_TRUE(status != kRowValid || text.empty() || text != *rows.values[row]) << row;
        }
      });
      EXPECT_GT(as_written, 0u);
    }
  }
}

TEST(PlanChunks, SmallColumnsStayOneChunkAndChunksCoverTheRowsInOrder) {
  EXPECT_EQ(plan_chunks(0, 4).size(), 1u);
  EXPECT_EQ(plan_chunks(kMinChunkRows * 2 - 1, 8).size(), 1u);
  EXPECT_EQ(plan_chunks(kMinChunkRows * 2, 8).size(), 2u);
  EXPECT_EQ(plan_chunks(kMinChunkRows * 100, 3).size(), 3u);
  for (std::size_t rows : {0u, 1u, 99u, 100000u}) {
    for (std::size_t threads : {1u, 2u, 7u}) {
      const auto chunks = plan_chunks(rows, threads, 10);
      std::size_t next = 0;
      for (const auto& [b, e] : chunks) {
        EXPECT_EQ(b, next);
        EXPECT_LE(b, e);
        next = e;
      }
      EXPECT_EQ(next, rows);
    }
  }
}

// ---- Arrow buffers made by hand ----------------------------------------------

template <class Offset>
struct OffsetColumn {
  std::vector<std::uint8_t> validity;
  std::vector<Offset> offsets{0};
  std::string data;
  std::vector<const void*> buffers;
  ArrowArray array{};

  explicit OffsetColumn(const std::vector<std::optional<std::string>>& values, std::int64_t offset = 0) {
    validity.assign(values.size() / 8 + 1, 0);
    std::int64_t nulls = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (values[i]) {
        validity[i / 8] |= std::uint8_t(1u << (i % 8));
        data += *values[i];
      } else {
        ++nulls;
      }
      offsets.push_back(static_cast<Offset>(data.size()));
    }
    buffers = {validity.data(), offsets.data(), data.data()};
    array.length = static_cast<std::int64_t>(values.size()) - offset;
    array.null_count = nulls == 0 ? 0 : -1;
    array.offset = offset;
    array.n_buffers = 3;
    array.buffers = buffers.data();
    array.release = [](ArrowArray* a) { a->release = nullptr; };
  }
};

struct ViewColumn {
  std::vector<std::uint8_t> validity;
  std::vector<std::uint8_t> views;
  std::string data;
  std::int64_t sizes[1];
  std::vector<const void*> buffers;
  ArrowArray array{};

  explicit ViewColumn(const std::vector<std::optional<std::string>>& values) {
    validity.assign(values.size() / 8 + 1, 0);
    views.assign(values.size() * 16, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (values[i]) validity[i / 8] |= std::uint8_t(1u << (i % 8));
      const std::string v = values[i].value_or("");
      const auto len = static_cast<std::int32_t>(v.size());
      std::memcpy(&views[16 * i], &len, 4);
      if (len <= 12) {
        std::memcpy(&views[16 * i + 4], v.data(), v.size());
      } else {
        const std::int32_t index = 0, off = static_cast<std::int32_t>(data.size());
        std::memcpy(&views[16 * i + 4], v.data(), 4);
        std::memcpy(&views[16 * i + 8], &index, 4);
        std::memcpy(&views[16 * i + 12], &off, 4);
        data += v;
      }
    }
    sizes[0] = static_cast<std::int64_t>(data.size());
    buffers = {validity.data(), views.data(), data.data(), sizes};
    array.length = static_cast<std::int64_t>(values.size());
    array.null_count = -1;
    array.n_buffers = 4;
    array.buffers = buffers.data();
    array.release = [](ArrowArray* a) { a->release = nullptr; };
  }
};

std::vector<std::optional<std::string>> read_all(const ArrowArray& a, Width w) {
  StringRows rows(a, w);
  EXPECT_EQ(rows.check(), "");
  std::vector<std::optional<std::string>> out;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto v = rows.get(i);
    out.push_back(v ? std::optional<std::string>(std::string(*v)) : std::nullopt);
  }
  return out;
}

TEST(ArrowReaders, EachLayoutReadsBackWhatWasWritten) {
  EXPECT_EQ(read_all(OffsetColumn<std::int32_t>(kMix).array, Width::String), kMix);
  EXPECT_EQ(read_all(OffsetColumn<std::int64_t>(kMix).array, Width::LargeString), kMix);
  EXPECT_EQ(read_all(ViewColumn(kMix).array, Width::StringView), kMix);
  // A slice starts `offset` rows in, for the validity bitmap as well.
  const auto sliced = read_all(OffsetColumn<std::int32_t>(kMix, 3).array, Width::String);
  EXPECT_EQ(sliced, std::vector<std::optional<std::string>>(kMix.begin() + 3, kMix.end()));
}

TEST(ArrowReaders, MalformedBuffersAreRefusedBeforeAnyRead) {
  OffsetColumn<std::int32_t> backwards(kMix);
  backwards.offsets[2] = backwards.offsets[3] + 1;
  EXPECT_NE(StringRows(backwards.array, Width::String).check(), "");
  ViewColumn outside(kMix);
  outside.sizes[0] = 3;
  EXPECT_NE(StringRows(outside.array, Width::StringView).check(), "");
  ViewColumn no_buffers(kMix);
  no_buffers.array.n_buffers = 2;
  EXPECT_NE(StringRows(no_buffers.array, Width::StringView).check(), "");
  OffsetColumn<std::int32_t> negative(kMix);
  negative.array.offset = -1;
  EXPECT_NE(StringRows(negative.array, Width::String).check(), "");
}

TEST(ArrowExport, TextColumnsReadBackAsTheRowsResults) {
  Options o;
  o.check_utf8 = true;
  OffsetColumn<std::int32_t> input(kMix);
  ColumnType type;
  type.width = Width::String;
  const auto outputs = normalise_arrow_column(type, input.array, o, 2, 3);
  // The copy of several chunks, and the column taken from one chunk's data
  // (which a threads=1 call makes), read back alike.
  for (int taken = 0; taken < 4; ++taken) {
    const Width w = taken % 2 == 0 ? Width::String : Width::LargeString;
    std::vector<ChunkOutput> one = normalise_arrow_column(type, input.array, o, 1);
    ASSERT_EQ(one.size(), 1u);
    std::vector<ChunkOutput> several = normalise_arrow_column(type, input.array, o, 3, 2);
    ASSERT_GT(several.size(), 1u);
    const Column text = taken < 2 ? (taken == 0 ? text_column(outputs, w) : take_text_column(several, w))
                                  : take_text_column(one, w);
    if (taken >= 2) {
      EXPECT_EQ(one.front().data.size(), 0u);
    }
    ArrowSchema s{};
    ArrowArray a{};
    export_column(text, &s, &a);
    EXPECT_EQ(std::string(s.format), w == Width::String ? "u" : "U");
    const auto back = read_all(a, w);
    for (std::size_t i = 0; i < kMix.size(); ++i) {
      const auto [status, t] = expected(kMix[i], o);
      EXPECT_EQ(back[i], status == kRowValid ? std::optional<std::string>(t) : std::nullopt) << i;
    }
    a.release(&a);
    s.release(&s);
    EXPECT_EQ(a.release, nullptr);
  }
  const Column kinds = kind_column(outputs);
  for (std::size_t i = 0; i < kMix.size(); ++i) {
    const auto [status, t] = expected(kMix[i], o);
    const bool has_kind = status != kRowValid && status != kRowNull;
    EXPECT_EQ(bit_set(kinds->pointers[0], static_cast<std::int64_t>(i)), has_kind) << i;
    if (has_kind) {
      EXPECT_EQ(static_cast<const std::uint8_t*>(kinds->pointers[1])[i], status) << i;
    }
  }
}

// The columns of a result are put together eight rows to a bitmap byte
// where a chunk allows, row by row at the chunk's ends, and a one-chunk
// result hands its own offsets on where they are of the column's width: at
// every chunk boundary and in both widths the columns read back as the
// rows' results.
TEST(ArrowExport, ColumnsAgreeAtEveryChunkBoundaryAndWidth) {
  Options o;
  o.check_utf8 = true;
  std::vector<std::optional<std::string>> rows;
  for (int t = 0; t < 3; ++t) rows.insert(rows.end(), kMix.begin(), kMix.end());
  const OffsetColumn<std::int32_t> narrow(rows);
  const OffsetColumn<std::int64_t> wide(rows);
  for (const Width w : {Width::String, Width::LargeString}) {
    ColumnType type;
    type.width = w;
    const ArrowArray& input = w == Width::String ? narrow.array : wide.array;
    for (std::size_t threads = 1; threads <= 7; ++threads) {
      std::vector<ChunkOutput> outputs = normalise_arrow_column(type, input, o, threads, 1);
      ASSERT_EQ(outputs.size(), threads);
      ASSERT_EQ(outputs.front().wide(), w == Width::LargeString);
      const Column kinds = kind_column(outputs);
      const Column text = take_text_column(outputs, w);
      ArrowSchema s{};
      ArrowArray a{};
      export_column(text, &s, &a);
      const auto back = read_all(a, w);
      std::int64_t invalid = 0, kindless = 0;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto [status, t] = expected(rows[i], o);
        EXPECT_EQ(back[i], status == kRowValid ? std::optional<std::string>(t) : std::nullopt) << threads << " " << i;
        const bool has_kind = status != kRowValid && status != kRowNull;
        EXPECT_EQ(bit_set(kinds->pointers[0], static_cast<std::int64_t>(i)), has_kind) << threads << " " << i;
        EXPECT_EQ(static_cast<const std::uint8_t*>(kinds->pointers[1])[i], has_kind ? status : 0) << i;
        invalid += status != kRowValid;
        kindless += !has_kind;
      }
      EXPECT_EQ(a.null_count, invalid);
      EXPECT_EQ(kinds->null_count, kindless);
      a.release(&a);
      s.release(&s);
    }
  }
}

TEST(Dictionary, EachEntryNormalisedOnceAndIndexedByRow) {
  const std::vector<std::optional<std::string>> entries = {"A@B", "a@b", "bad@@", "\xFF"};
  OffsetColumn<std::int32_t> values(entries);
  const std::vector<std::int16_t> index = {1, 0, 3, 2, 0, 0};
  std::vector<std::uint8_t> validity = {0b111011};  // row 2 is null
  std::vector<const void*> buffers = {validity.data(), index.data()};
  ArrowArray indices{};
  indices.length = 6;
  indices.null_count = 1;
  indices.n_buffers = 2;
  indices.buffers = buffers.data();
  indices.dictionary = &values.array;
  indices.release = [](ArrowArray* a) { a->release = nullptr; };
  ColumnType type;
  type.format = "s";
  type.has_dictionary = true;
  type.width = Width::String;
  const ChunkOutput out = concatenate(normalise_arrow_column(type, indices, Options{}, 1));
  const std::vector<std::uint8_t> status = {kRowValid, kRowValid, kRowNull,
                                            static_cast<std::uint8_t>(JidError::TooManyAts), kRowValid,
                                            kRowValid};
  EXPECT_EQ(out.status, status);
  EXPECT_EQ(out.text(0), "a@b");
  EXPECT_EQ(out.text(4), "a@b");
  // An index past the dictionary is refused, with no result.
  const std::vector<std::int16_t> past = {0, 4};
  buffers[1] = past.data();
  indices.length = 2;
  indices.null_count = 0;
  EXPECT_THROW(normalise_arrow_column(type, indices, Options{}, 1), InputError);
}

std::vector<std::int32_t> ids_of(const Grouping& g) { return {g.ids.data(), g.ids.data() + g.ids.size()}; }
std::vector<std::string_view> texts_of(const Grouping& g) {
  std::vector<std::string_view> t;
  for (std::size_t i = 0; i < g.groups.size(); ++i) t.push_back(g.groups.text(i));
  return t;
}
std::vector<std::int64_t> counts_of(Grouping& g) {
  count_groups(g);
  return {g.counts.data(), g.counts.data() + g.counts.size()};
}

TEST(Grouping, DenseIdsInOrderOfFirstAppearance) {
  VectorRows rows;
  rows.values = {"B@x", std::nullopt, "a@X", "b@X", "bad@@", "A@x", "c@x"};
  for (std::size_t threads : {1, 2, 3, 7}) {
    Grouping g;
    group_column(rows, rows.values.size(), Options{}, threads, g, 2);
    EXPECT_EQ(ids_of(g), (std::vector<std::int32_t>{0, kNoGroup, 1, 0, kNoGroup, 1, 2})) << threads;
    EXPECT_EQ(texts_of(g), (std::vector<std::string_view>{"b@x", "a@x", "c@x"})) << threads;
    EXPECT_EQ(counts_of(g), (std::vector<std::int64_t>{2, 2, 1})) << threads;
  }
}

// The grouping against a plain map over the per-row route, over enough
// rows with enough repeats that the table grows several times and chunks
// share groups, for any number of threads, and batch after batch as a
// stream's are grouped. The pre-normalised route (a dictionary's) must give
// the same.
TEST(Grouping, AgreesWithAMapOverTheRowRoute) {
  VectorRows rows;
  std::uint64_t state = 12345;
  auto next = [&] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return state >> 33;
  };
  const char* domains[] = {"x.example", "Y.example", "ｚ.example", "bad..example"};
  for (int i = 0; i < 20000; ++i) {
    const auto r = next();
    if (r % 97 == 0) {
      rows.values.push_back(std::nullopt);
      continue;
    }
    std::string local = (r % 3 == 0 ? "U" : "u") + std::to_string(r % 3000);
    rows.values.push_back(local + "@" + domains[(r >> 8) % 4] + (r % 5 == 0 ? "/r" : ""));
  }
  std::vector<std::int32_t> expected_ids;
  std::vector<std::string> expected_texts;
  std::vector<std::int64_t> expected_counts;
  std::map<std::string, std::int32_t> seen;
  for (const auto& v : rows.values) {
    if (!v) {
      expected_ids.push_back(kNoGroup);
      continue;
    }
    const Result<JidValue> parsed = parse_row(*v, Options{});
    if (!parsed.ok()) {
      expected_ids.push_back(kNoGroup);
      continue;
    }
    const std::string text(parsed.value().text());
    auto [it, fresh] = seen.emplace(text, static_cast<std::int32_t>(expected_texts.size()));
    if (fresh) {
      expected_texts.push_back(text);
      expected_counts.push_back(0);
    }
    expected_ids.push_back(it->second);
    ++expected_counts[static_cast<std::size_t>(it->second)];
  }
  ASSERT_GT(expected_texts.size(), 2000u);
  const std::vector<std::string_view> texts(expected_texts.begin(), expected_texts.end());
  for (std::size_t threads : {1, 2, 5}) {
    Grouping g;
    group_column(rows, rows.values.size(), Options{}, threads, g, 1000);
    EXPECT_EQ(ids_of(g), expected_ids) << threads;
    EXPECT_EQ(texts_of(g), texts) << threads;
    EXPECT_EQ(counts_of(g), expected_counts) << threads;
  }
  // In two batches, the second after the first's rows.
  VectorRows head, tail;
  head.values.assign(rows.values.begin(), rows.values.begin() + 7001);
  tail.values.assign(rows.values.begin() + 7001, rows.values.end());
  Grouping g;
  group_column(head, head.values.size(), Options{}, 2, g, 1000);
  group_column(tail, tail.values.size(), Options{}, 3, g, 1000);
  EXPECT_EQ(ids_of(g), expected_ids);
  EXPECT_EQ(texts_of(g), texts);
  EXPECT_EQ(counts_of(g), expected_counts);
  Grouping from_outputs;
  group_outputs(normalise_column(rows, rows.values.size(), Options{}, 3, 1000), from_outputs);
  EXPECT_EQ(ids_of(from_outputs), expected_ids);
  EXPECT_EQ(texts_of(from_outputs), texts);
}

// Texts that share a prefix, differ only in their last byte or in length,
// and the empty JID, all kept apart.
TEST(Grouping, KeepsNearTextsApart) {
  Groups groups;
  std::vector<std::string> texts = {"", "a", std::string("a\0", 2), "ab", "abcdefgh", "abcdefgi", "abcdefghi",
                                    std::string("abcdefgh\0", 9)};
  for (int i = 0; i < 3000; ++i) texts.push_back(std::string(static_cast<std::size_t>(i % 40), 'x') + std::to_string(i));
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(groups.find_or_add(texts[i]), i);
  }
  EXPECT_EQ(groups.size(), texts.size());
}
}  // namespace
}  // namespace quorvel::binding::batch
