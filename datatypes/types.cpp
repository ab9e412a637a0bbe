// The registration order of the datatypes. A type whose unit is not built yet registers a row
// with its name and parent and no handlers, so every action on it reports that the type does
// not allow it.
#include "datatypes/types.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/block.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/path.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"

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
    series::register_type();
    block::register_type();
    placeholder(t::string, t::series, "string!");
    placeholder(t::binary, t::string, "binary!");
    zel::integer::register_type();
    placeholder(t::symbol, 0, "symbol!");
    placeholder(t::context, 0, "context!");
    placeholder(t::word, t::symbol, "word!");
    placeholder(t::lit_word, t::word, "lit-word!");
    placeholder(t::set_word, t::word, "set-word!");
    placeholder(t::get_word, t::word, "get-word!");
    placeholder(t::refinement, t::word, "refinement!");
    placeholder(t::char_, t::integer, "char!");
    placeholder(t::native, 0, "native!");
    placeholder(t::action, t::native, "action!");
    placeholder(t::op, t::native, "op!");
    path::register_type();
    lit_path::register_type();
    set_path::register_type();
    get_path::register_type();
    placeholder(t::function, t::context, "function!");
    placeholder(t::routine, t::function, "routine!");
    paren::register_type();
    placeholder(t::issue, t::word, "issue!");
    placeholder(t::url, t::string, "url!");
    placeholder(t::file, t::url, "file!");
    placeholder(t::object, 0, "object!");
    placeholder(t::bitset, 0, "bitset!");
    placeholder(t::triple, 0, "triple!");
    placeholder(t::float_, 0, "float!");
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
