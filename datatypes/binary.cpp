// binary!: makers, form and mold.
#include "datatypes/binary.hpp"

#include <cstring>
#include <string>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zel::binary {

cell* init_cell_bytes(cell* slot, u32 capacity) {
    u32 node = memory::new_byte_series(capacity ? capacity : 16);
    return init_cell_series(slot, node);
}

cell* init_cell_series(cell* slot, u32 node) {
    *slot = {type_id::binary, 0, node, 0};
    return slot;
}

cell* init_cell_from_bytes(cell* slot, const u8* bytes, u32 count) {
    u32 node = memory::new_byte_series(count ? count : 16);
    series_buffer* b = buffer_of(node);
    if (count) std::memcpy(head_ptr(b), bytes, count);
    b->tail = b->head + count;
    return init_cell_series(slot, node);
}

cell* new_from_bytes(cell* block, const u8* bytes, u32 count) {
    if (!block) return push_from_bytes(bytes, count);
    cell made;
    init_cell_from_bytes(&made, bytes, count);
    cell* slot = memory::append_cell_slot(block);
    *slot = made;
    return slot;
}

cell* push_from_bytes(const u8* bytes, u32 count) {
    cell made;
    init_cell_from_bytes(&made, bytes, count);
    return stack::push_value(&made);
}

namespace {
void write_indent(std::string& text, i32 level) {
    if (level > 0) text.append(static_cast<std::size_t>(level) * 4, ' ');
}

// "#{", two upper-case hex digits per byte, "}"; runs longer than 30 bytes go on lines of 32
// bytes between the braces unless flat. Bytes count 2 against a part limit, line feeds 1.
i32 mold_bytes(cell* value, cell* buffer, bool only, bool flat, cell* part, i32 limit, i32 indent) {
    series_buffer* b = buffer_of(value->w2);
    u32 total = used_bytes(b);
    u32 head = value->w1 < total ? value->w1 : total;
    u32 n = total - head;
    std::string text;
    if (!only) {
        text += "#{";
        limit -= 2;
    }
    i32 level = indent + 1;
    bool lines = n > 30 && !flat;
    if (lines) {
        text += '\n';
        write_indent(text, level);
    }
    const u8* bytes = head_ptr(b) + head;
    for (u32 i = 0; i < n; i++) {
        text += string::byte_hex_text(bytes[i]).view();
        limit -= 2;
        if ((i + 1) % 32 == 0 && !flat) {
            text += '\n';
            write_indent(text, level);
            limit -= 1;
        }
        if (part && limit <= 0) break;
    }
    if (part && limit <= 0) {
        string::append_c_text(buffer, text);
        return limit;
    }
    if (lines && n % 32 != 0) {
        text += '\n';
        write_indent(text, indent);
    }
    if (!only) {
        text += '}';
        limit -= 1;
    }
    string::append_c_text(buffer, text);
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return mold_bytes(value, buffer, false, false, part, limit, 0);
}

i32 mold(cell* value, cell* buffer, bool only, bool, bool flat, cell* part, i32 limit, i32 indent) {
    return mold_bytes(value, buffer, only, flat, part, limit, indent);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::binary,
                                      .parent = type_id::string,
                                      .name = "binary!",
                                      .make = act::inherit,
                                      .random = act::inherit,
                                      .reflect = act::inherit,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = act::inherit,
                                      .at = act::inherit,
                                      .back = act::inherit,
                                      .clear = act::inherit,
                                      .copy = act::inherit,
                                      .find = act::inherit,
                                      .head = act::inherit,
                                      .head_q = act::inherit,
                                      .index_q = act::inherit,
                                      .length_q = act::inherit,
                                      .move = act::inherit,
                                      .next = act::inherit,
                                      .pick = act::inherit,
                                      .poke = act::inherit,
                                      .remove = act::inherit,
                                      .reverse = act::inherit,
                                      .select = act::inherit,
                                      .sort = act::inherit,
                                      .skip = act::inherit,
                                      .swap = act::inherit,
                                      .tail = act::inherit,
                                      .tail_q = act::inherit,
                                      .take = act::inherit,
                                      .modify = act::inherit});
}

} // namespace zel::binary
