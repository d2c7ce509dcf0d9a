// The one way to release the interpreter lock: a scoped guard. While it is
// alive no Python object may be touched; record locks taken inside its scope
// must be released before it ends (the lock is never re-acquired while a
// record lock is held).
//
//   std::vector<CellRef> hits;
//   {
//     ReleaseGil nogil;
//     hits = find_cells_by_regex(...);   // pure core work
//   }
//   return to_list(hits);                // back under the interpreter lock
#ifndef QUILLMOOR_BINDINGS_GIL_H_
#define QUILLMOOR_BINDINGS_GIL_H_

#include "bindings/pyref.h"

namespace qm::py {

class ReleaseGil {
 public:
  ReleaseGil() : state_(PyEval_SaveThread()) {}
  ~ReleaseGil() { PyEval_RestoreThread(state_); }
  ReleaseGil(const ReleaseGil&) = delete;
  ReleaseGil& operator=(const ReleaseGil&) = delete;

 private:
  PyThreadState* state_;
};

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_GIL_H_
