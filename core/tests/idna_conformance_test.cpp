// Unicode's UTS #46 conformance file (IdnaTestV2-16.0.0.txt) against the
// built-in processing: every row with the 16.0.0 mapping table under the
// file's own options, then every row under the address core's options with
// the 17.0.0 table, where each verdict that differs from the file's is
// listed with its reason.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "domain/idna_check.h"
#include "idna_test_file.h"
#include "tables/idna_mapping_16_0_0.h"
#include "test_support.h"
#include "unicode/to_ascii.h"

namespace quorvel {
namespace {

namespace uidna = unicode::idna;

using testing::is_error;
using testing::Row;
using testing::rows;

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
