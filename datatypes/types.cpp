// The registration order of the datatypes. A type whose unit is not built yet registers a row
// with its name and parent and no handlers, so every action on it reports that the type does
// not allow it.
#include "datatypes/types.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "datatypes/email.hpp"
#include "datatypes/file.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/ref.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tag.hpp"
#include "datatypes/time.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/url.hpp"
#include "datatypes/word.hpp"

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
    binary::register_type();
    zel::integer::register_type();
    symbol::register_type();
    context::register_type();
    word::register_types();
    placeholder(t::char_, t::integer, "char!");
    native_value::register_types();
    placeholder(t::path, t::block, "path!");
    placeholder(t::lit_path, t::path, "lit-path!");
    placeholder(t::set_path, t::path, "set-path!");
    placeholder(t::get_path, t::path, "get-path!");
    function::register_types();
    function::register_routine();
    placeholder(t::paren, t::block, "paren!");
    word::register_issue();
    url::register_type();
    file::register_type();
    placeholder(t::object, 0, "object!");
    placeholder(t::bitset, 0, "bitset!");
    triple::register_type();
    float_::register_type();
    placeholder(t::typeset, 0, "typeset!");
    placeholder(t::error, t::object, "error!");
    placeholder(t::vector, t::string, "vector!");
    map::register_type();
    hash::register_type();
    pair::register_type();
    percent::register_type();
    tuple::register_type();
    time::register_type();
    tag::register_type();
    email::register_type();
    placeholder(t::handle, t::integer, "handle!");
    date::register_type();
    placeholder(t::port, t::object, "port!");
    money::register_type();
    ref::register_type();
    point2d::register_type();
    point3d::register_type();
    placeholder(t::image, t::series, "image!");
}

} // namespace zel::types
