// Build-time tool: lexes each given .zel source with the runtime's own lexer, serializes each
// loaded block in the compact form, checks that decoding gives back the very same cells, and
// writes a C++ file holding the boot payload: a directory of module paths and the serialized
// modules, compressed with the payload's LZ codec.
//
// Payload layout (before compression), little-endian: CRC-32 of the rest (u32), module count
// (u32); per module its path length (u32), the path, the serialized data's length (u32), the
// data. The CRC makes any damage to the payload fail start-up instead of changing the library.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "lexer/lz.hpp"
#include "lexer/zelbin.hpp"
#include "runtime/checksum.hpp"
#include "runtime/embedded.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/startup.hpp"

// The tool runs no library start-up: the payload it makes is not its own.
namespace embedded {
const unsigned char payload[] = {0};
const std::size_t payload_size = 0;
} // namespace embedded

using namespace zel;

namespace {

void put_u32(std::vector<u8>& out, u32 v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(v >> (8 * i)));
}

// The same cells: headers and payload words alike, series compared by content (a node id may
// differ), down to every nested series.
bool same(const cell* a, const cell* b, int depth, std::string* where) {
    if (depth > 10000) return false;
    u32 t = type_of(a);
    if (a->header != b->header) {
        *where = "header " + std::to_string(a->header) + " vs " + std::to_string(b->header);
        return false;
    }
    bool series = is_any_block_type(t) || is_any_string_type(t) || t == type_id::binary ||
                  t == type_id::bitset || t == type_id::vector || t == type_id::map;
    if (!series) {
        bool ok = a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
        if (!ok)
            *where = "payload of a value of type " + std::to_string(t) + ": " +
                     std::to_string(a->w1) + " " + std::to_string(a->w2) + " " +
                     std::to_string(a->w3) + " vs " + std::to_string(b->w1) + " " +
                     std::to_string(b->w2) + " " + std::to_string(b->w3);
        return ok;
    }
    if (a->w1 != b->w1) return false;
    series_buffer* x = buffer_of(a->w2);
    series_buffer* y = buffer_of(b->w2);
    if (unit_of(x) != unit_of(y) || used_bytes(x) != used_bytes(y) ||
        (x->flags & ~(buffer_flag::mark | buffer_flag::outside | buffer_flag::big)) !=
            (y->flags & ~(buffer_flag::mark | buffer_flag::outside | buffer_flag::big))) {
        *where = "series of type " + std::to_string(t);
        return false;
    }
    if (!is_any_block_type(t) && t != type_id::map)
        return std::memcmp(head_ptr(x), head_ptr(y), used_bytes(x)) == 0;
    u32 n = used_units(x);
    for (u32 i = 0; i < n; i++)
        if (!same(head_cell(buffer_of(a->w2)) + i, head_cell(buffer_of(b->w2)) + i, depth + 1,
                  where))
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: payload OUT ROOT [FILE...]\n");
        return 2;
    }
    std::string root = argv[2];
    std::vector<u8> payload;
    put_u32(payload, static_cast<u32>(argc - 3));
    try {
        startup::init_core();
        for (int i = 3; i < argc; i++) {
            std::ifstream in(argv[i], std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "payload: cannot read %s\n", argv[i]);
                return 1;
            }
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            std::string path = argv[i];
            if (path.compare(0, root.size(), root) == 0) path = path.substr(root.size());
            while (!path.empty() && path[0] == '/') path.erase(0, 1);

            cell* base = stack::top;
            cell none{type_id::none, 0, 0, 0};
            cell* code = stack::push_value(&none);
            lexer::scan_options options;
            u32 consumed = 0;
            lexer::scan_utf8(code, reinterpret_cast<const u8*>(text.data()),
                             static_cast<u32>(text.size()), options, &consumed);
            std::vector<u8> data = zelbin::encode_bytes(code, true);

            // Decoding must give back the very cells the lexer made.
            cell* back = block::push_new(1);
            zelbin::decode(data.data(), data.size(), back, back);
            std::string where;
            series_buffer* bb = buffer_of(back->w2);
            if (used_units(bb) != 1 || !same(code, head_cell(bb), 0, &where)) {
                std::fprintf(stderr, "payload: %s does not round-trip (%s)\n", path.c_str(),
                             where.c_str());
                return 1;
            }
            stack::top = base;

            put_u32(payload, static_cast<u32>(path.size()));
            payload.insert(payload.end(), path.begin(), path.end());
            put_u32(payload, static_cast<u32>(data.size()));
            payload.insert(payload.end(), data.begin(), data.end());
        }
    } catch (const unwind&) {
        std::fprintf(stderr, "payload: a source failed to load or to serialize (error code %u)\n",
                     error::last_code());
        return 1;
    }
    u32 crc = checksum::crc32(payload.data(), payload.size());
    std::vector<u8> framed;
    put_u32(framed, crc);
    framed.insert(framed.end(), payload.begin(), payload.end());
    payload.swap(framed);
    auto packed = lz::compress(payload.data(), payload.size());
    if (!packed) {
        std::fprintf(stderr, "payload: the payload does not compress\n");
        return 1;
    }
    auto check = lz::decompress(packed->data(), packed->size(), payload.size());
    if (!check || *check != payload) {
        std::fprintf(stderr, "payload: the compressed payload does not expand back\n");
        return 1;
    }

    std::ostringstream out;
    out << "// Generated by tools/payload: the boot payload (" << payload.size() << " bytes, "
        << packed->size()
        << " compressed).\n"
           "#include \"runtime/embedded.hpp\"\nnamespace embedded {\n"
           "alignas(8) const unsigned char payload[] = {";
    for (std::size_t k = 0; k < packed->size(); k++) {
        if (k % 24 == 0) out << "\n";
        out << static_cast<unsigned>((*packed)[k]) << ",";
    }
    out << "};\nconst std::size_t payload_size = " << packed->size() << ";\n}\n";
    std::string text = out.str();
    std::ifstream old(argv[1], std::ios::binary);
    std::string prev((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>());
    if (prev != text) std::ofstream(argv[1], std::ios::binary) << text;
    return 0;
}
