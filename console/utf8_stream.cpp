// UTF-8 decoding byte by byte, following the well-formed byte sequences of the Unicode standard;
// each maximal ill-formed part becomes one marker.
#include "console/utf8_stream.hpp"

namespace zel::utf8_stream {

int decoder::start(u8 b, u32* out) {
    low_ = 0x80;
    high_ = 0xBF;
    if (b < 0x80) {
        out[0] = b;
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        code_ = b & 0x1F;
        need_ = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        code_ = b & 0x0F;
        need_ = 2;
        if (b == 0xE0) low_ = 0xA0;
        if (b == 0xED) high_ = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        code_ = b & 0x07;
        need_ = 3;
        if (b == 0xF0) low_ = 0x90;
        if (b == 0xF4) high_ = 0x8F;
    } else {
        out[0] = malformed;
        return 1;
    }
    return 0;
}

int decoder::feed(u8 b, u32 out[2]) {
    if (need_ == 0) return start(b, out);
    if (b < low_ || b > high_) {
        need_ = 0;
        out[0] = malformed;
        return 1 + start(b, out + 1);
    }
    code_ = (code_ << 6) | (b & 0x3F);
    low_ = 0x80;
    high_ = 0xBF;
    if (--need_ > 0) return 0;
    out[0] = code_;
    return 1;
}

int decoder::finish(u32 out[1]) {
    if (need_ == 0) return 0;
    need_ = 0;
    out[0] = malformed;
    return 1;
}

void append(std::string& out, u32 cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string encode(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) append(out, c);
    return out;
}

std::u32string decode(const std::string& bytes) {
    std::u32string out;
    decoder d;
    u32 cps[2];
    for (char c : bytes) {
        int n = d.feed(static_cast<u8>(c), cps);
        for (int i = 0; i < n; ++i) out += static_cast<char32_t>(cps[i]);
    }
    if (d.finish(cps)) out += static_cast<char32_t>(cps[0]);
    return out;
}

} // namespace zel::utf8_stream
