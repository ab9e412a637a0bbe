// url!: a URL as text (a string-family series cell). The buffer holds decoded characters;
// escapes are made again only by mold. The percent codec here also serves the lexer's url! and
// file! tokens.
#pragma once
#include "runtime/memory.hpp"

namespace zel::url {

// The unreserved set (letters, digits, "-._~") and the URL set (the unreserved set and
// "!#$&'()*+,/:=?@"), both ASCII only.
bool in_unreserved_set(u32 code_point);
bool in_url_set(u32 code_point);

// Decodes UTF-8 text with percent escapes onto the tail of the target string: "%" and two hex
// digits give a byte; escapes that together form one UTF-8 sequence give its code point (0xFFFE
// when malformed); an escape that does not decode is kept as text. Answers the target's buffer.
series_buffer* percent_decode(const u8* start, const u8* end, cell* target);

// The plain text of a string-family value from its head (cut at the part limit when `part` is
// given), as string! forms it; answers the limit less the text's length.
i32 append_text(cell* buffer, cell* text, cell* part, i32 limit);

// The read and write actions (url_io.cpp).
cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as);
cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append,
            cell* part, cell* seek, cell* allow, cell* as);

void register_type();

} // namespace zel::url
