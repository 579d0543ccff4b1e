#include "quorvel/jid_value.h"

namespace quorvel {

JidValue::JidValue(std::string_view text, std::uint16_t localpart_end,
                   std::uint16_t slash_position)
    : data_(allocate(text.size())),
      size_(static_cast<std::uint32_t>(text.size())),
      localpart_end_(localpart_end),
      slash_position_(slash_position) {
  if (!text.empty()) std::memcpy(data_.get(), text.data(), text.size());
}

JidValue::JidValue(const JidValue& other)
    : data_(other.data_ ? allocate(other.size_) : nullptr),
      size_(other.size_),
      localpart_end_(other.localpart_end_),
      slash_position_(other.slash_position_) {
  if (size_ != 0) std::memcpy(data_.get(), other.data_.get(), size_);
}

JidValue& JidValue::operator=(const JidValue& other) {
  if (this != &other) {
    JidValue copy(other);
    *this = std::move(copy);
  }
  return *this;
}

}  // namespace quorvel
