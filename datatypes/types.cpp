// The registration order of the datatypes. A type whose unit is not built yet registers a row
// with its name and parent and no handlers, so every action on it reports that the type does
// not allow it.
#include "datatypes/types.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/registry.hpp"

namespace zel::types {

namespace {
void placeholder(u32 type, u32 parent, const char* name) {
    action_row row{};
    row.type = type;
    row.parent = parent;
    row.name = name;
    datatype::register_row(row);
}
} // namespace

void register_all() {
    using namespace type_id;
    datatype::register_type();
    unset::register_type();
    none::register_type();
    logic::register_type();
    placeholder(series, 0, "series!");
    placeholder(block, series, "block!");
    placeholder(string, series, "string!");
    placeholder(binary, string, "binary!");
    placeholder(integer, 0, "integer!");
    placeholder(symbol, 0, "symbol!");
    placeholder(context, 0, "context!");
    placeholder(word, symbol, "word!");
    placeholder(lit_word, word, "lit-word!");
    placeholder(set_word, word, "set-word!");
    placeholder(get_word, word, "get-word!");
    placeholder(refinement, word, "refinement!");
    placeholder(char_, integer, "char!");
    placeholder(native, 0, "native!");
    placeholder(action, native, "action!");
    placeholder(op, native, "op!");
    placeholder(path, block, "path!");
    placeholder(lit_path, path, "lit-path!");
    placeholder(set_path, path, "set-path!");
    placeholder(get_path, path, "get-path!");
    placeholder(function, context, "function!");
    placeholder(routine, function, "routine!");
    placeholder(paren, block, "paren!");
    placeholder(issue, word, "issue!");
    placeholder(url, string, "url!");
    placeholder(file, url, "file!");
    placeholder(object, 0, "object!");
    placeholder(bitset, 0, "bitset!");
    placeholder(triple, 0, "triple!");
    placeholder(float_, 0, "float!");
    placeholder(typeset, 0, "typeset!");
    placeholder(error, object, "error!");
    placeholder(vector, string, "vector!");
    placeholder(map, 0, "map!");
    placeholder(hash, block, "hash!");
    placeholder(pair, 0, "pair!");
    placeholder(percent, float_, "percent!");
    placeholder(tuple, 0, "tuple!");
    placeholder(time, float_, "time!");
    placeholder(tag, string, "tag!");
    placeholder(email, string, "email!");
    placeholder(handle, integer, "handle!");
    placeholder(date, 0, "date!");
    placeholder(port, object, "port!");
    placeholder(money, 0, "money!");
    placeholder(ref, string, "ref!");
    placeholder(point2d, 0, "point2D!");
    placeholder(point3d, 0, "point3D!");
    placeholder(image, series, "image!");
}

} // namespace zel::types
