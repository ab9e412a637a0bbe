// The registration order of the datatypes. A type whose unit is not built yet registers a row
// with its name and parent and no handlers, so every action on it reports that the type does
// not allow it.
#include "datatypes/types.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/char.hpp"
#include "datatypes/context.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/native.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string.hpp"

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
    namespace t = type_id;
    datatype::register_type();
    unset::register_type();
    none::register_type();
    logic::register_type();
    placeholder(t::series, 0, "series!");
    placeholder(t::block, t::series, "block!");
    string_type::register_type();
    placeholder(t::binary, t::string, "binary!");
    zel::integer::register_type();
    symbol::register_type();
    context::register_type();
    word::register_types();
    char_::register_type();
    native_value::register_types();
    placeholder(t::path, t::block, "path!");
    placeholder(t::lit_path, t::path, "lit-path!");
    placeholder(t::set_path, t::path, "set-path!");
    placeholder(t::get_path, t::path, "get-path!");
    function::register_types();
    function::register_routine();
    placeholder(t::paren, t::block, "paren!");
    word::register_issue();
    placeholder(t::url, t::string, "url!");
    placeholder(t::file, t::url, "file!");
    placeholder(t::object, 0, "object!");
    placeholder(t::bitset, 0, "bitset!");
    placeholder(t::triple, 0, "triple!");
    float_::register_type();
    placeholder(t::typeset, 0, "typeset!");
    placeholder(t::error, t::object, "error!");
    placeholder(t::vector, t::string, "vector!");
    placeholder(t::map, 0, "map!");
    placeholder(t::hash, t::block, "hash!");
    placeholder(t::pair, 0, "pair!");
    placeholder(t::percent, t::float_, "percent!");
    placeholder(t::tuple, 0, "tuple!");
    placeholder(t::time, t::float_, "time!");
    placeholder(t::tag, t::string, "tag!");
    placeholder(t::email, t::string, "email!");
    placeholder(t::handle, t::integer, "handle!");
    placeholder(t::date, 0, "date!");
    placeholder(t::port, t::object, "port!");
    placeholder(t::money, 0, "money!");
    placeholder(t::ref, t::string, "ref!");
    placeholder(t::point2d, 0, "point2D!");
    placeholder(t::point3d, 0, "point3D!");
    placeholder(t::image, t::series, "image!");
}

} // namespace zel::types
