// The text report of an error: "*** " title ": " message, then the Where, Near, Stack and Files
// lines. The report never fails: a category or id the catalog lacks is reported as
// internal/invalid-error with the offending word, and a value without a form or mold handler
// writes nothing.
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/object.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/stack.hpp"

namespace zel::error {

namespace {
constexpr i32 near_width = 40;
constexpr i32 argument_width = 80;
const cell none_cell{type_id::none, 0, 0, 0};

u32 units(const cell* buffer) {
    return used_units(buffer_of(buffer->w2));
}

void cut_to(cell* buffer, u32 n) {
    if (units(buffer) > n) string::truncate_units(buffer_of(buffer->w2), n);
}

void append_string(cell* buffer, const cell* s) {
    cell copy = *s;
    string::append_text_part(buffer, &copy, -1, true);
}

// Forms or molds a value into the buffer, cut to `width` characters. `only` drops the outer
// brackets of a block (the near and files lines); a message argument keeps them.
void write_value(cell* buffer, const cell* value, bool mold, bool only, bool flat, i32 width) {
    cell* v = stack::push_value(value);
    cell part;
    init_integer(&part, width);
    u32 start = units(buffer);
    if (mold && act::handler<act::slot::mold>(type_of(v)))
        actions::mold_typed(v, buffer, only, false, flat, &part, width, 0);
    else if (!mold && act::handler<act::slot::form>(type_of(v)))
        actions::form_typed(v, buffer, &part, width);
    cut_to(buffer, start + static_cast<u32>(width));
    stack::drop_values(1);
}

void relabel(cell* error, const cell* offending) {
    constexpr err::id invalid = err::E("internal", "invalid-error");
    *field_of(error, field::arg1) = *offending;
    const cell* catalog_object = catalog();
    if (object::field_count(catalog_object) <= invalid.category) return;
    cell* internal = context::values_base(catalog_object->w1) + invalid.category;
    cell type = *context::key_word(catalog_object->w1, invalid.category);
    type.header = type_id::word;
    *field_of(error, field::type) = type;
    if (type_of(internal) != type_id::object || object::field_count(internal) <= invalid.index)
        return;
    cell id = *context::key_word(internal->w1, invalid.index);
    id.header = type_id::word;
    *field_of(error, field::id) = id;
}

// The category object and the message of the error, relabelling it when the catalog lacks its
// category or id. Answers false when even the relabelled error has no message.
bool resolve(cell* error, cell* category, cell* message) {
    for (u32 attempt = 0; attempt < 3; attempt++) {
        cell type = *field_of(error, field::type);
        i32 c = is_any_word_type(type_of(&type)) ? object::find_field(catalog(), type.w2) : -1;
        if (c < 0 || type_of(context::values_base(catalog()->w1) + c) != type_id::object) {
            relabel(error, &type);
            continue;
        }
        *category = context::values_base(catalog()->w1)[c];
        cell id = *field_of(error, field::id);
        i32 m = is_any_word_type(type_of(&id)) ? object::find_field(category, id.w2) : -1;
        if (m < 0) {
            relabel(error, &id);
            continue;
        }
        *message = context::values_base(category->w1)[m];
        // A message may name another field of its category.
        if (type_of(message) == type_id::word)
            *message = *object::field_value(category, message->w2);
        return true;
    }
    return false;
}

void expand_template(cell* buffer, cell* error, const cell* tmpl, bool syntax, i32 budget,
                     bool bounded) {
    cell* t = stack::push_value(tmpl);
    for (u32 i = t->w1; i < used_units(buffer_of(t->w2)); i++) {
        if (bounded && budget < 1) break;
        u32 before = units(buffer);
        cell element = head_cell(buffer_of(t->w2))[i];
        u32 et = type_of(&element);
        if (et == type_id::string) {
            append_string(buffer, &element);
        } else if (et == type_id::word || et == type_id::get_word) {
            cell value = *object::field_value(error, element.w2);
            write_value(buffer, &value, !syntax, false, false, argument_width);
        } else {
            continue;
        }
        if (i + 1 < used_units(buffer_of(t->w2))) out::text(buffer, " ", 0);
        budget -= static_cast<i32>(units(buffer) - before);
    }
    stack::drop_values(1);
}
} // namespace

i32 form_report(cell* value, cell* buffer, cell* part, i32 limit) {
    cell* base = stack::top;
    cell* error = stack::push_value(value);
    u32 start = units(buffer);
    out::text(buffer, "*** ", 0);
    cell* category = stack::push_value(&none_cell);
    cell* message = stack::push_value(&none_cell);
    if (resolve(error, category, message)) {
        u32 title_start = units(buffer);
        const cell* title = object::field_value(category, sym::type_);
        if (type_of(title) == type_id::string)
            append_string(buffer, title);
        else
            write_value(buffer, title, false, false, false, argument_width);
        i32 title_length = static_cast<i32>(units(buffer) - title_start);
        out::text(buffer, ": ", 0);
        if (type_of(message) == type_id::string) {
            append_string(buffer, message);
        } else if (type_of(message) == type_id::block) {
            // Arguments of syntax errors are source excerpts: formed, not molded.
            constexpr u32 syntax_index = err::category_index("syntax");
            bool syntax = object::field_count(catalog()) > syntax_index &&
                          category->w1 == context::values_base(catalog()->w1)[syntax_index].w1;
            expand_template(buffer, error, message, syntax, limit - title_length - 6,
                            part != nullptr);
        } else {
            cell former = *field_of(error, field::type);
            relabel(error, &former);
        }
    }
    out::text(buffer, "\n*** Where: ", 0);
    cell where = *field_of(error, field::where);
    if (type_of(&where) == type_id::word)
        write_value(buffer, &where, false, false, false, argument_width);
    else if (type_of(&where) == type_id::string)
        append_string(buffer, &where);
    else
        out::text(buffer, "???", 0);
    out::text(buffer, "\n*** Near : ", 0);
    cell near = *field_of(error, field::near);
    write_value(buffer, &near, true, true, true, near_width);
    i32 level = stack_trace_level();
    cell recorded = *field_of(error, field::stack);
    if (level > 0 && type_of(&recorded) == type_id::integer) {
        out::text(buffer, "\n*** Stack: ", 0);
        // A position recorded by an unwound call may lie above the frames alive now.
        i32 position = int_of(&recorded);
        u32 end = position < 0 ? 0 : static_cast<u32>(position);
        if (end > stack::frame_depth()) end = stack::frame_depth();
        stack::calls_to_string(level, end, buffer, limit - static_cast<i32>(units(buffer) - start));
    } else if (level > 0 && type_of(&recorded) == type_id::block) {
        out::text(buffer, "\n*** Stack: ", 0);
        cell* r = stack::push_value(&recorded);
        if (act::handler<act::slot::form>(type_id::block))
            actions::form_typed(r, buffer, nullptr, limit);
        stack::drop_values(1);
    }
    cell files = *field_of(error, field::files);
    if (type_of(&files) == type_id::block) {
        out::text(buffer, "\n*** Files: ", 0);
        write_value(buffer, &files, true, true, true, near_width);
    }
    i32 written = static_cast<i32>(units(buffer) - start);
    stack::top = base;
    return limit - written;
}

} // namespace zel::error
