// UTF-8 at the terminal and on redirected input: a byte-at-a-time decoder and the encoder.
// Malformed input becomes the marker code point 0xFFFE; a byte that breaks a sequence is not
// swallowed but starts afresh, so a line feed after a cut sequence still ends the line.
#pragma once
#include <string>

#include "runtime/arena.hpp"

namespace zel::utf8_stream {

constexpr u32 malformed = 0xFFFE;

class decoder {
  public:
    // Feeds one byte; answers how many code points it completed (0, 1 or 2: a malformed marker
    // for the broken sequence, then the byte itself) and stores them in out.
    int feed(u8 byte, u32 out[2]);
    // Ends the input: an unfinished sequence gives the marker. Answers 0 or 1.
    int finish(u32 out[1]);
    bool pending() const { return need_ != 0; }

  private:
    int start(u8 byte, u32* out);
    u32 code_ = 0;
    int need_ = 0;   // continuation bytes still expected
    u8 low_ = 0x80;  // bounds of the next continuation byte (they exclude overlong forms,
    u8 high_ = 0xBF; // surrogates and code points above 0x10FFFF)
};

// Appends the UTF-8 form of a code point (0xFFFD for one that has none).
void append(std::string& out, u32 code_point);
std::string encode(const std::u32string& text);
// Decodes a whole text (tests and callers holding complete input).
std::u32string decode(const std::string& bytes);

} // namespace zel::utf8_stream
