// The corpora of the core benchmarks, shared by the Google Benchmark program
// and the instruction-count driver (core_count.cpp), so that both measure
// the very same inputs.
#pragma once

#include <string>
#include <vector>

namespace quorvel::bench {

using Corpus = std::vector<std::string>;

// 1000 distinct inputs per corpus, so branch predictors and caches see a
// realistic mix rather than one text over and over.
constexpr int kInputs = 1000;

inline std::string num(int i) { return std::to_string(i); }

inline Corpus make_corpus(const char* name) {
  const std::string which = name;
  Corpus c;
  c.reserve(kInputs);
  for (int i = 0; i < kInputs; ++i) {
    const std::string n = num(i);
    if (which == "ascii") {
      c.push_back("user" + n + "@example.com/res-" + num(i % 10));
    } else if (which == "mixed") {
      c.push_back("User" + n + "@Example.COM/Res");
    } else if (which == "domain") {
      c.push_back("host" + n + ".example.org");
    } else if (which == "latin1") {
      c.push_back("j\xc3\xbcrgen" + n + "@m\xc3\xbcnchen.example/r");
    } else if (which == "greek") {
      c.push_back("\xce\xb1\xce\xbb\xcf\x86\xce\xb1" + n + "@\xce\xb5\xce\xbb.example/r");
    } else if (which == "cyrillic") {
      c.push_back("\xd0\xbf\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0" + n + "@\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80.\xd1\x80\xd1\x84/r");
    } else if (which == "cjk") {
      c.push_back("\xe7\x94\xa8\xe6\x88\xb7" + n + "@\xe4\xbe\x8b\xe5\xad\x90.\xe4\xb8\xad\xe5\x9b\xbd/r");
    } else if (which == "arabic") {
      // Right-to-left throughout: nameprep's bidi rule covers the whole
      // domain, so a Latin top-level label would refuse it.
      c.push_back("\xd9\x85\xd8\xb3\xd8\xaa\xd8\xae\xd8\xaf\xd9\x85@\xd9\x85\xd8\xab\xd8\xa7\xd9\x84" +
                  n + "\xd9\x85.\xd9\x85\xd9\x88\xd9\x82\xd8\xb9/r");
    } else if (which == "strasse") {
      c.push_back("user" + n + "@stra\xc3\x9f" "e.example/r");
    }
  }
  return c;
}

inline const char* const kCorpora[] = {"ascii", "mixed", "domain", "latin1", "greek",
                                "cyrillic", "cjk", "arabic", "strasse"};

}  // namespace quorvel::bench
