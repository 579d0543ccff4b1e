// PodArray: a growable array of a trivially copyable type over malloc and
// realloc, whose block can be handed on as an Arrow buffer without a copy.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace quorvel::binding::batch {

// A growable array of a trivially copyable type over malloc and realloc.
// The allocator maps large blocks straight from the system and realloc moves
// them by remapping their pages, so growing never holds the old and the new
// copy at once as std::vector's growth does: for a column of millions of
// rows that is what shows in the peak resident size.
template <class T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodArray() noexcept = default;
  PodArray(PodArray&& o) noexcept
      : data_(std::exchange(o.data_, nullptr)),
        size_(std::exchange(o.size_, 0)),
        capacity_(std::exchange(o.capacity_, 0)) {}
  PodArray& operator=(PodArray&& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    std::swap(capacity_, o.capacity_);
    return *this;
  }
  PodArray(const PodArray&) = delete;
  PodArray& operator=(const PodArray&) = delete;
  ~PodArray() { std::free(data_); }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }

  void reserve(std::size_t n) {
    if (n > capacity_) grow(n);
  }
  void push_back(T value) {
    if (size_ == capacity_) grow(size_ + 1);
    data_[size_++] = value;
  }
  void append(const T* values, std::size_t n) {
    if (n > capacity_ - size_) grow(size_ + n);
    if (n != 0) std::memcpy(data_ + size_, values, n * sizeof(T));
    size_ += n;
  }
  void resize(std::size_t n, T fill) {
    if (n > capacity_) grow(n);
    std::fill(data_ + std::min(size_, n), data_ + n, fill);
    size_ = n;
  }
  // Text appended, for an array of char.
  PodArray& operator+=(std::string_view text) {
    static_assert(std::is_same_v<T, char>);
    append(text.data(), text.size());
    return *this;
  }
  // Hands the block (from malloc) to the caller, with 64 zeroed bytes past
  // the elements, and leaves the array empty.
  T* release_padded() {
    const std::size_t used = size_ * sizeof(T);
    void* p = std::realloc(data_, used + 64);
    if (p == nullptr) throw std::bad_alloc();
    std::memset(static_cast<char*>(p) + used, 0, 64);
    data_ = nullptr;
    size_ = capacity_ = 0;
    return static_cast<T*>(p);
  }

 private:
  void grow(std::size_t need) {
    if (need > SIZE_MAX / 2 / sizeof(T)) throw std::bad_alloc();
    const std::size_t capacity = std::max<std::size_t>({need, capacity_ * 2, 16});
    void* p = std::realloc(data_, capacity * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace quorvel::binding::batch
