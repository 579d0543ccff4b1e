// JID == JID and JID != JID, the comparisons dictionaries and sets make,
// answered before the general comparison (protocol.cpp) and its entry
// guard: two lengths and a memcmp, as any address type must do.
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "jid/jid_object.h"

namespace quorvel::binding {
namespace {

// Byte equality of two texts of n bytes. Addresses are mostly 8 to 32
// bytes long: two overlapping loads from each side compare those without a
// call, never reading outside either text.
bool same_bytes(const char* a, const char* b, std::size_t n) noexcept {
#if defined(__SSE2__)
  if (n >= 16 && n <= 32) {
    auto load = [](const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i head = _mm_cmpeq_epi8(load(a), load(b));
    const __m128i tail = _mm_cmpeq_epi8(load(a + n - 16), load(b + n - 16));
    return _mm_movemask_epi8(_mm_and_si128(head, tail)) == 0xFFFF;
  }
#endif
  if (n >= 8 && n <= 16) {
    std::uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&a1, a + n - 8, 8);
    std::memcpy(&b1, b + n - 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
  return n == 0 || std::memcmp(a, b, n) == 0;
}

// Whether the values of a and b are equal, when both can be read now.
std::optional<bool> equal_if_readable(JidObject* a, JidObject* b) noexcept {
#if defined(Py_GIL_DISABLED)
  auto mine = ReadBorrow::try_acquire(a);
  if (!mine) return std::nullopt;
  auto theirs = ReadBorrow::try_acquire(b);
  if (!theirs) return std::nullopt;
#else
  // With the interpreter lock held nothing else runs until this returns,
  // so no writer can begin meanwhile and a reader need not register: it
  // is enough that no writer holds either value now.
  if (a->borrow_flag.load(std::memory_order_relaxed) == kWriter ||
      b->borrow_flag.load(std::memory_order_relaxed) == kWriter) {
    return std::nullopt;
  }
#endif
  const std::optional<JidValue>& x = a->value;
  const std::optional<JidValue>& y = b->value;
  if (!x || !y) return !x && !y;
  const std::string_view tx = x->text();
  const std::string_view ty = y->text();
  return tx.size() == ty.size() && same_bytes(tx.data(), ty.data(), tx.size());
}

}  // namespace

PyObject* jid_compare(PyObject* self, PyObject* other, int op) noexcept {
  if ((op == Py_EQ || op == Py_NE) && Py_TYPE(other) == Py_TYPE(self)) {
    if (const std::optional<bool> equal = equal_if_readable(as_jid(self), as_jid(other))) {
      return Py_NewRef((op == Py_EQ) == *equal ? Py_True : Py_False);
    }
  }
  // Everything else, a value held by a writer included (which the general
  // route reports), goes the general way.
  return jid_richcompare(self, other, op);
}

}  // namespace quorvel::binding
