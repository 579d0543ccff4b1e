#include "quorvel/jid_value.h"

namespace quorvel {

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
