#include <io.h>
#include <windows.h>

#include "platform/console.h"

namespace tolvane {
namespace {

// Keys that only change what another key means are no answer to the pause.
bool is_modifier(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool read_key_no_echo(int fd) {
  HANDLE input = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode;
  // Redirected input (a file, a pipe, NUL) has no console mode.
  if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return false;
  // Console input events are read raw: nothing is echoed and no line is
  // waited for.
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read)) return true;
    if (read == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        !is_modifier(record.Event.KeyEvent.wVirtualKeyCode)) {
      return true;
    }
  }
}

}  // namespace tolvane
