// The interpreter lock released for the life of an object, for the native
// work of quorvel._batch and of the command-line tool's block route.
#pragma once

#include "support/support.h"

namespace quorvel::binding {

// Nothing the interpreter owns may be touched meanwhile: the callers read
// only views into objects they hold references to, and buffers they own.
// The lock is taken back on the way out, an exception's way included.
class Unlocked {
 public:
  Unlocked() noexcept : depth_(LockDepth::release()), state_(PyEval_SaveThread()) {}
  ~Unlocked() {
    PyEval_RestoreThread(state_);
    LockDepth::reacquire(depth_);
  }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  int depth_;
  PyThreadState* state_;
};

}  // namespace quorvel::binding
