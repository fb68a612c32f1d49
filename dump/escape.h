// The inspector spells stored bytes with the notations of msgfile/escape.h.
#ifndef TOLVANE_DUMP_ESCAPE_H_
#define TOLVANE_DUMP_ESCAPE_H_

#include "msgfile/escape.h"

namespace tolvane::dump {

using tolvane::byte_notation;
using tolvane::c_escape;
using tolvane::field_text;
using tolvane::hex_bytes;
using tolvane::hex_digits;
using tolvane::hex_number;

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_ESCAPE_H_
