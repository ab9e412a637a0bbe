// Conversion natives: uppercase and lowercase, as and the as- makers, the percent codec (dehex,
// enhex) and the base codecs (debase, enbase). Every float-to-integer step checks its range
// first: a float outside the integer! range has no defined truncation.
#include <cmath>
#include <string>

#include "datatypes/base_codecs.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/scalar_common.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/url.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/float_text.hpp"
#include "runtime/unicode.hpp"

namespace zel::natives {

namespace {
using stack::arg;

void single_result(const cell& value) {
    *arg(0) = value;
    stack::keep_result_only();
}

// A char! is converted in the result slot; a string in place, from its index to its tail or to
// the /part limit, and the same series is the result.
void convert_case(const i32* refinements, bool to_upper) {
    const cell* part = refinements[0] >= 0 ? arg(static_cast<u32>(refinements[0])) : nullptr;
    case_::convert_value(arg(0), to_upper, part);
    stack::keep_result_only();
}

void uppercase(const i32* refinements) {
    convert_case(refinements, true);
}
void lowercase(const i32* refinements) {
    convert_case(refinements, false);
}

// ---- as ------------------------------------------------------------------------------------

// 1 for the list family, 2 for the text family, 0 for every other type.
int family_of(u32 t) {
    if (t == type_id::block || t == type_id::paren || is_any_path_type(t)) return 1;
    if (is_any_string_type(t)) return 2;
    return 0;
}

// The series keeps its buffer and index: only the type changes, so both values share the data.
void as(const i32*) {
    const cell* type = arg(0);
    u32 target = type_of(type) == type_id::datatype ? type->w1 : type_of(type);
    u32 source = type_of(arg(1));
    int family = family_of(target);
    if (family == 0 || family != family_of(source)) {
        cell from, to;
        init_datatype(&from, source);
        init_datatype(&to, target);
        error::raise(err::E("script", "not-same-class"), &from, &to);
    }
    cell result = *arg(1);
    cell_ops::write_type(&result, target);
    single_result(result);
}

// ---- the as- makers ------------------------------------------------------------------------

i32 pair_coordinate(const cell* c) {
    if (type_of(c) == type_id::integer) return int_of(c);
    return scalar::truncate_checked(float_of(c), c);
}

float point_coordinate(const cell* c) {
    return type_of(c) == type_id::integer ? static_cast<float>(int_of(c))
                                          : static_cast<float>(float_of(c));
}

void as_pair(const i32*) {
    cell r{};
    pair::init_cell(&r, pair_coordinate(arg(0)), pair_coordinate(arg(1)));
    single_result(r);
}

void as_point2d(const i32*) {
    cell r{};
    point2d::init_cell(&r, point_coordinate(arg(0)), point_coordinate(arg(1)));
    single_result(r);
}

void as_point3d(const i32*) {
    cell r{};
    point3d::init_cell(&r, point_coordinate(arg(0)), point_coordinate(arg(1)),
                       point_coordinate(arg(2)));
    single_result(r);
}

// The amount's integral and fractional digits. A float goes by its shortest decimal text, so
// 0.3 gives 0.3 and not 0.29999...; digits past the fifth fractional one are dropped.
struct amount_digits {
    bool negative = false;
    std::string integral, fraction;
};

bool amount_of(const cell* c, amount_digits& out) {
    if (type_of(c) == type_id::integer) {
        i64 n = int_of(c);
        out.negative = n < 0;
        out.integral = std::to_string(n < 0 ? -n : n);
        return true;
    }
    double d = float_of(c);
    double m = std::fabs(d);
    if (!std::isfinite(d) || m >= 1e17 || (m > 0 && m < 1e-05)) return false;
    out.negative = d < 0;
    if (m == 0) {
        out.integral = "0";
        return true;
    }
    float_text::digits dg = float_text::float_to_digits(m, 0, false);
    std::string digits(dg.area + 1, static_cast<std::size_t>(dg.count));
    if (dg.point <= 0) {
        out.integral = "0";
        out.fraction = std::string(static_cast<std::size_t>(-dg.point), '0') + digits;
    } else if (dg.point >= dg.count) {
        out.integral = digits + std::string(static_cast<std::size_t>(dg.point - dg.count), '0');
    } else {
        out.integral = digits.substr(0, static_cast<std::size_t>(dg.point));
        out.fraction = digits.substr(static_cast<std::size_t>(dg.point));
    }
    return true;
}

void as_money(const i32*) {
    const cell* currency = arg(0);
    // A copy: the symbol texts may move when the currency list is first made.
    std::string code(symbol::text_view(currency->w2));
    i32 index = money::find_currency(code);
    if (index < 1 || index > 255) error::raise(err::E("script", "bad-denom"), currency);
    amount_digits amount;
    cell r{};
    if (!amount_of(arg(1), amount) ||
        !money::init_cell_from_text(&r, amount.negative, code, amount.integral, amount.fraction)) {
        cell t;
        init_datatype(&t, type_id::money);
        error::raise(err::E("script", "bad-make-arg"), &t, arg(1));
    }
    single_result(r);
}

// ---- percent codec -------------------------------------------------------------------------

// A new string! on the data stack, with room for n bytes.
cell* push_new_string(u32 n) {
    cell made;
    string::init_cell_bytes(&made, n);
    return stack::push_value(&made);
}

void dehex(const i32*) {
    std::string bytes = utf8::encode_string(arg(0));
    cell* target = push_new_string(static_cast<u32>(bytes.size()));
    const u8* start = reinterpret_cast<const u8*>(bytes.data());
    url::percent_decode(start, start + bytes.size(), target);
    single_result(*target);
}

// A string! keeps the unreserved characters only; the other text types keep the whole URL set.
void enhex(const i32*) {
    auto which = type_of(arg(0)) == type_id::string ? url::kept::unreserved : url::kept::url_set;
    std::string text = url::escaped(utf8::encode_string(arg(0)), which);
    cell* target = push_new_string(static_cast<u32>(text.size()));
    string::append_c_text(target, text);
    single_result(*target);
}

// ---- base codecs ---------------------------------------------------------------------------

// The base of /base (64 without it); a base without a codec raises `invalid-arg`.
u32 base_of(const i32* refinements) {
    if (refinements[0] < 0) return 64;
    const cell* base = arg(static_cast<u32>(refinements[0]));
    i32 b = int_of(base);
    if (b != 2 && b != 16 && b != 58 && b != 64)
        error::raise(err::E("script", "invalid-arg"), base);
    return static_cast<u32>(b);
}

// Text that is not valid in the base gives none!.
void debase(const i32* refinements) {
    u32 base = base_of(refinements);
    cell* text = arg(0);
    u32 count = string::units_from_head(text);
    u32 unit = unit_of(string::buffer_of_cell(text));
    // The decoder reads the text before it allocates its result.
    binary::decoded d = binary::from_base_text(base, string::head_address(text), count, unit);
    if (d.node)
        binary::init_cell_series(arg(0), d.node);
    else
        init_none(arg(0));
    stack::keep_result_only();
}

// The bytes of a binary! from its head, or the UTF-8 of a string!.
std::string bytes_of(const cell* value) {
    if (type_of(value) != type_id::binary) return utf8::encode_string(value);
    series_buffer* b = buffer_of(value->w2);
    u32 used = used_bytes(b);
    u32 head = value->w1;
    if (head >= used) return {};
    return std::string(reinterpret_cast<const char*>(head_ptr(b)) + head, used - head);
}

// Largest text enbase makes: lengths stay within the signed 32-bit range of series indexes.
constexpr u64 max_text = 0x7FFFFFFF;

void enbase(const i32* refinements) {
    u32 base = base_of(refinements);
    std::string bytes = bytes_of(arg(0));
    if (bytes.empty()) {
        init_none(arg(0));
        return stack::keep_result_only();
    }
    u64 room = bytes.size() > max_text ? max_text + 1 : binary::text_room(base, bytes.size());
    if (room > max_text) error::raise(err::E("script", "too-long"));
    std::string text(room, '\0');
    const u8* in = reinterpret_cast<const u8*>(bytes.data());
    u8* out = reinterpret_cast<u8*>(text.data());
    u32 n = static_cast<u32>(bytes.size());
    u8* end = base == 2    ? binary::to_base2_text(out, in, n)
              : base == 16 ? binary::to_base16_text(out, in, n)
              : base == 58 ? binary::to_base58_text(out, in, n)
                           : binary::to_base64_text(out, in, n);
    text.resize(static_cast<std::size_t>(end - out));
    cell* target = push_new_string(static_cast<u32>(text.size()));
    string::append_c_text(target, text);
    single_result(*target);
}

const families::entry table[] = {
    {"uppercase", uppercase},
    {"lowercase", lowercase},
    {"as", as},
    {"as-pair", as_pair},
    {"as-point2D", as_point2d},
    {"as-point3D", as_point3d},
    {"as-money", as_money},
    {"dehex", dehex},
    {"enhex", enhex},
    {"debase", debase},
    {"enbase", enbase},
};
} // namespace

std::span<const families::entry> families::conversions() {
    return table;
}

} // namespace zel::natives
