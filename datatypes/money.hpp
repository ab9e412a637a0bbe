// money!: an exact decimal amount of 17 integral and 5 fractional digits in packed BCD (bytes
// 5-15 of the cell, high nibble first), a sign (header bit 14) and a currency index (byte 4: 0 for
// none, else the 1-based position of the currency word in the currency list).
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::money {

constexpr u32 sign_bit = 0x4000;
constexpr u32 digit_bytes = 11;

// The currency list: a block of upper-case words (system/locale/currencies/list). Until the
// system object hands over its own block at start-up, the list of the 170 standard codes (the
// same codes in the same order) is made on first use.
u32 currency_list();
void set_currency_list(const cell* block);
// 1-based position of the code (compared without regard to case), -1 when absent.
i32 find_currency(std::string_view code);

// The lexer's maker: `integral` holds the integral digits ("'" marks skipped), `fraction` the
// digits after the point (those past the fifth dropped), `currency` the code or "" for none.
// Answers false, writing nothing, for a code not in the list or more than 17 significant integral
// digits.
bool init_cell_from_text(cell* slot, bool negative, std::string_view currency,
                         std::string_view integral, std::string_view fraction);
// A cell with exactly these fields (serialized values).
cell* init_cell(cell* slot, bool negative, u32 currency_index, const u8* digits);
cell* push_new(bool negative, u32 currency_index, const u8* digits);

void register_type();

} // namespace zel::money
