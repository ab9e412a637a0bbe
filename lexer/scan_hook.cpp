// Scanning one value from a string. Until the lexer stands, only the word kinds are recognised:
// a text that holds one word, optionally marked as a set-, get-, lit-word, refinement or issue.
#include "lexer/scan_hook.hpp"

#include <string>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/unicode.hpp"

namespace zel::scan_hook {

namespace {
bool word_char(unsigned char c) {
    return c > ' ' && std::string_view("[](){}\"';:/@#$%^,\\").find(static_cast<char>(c)) ==
                          std::string_view::npos;
}
} // namespace

bool value_from_string(const cell* string, cell* out) {
    std::string text = utf8::encode_string(string, -1);
    if (text.empty()) return false;
    u32 type = type_id::word;
    std::string_view body = text;
    if (body.front() == ':') type = type_id::get_word, body.remove_prefix(1);
    else if (body.front() == '\'') type = type_id::lit_word, body.remove_prefix(1);
    else if (body.front() == '/') type = type_id::refinement, body.remove_prefix(1);
    else if (body.front() == '#') type = type_id::issue, body.remove_prefix(1);
    else if (body.back() == ':') type = type_id::set_word, body.remove_suffix(1);
    if (body.empty() || (body.front() >= '0' && body.front() <= '9')) return false;
    for (unsigned char c : body)
        if (!word_char(c)) return false;
    *out = cell{type, context::global_node(), symbol::intern_text(body), context::unbound};
    return true;
}

} // namespace zel::scan_hook
