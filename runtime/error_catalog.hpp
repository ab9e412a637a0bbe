// The error catalog: categories and ids in catalog order, with their message templates written
// in the language's own syntax. An error's code is category index x 100 + id index - 2, the id
// index counting the category's fields from 0 (`code` and `type` being fields 0 and 1).
#pragma once
#include <string_view>

#include "runtime/arena.hpp"

namespace zel::err {

struct category_entry {
    std::string_view name;
    std::string_view title;
};

struct entry {
    u16 category;
    std::string_view name;
    std::string_view message; // a string or a block template, as source text
};

inline constexpr category_entry categories[] = {
    {"throw", "Throw Error"},   {"note", "Note"},          {"syntax", "Syntax Error"},
    {"script", "Script Error"}, {"math", "Math Error"},    {"access", "Access Error"},
    {"reserved1", "Reserved1"}, {"reserved2", "Reserved2"}, {"user", "User Error"},
    {"internal", "Internal Error"},
};
inline constexpr int category_count = 10;

#include "runtime/error_catalog.inc"

struct id {
    u16 category;
    u16 index; // field index in the category object (the first id is 2)
    constexpr u32 code() const { return category * 100u + index - 2u; }
};

consteval u16 category_index(std::string_view name) {
    for (int i = 0; i < category_count; i++)
        if (categories[i].name == name) return static_cast<u16>(i);
    throw "unknown error category";
}

// The catalog id of (category, name), checked at compile time.
consteval id E(std::string_view category, std::string_view name) {
    u16 c = category_index(category);
    u16 index = 2;
    for (const entry& e : entries) {
        if (e.category != c) continue;
        if (e.name == name) return id{c, index};
        index++;
    }
    throw "unknown error id";
}

} // namespace zel::err
