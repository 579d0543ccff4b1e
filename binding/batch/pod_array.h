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

#include <sys/mman.h>

namespace quorvel::binding::batch {

// Blocks of this size or more are worth huge pages. malloc maps every block
// past its adaptive threshold (at most 32 MiB) afresh, and a worker
// thread's arena has nothing of an earlier call's to reuse, so that each
// call would fault in each of their pages again: measured, the second
// thread's chunk of a million rows took a fifth longer than the first's.
inline constexpr std::size_t kHugePagesFrom = std::size_t{8} << 20;

// Asks the kernel to back the 2 MiB-aligned interior of a block of at least
// kHugePagesFrom bytes with huge pages: a fault per 2 MiB instead of one per
// 4 KiB. Advice only: where the kernel declines (or has no such pages),
// nothing changes.
inline void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  if (data == nullptr || bytes < kHugePagesFrom) return;
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto b = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto e = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (e > b) (void)::madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

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
  // reserve, for a block filled once and handed on: huge pages advised
  // where it is large (advise_huge_pages).
  void reserve_for_output(std::size_t n) {
    reserve(n);
    advise_huge_pages(data_, capacity_ * sizeof(T));
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
  // Counts n more elements, already written past the end within what
  // reserve made room for.
  void grow_into_reserve(std::size_t n) noexcept { size_ += n; }
  // Text appended, for an array of char.
  PodArray& operator+=(std::string_view text) {
    static_assert(std::is_same_v<T, char>);
    append(text.data(), text.size());
    return *this;
  }
  // Hands the block (from malloc) to the caller, with 64 zeroed bytes past
  // the elements, and leaves the array empty. A block with little to spare
  // is handed on as it is: trimmed, it would teach malloc's adaptive
  // threshold a size just under the next call's, which would then be mapped
  // and faulted in afresh instead of reused.
  T* release_padded() {
    const std::size_t used = size_ * sizeof(T);
    const std::size_t room = capacity_ * sizeof(T);
    void* p = data_;
    if (p == nullptr || room < used + 64 || room - used > used / 8 + 4096) {
      p = std::realloc(data_, used + 64);
      if (p == nullptr) throw std::bad_alloc();
    }
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
