// read and write of url!: http and https URLs go to the HTTP client; a request that gets no
// response at all is the no-connect error, while any response, whatever its status, is data.
#include <cctype>

#include "datatypes/symbol.hpp"
#include "datatypes/url.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/http.hpp"
#include "runtime/unicode.hpp"

namespace zel::url {

namespace {
bool is_http(const cell* url) {
    std::string text = utf8::encode_string(url, 4);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text == "http";
}

[[noreturn]] void not_done() {
    error::raise(err::E("internal", "not-done"));
}

// No port scheme serves other URLs in this build: they are refused as the URL parser refuses a
// URL it cannot take.
[[noreturn]] void no_port(const cell* url) {
    error::raise(err::E("script", "invalid-arg"), url);
}

cell method_word(std::string_view name) {
    return cell{type_id::word, 0, symbol::intern_text(name), 0xFFFFFFFF};
}

cell* answered(cell* result, const cell* url) {
    if (!result) error::raise(err::E("access", "no-connect"), url);
    return result;
}
} // namespace

cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as) {
    if (!is_http(source)) no_port(source);
    if (part || seek || as) not_done();
    cell get = method_word("get");
    return answered(http::send_request(source, &get, nullptr, nullptr, binary, lines, info),
                    source);
}

cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool, cell*,
            cell* seek, cell* allow, cell* as) {
    if (!is_http(destination)) no_port(destination);
    if (seek || allow || as) not_done();
    if (!is(data, type_id::block)) {
        cell post = method_word("post");
        return answered(http::send_request(destination, &post, data, nullptr, binary, lines, info),
                        destination);
    }
    // [method [headers] body]: each part is checked before anything is sent.
    series_buffer* b = buffer_of(data->w2);
    u32 n = used_units(b);
    u32 at = data->w1 < n ? data->w1 : n;
    cell parts[3];
    u32 count = n - at < 3 ? n - at : 3;
    for (u32 i = 0; i < count; i++) parts[i] = head_cell(b)[at + i];
    cell method = count ? parts[0] : method_word("get");
    if (!is(&method, type_id::word)) error::raise(err::E("script", "invalid-arg"), &parts[0]);
    if (count > 1 && !is(&parts[1], type_id::block))
        error::raise(err::E("script", "invalid-arg"), &parts[1]);
    if (count > 2 && !is(&parts[2], type_id::block) && !is(&parts[2], type_id::string) &&
        !is(&parts[2], type_id::binary))
        error::raise(err::E("script", "invalid-arg"), &parts[2]);
    // The parts stay reachable through the data block, which the frame holds.
    return answered(http::send_request(destination, &method, count > 2 ? &parts[2] : nullptr,
                                       count > 1 ? &parts[1] : nullptr, binary, lines, info),
                    destination);
}

} // namespace zel::url
