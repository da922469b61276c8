#pragma once
// The one error type of the run: a failing database or step operation throws
// it, carrying the description as the engine words it. The handler in force
// decides what happens next.
#include <stdexcept>
#include <string>

namespace kw {

// Error numbers the run tells apart; DAO's own where DAO has one.
constexpr int kErrGeneral = 0;
// Edit on a row that another user deleted since the selection was made.
constexpr int kErrRecordDeleted = 3167;
// A commit failed after Update had reported rows saved: those rows are lost.
constexpr int kErrRowsNotSaved = 1;
// The file is in use elsewhere; the description tells the user to close the
// product on every workstation and run the conversion again, so the run ends
// after it instead of trying again at once.
constexpr int kErrFileInUse = 3045;
// The journal of an interrupted run no longer fits its file: the user must
// restore the file or remove the journal first, so the run ends after it too.
constexpr int kErrJournalMisfit = 2;

// Whether the user has something to do before trying again.
inline bool EndsTheRun(int number) { return number == kErrFileInUse || number == kErrJournalMisfit; }

class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& description, int number = kErrGeneral)
      : std::runtime_error(description), number_(number) {}
  std::string Description() const { return what(); }
  int Number() const { return number_; }

 private:
  int number_;
};

}  // namespace kw
