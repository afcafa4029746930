#include "text.h"

#include <cstdio>
#include <stdexcept>

#include "platform/utf16.h"

namespace volume_builder {
namespace {

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
    if (cp > 0x10FFFF) throw std::runtime_error("code point out of range");
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

void AppendUtf8(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, tarnwick::WriteCodePoint(bytes, cp));
}

// Reads one UTF-8 sequence at text[i]; advances i.
std::uint32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int extra = 0;
    std::uint32_t cp = 0;
    if (b0 < 0x80) { ++i; return b0; }
    if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; }
    else throw std::runtime_error("invalid UTF-8");
    if (text.size() - i <= static_cast<std::size_t>(extra)) throw std::runtime_error("truncated UTF-8");
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) throw std::runtime_error("invalid UTF-8");
        cp = (cp << 6) | (b & 0x3F);
    }
    i += 1 + extra;
    return cp;
}

// Finds the '}' that closes a repetition body starting at `from`, skipping
// escapes and nested repetitions.
std::size_t ClosingBrace(std::string_view text, std::size_t from) {
    int depth = 1;
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == '\\') { ++i; continue; }
        if (text[i] == '{') ++depth;
        if (text[i] == '}' && --depth == 0) return i;
    }
    throw std::runtime_error("unclosed '{' in name");
}

}  // namespace

std::u16string UnescapeName(std::string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size()) throw std::runtime_error("dangling '\\' in name");
            const char e = text[i + 1];
            i += 2;
            switch (e) {
                case '\\': out.push_back(u'\\'); break;
                case 's': out.push_back(u' '); break;
                case 't': out.push_back(u'\t'); break;
                case 'n': out.push_back(u'\n'); break;
                case 'r': out.push_back(u'\r'); break;
                case '#': out.push_back(u'#'); break;
                case '{': out.push_back(u'{'); break;
                case '}': out.push_back(u'}'); break;
                case 'u': {
                    if (i >= text.size() || text[i] != '{') throw std::runtime_error("\\u needs {HEX}");
                    const auto close = text.find('}', i);
                    if (close == std::string_view::npos) throw std::runtime_error("unclosed \\u{");
                    const std::string hex(text.substr(i + 1, close - i - 1));
                    if (hex.empty() || hex.size() > 6) throw std::runtime_error("bad \\u{HEX}");
                    const auto cp = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
                    if (cp >= 0xD800 && cp <= 0xDFFF) out.push_back(static_cast<char16_t>(cp));
                    else AppendCodePoint(out, cp);
                    i = close + 1;
                    break;
                }
                default: throw std::runtime_error(std::string("unknown escape \\") + e);
            }
        } else if (c == '{') {
            const auto star = text.find('*', i);
            if (star == std::string_view::npos) throw std::runtime_error("'{' needs {N*TEXT}");
            const std::string count(text.substr(i + 1, star - i - 1));
            const auto close = ClosingBrace(text, star + 1);
            const auto body = UnescapeName(text.substr(star + 1, close - star - 1));
            const auto n = std::stoul(count);
            for (unsigned long k = 0; k < n; ++k) out += body;
            i = close + 1;
        } else {
            AppendCodePoint(out, DecodeUtf8(text, i));
        }
    }
    return out;
}

std::string EscapeName(std::u16string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        // A lone surrogate is spelled out rather than replaced, so the name survives the round trip.
        const char32_t cp = tarnwick::NextCodePoint(name.data(), name.size(), i);
        if (tarnwick::IsSurrogate(cp)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%X}", static_cast<unsigned>(cp));
            out += buf;
            continue;
        }
        switch (cp) {
            case '\\': out += "\\\\"; continue;
            case '\t': out += "\\t"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '{': out += "\\{"; continue;
            case '}': out += "\\}"; continue;
            default: break;
        }
        if (cp < 0x20 || cp == 0x7F) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%X}", static_cast<unsigned>(cp));
            out += buf;
            continue;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ToUtf8(std::u16string_view name) { return tarnwick::Utf16ToUtf8(name); }

}  // namespace volume_builder
