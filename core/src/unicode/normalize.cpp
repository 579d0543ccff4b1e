// Normalisation in three passes over one segment at a time: decompose,
// order canonically, compose.
//
// A segment starts at a boundary, a code point whose decomposition starts
// with a starter that nothing before it can combine with. Text splits into
// segments that normalise independently, so the quick check runs over the
// text once, and only a segment that fails it is normalised; everything
// else is copied, or not even that when nothing changes.
#include "unicode/normalize.h"
#include "unicode/normalize_whole.h"

#include "unicode/canonical_order.h"
#include "unicode/element_buffer.h"
#include "unicode/normalization_data.h"
#include "unicode/utf8_codec.h"

namespace quorvel::unicode {
namespace {

using nf::Element;
using nf::ElementBuffer;

struct Nfc {
  static constexpr bool kCompat = false;
  static constexpr std::uint16_t kCheck = nf::g::kNfcCheck;
  static constexpr std::uint16_t kNo = nf::g::kNfcNo;
  static constexpr std::uint16_t kNoBoundary = nf::g::kNfcNoBoundary;
  static constexpr char32_t kFirstInteresting = nf::g::kNfcFirstInteresting;
};

struct Nfkc {
  static constexpr bool kCompat = true;
  static constexpr std::uint16_t kCheck = nf::g::kNfkcCheck;
  static constexpr std::uint16_t kNo = nf::g::kNfkcNo;
  static constexpr std::uint16_t kNoBoundary = nf::g::kNfkcNoBoundary;
  static constexpr char32_t kFirstInteresting = nf::g::kNfkcFirstInteresting;
};

// Appends the full decomposition of `segment` to buf; returns the OR of the
// elements, which tells whether ordering or composition can do anything.
template <class Form>
Element decompose(std::string_view segment, ElementBuffer& buf) {
  using namespace nf::hangul;
  Element all = 0;
  for (std::size_t i = 0; i < segment.size();) {
    const char32_t c = utf8::decode(segment, i);
    if (is_syllable(c)) {
      const char32_t s = c - kSBase;
      buf.push_back(kLBase + s / kNCount);
      buf.push_back((kVBase + (s % kNCount) / kTCount) | nf::kCombinesBack);
      if (s % kTCount != 0) buf.push_back((kTBase + s % kTCount) | nf::kCombinesBack);
      all |= nf::kCombinesBack;
      continue;
    }
    if (c < nf::g::kFirstDecomposable) {
      const Element e = nf::element(c, nf::props(c));
      buf.push_back(e);
      all |= e;
      continue;
    }
    const auto d = nf::decomposition<Form::kCompat>(c);
    if (d.empty()) {
      const Element e = nf::element(c, nf::props(c));
      buf.push_back(e);
      all |= e;
    } else {
      buf.append(d.data(), d.size());
      for (Element e : d) all |= e;
    }
  }
  return all;
}

// Canonical composition in place; returns the new length.
std::size_t compose(Element* e, std::size_t n) noexcept {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t starter = kNone;
  std::uint8_t last_class = 0;
  std::size_t w = 0;
  for (std::size_t r = 0; r < n; ++r) {
    const Element x = e[r];
    const std::uint8_t cc = nf::combining_class(x);
    // Between the starter and x stand only non-starters in class order, so
    // x is unblocked when it is adjacent or the last of them has a lower
    // class than x.
    if (starter != kNone && (x & nf::kCombinesBack) &&
        (w == starter + 1 || (last_class != 0 && last_class < cc))) {
      const char32_t composite = nf::compose(nf::code_point(e[starter]), nf::code_point(x));
      if (composite != 0) {
        e[starter] = composite;  // primary composites are starters
        continue;
      }
    }
    if (cc == 0) starter = w;
    last_class = cc;
    e[w++] = x;
  }
  return w;
}

bool encodes_to(const Element* e, std::size_t n, std::string_view text) noexcept {
  std::size_t at = 0;
  for (std::size_t k = 0; k < n; ++k) {
    char b[4];
    const std::size_t len = utf8::encode(nf::code_point(e[k]), b);
    if (text.size() - at < len || text.compare(at, len, b, len) != 0) return false;
    at += len;
  }
  return at == text.size();
}

// The normaliser for one form. `out` null means "only tell whether the text
// changes", which stops at the first segment that does.
template <class Form>
class Run {
 public:
  Run(std::string_view s, std::string* out) noexcept : s_(s), out_(out) {}

  // True when the text is not in the form (and, with an output, out_ holds
  // the normalised text).
  bool run() {
    const auto* p = reinterpret_cast<const unsigned char*>(s_.data());
    const std::size_t n = s_.size();
    std::size_t i = 0;
    while (i < n) {
      if (p[i] < 0x80) {
        // ASCII: each byte is a boundary in normal form; the last one may
        // still be the starter of what follows.
        if (!segment_ok_ && !flush(i)) return true;
        while (i + 1 < n && p[i + 1] < 0x80) ++i;
        segment_start_ = i++;
        segment_ok_ = true;
        segment_changes_ = false;
        last_class_ = 0;
        continue;
      }
      const std::size_t start = i;
      const char32_t c = utf8::decode(s_, i);
      if (c == utf8::kInvalid) {
        // Left alone, with a segment boundary on either side.
        if (!segment_ok_ && !flush(start)) return true;
        segment_start_ = i;
        segment_ok_ = true;
        segment_changes_ = false;
        last_class_ = 0;
        continue;
      }
      const std::uint16_t p16 = c < Form::kFirstInteresting ? 0 : nf::props(c);
      if (!(p16 & Form::kNoBoundary)) {
        if (!segment_ok_ && !flush(start)) return true;
        segment_start_ = start;
        segment_ok_ = true;
        segment_changes_ = false;
      }
      const std::uint8_t cc = static_cast<std::uint8_t>(p16);
      // A code point that never occurs in the form, or marks out of
      // canonical order, change the segment for certain; a "maybe" needs
      // the segment normalised and compared.
      const bool misordered = cc != 0 && cc < last_class_;
      if ((p16 & Form::kCheck) || misordered) {
        segment_ok_ = false;
        segment_changes_ |= misordered || (p16 & Form::kNo);
      }
      last_class_ = cc;
    }
    if (!segment_ok_ && !flush(n)) return true;
    if (changed_) out_->append(s_.substr(copied_));
    return changed_;
  }

 private:
  // Normalises s_[segment_start_, end). Returns false when there is no
  // output to write to and the segment changes.
  bool flush(std::size_t end) {
    if (out_ == nullptr && segment_changes_) return false;
    const std::string_view segment = s_.substr(segment_start_, end - segment_start_);
    buf_.clear();
    const Element all = decompose<Form>(segment, buf_);
    if (nf::combining_class(all) != 0) nf::canonical_order(buf_.data(), buf_.size());
    if (all & nf::kCombinesBack) buf_.shrink(compose(buf_.data(), buf_.size()));
    if (!segment_changes_ && encodes_to(buf_.data(), buf_.size(), segment)) return true;
    if (out_ == nullptr) return false;
    if (!changed_) {
      out_->assign(s_.data(), segment_start_);
      changed_ = true;
    } else {
      out_->append(s_.substr(copied_, segment_start_ - copied_));
    }
    for (std::size_t k = 0; k < buf_.size(); ++k) utf8::append(*out_, nf::code_point(buf_[k]));
    copied_ = end;
    return true;
  }

  std::string_view s_;
  std::string* out_;
  ElementBuffer buf_;
  std::size_t segment_start_ = 0;
  std::size_t copied_ = 0;
  std::uint8_t last_class_ = 0;
  bool segment_ok_ = true;
  bool segment_changes_ = false;  // the segment certainly differs from its form
  bool changed_ = false;
};

template <class Form>
std::string whole(std::string_view s) {
  ElementBuffer buf;
  decompose<Form>(s, buf);
  nf::canonical_order(buf.data(), buf.size());
  buf.shrink(compose(buf.data(), buf.size()));
  std::string out;
  for (std::size_t k = 0; k < buf.size(); ++k) utf8::append(out, nf::code_point(buf[k]));
  return out;
}

}  // namespace

std::string normalize_whole(std::string_view s, bool compat) {
  return compat ? whole<Nfkc>(s) : whole<Nfc>(s);
}

bool to_nfkc(std::string_view s, std::string& out) { return Run<Nfkc>(s, &out).run(); }

bool to_nfc(std::string_view s, std::string& out) { return Run<Nfc>(s, &out).run(); }

bool is_nfc(std::string_view s) { return !Run<Nfc>(s, nullptr).run(); }

}  // namespace quorvel::unicode
