// The plain-URI splitter against its byte-at-a-time twin: every short text
// over the bytes the rules tell apart, every byte in every place of texts
// of each length the mask route reads, and random longer ones.
#include "text/uri_plain.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "simd/isa.h"

namespace quorvel::binding {
namespace {

struct Split {
  bool ok;
  std::string path, action;
  bool encoded;
  friend bool operator==(const Split&, const Split&) = default;
};

Split split(std::string_view uri, bool portable) {
  PlainUri out;
  const bool ok = portable ? split_plain_uri_portable(uri, out) : split_plain_uri(uri, out);
  if (!ok) return {false, "", "", false};
  return {true, std::string(out.path), std::string(out.action), out.encoded};
}

// A mismatch as text, for the failure message; empty when they agree.
std::string mismatch(const std::string& uri) {
  const Split fast = split(uri, false), slow = split(uri, true);
  if (fast == slow) return "";
  return uri + ": " + (fast.ok ? "accepted" : "refused") + " against " + (slow.ok ? "accepted" : "refused");
}

// One of each kind of byte, and hex digits to make encodings of, among
// them those of "@" and "/".
constexpr std::string_view kAlphabet = "a@/%?&':#40F2[\x80-";

TEST(PlainUri, EveryShortTextOverTheBytesThatMatter) {
  for (std::size_t length = 0; length <= 5; ++length) {
    std::vector<std::size_t> digits(length, 0);
    std::string text(length, 'a');
    for (;;) {
      for (std::size_t i = 0; i < length; ++i) text[i] = kAlphabet[digits[i]];
      ASSERT_EQ(mismatch("xmpp:" + text), "");
      // The same within a text long enough for the masks.
      ASSERT_EQ(mismatch("xmpp:juliet@capulet.example/" + text), "");
      ASSERT_EQ(mismatch("xmpp:" + text + "juliet@capulet.example?message"), "");
      std::size_t i = 0;
      while (i < length && ++digits[i] == kAlphabet.size()) digits[i++] = 0;
      if (i == length) break;
    }
  }
}

TEST(PlainUri, EveryByteInEveryPlaceAtEveryLength) {
  for (std::size_t length = 1; length <= 70; ++length) {
    for (std::size_t place = 0; place < length; ++place) {
      for (int b = 0; b < 256; ++b) {
        std::string text(length, 'a');
        text[place] = static_cast<char>(b);
        ASSERT_EQ(mismatch("xmpp:" + text), "");
        std::string with_parts = text;
        with_parts[length / 3] = '@';
        if (length > 4) with_parts[2 * length / 3] = '/';
        with_parts[place] = static_cast<char>(b);
        ASSERT_EQ(mismatch("xmpp:" + with_parts), "");
        ASSERT_EQ(mismatch("xmpp:" + with_parts + "?m"), "");
      }
    }
  }
}

TEST(PlainUri, RandomTextsMostlyOfPlainBytes) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 300000; ++round) {
    std::string text(random() % 80, 'a');
    for (char& c : text) {
      c = random() % 10 < 7 ? "abc-.~19Z"[random() % 9] : kAlphabet[random() % kAlphabet.size()];
    }
    ASSERT_EQ(mismatch("xmpp:" + text), "");
  }
}

TEST(PlainUri, WhatTheRouteTakes) {
  // The mask route runs only on processors with AVX2; its twin everywhere.
  if (!ascii::has_avx2()) GTEST_LOG_(INFO) << "no AVX2: both calls take the byte-at-a-time route";
  EXPECT_EQ(split("xmpp:juliet@capulet.example/balcony?message", false),
            (Split{true, "juliet@capulet.example/balcony", "message", false}));
  EXPECT_EQ(split("xmpp:j%C3%BCrgen@m%C3%BCnchen.example/r", false),
            (Split{true, "j%C3%BCrgen@m%C3%BCnchen.example/r", "", true}));
  for (const char* refused : {"xmpp:juliet@capulet.example/bal@cony", "xmpp:juliet@capulet.example/a/b",
                              "xmpp://guest@capulet.example/juliet", "xmpp:juliet@capulet.example?m;k=v",
                              "xmpp:juliet@capulet.example#f", "xmpp:juliet%40x@capulet.example",
                              "xmpp:juliet&x@capulet.example", "XMPP:juliet@capulet.example"}) {
    EXPECT_FALSE(split(refused, false).ok) << refused;
  }
}

TEST(PlainUri, DecodingThePath) {
  const std::string path = "j%C3%BCrgen%41%7e";
  std::string out(path.size(), '\0');
  out.resize(decode_plain_path(path, out.data()));
  EXPECT_EQ(out, "j\xC3\xBCrgenA~");
}

}  // namespace
}  // namespace quorvel::binding
