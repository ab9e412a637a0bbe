// Marking the embedded library's functions and code. The walk only sets flag bits: it allocates
// nothing, so the buffer addresses it reads stay valid while it runs.
#include "library/library_code.hpp"

#include <unordered_set>
#include <vector>

#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/code_cache.hpp"
#include "runtime/memory.hpp"

namespace zel::library_code {

namespace {

// Flags every block of a body, nested blocks and parens included.
void mark_code(u32 node) {
    std::vector<u32> pending{node};
    while (!pending.empty()) {
        u32 n = pending.back();
        pending.pop_back();
        series_buffer* b = buffer_of(n);
        if (b->flags & buffer_flag::library_code) continue;
        b->flags |= buffer_flag::library_code;
        u32 count = used_units(b);
        for (u32 i = 0; i < count; i++) {
            const cell* c = head_cell(b) + i;
            if (is_any_block_type(type_of(c)) && c->w2) pending.push_back(c->w2);
        }
    }
}

struct walker {
    std::unordered_set<u32> seen;
    std::vector<std::pair<u32, bool>> pending; // (node, is a context)
    u32 marked = 0;

    void visit(cell* c) {
        u32 t = type_of(c);
        if (t == type_id::function) {
            if (!(c->header & function::flag::library)) marked++;
            mark_function(c);
        } else if (is_object_type(t)) {
            if (c->w1 && seen.insert(c->w1).second) pending.push_back({c->w1, true});
        } else if (t == type_id::block || t == type_id::paren || t == type_id::hash ||
                   t == type_id::map) {
            if (c->w2 && seen.insert(c->w2).second) pending.push_back({c->w2, false});
        }
    }

    void run(u32 global) {
        seen.insert(global);
        pending.push_back({global, true});
        while (!pending.empty()) {
            auto [node, is_context] = pending.back();
            pending.pop_back();
            if (is_context) {
                cell* values = context::values_base(node);
                if (!values || context::kind_of(node) == context::kind::function) continue;
                u32 n = context::key_count(node);
                for (u32 i = 0; i < n; i++) visit(context::values_base(node) + i);
            } else {
                u32 n = used_units(buffer_of(node));
                for (u32 i = 0; i < n; i++) visit(head_cell(buffer_of(node)) + i);
            }
        }
    }
};

} // namespace

void mark_function(cell* fn) {
    fn->header |= function::flag::library;
    cell* self = context::self_cell(fn->w1);
    if (self && is(self, type_id::function)) self->header |= function::flag::library;
    cell body = *function::side_cell(fn, function::side::body);
    if (is(&body, type_id::block)) mark_code(body.w2);
}

u32 mark_reachable_functions() {
    walker w;
    w.run(context::global_node());
    // The library's top-level code has run (once): code run from now on is worth caching.
    code_cache::enabled = true;
    return w.marked;
}

bool is_library_function(const cell* fn) {
    if (!is(fn, type_id::function)) return false;
    const cell* self = context::self_cell(fn->w1);
    return (fn->header | (self ? self->header : 0)) & function::flag::library;
}

bool is_library_code(u32 node) {
    return buffer_of(node)->flags & buffer_flag::library_code;
}

bool user_visible_call(const call_frame* f) {
    if (frame_kind_of(f) != frame_kind::function) return false;
    u32 s = frame_symbol(f);
    if (s == 0 || s == sym::body || s == sym::anon) return false;
    if (!f->function_context) return true;
    return !(context::self_cell(f->function_context)->header & function::flag::library);
}

} // namespace zel::library_code
