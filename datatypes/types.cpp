// The registration order of the datatypes. A type whose unit is not built yet registers a row
// with its name and parent and no handlers, so every action on it reports that the type does
// not allow it.
#include "datatypes/types.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "datatypes/email.hpp"
#include "datatypes/error.hpp"
#include "datatypes/file.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/image.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/path.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/port.hpp"
#include "datatypes/ref.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tag.hpp"
#include "datatypes/time.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/url.hpp"
#include "datatypes/vector.hpp"
#include "datatypes/word.hpp"

namespace zel::types {

void register_all() {
    namespace t = type_id;
    datatype::register_type();
    unset::register_type();
    none::register_type();
    logic::register_type();
    series::register_type();
    block::register_type();
    string_type::register_type();
    binary::register_type();
    zel::integer::register_type();
    symbol::register_type();
    context::register_type();
    word::register_types();
    char_::register_type();
    native_value::register_types();
    path::register_type();
    lit_path::register_type();
    set_path::register_type();
    get_path::register_type();
    function::register_types();
    function::register_routine();
    paren::register_type();
    word::register_issue();
    url::register_type();
    file::register_type();
    object::register_type();
    bitset::register_type();
    triple::register_type();
    float_::register_type();
    typeset::register_type();
    error::register_type();
    vector::register_type();
    map::register_type();
    hash::register_type();
    pair::register_type();
    percent::register_type();
    tuple::register_type();
    time::register_type();
    tag::register_type();
    email::register_type();
    handle::register_type();
    date::register_type();
    port::register_type();
    money::register_type();
    ref::register_type();
    point2d::register_type();
    point3d::register_type();
    image::register_type();
}

} // namespace zel::types
