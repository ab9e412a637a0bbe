// Environment and OS information on POSIX: environ, setenv and unsetenv, uname. Values from
// getenv are copied at once, since a later setenv may free them.
#include "runtime/environment.hpp"

#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/map.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/stack.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

extern char** environ;

namespace zel::os {

namespace {
// The length of an entry's name: up to the first "=" after its first character.
std::size_t name_length(const char* entry) {
    const char* eq = entry[0] ? std::strchr(entry + 1, '=') : nullptr;
    return eq ? static_cast<std::size_t>(eq - entry) : std::strlen(entry);
}

// A new string! of OS text on the data stack.
cell* push_os_string(std::string_view text) {
    cell* slot = stack::reserve_slot();
    init_none(slot);
    cell made;
    utf8::decode_to_new_string(&made, reinterpret_cast<const u8*>(text.data()),
                               static_cast<u32>(text.size()), utf8::flag::lossless);
    *slot = made;
    return slot;
}

void put_field(cell* object, std::string_view name, const cell* value) {
    cell key{type_id::word, 0, symbol::intern_text(name), context::unbound};
    context::put_word_value(object->w1, &key, value);
}

u32 number_at(std::string_view text, std::size_t& at) {
    u32 n = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (n < 100000000) n = n * 10 + static_cast<u32>(text[at] - '0');
        at++;
    }
    return n;
}
} // namespace

std::optional<std::string> env_var(std::string_view name) {
    if (name.empty()) return std::nullopt;
    for (char** e = environ; e && *e; e++) {
        std::size_t n = name_length(*e);
        if (n != name.size() || std::memcmp(*e, name.data(), n) != 0) continue;
        const char* value = (*e)[n] == '=' ? *e + n + 1 : *e + n;
        return std::string(value);
    }
    return std::nullopt;
}

bool put_env_var(std::string_view name, const std::string_view* value) {
    if (name.empty() || name.find('=') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return false;
    std::string n(name);
    if (!value) return ::unsetenv(n.c_str()) == 0;
    if (value->find('\0') != std::string_view::npos) return false;
    std::string v(*value);
    return ::setenv(n.c_str(), v.c_str(), 1) == 0;
}

cell* push_env_map() {
    cell* result = stack::reserve_slot();
    init_none(result);
    cell* pairs = block::push_new(100);
    for (char** e = environ; e && *e; e++) {
        std::size_t n = name_length(*e);
        std::string_view entry(*e);
        std::string_view value = n < entry.size() ? entry.substr(n + 1) : std::string_view();
        cell* name_cell = push_os_string(entry.substr(0, n));
        block::append_value_copy(pairs, name_cell);
        cell* value_cell = push_os_string(value);
        block::append_value_copy(pairs, value_cell);
        stack::top = pairs + 1;
    }
    cell made;
    map::init_cell(&made, pairs->w2, 0);
    *result = made;
    stack::top = result + 1;
    return result;
}

std::string command_line_text() {
    std::string line;
    for (int i = 0; i < runtime::record.argc && runtime::record.argv; i++) {
        std::string_view arg(runtime::record.argv[i]);
        if (i) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string_view::npos) {
            line += arg;
            continue;
        }
        line += '"';
        for (char c : arg) {
            if (c == '"' || c == '\\') line += '\\';
            line += c;
        }
        line += '"';
    }
    return line;
}

std::string_view arch_name(std::string_view machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine == "ia64") return "IA-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
    if (machine.substr(0, 3) == "arm") return "ARM";
    return "Unknown";
}

release_numbers parse_release(std::string_view release) {
    release_numbers r{{0, 0, 0}, 0};
    std::size_t at = 0;
    for (int i = 0; i < 3; i++) {
        if (at >= release.size() || release[at] < '0' || release[at] > '9') break;
        u32 n = number_at(release, at);
        r.version[i] = static_cast<u8>(n > 255 ? 255 : n);
        if (at < release.size() && release[at] == '.')
            at++;
        else
            break;
    }
    while (at < release.size() && (release[at] < '0' || release[at] > '9')) at++;
    if (at < release.size()) r.build = static_cast<i32>(number_at(release, at));
    return r;
}

cell* push_os_description() {
    utsname u{};
    ::uname(&u);
    cell* object = stack::reserve_slot();
    object::init_cell_empty(object, 4);
    object->w2 = static_cast<u32>(object::next_class_id());
    *context::self_cell(object->w1) = *object;
    cell* value = stack::reserve_slot();
    std::string name = std::string(u.sysname) + " " + u.release;
    *value = *push_os_string(name);
    put_field(object, "name", value);
    *value = cell{type_id::word, 0, symbol::intern_text(arch_name(u.machine)), context::unbound};
    put_field(object, "arch", value);
    release_numbers numbers = parse_release(u.release);
    value->header = 0;
    tuple::init_cell(value, numbers.version, 3);
    put_field(object, "version", value);
    init_integer(value, numbers.build);
    put_field(object, "build", value);
    stack::top = object + 1;
    return object;
}

} // namespace zel::os
