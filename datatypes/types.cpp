// The registration order of the datatypes. A type whose unit is not built yet registers a row
// with its name and parent and no handlers, so every action on it reports that the type does
// not allow it.
#include "datatypes/types.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/float.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/object.hpp"
#include "datatypes/port.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
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
    namespace t = type_id;
    datatype::register_type();
    unset::register_type();
    none::register_type();
    logic::register_type();
    placeholder(t::series, 0, "series!");
    placeholder(t::block, t::series, "block!");
    placeholder(t::string, t::series, "string!");
    placeholder(t::binary, t::string, "binary!");
    zel::integer::register_type();
    symbol::register_type();
    context::register_type();
    word::register_types();
    placeholder(t::char_, t::integer, "char!");
    placeholder(t::native, 0, "native!");
    placeholder(t::action, t::native, "action!");
    placeholder(t::op, t::native, "op!");
    placeholder(t::path, t::block, "path!");
    placeholder(t::lit_path, t::path, "lit-path!");
    placeholder(t::set_path, t::path, "set-path!");
    placeholder(t::get_path, t::path, "get-path!");
    placeholder(t::function, t::context, "function!");
    placeholder(t::routine, t::function, "routine!");
    placeholder(t::paren, t::block, "paren!");
    word::register_issue();
    placeholder(t::url, t::string, "url!");
    placeholder(t::file, t::url, "file!");
    object::register_type();
    placeholder(t::bitset, 0, "bitset!");
    placeholder(t::triple, 0, "triple!");
    float_::register_type();
    typeset::register_type();
    error::register_type();
    placeholder(t::vector, t::string, "vector!");
    placeholder(t::map, 0, "map!");
    placeholder(t::hash, t::block, "hash!");
    placeholder(t::pair, 0, "pair!");
    placeholder(t::percent, t::float_, "percent!");
    placeholder(t::tuple, 0, "tuple!");
    placeholder(t::time, t::float_, "time!");
    placeholder(t::tag, t::string, "tag!");
    placeholder(t::email, t::string, "email!");
    handle::register_type();
    placeholder(t::date, 0, "date!");
    port::register_type();
    placeholder(t::money, 0, "money!");
    placeholder(t::ref, t::string, "ref!");
    placeholder(t::point2d, 0, "point2D!");
    placeholder(t::point3d, 0, "point3D!");
    placeholder(t::image, t::series, "image!");
}

} // namespace zel::types
