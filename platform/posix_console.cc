#include <errno.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/interrupt.h"

namespace tolvane {

bool read_key_no_echo(int fd) {
  if (!isatty(fd)) return false;
  struct termios saved;
  if (tcgetattr(fd, &saved) != 0) return false;
  struct termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &raw) != 0) return false;
  char key;
  ssize_t n;
  do {
    n = read(fd, &key, 1);
  } while (n < 0 && errno == EINTR && interrupt_signal() == 0);
  tcsetattr(fd, TCSANOW, &saved);
  return true;
}

}  // namespace tolvane
