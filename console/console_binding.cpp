// The console's code bound to a private context. The roots are the global words that the
// console's modules set (their functions and objects, `system/console` among them); the walk goes
// through every function body they reach, nested blocks and the objects the console made
// included, and rebinds each global word that is read but never set by that code. The walk keeps
// (buffer node, index) pairs, never addresses: making a copy of a function allocates.
#include "console/console_binding.hpp"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/stack.hpp"
#include "library/library_code.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"

namespace zel::console_binding {

namespace {

std::vector<cell> library_values;
// Rooted: [0] the private context's object, [1] the console object, [2] the completion function.
cell* kept = nullptr;

cell* global_values() {
    return context::values_base(context::global_node());
}

// Slots of a context (letter-case variants of a global word share one).
u32 slot_count(u32 ctx) {
    return used_units(buffer_of(context::context_cell(ctx)->w2));
}

const cell* field(const cell* object, const char* name) {
    if (!object || !is(object, type_id::object)) return nullptr;
    i32 i = object::find_field(object, symbol::intern_text(name));
    return i < 0 ? nullptr : object::first_value_address(object) + i;
}

bool same_cell(const cell& a, const cell& b) {
    return a.header == b.header && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

class binder {
  public:
    explicit binder(u32 private_context) : private_(private_context) {}

    void add_root(const cell* value) {
        if (is(value, type_id::function))
            add_console_function(*value);
        else if (is(value, type_id::object))
            walk_object(value->w1);
    }

    void run() {
        for (;;) {
            while (!pending_.empty()) {
                cell fn = pending_.back().fn;
                bool console = pending_.back().console;
                pending_.pop_back();
                cell body = *function::side_cell(&fn, function::side::body);
                if (is(&body, type_id::block)) walk_block(body.w2, console);
            }
            if (resolved_ == referenced_.size()) break;
            while (resolved_ < referenced_.size()) resolve(referenced_[resolved_++]);
        }
        rebind();
    }

  private:
    struct work {
        cell fn;
        bool console;
    };

    u32 global_ = context::global_node();
    u32 private_;
    std::vector<work> pending_;
    std::unordered_set<u32> console_functions_; // their context nodes
    std::unordered_set<u32> seen_blocks_, seen_objects_;
    std::vector<std::pair<u32, u32>> occurrences_; // (buffer node, index) of global words
    std::vector<u32> referenced_;                  // global slots, in order of first sight
    std::unordered_map<u32, u32> symbol_of_;       // global slot -> the symbol first seen for it
    std::unordered_set<u32> assigned_;
    std::unordered_map<u32, u32> private_slot_; // global slot -> private slot
    std::size_t resolved_ = 0;

    void add_console_function(const cell& fn) {
        if (console_functions_.insert(fn.w1).second) pending_.push_back({fn, true});
    }

    void walk_object(u32 ctx) {
        if (!seen_objects_.insert(ctx).second) return;
        u32 n = slot_count(ctx);
        for (u32 i = 0; i < n; i++) {
            cell v = context::values_base(ctx)[i];
            if (is(&v, type_id::function))
                add_console_function(v);
            else if (is(&v, type_id::object))
                walk_object(v.w1);
        }
    }

    void walk_block(u32 node, bool console) {
        std::vector<u32> blocks{node};
        while (!blocks.empty()) {
            u32 b = blocks.back();
            blocks.pop_back();
            if (!seen_blocks_.insert(b).second) continue;
            u32 n = used_units(buffer_of(b));
            for (u32 i = 0; i < n; i++) {
                cell c = head_cell(buffer_of(b))[i];
                u32 t = type_of(&c);
                if (t >= type_id::word && t <= type_id::refinement) {
                    if (c.w3 == context::unbound || c.w2 == sym::self) continue;
                    if (c.w1 == global_) {
                        occurrences_.push_back({b, i});
                        if (t == type_id::set_word) assigned_.insert(c.w3);
                        if (symbol_of_.emplace(c.w3, c.w2).second) referenced_.push_back(c.w3);
                    } else if (console && c.w1 && context::kind_of(c.w1) == context::kind::object &&
                               !context::is_stack(c.w1)) {
                        // A context the console's code made (the console object, a context of
                        // its own state): its functions are the console's too.
                        walk_object(c.w1);
                    }
                } else if (is_any_block_type(t) && t != type_id::hash && c.w2) {
                    blocks.push_back(c.w2);
                }
            }
        }
    }

    // The private value of a global word the console's code reads.
    void resolve(u32 slot) {
        cell* base = stack::top;
        cell* value = stack::push_value(global_values() + slot);
        if (is(value, type_id::unset)) {
            stack::top = base;
            return;
        }
        if (is(value, type_id::function) && !console_functions_.count(value->w1)) {
            *value = private_copy(*value);
            pending_.push_back({*value, false});
        }
        cell word{type_id::word, 0, symbol_of_[slot], context::unbound};
        context::add_word_if_absent(private_, &word, value);
        private_slot_[slot] = static_cast<u32>(context::find_symbol_index(private_, word.w2, true));
        stack::top = base;
    }

    // A library function made again from its spec and body: the same code, a body of its own.
    cell private_copy(const cell& fn) {
        cell* base = stack::top;
        cell held = fn;
        stack::push_value(&held);
        cell spec{type_id::block, 0, fn.w2, 0};
        cell body = *function::side_cell(&fn, function::side::body);
        cell owner = *function::side_cell(&fn, function::side::owner);
        u32 owner_node = is(&owner, type_id::integer) ? static_cast<u32>(int_of(&owner)) : 0;
        u32 flags = fn.header & (function::flag::trace | function::flag::no_trace);
        function::build_value(&spec, &body, 0, owner_node, flags);
        cell copy = *stack::top_value();
        library_code::mark_function(&copy);
        stack::top = base;
        return copy;
    }

    void rebind() {
        for (auto [node, index] : occurrences_) {
            cell* c = head_cell(buffer_of(node)) + index;
            if (c->w1 != global_ || assigned_.count(c->w3)) continue;
            auto found = private_slot_.find(c->w3);
            if (found == private_slot_.end()) continue;
            c->w1 = private_;
            c->w3 = found->second;
        }
    }
};

} // namespace

// The library's values are compared after the console's modules ran: the collector sees (and
// rewrites) them meanwhile.
void mark_library_values() {
    for (cell& c : library_values) gc::mark_cell(&c);
}

void note_library_words() {
    u32 n = slot_count(context::global_node());
    library_values.assign(global_values(), global_values() + n);
    gc::add_mark_callback(mark_library_values);
}

void bind_console_code() {
    cell none{type_id::none, 0, 0, 0};
    kept = roots::append(&none);
    roots::append(&none);
    roots::append(&none);

    cell* base = stack::top;
    cell made;
    object::init_cell_empty(&made, 256);
    kept[0] = made;
    u32 ctx = made.w1;

    cell system = context::global_word(sym::system);
    const cell* console = field(context::word_value_address(&system), "console");
    if (console) kept[1] = *console;
    cell completion = context::global_word(symbol::intern_text("zel-complete-ctx"));
    if (const cell* fn = field(context::word_value_address(&completion), "complete-input"))
        kept[2] = *fn;

    gc::remove_mark_callback(mark_library_values);
    // The binder keeps nodes in its own tables.
    gc::evacuation_hold hold;
    binder b(ctx);
    // The words the console's modules set: new ones, and old ones given new values (`halt`).
    u32 n = slot_count(context::global_node());
    for (u32 slot = 0; slot < n; slot++) {
        cell value = global_values()[slot];
        if (slot < library_values.size() && same_cell(value, library_values[slot])) continue;
        b.add_root(&value);
    }
    if (is(&kept[1], type_id::object)) b.add_root(&kept[1]);
    b.run();
    library_values.clear();
    library_values.shrink_to_fit();
    stack::top = base;
}

const cell* console_object() {
    return kept && is(&kept[1], type_id::object) ? &kept[1] : nullptr;
}

const cell* completion_function() {
    return kept && is(&kept[2], type_id::function) ? &kept[2] : nullptr;
}

} // namespace zel::console_binding
