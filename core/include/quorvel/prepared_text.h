// The outcome of preparing one part of an address.
//
// Most real addresses are already normalised, or differ from their normal
// form only by ASCII capitals. PreparedText therefore avoids building a new
// string in those cases: it is a view of the caller's text (possibly a
// shorter prefix, when a domain loses its trailing dot), a view that must be
// lower-cased while being copied, or an owned string for everything else.
// The final address buffer is written from it in one pass.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace quorvel {

class PreparedText {
 public:
  enum class Form : unsigned char { Verbatim, AsciiLowered, Owned };

  PreparedText() = default;

  // The input itself, byte for byte.
  static PreparedText unchanged(std::string_view input) noexcept {
    return PreparedText(input, Form::Verbatim, true);
  }
  // A slice of the input taken as is, but not the whole input.
  static PreparedText slice(std::string_view part) noexcept {
    return PreparedText(part, Form::Verbatim, false);
  }
  // A slice of the input whose ASCII capitals are folded when copied. The
  // slice is ASCII, or a domain whose other characters stay as they are:
  // no byte of a multi-byte character is a capital.
  static PreparedText ascii_lowered(std::string_view part) noexcept {
    return PreparedText(part, Form::AsciiLowered, false);
  }
  static PreparedText owned(std::string text) {
    PreparedText p;
    p.owned_ = std::move(text);
    p.form_ = Form::Owned;
    return p;
  }

  PreparedText(const PreparedText& other) { *this = other; }
  PreparedText& operator=(const PreparedText& other) {
    if (this != &other) {
      owned_ = other.owned_;
      form_ = other.form_;
      unchanged_ = other.unchanged_;
      view_ = form_ == Form::Owned ? std::string_view() : other.view_;
    }
    return *this;
  }
  PreparedText(PreparedText&& other) noexcept { *this = std::move(other); }
  PreparedText& operator=(PreparedText&& other) noexcept {
    if (this != &other) {
      owned_ = std::move(other.owned_);
      form_ = other.form_;
      unchanged_ = other.unchanged_;
      view_ = form_ == Form::Owned ? std::string_view() : other.view_;
    }
    return *this;
  }

  // True only when the prepared text is the caller's input, byte for byte.
  bool unchanged() const noexcept { return unchanged_; }
  Form form() const noexcept { return form_; }

  std::size_t size() const noexcept {
    return form_ == Form::Owned ? owned_.size() : view_.size();
  }
  bool empty() const noexcept { return size() == 0; }

  // Writes size() bytes to dst.
  void copy_to(char* dst) const noexcept {
    switch (form_) {
      case Form::Verbatim:
        if (!view_.empty()) std::memcpy(dst, view_.data(), view_.size());
        break;
      case Form::AsciiLowered:
        for (char c : view_) {
          *dst++ = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        }
        break;
      case Form::Owned:
        if (!owned_.empty()) std::memcpy(dst, owned_.data(), owned_.size());
        break;
    }
  }

  // The prepared bytes as a view, when they exist as such (not AsciiLowered).
  bool has_view() const noexcept { return form_ != Form::AsciiLowered; }
  std::string_view view() const noexcept {
    return form_ == Form::Owned ? std::string_view(owned_) : view_;
  }

  std::string str() const {
    std::string out(size(), '\0');
    copy_to(out.data());
    return out;
  }

 private:
  PreparedText(std::string_view v, Form f, bool unchanged) noexcept
      : view_(v), form_(f), unchanged_(unchanged) {}

  std::string_view view_;
  std::string owned_;
  Form form_ = Form::Verbatim;
  bool unchanged_ = false;
};

}  // namespace quorvel
