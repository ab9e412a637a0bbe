// Shared constants of the serialized-value writer and reader.
#pragma once
#include <cstdint>

namespace zel::zelbin::format {

constexpr char magic[6] = {'Z', 'E', 'L', 'B', 'I', 'N'};
constexpr std::uint8_t version = 2;

namespace flag {
constexpr std::uint8_t compact = 1, compressed = 2, symbols = 4;
}

// Compact prefix and head bytes.
constexpr std::uint8_t newline = 0xC0, reference = 0xC1, logic_true = 0xC2, logic_false = 0xC3,
                       assignment = 0xC4, back_reference = 0xFF, small_integer = 0x80;
constexpr std::uint8_t head_flag = 0x40;

// Plain header word bits.
namespace plain {
constexpr std::uint32_t newline = 0x80000000u, reference = 1u << 19, money_sign = 1u << 22,
                        complemented = 1u << 23, change_record = 1u << 24, global = 1u << 25;
constexpr int unit_shift = 8, tuple_shift = 8, wrapped_shift = 16, context_shift = 26;
} // namespace plain

// Context flags (the compact flags byte; shifted by context_shift in a plain header word).
namespace context_bits {
constexpr std::uint32_t kind_mask = 3, stack = 4, object = 8, values = 16;
}

// The nesting a reader or writer follows before it gives up. The reader keeps a cell on the data
// stack for every open level; this leaves most of the data stack's 20,000 cells to the caller, so
// that what the writer writes the reader can read back.
constexpr std::uint32_t max_depth = 5000;
constexpr std::uint32_t max_path = 65536;

} // namespace zel::zelbin::format
