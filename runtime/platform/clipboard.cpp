// The clipboard. Text goes to the desktop as UTF-8 with LF line ends and file lists as a URI list
// (text/uri-list), the forms other desktop programs read; text read back has CR LF and lone CR
// turned into LF, as all text read in does.
#include "runtime/platform/clipboard.hpp"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/file.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/child_process.hpp"
#include "runtime/platform/formed.hpp"
#include "runtime/roots.hpp"
#include "runtime/unicode.hpp"

namespace zel::clipboard {

namespace {

// Long enough for a busy desktop, short enough that a clipboard owner that never answers cannot
// hang the program.
constexpr int tool_timeout_ms = 3000;

enum class desktop { none, wayland, x11 };

bool set(const char* variable) {
    const char* v = std::getenv(variable);
    return v && *v;
}

desktop find_desktop() {
    if (set("WAYLAND_DISPLAY") && process::on_path("wl-copy") && process::on_path("wl-paste"))
        return desktop::wayland;
    if (set("DISPLAY") && process::on_path("xclip")) return desktop::x11;
    return desktop::none;
}

process::outcome run_tool(std::vector<std::string> argv, const std::string* input) {
    process::request r;
    r.argv = std::move(argv);
    r.input = input ? process::stream::memory : process::stream::null;
    if (input) r.input_bytes = *input;
    // A copying tool stays behind to serve the selection: it must not hold a pipe of ours, or
    // the run would wait for it.
    r.output = input ? process::stream::null : process::stream::memory;
    r.error = process::stream::null;
    r.timeout_ms = tool_timeout_ms;
    return process::run(r);
}

bool tool_ok(const process::outcome& o) {
    return o.started && !o.timed_out && o.status == 0;
}

// Writes data of a MIME type to the desktop clipboard; with no type, empties it.
bool desktop_store(desktop d, const char* type, const std::string& data) {
    if (d == desktop::wayland)
        return tool_ok(type ? run_tool({"wl-copy", "--type", type}, &data)
                            : run_tool({"wl-copy", "--clear"}, nullptr));
    // xclip has no way to own an empty selection: it serves empty text instead.
    std::string empty;
    return tool_ok(
        run_tool({"xclip", "-selection", "clipboard", "-t", type ? type : "UTF8_STRING", "-i"},
                 type ? &data : &empty));
}

std::optional<std::string> desktop_read(desktop d, const std::string& type) {
    process::outcome o =
        d == desktop::wayland
            ? run_tool({"wl-paste", "--no-newline", "--type", type}, nullptr)
            : run_tool({"xclip", "-selection", "clipboard", "-o", "-t", type}, nullptr);
    if (!tool_ok(o)) return std::nullopt;
    return o.output;
}

// The types the clipboard offers; none when it cannot be asked, empty when it holds nothing.
std::optional<std::vector<std::string>> desktop_types(desktop d) {
    process::outcome o =
        d == desktop::wayland
            ? run_tool({"wl-paste", "--list-types"}, nullptr)
            : run_tool({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}, nullptr);
    if (!o.started || o.timed_out) return std::nullopt;
    std::vector<std::string> types;
    // Both tools fail when no program owns the clipboard: that is an empty clipboard.
    if (o.status != 0) return types;
    std::size_t start = 0;
    while (start < o.output.size()) {
        std::size_t end = o.output.find('\n', start);
        if (end == std::string::npos) end = o.output.size();
        std::string line = o.output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) types.push_back(line);
        start = end + 1;
    }
    return types;
}

bool offers(const std::vector<std::string>& types, std::string_view type) {
    for (const std::string& t : types)
        if (t == type) return true;
    return false;
}

// ---- file lists as URI lists ----------------------------------------------------------------

bool plain_uri_byte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

std::string file_uri(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (plain_uri_byte(c)) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The local path of a file URI ("file://host/path" or "file:/path"); none for other schemes.
std::optional<std::string> uri_path(std::string_view uri) {
    if (!uri.starts_with("file:")) return std::nullopt;
    uri.remove_prefix(5);
    if (uri.starts_with("//")) {
        uri.remove_prefix(2);
        std::size_t slash = uri.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        uri.remove_prefix(slash);
    }
    std::string path;
    for (std::size_t i = 0; i < uri.size(); i++) {
        int high = uri[i] == '%' && i + 2 < uri.size() ? hex_digit(uri[i + 1]) : -1;
        int low = high >= 0 ? hex_digit(uri[i + 2]) : -1;
        if (low >= 0) {
            path += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            path += uri[i];
        }
    }
    return path;
}

// ---- values ---------------------------------------------------------------------------------

// The OS path of one value of a file list: a text value as it is, anything else formed; with
// `absolute` a relative name is taken from the current directory (a URI has no relative form).
std::string list_entry_path(const cell* value, bool absolute) {
    std::string path = platform::text_of(value);
    if (absolute && !path.empty() && path[0] != '/') path = file::os_current_dir() + path;
    return path;
}

std::vector<std::string> list_paths(const cell* block, bool absolute) {
    std::vector<std::string> paths;
    for (u32 i = block->w1;; i++) {
        series_buffer* b = buffer_of(block->w2);
        if (i >= used_units(b)) break;
        cell value = head_cell(b)[i];
        paths.push_back(list_entry_path(&value, absolute));
    }
    return paths;
}

// Text from the desktop has its line ends made LF; the in-process clipboard gives back exactly
// what was written.
cell* push_text(const std::string& bytes, bool from_desktop) {
    cell made;
    utf8::decode_to_new_string(&made, reinterpret_cast<const u8*>(bytes.data()),
                               static_cast<u32>(bytes.size()),
                               utf8::flag::lossless | (from_desktop ? utf8::flag::crlf : 0));
    return stack::push_value(&made);
}

cell* push_file_list(const std::vector<std::string>& paths) {
    cell* list = block::push_new(static_cast<i32>(paths.size() + 1));
    for (const std::string& path : paths) {
        cell made;
        file::init_cell_os_name(&made, path, false);
        cell* held = stack::push_value(&made);
        block::append_value_copy(list, held);
        stack::top = held;
    }
    return list;
}

cell* push_none() {
    cell none;
    return stack::push_value(init_none(&none));
}

// The in-process clipboard: one slot of the root block, holding a copy that nothing else can
// reach, so a later change to the value written does not show.
cell* kept() {
    static cell* slot = nullptr;
    if (!slot) {
        cell none;
        slot = roots::append(init_none(&none));
    }
    return slot;
}

cell* fetch_desktop(desktop d) {
    std::optional<std::vector<std::string>> types = desktop_types(d);
    cell failed;
    if (!types) return stack::push_value(init_logic(&failed, false));
    for (const char* text_type :
         {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"}) {
        if (!offers(*types, text_type)) continue;
        std::optional<std::string> text = desktop_read(d, text_type);
        if (!text) return stack::push_value(init_logic(&failed, false));
        // An emptied clipboard (all xclip can serve for it) reads as empty.
        if (text->empty()) return push_none();
        return push_text(*text, true);
    }
    if (offers(*types, "text/uri-list")) {
        std::optional<std::string> list = desktop_read(d, "text/uri-list");
        if (!list) return stack::push_value(init_logic(&failed, false));
        std::vector<std::string> paths;
        std::size_t start = 0;
        while (start < list->size()) {
            std::size_t end = list->find('\n', start);
            if (end == std::string::npos) end = list->size();
            std::string line = list->substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] != '#')
                if (std::optional<std::string> path = uri_path(line)) paths.push_back(*path);
            start = end + 1;
        }
        return push_file_list(paths);
    }
    return push_none();
}

} // namespace

cell* fetch_contents() {
    desktop d = find_desktop();
    if (d != desktop::none) return fetch_desktop(d);
    // Copies out as well as in: a change to the value read does not reach the clipboard.
    cell* slot = kept();
    if (is(slot, type_id::string))
        return push_text(utf8::encode_string(slot, -1, utf8::flag::lossless), false);
    if (is(slot, type_id::block)) return push_file_list(list_paths(slot, false));
    cell value = *slot;
    return stack::push_value(&value);
}

bool store_contents(const cell* value) {
    u32 t = type_of(value);
    if (t != type_id::none && t != type_id::string && t != type_id::block && t != type_id::image)
        error::raise(err::E("script", "invalid-arg"), value);
    desktop d = t == type_id::image ? desktop::none : find_desktop();
    if (d != desktop::none) {
        if (t == type_id::none) return desktop_store(d, nullptr, "");
        if (t == type_id::string)
            return desktop_store(d,
                                 d == desktop::wayland ? "text/plain;charset=utf-8" : "UTF8_STRING",
                                 utf8::encode_string(value, -1, utf8::flag::lossless));
        std::string list;
        for (const std::string& path : list_paths(value, true)) list += file_uri(path) + "\r\n";
        return desktop_store(d, "text/uri-list", list);
    }
    cell* copy;
    if (t == type_id::string) {
        copy = push_text(utf8::encode_string(value, -1, utf8::flag::lossless), false);
    } else if (t == type_id::block) {
        copy = push_file_list(list_paths(value, false));
    } else if (t == type_id::image) {
        cell image = *value;
        image.w2 = memory::clone_series(buffer_of(value->w2));
        copy = stack::push_value(&image);
    } else {
        cell none;
        copy = stack::push_value(init_none(&none));
    }
    *kept() = *copy;
    stack::top = copy;
    return true;
}

} // namespace zel::clipboard
