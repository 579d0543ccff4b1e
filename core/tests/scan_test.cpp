// The byte scans of simd/scan.h: each variant (the SSE2 kernel where the
// processor has it, and the portable twin everywhere) against the plain
// definition, over every length and start around the block sizes.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "address/fast/ascii_address.h"
#include "simd/scan.h"

namespace quorvel {
namespace {

std::size_t naive_separator(std::string_view s, std::size_t from) {
  for (std::size_t i = from; i < s.size(); ++i) {
    if (s[i] == '@' || s[i] == '/') return i;
  }
  return std::string_view::npos;
}

bool naive_ascii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool naive_printable(std::string_view s) {
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

// Texts of 0 to 80 bytes, mostly plain with one or two bytes that decide
// the answer (a separator, a control, DEL, a byte from 0x80 up) anywhere.
TEST(Scans, EveryVariantAgreesWithThePlainDefinition) {
  std::mt19937 rng(4242);
  const std::string rare("@/\x00\x1f\x20\x7e\x7f\x80\xbf\xff", 10);
  for (int i = 0; i < 30000; ++i) {
    const std::size_t n = static_cast<std::size_t>(i % 81);
    std::string s(n, 'a');
    for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<char>('a' + rng() % 26);
    for (int k = static_cast<int>(rng() % 3); k > 0 && n != 0; --k) {
      s[rng() % n] = rare[rng() % rare.size()];
    }
    ASSERT_EQ(scan::is_ascii_words(s), naive_ascii(s)) << n;
    ASSERT_EQ(scan::is_printable_ascii_bytes(s), naive_printable(s)) << n;
    ASSERT_EQ(scan::is_ascii(s), naive_ascii(s)) << n;
    ASSERT_EQ(scan::is_printable_ascii(s), naive_printable(s)) << n;
#if defined(QUORVEL_HAVE_X86_SIMD)
    ASSERT_EQ(scan::is_ascii_sse2(s), naive_ascii(s)) << n;
    ASSERT_EQ(scan::is_printable_ascii_sse2(s), naive_printable(s)) << n;
#endif
    for (std::size_t from = 0; from <= n; ++from) {
      const std::size_t expected = naive_separator(s, from);
      ASSERT_EQ(scan::find_separator_words(s, from), expected) << n << " from " << from;
      ASSERT_EQ(scan::find_separator(s, from), expected) << n << " from " << from;
#if defined(QUORVEL_HAVE_X86_SIMD)
      ASSERT_EQ(scan::find_separator_sse2(s, from), expected) << n << " from " << from;
#endif
    }
  }
}

// The long-text route (more than 63 bytes): the byte-table scan and the
// SSE2 scan give the same layout, over addresses built of labels with every
// byte either scan treats apart.
TEST(Scans, LongRouteVariantsGiveTheSameLayout) {
  std::mt19937 rng(77);
  const std::string plain = "abcXYZ09-_";
  const std::string rare = ".-@/ \"&':<>#%?[\\]^|\x7f\x01\x80";
  int ok = 0;
  for (int i = 0; i < 40000; ++i) {
    std::string s;
    const std::size_t n = 64 + rng() % 200;
    while (s.size() < n) {
      s += rng() % 9 == 0 ? rare[rng() % rare.size()] : plain[rng() % plain.size()];
      if (rng() % 12 == 0) s += '.';
    }
    if (rng() % 2 == 0) s[rng() % 40] = '@';
    const PlainLayout bytes = long_plain_ascii_layout(s, ascii::Isa::Bytes);
    const PlainLayout fast = long_plain_ascii_layout(s, ascii::Isa::Sse2);
    const PlainLayout chosen = long_plain_ascii_layout(s);
    for (const PlainLayout* l : {&fast, &chosen}) {
      ASSERT_EQ(l->ok, bytes.ok) << s;
      if (!bytes.ok) continue;
      ASSERT_EQ(l->localpart_end, bytes.localpart_end) << s;
      ASSERT_EQ(l->slash_position, bytes.slash_position) << s;
      ASSERT_EQ(l->fold_end, bytes.fold_end) << s;
    }
    ok += bytes.ok;
  }
  // The texts must reach the layout's every check, not stop at the first.
  EXPECT_GT(ok, 100);
}

}  // namespace
}  // namespace quorvel
