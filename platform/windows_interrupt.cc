#include "platform/windows_interrupt.h"

#include <signal.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>
#include <iostream>

#include "platform/interrupt.h"

namespace tolvane {
namespace {

// The console calls the handler on a thread of its own, so everything it
// touches is atomic or a kernel object.
std::atomic<int> noted_signal{0};
std::atomic<int> held_signal{0};  // a request that came during a hold
std::atomic<int> holds{0};

HANDLE event_handle(bool manual) {
  return CreateEventW(nullptr, manual ? TRUE : FALSE, FALSE, nullptr);
}

// Set while a request is noted; a lock wait watches it.
HANDLE interrupt_event() {
  static HANDLE event = event_handle(true);
  return event;
}

// Set once the run is undone and the process is about to end.
HANDLE finished_event() {
  static HANDLE event = event_handle(true);
  return event;
}

void note(int signal) {
  int none = 0;
  if (noted_signal.compare_exchange_strong(none, signal)) SetEvent(interrupt_event());
}

BOOL WINAPI on_console_event(DWORD type) {
  int signal;
  switch (type) {
    case CTRL_C_EVENT:
      signal = SIGINT;
      break;
    case CTRL_BREAK_EVENT:
      signal = SIGBREAK;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = SIGTERM;
      break;
    default:
      return FALSE;
  }
  int none = 0;
  held_signal.compare_exchange_strong(none, signal);
  if (holds.load() == 0) note(signal);
  // After a closed console, a log-off or a shut-down the system ends the
  // process as soon as this returns (or after a few seconds at most), so it
  // returns only once the main thread has undone the run.
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
    WaitForSingleObject(finished_event(), INFINITE);
  }
  return TRUE;
}

}  // namespace

void* interrupt_event_handle() { return interrupt_event(); }

void catch_interrupts() {
  // Made now, on the main thread, rather than first on the handler's.
  interrupt_event();
  finished_event();
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

int interrupt_signal() { return noted_signal.load(); }

void set_interrupt_signal(int signal) {
  noted_signal.store(signal);
  held_signal.store(signal);
  if (signal != 0) {
    SetEvent(interrupt_event());
  } else {
    ResetEvent(interrupt_event());
  }
}

void stop_if_interrupted() {
  if (int signal = noted_signal.load()) throw Interrupted(signal);
}

InterruptHold::InterruptHold() : held_(true) { holds.fetch_add(1); }

InterruptHold::~InterruptHold() {
  // A request that came while held is noted now.
  if (holds.fetch_sub(1) == 1) {
    if (int signal = held_signal.load()) note(signal);
  }
}

void end_by_signal(int) {
  std::cout.flush();
  std::cerr.flush();
  fflush(nullptr);
  // A console program that Ctrl-C, Ctrl-Break or a closed console ends
  // without a handler of its own exits with STATUS_CONTROL_C_EXIT; cmd,
  // PowerShell and build tools know that status as "interrupted", so the run
  // ends with it too, whichever of the three it was.
  SetEvent(finished_event());
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace tolvane
