// What the Windows file layer needs from the interrupt handling: a waitable
// sign of a request, so that a run waiting for another one stops at once.
#ifndef TOLVANE_PLATFORM_WINDOWS_INTERRUPT_H_
#define TOLVANE_PLATFORM_WINDOWS_INTERRUPT_H_

namespace tolvane {

// A manual-reset event, set while a request to stop is noted (a HANDLE).
void* interrupt_event_handle();

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_WINDOWS_INTERRUPT_H_
