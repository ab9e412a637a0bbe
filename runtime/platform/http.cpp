// HTTP requests through libcurl. Everything the request needs is taken out of the cells first and
// the response is kept in C++ strings until the transfer is over: no arena address is held while
// the network is waited on, and the values are made only at the end.
#include "runtime/platform/http.hpp"
#include "runtime/platform/formed.hpp"

// Calls go through a table of the library's functions, where the type-checking macros of its
// header would not fit.
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>

#include <algorithm>
#include <mutex>

#include "datatypes/block.hpp"
#include "datatypes/map.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/url.hpp"
#include "evaluator/stack.hpp"
#include "runtime/file_io.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/shared_library.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

#define ZEL_CURL_FUNCTIONS(X)                                                                   \
    X(curl_global_init)                                                                         \
    X(curl_easy_init)                                                                           \
    X(curl_easy_cleanup)                                                                        \
    X(curl_easy_setopt)                                                                         \
    X(curl_easy_perform)                                                                        \
    X(curl_easy_getinfo)                                                                        \
    X(curl_slist_append)                                                                        \
    X(curl_slist_free_all)
ZEL_SHARED_LIBRARY(curl_library, ZEL_CURL_SONAME, ZEL_CURL_FUNCTIONS)

namespace zel::http {

namespace {

std::string name_text(const cell* value) {
    if (is_any_word_type(type_of(value))) return symbol::text(value->w2);
    return platform::text_of(value);
}

// The bytes of a body: a binary! from its index, a string! as UTF-8 with its line ends as they
// are, anything else formed.
std::string body_bytes(const cell* data) {
    return is(data, type_id::binary) ? platform::bytes_of(data) : platform::text_of(data);
}

// The URL as the network takes it: the text holds decoded characters, so everything outside the
// URL set is escaped as mold escapes it ("%" too, and spaces and non-ASCII text), except the
// brackets of an IPv6 host.
std::string wire_url(const cell* url) {
    std::string text = utf8::encode_string(url);
    std::string wire;
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        if (c < 0x80 && c > 0x20 && (url::in_url_set(c) || c == '[' || c == ']')) {
            wire += static_cast<char>(c);
        } else {
            wire += '%';
            wire += hex[c >> 4];
            wire += hex[c & 15];
        }
    }
    return wire;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    return text;
}

bool same_name(const std::string& a, const std::string& b) {
    return upper(a) == upper(b);
}

struct response {
    std::string body;
    // Header lines of the latest response; a redirect or an interim response starts afresh.
    std::vector<std::pair<std::string, std::string>> headers;
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<response*>(user)->body.append(data, size * count);
    return size * count;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto* r = static_cast<response*>(user);
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        r->headers.clear();
        return size * count;
    }
    std::string name, value;
    if (split_header(line, name, value)) r->headers.emplace_back(std::move(name), std::move(value));
    return size * count;
}

// A transfer gives way to the user's interrupt; the interpreter raises it at its next check.
int on_progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return runtime::interrupt_requested ? 1 : 0;
}

// The library, loaded and set up on the first request; null when it cannot be loaded (the
// request then fails as an unreachable one does).
const curl_library* curl = nullptr;

bool global_init() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl = curl_library::get();
        if (curl) curl->curl_global_init(CURL_GLOBAL_DEFAULT);
    });
    return curl != nullptr;
}

struct easy_handle {
    CURL* handle = curl->curl_easy_init();
    curl_slist* headers = nullptr;
    ~easy_handle() {
        curl->curl_slist_free_all(headers);
        if (handle) curl->curl_easy_cleanup(handle);
    }
    void add_header(const std::string& line) {
        curl_slist* grown = curl->curl_slist_append(headers, line.c_str());
        if (grown) headers = grown;
    }
};

// The headers map: one word key per name (names that differ only in case are one key, as map
// keys are), a string value, or a block of the strings when the name came more than once.
cell* push_headers_map(const response& r) {
    std::vector<std::pair<std::string, std::vector<const std::string*>>> names;
    for (const auto& [name, value] : r.headers) {
        auto it = std::find_if(names.begin(), names.end(),
                               [&key = name](const auto& n) { return same_name(n.first, key); });
        if (it == names.end()) {
            names.push_back({name, {}});
            it = names.end() - 1;
        }
        it->second.push_back(&value);
    }
    cell* pairs = block::push_new(static_cast<i32>(names.size() * 2 + 1));
    auto push_string = [](const std::string& text) {
        cell made;
        utf8::decode_to_new_string(&made, reinterpret_cast<const u8*>(text.data()),
                                   static_cast<u32>(text.size()), utf8::flag::lossless);
        return stack::push_value(&made);
    };
    for (const auto& [name, values] : names) {
        cell word{type_id::word, 0, symbol::intern_text(name), 0xFFFFFFFF};
        block::append_value_copy(pairs, &word);
        cell* value;
        if (values.size() == 1) {
            value = push_string(*values[0]);
        } else {
            value = block::push_new(static_cast<i32>(values.size()));
            for (const std::string* text : values) {
                cell* held = push_string(*text);
                block::append_value_copy(value, held);
                stack::top = held;
            }
        }
        block::append_value_copy(pairs, value);
        stack::top = value;
    }
    cell made;
    map::init_cell(&made, pairs->w2, static_cast<u32>(names.size() * 2));
    *pairs = made;
    return pairs;
}

} // namespace

bool split_header(std::string_view line, std::string& name, std::string& value) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    auto trim = [](std::string_view s) {
        std::size_t a = s.find_first_not_of(" \t\r\n");
        if (a == std::string_view::npos) return std::string_view();
        std::size_t b = s.find_last_not_of(" \t\r\n");
        return s.substr(a, b - a + 1);
    };
    name = trim(line.substr(0, colon));
    value = trim(line.substr(colon + 1));
    return !name.empty();
}

cell* send_request(const cell* url, const cell* method, const cell* data, const cell* headers,
                   bool binary, bool lines, bool info) {
    std::string address = wire_url(url);
    std::string verb = upper(symbol::text(method->w2));
    bool sends_body = verb != "GET" && verb != "HEAD" && data;
    std::string body = sends_body ? body_bytes(data) : std::string();
    std::vector<std::string> header_lines;
    if (headers) {
        bool typed = false;
        series_buffer* b = buffer_of(headers->w2);
        u32 n = used_units(b);
        for (u32 i = headers->w1; i + 1 < n; i += 2) {
            std::string name = name_text(head_cell(buffer_of(headers->w2)) + i);
            std::string value = platform::text_of(head_cell(buffer_of(headers->w2)) + i + 1);
            typed = typed || same_name(name, "Content-Type");
            header_lines.push_back(name + (value.empty() ? ";" : ": " + value));
        }
        // Only what the block gives: the client would add a content type of its own to a body.
        if (!typed) header_lines.push_back("Content-Type:");
    } else {
        header_lines = {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                        "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
    }
    // A body goes at once, without waiting for a "100 Continue".
    header_lines.push_back("Expect:");

    if (!global_init()) return nullptr;
    easy_handle easy;
    if (!easy.handle) return nullptr;
    CURL* h = easy.handle;
    for (const std::string& line : header_lines) easy.add_header(line);
    response r;
    curl->curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    curl->curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl->curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl->curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl->curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl->curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    // The time-outs of the platform's request object: 60 s to connect, 30 s without data.
    curl->curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);
    curl->curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl->curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
    curl->curl_easy_setopt(h, CURLOPT_HTTPHEADER, easy.headers);
    curl->curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl->curl_easy_setopt(h, CURLOPT_WRITEDATA, &r);
    curl->curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl->curl_easy_setopt(h, CURLOPT_HEADERDATA, &r);
    curl->curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl->curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    if (verb == "HEAD") {
        curl->curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (verb == "GET") {
        curl->curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        if (verb != "POST") curl->curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
        if (sends_body || verb == "POST") {
            curl->curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                   static_cast<curl_off_t>(body.size()));
            curl->curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
        }
    }
    if (curl->curl_easy_perform(h) != CURLE_OK) return nullptr;
    long status = 0;
    curl->curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (r.body.size() >= fs::max_read_bytes) return nullptr;

    if (!info) return fs::push_read_bytes(r.body, binary, lines);
    cell* result = block::push_new(3);
    cell code;
    init_integer(&code, static_cast<i32>(status));
    block::append_value_copy(result, &code);
    cell* map = push_headers_map(r);
    block::append_value_copy(result, map);
    stack::top = map;
    cell* body_value = fs::push_read_bytes(r.body, binary, lines);
    block::append_value_copy(result, body_value);
    stack::top = result + 1;
    return result;
}

} // namespace zel::http
