// url!: a URL as text (a string-family series cell). The buffer holds decoded characters;
// escapes are made again only by mold. The percent codec here also serves the lexer's url! and
// file! tokens.
#pragma once
#include <string>
#include <string_view>

#include "runtime/memory.hpp"

namespace zel::url {

// The unreserved set (letters, digits, "-._~") and the URL set (the unreserved set and
// "!#$&'()*+,/:=?@"), both ASCII only.
bool in_unreserved_set(u32 code_point);
bool in_url_set(u32 code_point);

// What percent-encoding keeps of ASCII (bytes of 0x80 and above are always escaped): the
// unreserved set, the URL set, or the URL set without "(" and ")", which end a url token.
enum class kept { unreserved, url_set, url_token };

// The escaped form of UTF-8 bytes: kept characters as they are, the others as "%" and two
// upper-case hex digits. With a limit (>= 0) it stops before the first character that would
// begin at or past the limit.
std::string escaped(std::string_view utf8, kept which, i64 limit = -1);

// Decodes UTF-8 text with percent escapes onto the tail of the target string: "%" and two hex
// digits give a byte; escapes that together form one UTF-8 sequence give its code point (0xFFFE
// when malformed); an escape that does not decode is kept as text. Answers the target's buffer.
series_buffer* percent_decode(const u8* start, const u8* end, cell* target);

// The plain text of a string-family value from its head (cut at the part limit when `part` is
// given), as string! forms it; answers the limit less the text's length.
i32 append_text(cell* buffer, cell* text, cell* part, i32 limit);

// A new port! (in `out`) made from the URL's parts as `url-parser/parse-url` splits them; a URL
// that does not parse raises invalid-arg. Serves `open` of a url! and the I/O of the schemes
// that the built-in HTTP client does not take. Answers false, leaving `out` as it was, when the
// parser's call ended in a pending non-local exit.
bool port_of(const cell* url, cell* out);

// The read and write actions (url_io.cpp).
cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as);
cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append,
            cell* part, cell* seek, cell* allow, cell* as);

void register_type();

} // namespace zel::url
