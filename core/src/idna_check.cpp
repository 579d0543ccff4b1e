#include "idna_check.h"

#include <unicode/bytestream.h>
#include <unicode/idna.h>
#include <unicode/uchar.h>

#include <array>
#include <memory>
#include <new>

#include "scan.h"
#include "utf8.h"

namespace quorvel::idna {
namespace {

constexpr std::size_t kMaxDomain = 253;
constexpr std::size_t kMaxLabel = 63;

bool starts_with_ace_prefix(std::string_view label) noexcept {
  return label.size() >= 4 && (label[0] | 0x20) == 'x' && (label[1] | 0x20) == 'n' &&
         label[2] == '-' && label[3] == '-';
}

const icu::IDNA& uts46() {
  static const std::unique_ptr<icu::IDNA> instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::IDNA> idna(icu::IDNA::createUTS46Instance(
        UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE | UIDNA_CHECK_BIDI |
            UIDNA_CHECK_CONTEXTJ,
        status));
    if (U_FAILURE(status) || !idna) throw std::bad_alloc();
    return idna;
  }();
  return *instance;
}

// Labels, lengths, root dot and deny set of an ASCII result of mapping.
bool mapped_ascii_ok(std::string_view out) noexcept {
  if (out.empty() || out.size() > kMaxDomain) return false;
  std::size_t label = 0;
  for (unsigned char b : out) {
    if (b == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    if (kDeniedBytes[b]) return false;
    if (++label > kMaxLabel) return false;
  }
  return label != 0;
}

// A domain has at least one code point in its ASCII form for every code point
// that the mapping keeps; only default-ignorable code points can be mapped to
// nothing, and NFC joins at most four code points into one. Past this many
// other code points the domain cannot fit 253 bytes, and such texts are
// refused before they reach ICU, whose normaliser is slow on long runs of
// combining marks.
constexpr std::size_t kMaxKeptCodePoints = 4 * (kMaxDomain + 1);

bool too_many_kept_code_points(std::string_view domain) noexcept {
  if (domain.size() <= kMaxKeptCodePoints) return false;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < domain.size();) {
    const char32_t c = utf8::decode(domain, i);
    if (c == utf8::kInvalid) return true;  // ICU would refuse it as well
    if (!u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) {
      if (++kept > kMaxKeptCodePoints) return true;
    }
  }
  return false;
}


}  // namespace

Verdict check_ascii(std::string_view domain) noexcept {
  if (domain.empty() || domain.size() > kMaxDomain) return Verdict::Fail;
  std::size_t start = 0;
  while (true) {
    std::size_t end = domain.find('.', start);
    if (end == std::string_view::npos) end = domain.size();
    const std::string_view label = domain.substr(start, end - start);
    if (label.empty() || label.size() > kMaxLabel) return Verdict::Fail;
    if (label.front() == '-' || label.back() == '-') return Verdict::Fail;
    if (label.size() >= 4 && label[2] == '-' && label[3] == '-') {
      if (starts_with_ace_prefix(label)) return Verdict::NeedsIcu;
      return Verdict::Fail;
    }
    for (unsigned char b : label) {
      if (kDeniedBytes[b]) return Verdict::Fail;
    }
    if (end == domain.size()) return Verdict::Pass;
    start = end + 1;
  }
}

bool check_icu(std::string_view domain) {
  if (too_many_kept_code_points(domain)) return false;
  const icu::IDNA& idna = uts46();
  const icu::StringPiece input(domain.data(), static_cast<int32_t>(domain.size()));

  // The ASCII form is only inspected, never kept: a fixed buffer suffices,
  // and overflowing it already means the domain is too long.
  std::array<char, kMaxDomain + 2> buffer;
  icu::CheckedArrayByteSink sink(buffer.data(), static_cast<int32_t>(buffer.size()));
  icu::IDNAInfo info;
  UErrorCode status = U_ZERO_ERROR;
  idna.nameToASCII_UTF8(input, sink, info, status);
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  if (U_FAILURE(status) || info.hasErrors() || sink.Overflowed()) return false;
  const std::string_view ascii(buffer.data(), static_cast<std::size_t>(sink.NumberOfBytesWritten()));
  if (!mapped_ascii_ok(ascii)) return false;

  // A Punycode label needs no decoding for the deny set: its basic code
  // points stand in the ASCII form checked above, and every code point it
  // inserts is at least U+0080 (RFC 3492 starts insertions at 128 and only
  // counts upwards), so none of them can be a denied ASCII character.
  return true;
}

bool check(std::string_view domain) {
  if (scan::is_ascii(domain)) {
    switch (check_ascii(domain)) {
      case Verdict::Pass:
        return true;
      case Verdict::Fail:
        return false;
      case Verdict::NeedsIcu:
        break;
    }
  }
  return check_icu(domain);
}

}  // namespace quorvel::idna
