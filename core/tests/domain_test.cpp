#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "domain_limits.h"
#include "idna_check.h"
#include "ip_literal.h"
#include "test_support.h"

namespace quorvel {
namespace {

using testing::describe;
using testing::repeat;
using testing::u8;

struct DomainRow {
  std::string input;
  std::string expected;  // "ok:<text>" or "err:<Kind>"
  bool unchanged = false;
};
void PrintTo(const DomainRow& row, std::ostream* os) { *os << '"' << row.input << '"'; }

class DomainTest : public ::testing::TestWithParam<DomainRow> {};

TEST_P(DomainTest, Prepares) {
  const DomainRow& row = GetParam();
  const Result<PreparedText> r = prepare_domain(row.input);
  ASSERT_EQ(describe(r), row.expected);
  if (r) {
    EXPECT_EQ(r->unchanged(), row.unchanged);
  }
}

const std::string kArabic = u8(0x0645) + u8(0x062B) + u8(0x0627) + u8(0x0644);
const std::string kLabel63 = repeat("a", 63);
// 63 + 1 + 63 + 1 + 63 + 1 + 61 = 253 bytes.
const std::string kDomain253 = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + repeat("b", 61);

const DomainRow kRows[] = {
    {"Example.COM", "ok:example.com"},
    {"example.com", "ok:example.com", true},
    {"example.com.", "ok:example.com"},
    {"example.com..", "err:Idna"},
    {"", "err:Idna"},
    {".", "err:Idna"},
    {"..", "err:Idna"},
    // IP literals come back as written.
    {"127.0.0.1", "ok:127.0.0.1", true},
    {"127.0.0.1.", "ok:127.0.0.1"},
    {"[::1]", "ok:[::1]", true},
    {"[2001:DB8::1]", "ok:[2001:DB8::1]", true},
    {"[::ffff:192.0.2.1]", "ok:[::ffff:192.0.2.1]", true},
    {"[::1].", "err:Idna"},
    // Nameprep's output must pass the IDNA check too, or the stored domain
    // could not be parsed back: "\u00df" folds to "ss" and lands the
    // hyphens in the third and fourth positions, or a label past 63 bytes.
    {u8(0xDF) + "--c.z", "err:Idna"},
    {u8(0xDF) + "-c.z", "ok:ss-c.z"},
    {repeat(u8(0xDF), 40) + ".example", "err:Idna"},
    {repeat(u8(0xDF), 30) + ".example", "ok:" + repeat("ss", 30) + ".example"},
    {"[fe80::1%eth0]", "err:Idna"},
    {"[::1/128]", "err:Idna"},
    {"[example.com]", "err:Idna"},
    // The deny set replaces the STD3 rules.
    {"a_b.example", "ok:a_b.example", true},
    {"a!b.example", "ok:a!b.example", true},
    {"A_B.example", "ok:a_b.example"},
    {"a b.example", "err:Idna"},
    {"a%b.example", "err:Idna"},
    {"a#b.example", "err:Idna"},
    {"a\\b.example", "err:Idna"},
    {"a" + u8(0xFF03) + "b.example", "err:Idna"},
    {std::string("a\0b", 3), "err:Idna"},
    // Hyphens, empty labels and lengths.
    {"-a.example", "err:Idna"},
    {"a-.example", "err:Idna"},
    {"ab--c.example", "err:Idna"},
    {"a-b-c.example", "ok:a-b-c.example", true},
    {"a..example", "err:Idna"},
    {".example", "err:Idna"},
    {kLabel63 + ".example", "ok:" + kLabel63 + ".example", true},
    {kLabel63 + "a.example", "err:Idna"},
    {kDomain253, "ok:" + kDomain253, true},
    {kDomain253 + ".", "ok:" + kDomain253},
    {kDomain253 + "b", "err:Idna"},
    // Joiners are checked by the IDNA step although nameprep would drop them.
    {"a" + u8(0x200D) + "b.example", "err:Idna"},
    // Punycode and Unicode spellings are kept as written.
    {"xn--bcher-kva.example", "ok:xn--bcher-kva.example", true},
    {"XN--BCHER-KVA.example", "ok:xn--bcher-kva.example"},
    {"b" + u8(0xFC) + "cher.example", "ok:b" + u8(0xFC) + "cher.example", true},
    {"B" + u8(0xFC) + "cher.Example", "ok:b" + u8(0xFC) + "cher.example"},
    {"B" + u8(0xDC) + "CHER.example.", "ok:b" + u8(0xFC) + "cher.example"},
    {"stra" + u8(0xDF) + "e.example", "ok:strasse.example"},
    {"xn--ls8h.example", "ok:xn--ls8h.example", true},
    {u8(0x1F4A9) + ".example", "err:NamePrep"},
    {"xn--a.example", "err:Idna"},
    {"xn--.example", "err:Idna"},
    {"xn--bcher-kva-.example", "err:Idna"},
    // Nameprep spans the whole domain, so bidi rules cross labels.
    {kArabic + ".example", "err:NamePrep"},
    {kArabic + "." + kArabic, "ok:" + kArabic + "." + kArabic, true},
    // Label separators.
    {"example" + u8(0x3002) + "com", "ok:example" + u8(0x3002) + "com", true},
    {"example" + u8(0xFF0E) + "com", "ok:example.com"},
    {"example" + u8(0xFF61) + "com", "ok:example" + u8(0x3002) + "com"},
    {"example" + u8(0x3002), "err:Idna"},
    // Characters that map to nothing are fine anywhere in a label.
    {"ex" + u8(0xAD) + "ample.com", "ok:example.com"},
    {repeat(u8(0xAD), 100000) + "example.com", "ok:example.com"},
};

INSTANTIATE_TEST_SUITE_P(Table, DomainTest, ::testing::ValuesIn(kRows));

TEST(DomainLimits, GuardRefusesPositionsPast16Bits) {
  EXPECT_TRUE(domain_fits_positions(253));
  EXPECT_TRUE(domain_fits_positions(kMaxPreparedDomainBytes));
  EXPECT_FALSE(domain_fits_positions(kMaxPreparedDomainBytes + 1));
  // The worst address the guard admits still has 16-bit positions.
  EXPECT_LE(kMaxPartBytes + 1 + kMaxPreparedDomainBytes, 0xFFFFu);
}

struct IpRow {
  std::string text;
  bool v4;
  bool v6;
};
void PrintTo(const IpRow& row, std::ostream* os) { *os << '"' << row.text << '"'; }

class IpLiteralTest : public ::testing::TestWithParam<IpRow> {};

TEST_P(IpLiteralTest, RecognisesExactForms) {
  EXPECT_EQ(ip::is_ipv4(GetParam().text), GetParam().v4);
  EXPECT_EQ(ip::is_bracketed_ipv6(GetParam().text), GetParam().v6);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IpLiteralTest,
    ::testing::Values(
        IpRow{"0.0.0.0", true, false}, IpRow{"255.255.255.255", true, false},
        IpRow{"256.1.1.1", false, false}, IpRow{"01.1.1.1", false, false},
        IpRow{"1.1.1", false, false}, IpRow{"1.1.1.1.", false, false},
        IpRow{"1.1.1.1.1", false, false}, IpRow{"+1.1.1.1", false, false},
        IpRow{" 1.1.1.1", false, false}, IpRow{"1..1.1", false, false},
        IpRow{"1.1.1.1000", false, false}, IpRow{"[::]", false, true},
        IpRow{"[::1]", false, true}, IpRow{"[1::]", false, true},
        IpRow{"[1:2:3:4:5:6:7:8]", false, true}, IpRow{"[1:2:3:4:5:6:7::]", false, true},
        IpRow{"[1:2:3:4:5:6:7:8:9]", false, false}, IpRow{"[1:2:3:4:5:6:7]", false, false},
        IpRow{"[1:2:3:4::5:6:7:8]", false, false}, IpRow{"[1::2::3]", false, false},
        IpRow{"[:1]", false, false}, IpRow{"[1:]", false, false},
        IpRow{"[1:::2]", false, false}, IpRow{"[12345::]", false, false},
        IpRow{"[aBcD:EF01::]", false, true}, IpRow{"[g::]", false, false},
        IpRow{"[::1.2.3.4]", false, true}, IpRow{"[1:2:3:4:5:6:1.2.3.4]", false, true},
        IpRow{"[1:2:3:4:5:6:7:1.2.3.4]", false, false}, IpRow{"[::01.2.3.4]", false, false},
        IpRow{"[::1.2.3]", false, false}, IpRow{"[1.2.3.4]", false, false},
        IpRow{"[::1%1]", false, false}, IpRow{"[::1/64]", false, false},
        IpRow{"[]", false, false}, IpRow{"::1", false, false}, IpRow{"[::1", false, false}));

// The ASCII path and ICU must agree on every ASCII domain the fast path
// decides by itself.
TEST(IdnaPaths, AsciiPathAgreesWithIcu) {
  std::mt19937 rng(20261208);
  const std::vector<std::string> atoms = {
      "a", "b", "Z", "x", "n", "0", "9", "-", "-", ".", ".", "_", "!", "~", "=", "#", "%", " ",
      "?", "@", "[", "^", "|", "\"", "'", "xn--", "XN--", "ab--", "q", "\x01", "\x7f", "{", "`"};
  std::uniform_int_distribution<std::size_t> pick(0, atoms.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  int decided = 0;
  for (int n = 0; n < 60000; ++n) {
    std::string domain;
    const int parts = length(rng);
    for (int k = 0; k < parts; ++k) domain += atoms[pick(rng)];
    if (n % 97 == 0) domain = repeat("a", 60 + n % 8) + "." + domain;
    const idna::Verdict fast = idna::check_ascii(domain);
    if (fast == idna::Verdict::NeedsIcu) continue;
    ++decided;
    ASSERT_EQ(fast == idna::Verdict::Pass, idna::check_icu(domain)) << '"' << domain << '"';
    if (fast == idna::Verdict::Pass) {
      const ProfileResult general = nameprep(domain);
      const Result<PreparedText> fast_prepared = prepare_domain(domain);
      ASSERT_TRUE(general && fast_prepared) << domain;
      ASSERT_EQ(general->str(), fast_prepared->str()) << domain;
    }
  }
  EXPECT_GT(decided, 40000);
}

// Unicode's conformance file for UTS #46, filtered for the options that
// differ: it assumes the STD3 rules (error U1) and accepts a trailing root
// dot, both of which the address core replaces.
std::string unescape_conformance(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'u' && i + 5 < s.size()) {
      out += u8(static_cast<char32_t>(std::stoul(std::string(s.substr(i + 2, 4)), nullptr, 16)));
      i += 5;
    } else if (s[i] == '\\' && i + 2 < s.size() && s[i + 1] == 'x' && s[i + 2] == '{') {
      const std::size_t close = s.find('}', i);
      out += u8(static_cast<char32_t>(
          std::stoul(std::string(s.substr(i + 3, close - i - 3)), nullptr, 16)));
      i = close;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string trim(std::string_view s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

// Code points whose UTS #46 status depends on the STD3 rules ("3" in the
// mapping table). The conformance file reports their errors as P1/V6.
std::vector<std::pair<char32_t, bool>> std3_ranges(const std::string& json) {
  std::vector<std::pair<char32_t, bool>> starts;
  for (std::size_t i = json.find("\"rows\""); i != std::string::npos && i < json.size(); ++i) {
    if (json[i] != '[' || i + 1 >= json.size() || !std::isdigit(static_cast<unsigned char>(json[i + 1]))) {
      continue;
    }
    std::size_t j = i + 1;
    char32_t start = 0;
    while (j < json.size() && std::isdigit(static_cast<unsigned char>(json[j]))) {
      start = start * 10 + static_cast<char32_t>(json[j++] - '0');
    }
    if (json.compare(j, 2, ",\"") != 0) continue;
    starts.emplace_back(start, json[j + 2] == '3');
  }
  return starts;
}

bool has_std3_code_point(const std::vector<std::pair<char32_t, bool>>& ranges,
                         std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = len == 1 ? b : b & (0xFF >> (len + 1));
    for (int k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += static_cast<std::size_t>(len);
    auto it = std::upper_bound(ranges.begin(), ranges.end(), std::make_pair(c, true));
    if (it != ranges.begin() && std::prev(it)->second) return true;
  }
  return false;
}

TEST(IdnaConformance, MatchesUnicodeTestFile) {
  if (testing::unicode_major() != 15) {
    GTEST_SKIP() << "the conformance file is for Unicode 15.0; ICU has Unicode "
                 << testing::unicode_major();
  }
  std::ifstream in(std::string(QUORVEL_UNICODE_DATA_DIR) + "/IdnaTestV2.txt");
  if (!in) GTEST_SKIP() << "IdnaTestV2.txt not found beside the project";
  std::ifstream mapping_file(std::string(QUORVEL_UNICODE_DATA_DIR) + "/uts46-mapping.json");
  std::stringstream mapping;
  mapping << mapping_file.rdbuf();
  const auto ranges = std3_ranges(mapping.str());
  ASSERT_GT(ranges.size(), 1000u);
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    line = line.substr(0, line.find('#'));
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, ';');) cols.push_back(trim(col));
    if (cols.size() < 5) continue;
    const std::string source = unescape_conformance(cols[0]);
    const std::string to_unicode = cols[1].empty() ? source : unescape_conformance(cols[1]);
    const std::string unicode_status = cols[2];
    const std::string ascii = cols[3].empty() ? to_unicode : unescape_conformance(cols[3]);
    const std::string status = cols[4].empty() ? unicode_status : cols[4];
    if (status.find("U1") != std::string::npos ||
        has_std3_code_point(ranges, source) || has_std3_code_point(ranges, to_unicode)) {
      continue;
    }
    const bool file_ok = status.empty() || status == "[]";
    const bool root_dot = !ascii.empty() && ascii.back() == '.';
    const bool expected = file_ok && !root_dot && !ascii.empty();
    ASSERT_EQ(idna::check(source), expected)
        << "source \"" << cols[0] << "\" status " << status << " ascii \"" << ascii << '"';
    ++checked;
  }
  EXPECT_GT(checked, 3000);
}

}  // namespace
}  // namespace quorvel
