// Unicode's UTS #46 conformance file (IdnaTestV2-16.0.0.txt) against the
// built-in processing: every row with the 16.0.0 mapping table under the
// file's own options, then every row under the address core's options with
// the 17.0.0 table, where each verdict that differs from the file's is
// listed with its reason.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "unicode/generated/idna_mapping_16_0_0.h"
#include "idna_check.h"
#include "test_support.h"
#include "unicode/to_ascii.h"

namespace quorvel {
namespace {

namespace uidna = unicode::idna;

// The conformance file's escapes: \uXXXX and \x{X...}. A lone surrogate has
// no UTF-8 form; its three-byte pattern is written anyway, which no UTF-8
// reader accepts, so the row must fail like the file says it does.
std::string unescape(std::string_view s, bool& has_surrogate) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = 0;
    if (s.compare(i, 2, "\\u") == 0 && i + 6 <= s.size()) {
      c = static_cast<char32_t>(std::stoul(std::string(s.substr(i + 2, 4)), nullptr, 16));
      i += 5;
    } else if (s.compare(i, 3, "\\x{") == 0) {
      const std::size_t close = s.find('}', i);
      c = static_cast<char32_t>(std::stoul(std::string(s.substr(i + 3, close - i - 3)), nullptr, 16));
      i = close;
    } else {
      out.push_back(s[i]);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      has_surrogate = true;
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += testing::u8(c);
    }
  }
  return out;
}

std::string trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(" \t") - b + 1));
}

struct Row {
  int line = 0;
  std::string text;  // as written in the file, for messages
  std::string source;
  std::string to_unicode;
  std::string to_unicode_status;
  std::string to_ascii;
  std::string to_ascii_status;
  bool has_surrogate = false;
};

// A column's value: blank means `fallback`; "" means the empty string.
std::string column(const std::string& field, const std::string& fallback, bool& surrogate) {
  if (field.empty()) return fallback;
  if (field == "\"\"") return "";
  return unescape(field, surrogate);
}

std::vector<Row> read_rows() {
  std::ifstream in(std::string(QUORVEL_DATA_DIR) + "/unicode/idna/IdnaTestV2-16.0.0.txt");
  std::vector<Row> rows;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    line = line.substr(0, line.find('#'));
    if (trim(line).empty()) continue;
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, ';');) cols.push_back(trim(col));
    cols.resize(7);
    Row r;
    r.line = number;
    r.text = cols[0];
    r.source = column(cols[0], "", r.has_surrogate);
    r.to_unicode = column(cols[1], r.source, r.has_surrogate);
    r.to_unicode_status = cols[2].empty() ? "[]" : cols[2];
    r.to_ascii = column(cols[3], r.to_unicode, r.has_surrogate);
    r.to_ascii_status = cols[4].empty() ? r.to_unicode_status : cols[4];
    rows.push_back(std::move(r));
  }
  return rows;
}

const std::vector<Row>& rows() {
  static const std::vector<Row> all = read_rows();
  return all;
}

bool is_error(const std::string& status) { return status != "[]"; }

// The options the file is written for.
uidna::Options file_options() {
  uidna::Options o;
  o.table = &unicode::idna::generated::v16_0_0::kTable;
  o.check_hyphens = true;
  o.check_bidi = true;
  o.check_joiners = true;
  o.use_std3_ascii_rules = true;
  o.verify_dns_length = true;
  return o;
}

// The address core's options: the deny set in place of the STD3 rules, and
// the 17.0.0 table.
uidna::Options core_options() {
  uidna::Options o = file_options();
  o.table = nullptr;
  o.use_std3_ascii_rules = false;
  o.denied = &idna::kDeniedBytes;
  return o;
}

// Every line of IdnaTestV2-16.0.0.txt whose ToASCII verdict under the
// address core's options differs from the file's, and why.
const std::map<int, std::string_view> kCoreDifferences = {
    // Options: the STD3 rules refuse these ASCII characters, the core's
    // deny set does not.
    {543, "'$' passes"},
    {544, "U+2477 maps to '(4)'; parentheses pass"},
    {545, "'(4)' passes"},
    {546, "U+2477 maps to '(4)'; parentheses pass"},
    {547, "U+2477 maps to '(4)'; parentheses pass"},
    {2731, "',' among the basic code points of a Punycode label passes"},
    // Table: U+32B9A (CJK Unified Ideographs Extension J) is unassigned, so
    // disallowed, in 16.0.0 and valid in 17.0.0.
    {4405, "U+32B9A is valid in 17.0.0"},
};

TEST(IdnaConformance, DataFileIsThere) {
  ASSERT_GT(rows().size(), 6000u) << "IdnaTestV2-16.0.0.txt missing or unread under "
                                  << QUORVEL_DATA_DIR;
}

TEST(IdnaConformance, ToUnicodeMatchesEveryRow) {
  const uidna::Options options = file_options();
  int failures = 0;
  for (const Row& r : rows()) {
    std::string out;
    const std::uint32_t errors = uidna::to_unicode(r.source, options, out);
    EXPECT_EQ(errors != 0, is_error(r.to_unicode_status))
        << "line " << r.line << " \"" << r.text << "\" status " << r.to_unicode_status
        << " errors 0x" << std::hex << errors;
    if (!r.has_surrogate) {
      EXPECT_EQ(out, r.to_unicode) << "line " << r.line << " \"" << r.text << '"';
    }
    if (::testing::Test::HasFailure() && ++failures > 20) FAIL() << "stopping 20 rows after a failure";
  }
}

TEST(IdnaConformance, ToAsciiMatchesEveryRow) {
  const uidna::Options options = file_options();
  int failures = 0;
  for (const Row& r : rows()) {
    std::string out;
    const std::uint32_t errors = uidna::to_ascii(r.source, options, &out);
    EXPECT_EQ(errors != 0, is_error(r.to_ascii_status))
        << "line " << r.line << " \"" << r.text << "\" status " << r.to_ascii_status
        << " errors 0x" << std::hex << errors;
    if (!r.has_surrogate && !is_error(r.to_ascii_status)) {
      EXPECT_EQ(out, r.to_ascii) << "line " << r.line << " \"" << r.text << '"';
    }
    // The verdict alone (stopping at the first error, bounded buffers) is
    // the fast twin of the full run.
    EXPECT_EQ(uidna::to_ascii(r.source, options) != 0, errors != 0)
        << "line " << r.line << " \"" << r.text << '"';
    if (::testing::Test::HasFailure() && ++failures > 20) FAIL() << "stopping 20 rows after a failure";
  }
}

// The same rows under the address core's options: the verdict equals the
// file's except on the lines listed, and the core's own entry point (with
// its ASCII shortcut) agrees with the full processing everywhere.
TEST(IdnaConformance, CoreOptionsDifferOnlyWhereListed) {
  const uidna::Options options = core_options();
  std::set<int> differing;
  for (const Row& r : rows()) {
    const bool passes = uidna::to_ascii(r.source, options) == 0;
    if (passes != !is_error(r.to_ascii_status)) differing.insert(r.line);
    ASSERT_EQ(idna::check(r.source), passes) << "line " << r.line << " \"" << r.text << '"';
  }
  std::set<int> listed;
  for (const auto& [line, why] : kCoreDifferences) listed.insert(line);
  EXPECT_EQ(differing, listed);
}

}  // namespace
}  // namespace quorvel
