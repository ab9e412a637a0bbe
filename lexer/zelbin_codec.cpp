// The serialized-value codec: encode a value in the compact or plain form, decode a binary!, a
// file or a URL (read whole first) into the value it holds, or a block when it holds several.
#include "lexer/zelbin_codec.hpp"

#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "evaluator/stack.hpp"
#include "lexer/zelbin.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::zelbin_codec {

namespace {

void encode() {
    cell* data = stack::arguments;
    bool compact = (stack::arguments + 1)->w1 != 0;
    cell* made = zelbin::push_encoded(data, compact);
    routines::answer(*made);
}

// The payload is a binary! here: the library reads files and URLs before calling.
void decode() {
    cell* payload = stack::arguments;
    if (!is(payload, type_id::binary)) error::raise(err::E("script", "invalid-data"), payload);
    series_buffer* b = buffer_of(payload->w2);
    u32 h = series::clamped_head(payload);
    if (used_bytes(b) - h <= 10) error::raise(err::E("script", "invalid-data"), payload);
    // A copy: the decoder allocates, and the binary's buffer may move meanwhile.
    std::vector<u8> bytes(head_ptr(b) + h, head_ptr(b) + used_bytes(b));
    cell* out = block::push_new(4);
    zelbin::decode(bytes.data(), bytes.size(), out, payload);
    series_buffer* ob = buffer_of(out->w2);
    cell result = used_units(ob) == 1 ? *head_cell(ob) : *out;
    routines::answer(result);
}

const routines::definition table[] = {
    {"_zelbin-encode", "[data [any-type!] compact? [logic!]]", encode},
    {"_zelbin-decode", "[payload [any-type!]]", decode},
};

} // namespace

std::span<const routines::definition> private_routines() {
    return table;
}

} // namespace zel::zelbin_codec
