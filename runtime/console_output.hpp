// Console output: text of 1-, 2- or 4-byte units written to standard output as UTF-8 with
// write(2), in pieces of at most 1,024 bytes, line ends as LF. A terminal receives escape
// sequences as they are: it interprets them itself. A write the OS refuses (a closed pipe, a full
// device) is reported to the caller, which raises it as an error: output is never lost silently.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::conout {

constexpr u32 buffer_bytes = 1024;
constexpr u32 flush_above = 1020; // pending bytes beyond this are written at once

// Records whether standard output is a terminal.
void detect_console();
bool is_console();

// Writes `byte_length` bytes of text in units of `unit` (1 Latin-1, 2 UCS-2, 4 UCS-4), then LF
// when `newline`, to the descriptor (standard output unless told). Code points U+DC80-U+DCFF are
// the bytes that lossless decoding kept and go out as those bytes again. Answers 0 when every
// byte was written, else the OS error number of the write that failed (the rest is not written).
int write_text(const u8* start, u32 byte_length, u32 unit, bool newline, int fd = 1);

// Whether the last write to standard output failed; a later write that succeeds clears it. The
// report of an error that ends the program goes to standard error then.
bool stdout_failed();

// The runtime's own messages: the UTF-8 text is written, then handed to the text hooks. A
// failure is not reported: these messages are the last resort.
void print_report(std::string_view utf8);

} // namespace zel::conout
