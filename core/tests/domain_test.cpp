#include <gtest/gtest.h>

#include <random>

#include "domain/idna_check.h"
#include "domain/ip_literal.h"
#include "domain/limits.h"
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
void PrintTo(const DomainRow& row, std::ostream* os) { *os << testing::quoted(row.input); }

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
    // Hyphen positions count characters: U+20000 is one character (two
    // UTF-16 units, four UTF-8 bytes).
    {u8(0x20000) + "--a.example", "ok:" + u8(0x20000) + "--a.example", true},
    {u8(0x20000) + "a--b.example", "err:Idna"},
    {u8(0xE9) + "-" + u8(0x20000) + "-.example", "err:Idna"},
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
    // Long texts end early: the mapped text can no longer fit, or the
    // Punycode label decodes to more characters than a label can hold.
    {"a" + repeat(u8(0x301), 100000) + ".example", "err:Idna"},
    {"xn--" + repeat("a", 100000) + ".example", "err:Idna"},
    {repeat(u8(0x4E00) + ".", 20000) + "example", "err:Idna"},
    // The rules that look at characters in context.
    {u8(0x915) + u8(0x94D) + u8(0x200D) + ".example", "ok:" + u8(0x915) + u8(0x94D) + ".example"},
    {u8(0x628) + u8(0x200C) + u8(0x644) + "." + kArabic,
     "ok:" + u8(0x628) + u8(0x644) + "." + kArabic},
    {u8(0x628) + u8(0x200C) + ".example", "err:Idna"},
    {u8(0x5D0) + "1." + u8(0x5D1), "ok:" + u8(0x5D0) + "1." + u8(0x5D1), true},
    {"1" + u8(0x5D0) + "." + u8(0x5D1), "err:Idna"},
    {u8(0x301) + "a.example", "err:Idna"},
    {"xn--u-ccb.example", "err:Idna"},  // decodes to "u" and U+0308, not NFC
    {"xn--abc-.example", "err:Idna"},   // decodes to plain ASCII
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
void PrintTo(const IpRow& row, std::ostream* os) { *os << testing::quoted(row.text); }

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

// The ASCII path and the full UTS #46 processing must agree on every ASCII
// domain the fast path
// decides by itself.
TEST(IdnaPaths, AsciiPathAgreesWithFullCheck) {
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
    if (fast == idna::Verdict::NeedsFullCheck) continue;
    ++decided;
    ASSERT_EQ(fast == idna::Verdict::Pass, idna::check_full(domain)) << '"' << domain << '"';
    if (fast == idna::Verdict::Pass) {
      const ProfileResult general = nameprep(domain);
      const Result<PreparedText> fast_prepared = prepare_domain(domain);
      ASSERT_TRUE(general && fast_prepared) << domain;
      ASSERT_EQ(general->str(), fast_prepared->str()) << domain;
    }
  }
  EXPECT_GT(decided, 40000);
}

}  // namespace
}  // namespace quorvel
