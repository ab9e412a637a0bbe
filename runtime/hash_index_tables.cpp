// The record tables (kinds 3 and 4), the symbol table's interning, context key lookup, and the
// collector's view of an index. A record is a header cell (state 2 live or 0 removed, key) and
// its payload cells; its bucket stores its byte offset in the record series.
#include <cstring>
#include <string>

#include "runtime/cell_pool.hpp"
#include "runtime/hash_index_detail.hpp"

namespace zel::hash_index {

using namespace detail;

namespace {

u8* record_base(const index_record* r) {
    return head_ptr(buffer_of(r->values));
}
cell* record_at(const index_record* r, u32 offset) {
    return reinterpret_cast<cell*>(record_base(r) + offset);
}
u32 record_bytes(const index_record* r) {
    return used_bytes(buffer_of(r->values));
}

probe_result probe_record(const index_record* r, u32 key) {
    const i32* keys = key_words(r);
    return probe(r, fmix32(key), [&](u32 i) { return record_at(r, keys[i])->w1 == key; });
}

// Live record, every payload cell unset!.
cell* init_record(const index_record* r, u32 offset, u32 key) {
    cell* rec = record_at(r, offset);
    rec[0] = {2, key, 0, 0};
    for (u32 j = 1; j < r->aux / sizeof(cell); j++) init_unset(rec + j);
    return rec + 1;
}

// At the bound: a new record series holding only the live records, in a table sized for the
// request.
void grow_records(u32 index) {
    hold_collection hold;
    index_record* r = record_of(index);
    u32 n = buckets_for(grow_request(r));
    u32 record_size = r->aux;
    u32 values = memory::new_cell_series(std::max<u32>(r->size, 1) * (record_size / sizeof(cell)));
    u32 flag_node = new_flag_array(n);
    u32 key_node = new_key_array(n);
    u32 live_count = 0;
    u32 old_bytes = record_bytes(record_of(index));
    for (u32 offset = 0; offset < old_bytes; offset += record_size) {
        if (record_at(record_of(index), offset)->header != 2) continue;
        u32 at = used_bytes(buffer_of(values));
        u8* target = memory::reserve_tail_bytes(buffer_of(values), record_size);
        const cell* old = record_at(record_of(index), offset);
        std::memcpy(target, old, record_size);
        u32* flags = reinterpret_cast<u32*>(head_ptr(buffer_of(flag_node)));
        i32* keys = reinterpret_cast<i32*>(head_ptr(buffer_of(key_node)));
        u32 mask = n - 1, i = fmix32(old->w1) & mask;
        for (u32 step = 0; bucket_state(flags, i) != empty;) i = (i + ++step) & mask;
        set_bucket_state(flags, i, live);
        keys[i] = static_cast<i32>(at);
        live_count++;
    }
    r = record_of(index);
    r->values = values;
    r->flags = flag_node;
    r->keys = key_node;
    r->buckets = n;
    r->bound = resize_bound(n);
    r->size = r->occupied = live_count;
    r->stamp = fresh_stamp();
}

// Kind 2 grows sixteenfold when it grows through interning or a context lookup.
void grow_symbols(u32 index) {
    resize(index, 16 * grow_request(record_of(index)));
}

bool same_ascii_folded(const u8* a, const u8* b, u32 n) {
    for (u32 i = 0; i < n; i++) {
        u8 x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x |= 0x20;
        if (y >= 'A' && y <= 'Z') y |= 0x20;
        if (x != y) return false;
    }
    return true;
}

u32 add_symbol(u32 index, u32 slot, const u8* text, u32 length, i32 alias) {
    hold_collection hold;
    u32 text_node = memory::new_series(length + 1, 1, 0);
    series_buffer* tb = buffer_of(text_node);
    if (length) std::memcpy(head_ptr(tb), text, length);
    head_ptr(tb)[length] = 0;
    tb->tail = tb->head + length;
    series_buffer* vb = buffer_of(record_of(index)->values);
    u32 position = used_units(vb);
    cell* c = memory::append_cell_to_buffer(vb);
    *c = {type_id::symbol, static_cast<u32>(alias), 0, text_node};
    index_record* r = record_of(index);
    key_words(r)[slot] = static_cast<i32>(position);
    take_bucket(r, slot);
    return position + 1;
}

} // namespace

void detail::rehash_records(u32 index) {
    index_record* r = record_of(index);
    u32 record_size = r->aux;
    series_buffer* vb = buffer_of(r->values);
    u8* base = head_ptr(vb);
    // Removed and swept records are squeezed out, so churn does not grow the series.
    u32 kept = 0, bytes = used_bytes(vb);
    for (u32 offset = 0; offset < bytes; offset += record_size) {
        if (reinterpret_cast<cell*>(base + offset)->header != 2) continue;
        if (kept != offset) std::memmove(base + kept, base + offset, record_size);
        kept += record_size;
    }
    vb->tail = vb->head + kept;
    series_buffer* fb = buffer_of(r->flags);
    memory::fill_bytes(head_ptr(fb), data_end(fb), 0xAA);
    r->size = r->occupied = 0;
    i32* keys = key_words(r);
    for (u32 offset = 0; offset < kept; offset += record_size) {
        probe_result p = probe(r, fmix32(record_at(r, offset)->w1), [](u32) { return false; });
        keys[p.slot] = static_cast<i32>(offset);
        take_bucket(r, static_cast<u32>(p.slot));
    }
    r->stamp = fresh_stamp();
}

cell* insert_record(u32 index, u32 key) {
    make_fresh(index);
    index_record* r = record_of(index);
    if (r->kind < kind::records) return nullptr;
    if (r->occupied >= r->bound) grow_records(index);
    r = record_of(index);
    probe_result p = probe_record(r, key);
    if (p.found >= 0) return init_record(r, key_words(r)[p.found], key);
    if (p.slot < 0) { // cannot happen below the bound, but never loop
        grow_records(index);
        return insert_record(index, key);
    }
    u32 slot = static_cast<u32>(p.slot);
    u32 offset;
    if (bucket_state(flag_words(r), slot) == deleted) {
        offset = static_cast<u32>(key_words(r)[slot]); // the removed record is reused
    } else {
        hold_collection hold;
        offset = record_bytes(r);
        memory::reserve_tail_bytes(buffer_of(r->values), r->aux);
        r = record_of(index);
    }
    key_words(r)[slot] = static_cast<i32>(offset);
    take_bucket(r, slot);
    return init_record(r, offset, key);
}

cell* find_record(u32 index, u32 key) {
    make_fresh(index);
    index_record* r = record_of(index);
    if (r->kind < kind::records) return nullptr;
    probe_result p = probe_record(r, key);
    return p.found >= 0 ? record_at(r, key_words(r)[p.found]) + 1 : nullptr;
}

cell* remove_record(u32 index, u32 key) {
    make_fresh(index);
    index_record* r = record_of(index);
    if (r->kind < kind::records) return nullptr;
    probe_result p = probe_record(r, key);
    if (p.found < 0) return nullptr;
    set_bucket_state(flag_words(r), static_cast<u32>(p.found), deleted);
    r->size--;
    cell* rec = record_at(r, key_words(r)[p.found]);
    rec->header = 0;
    return rec + 1;
}

u32 intern_text(u32 index, const u8* text, u32 length, bool case_insensitive) {
    std::string copy; // a text inside the arena may move when the table allocates
    if (arena::contains(text)) {
        copy.assign(reinterpret_cast<const char*>(text), length);
        text = reinterpret_cast<const u8*>(copy.data());
    }
    if (record_of(index)->occupied >= record_of(index)->bound) grow_symbols(index);
    index_record* r = record_of(index);
    const cell* values = value_cells(r);
    const i32* keys = key_words(r);
    u32 hash = symbol_text_hash(text, length);
    auto exact = [&](u32 i) {
        bytes_view b = symbol_bytes(values + keys[i]);
        return b.n == length && std::memcmp(b.p, text, length) == 0;
    };
    auto folded = [&](u32 i) {
        bytes_view b = symbol_bytes(values + keys[i]);
        return b.n == length && same_ascii_folded(b.p, text, length);
    };
    i64 slot;
    i32 alias = -1;
    if (case_insensitive) {
        probe_result p = probe(r, hash, folded);
        if (p.found >= 0) return static_cast<u32>(keys[p.found]) + 1;
        slot = p.slot;
    } else {
        probe_result p = probe(r, hash, exact);
        if (p.found >= 0) return static_cast<u32>(keys[p.found]) + 1;
        slot = p.slot;
        probe_result q = probe(r, hash, folded);
        // The canonical id of the family, not the id met first: after a resize the first met
        // may itself be a variant, and an alias must never lead to another alias.
        if (q.found >= 0) alias = static_cast<i32>(canonical_symbol(keys[q.found] + 1));
    }
    if (slot < 0) { // every bucket live: cannot happen below the bound, but never loop
        resize(index, 2ull * record_of(index)->buckets);
        return intern_text(index, text, length, case_insensitive);
    }
    return add_symbol(index, static_cast<u32>(slot), text, length, alias);
}

i32 context_slot(u32 index, u32 symbol, bool canonical, u32 context, i32* out) {
    if (context && record_of(index)->occupied >= record_of(index)->bound) grow_symbols(index);
    index_record* r = record_of(index);
    const cell* values = value_cells(r);
    const i32* keys = key_words(r);
    u32 wanted = canonical_symbol(symbol);
    probe_result p = probe(r, fmix32(wanted), [&](u32 i) {
        u32 s = values[keys[i]].w2;
        return s == symbol || (canonical && canonical_symbol(s) == wanted);
    });
    if (p.found >= 0) {
        i32 position = keys[p.found];
        if (out) *out = position;
        return position;
    }
    if (!context) return -1;
    if (p.slot < 0) {
        resize(index, 2ull * r->buckets);
        return context_slot(index, symbol, canonical, context, out);
    }
    hold_collection hold;
    series_buffer* vb = buffer_of(r->values);
    u32 position = used_units(vb);
    cell* w = memory::append_cell_to_buffer(vb);
    *w = {type_id::word, context, symbol, position};
    r = record_of(index);
    key_words(r)[p.slot] = static_cast<i32>(position);
    take_bucket(r, static_cast<u32>(p.slot));
    if (out) *out = static_cast<i32>(position);
    return -1;
}

cell* key_word_at(u32 context, u32 position) {
    return head_cell(key_series_buffer(context)) + position;
}

series_buffer* key_series_buffer(u32 context) {
    const cell* context_cell = head_cell(buffer_of(context));
    return buffer_of(record_of(context_cell->w1)->values);
}

u32 context_buffer_flags(u32 context) {
    return buffer_of(context)->flags;
}

void trace_index(u32* index, const tracer& t) {
    if (!*index) return;
    // The index node may have been marked on its own already (a cell naming it); its parts are
    // marked in any case, each only once by its own mark bit.
    t.mark_node(index);
    index_record* r = record_of(*index);
    t.mark_node(&r->flags);
    t.mark_node(&r->keys);
    if (!r->values) return;
    if (r->kind < kind::records) {
        if (t.mark_node(&r->values)) {
            series_buffer* b = buffer_of(r->values);
            t.trace_cells(head_cell(b), tail_cell(b));
        }
        if (r->kind == kind::hash) {
            t.mark_node(&r->aux);
            if (t.mark_node(&r->chains)) {
                series_buffer* b = buffer_of(r->chains);
                u32* chain = reinterpret_cast<u32*>(head_ptr(b));
                for (u32 k = 0; k < used_bytes(b) / 4; k++) t.mark_node(chain + k);
            }
        }
        return;
    }
    t.mark_node(&r->values);
    u32 bytes = record_bytes(r);
    for (u32 offset = 0; offset < bytes; offset += r->aux) {
        cell* rec = record_at(r, offset);
        if (rec->header != 2 || !rec->w1) continue;
        if (t.mark_node(&rec->w1)) {
            series_buffer* b = buffer_of(rec->w1);
            if (unit_of(b) == sizeof(cell)) t.trace_cells(head_cell(b), tail_cell(b));
        }
    }
}

void sweep_records(u32 index) {
    index_record* r = record_of(index);
    if (r->kind < kind::records) return;
    auto unmarked = [](u32 node) { return !(buffer_of(node)->flags & buffer_flag::mark); };
    u32 bytes = record_bytes(r);
    for (u32 offset = 0; offset < bytes; offset += r->aux) {
        cell* rec = record_at(r, offset);
        if (rec->header != 2) continue;
        bool dead = !rec->w1 || unmarked(rec->w1);
        if (!dead && r->kind == kind::owners && r->aux >= 3 * sizeof(cell)) {
            const cell* owner = rec + 2;
            dead = is_object_type(type_of(owner)) && owner->w1 && unmarked(owner->w1);
        }
        if (dead) rec->header = rec->w1 = 0;
    }
}

void forward_records(u32 index, u32 (*forward_key)(u32), void (*forward_cell)(cell*)) {
    index_record* r = record_of(index);
    if (r->kind < kind::records) return;
    u32 bytes = record_bytes(r);
    u32 cells = r->aux / sizeof(cell);
    for (u32 offset = 0; offset < bytes; offset += r->aux) {
        cell* rec = record_at(r, offset);
        if (rec->header != 2 || !rec->w1) continue;
        rec->w1 = forward_key(rec->w1);
        for (u32 i = 1; i < cells; i++) forward_cell(rec + i);
    }
}

void dump(u32 index, std::FILE* out) {
    index_record* r = record_of(index);
    const u32* flags = flag_words(r);
    const i32* keys = key_words(r);
    std::fputs("\n== Deleted keys ==\n", out);
    for (u32 i = 0; i < r->buckets; i++)
        if (bucket_state(flags, i) == deleted) std::fprintf(out, "%u %d\n", i, keys[i]);
    std::fputs("== Alive keys ==\n", out);
    for (u32 i = 0; i < r->buckets; i++) {
        if (bucket_state(flags, i) != live) continue;
        std::fprintf(out, "%u %d", i, keys[i]);
        if (r->kind == kind::hash && keys[i] < 0) {
            u32 chain = static_cast<u32>(raw_buffer::item_at(r->chains, -keys[i]));
            for (u32 j = 1; j <= raw_buffer::length(chain); j++)
                std::fprintf(out, " %d", raw_buffer::item_at(chain, j));
        }
        std::fputc('\n', out);
    }
}

} // namespace zel::hash_index
