// Requests to stop a run from outside (Ctrl-C, kill, a closed terminal).
//
// A signal only notes the request; the build looks at it at safe points and
// stops there by throwing Interrupted, which undoes the run like any failure.
// While the new files replace the previous ones, requests are held back, so
// that a run is never stopped half-way through its commit.
#ifndef TOLVANE_PLATFORM_INTERRUPT_H_
#define TOLVANE_PLATFORM_INTERRUPT_H_

#include <exception>
#include <string>

namespace tolvane {

// Thrown at a safe point after a request to stop. `note`, when not empty, is
// what the user must know about files the undo could not put back.
class Interrupted : public std::exception {
 public:
  explicit Interrupted(int signal, std::string note = "")
      : signal_(signal), note_(std::move(note)) {}
  const char* what() const noexcept override { return "interrupted"; }
  int signal() const { return signal_; }
  const std::string& note() const { return note_; }

 private:
  int signal_;
  std::string note_;
};

// Notes interrupt, terminate and hang-up requests from now on instead of
// ending the process.
void catch_interrupts();

// The signal of the first request noted, or 0.
int interrupt_signal();

// Notes a request as if `signal` had arrived (0 forgets it); for tests.
void set_interrupt_signal(int signal);

// Throws Interrupted when a request was noted.
void stop_if_interrupted();

// Holds requests back for its lifetime; one that came meanwhile is noted
// when it ends.
class InterruptHold {
 public:
  InterruptHold();
  ~InterruptHold();
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;

 private:
  bool held_;
};

// Ends the process as `signal` would have ended it without catch_interrupts().
[[noreturn]] void end_by_signal(int signal);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_INTERRUPT_H_
