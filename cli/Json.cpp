#include "Json.h"

#include <cstdio>

namespace tarven::cli {
namespace {

// The length of the valid UTF-8 sequence starting at text[i], or 0. Overlong
// forms, surrogates and code points above U+10FFFF are not valid.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xbf;  // the allowed range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) length = 2;
    else if (lead >= 0xe0 && lead <= 0xef) length = 3;
    else if (lead >= 0xf0 && lead <= 0xf4) length = 4;
    else return 0;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
    if (i + length > text.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xbf) return 0;
    return length;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += char(byte);
            ++i;
        } else if (byte >= 0x20 && byte < 0x7f) {
            out += char(byte);
            ++i;
        } else if (const std::size_t length = byte >= 0x80 ? Utf8Length(text, i) : 0; length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(byte));
            out += escaped;
            ++i;
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Key(std::string_view key) {
    if (body_.size() > 1) body_ += ',';
    body_ += JsonQuote(key);
    body_ += ':';
    return *this;
}

JsonObject& JsonObject::Text(std::string_view key, std::string_view value) {
    Key(key).body_ += JsonQuote(value);
    return *this;
}

JsonObject& JsonObject::TextOrNull(std::string_view key, const std::optional<std::string>& value) {
    return value ? Text(key, *value) : Null(key);
}

JsonObject& JsonObject::NonEmptyOrNull(std::string_view key, const std::string& value) {
    return value.empty() ? Null(key) : Text(key, value);
}

JsonObject& JsonObject::Number(std::string_view key, long long value) {
    Key(key).body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Seconds(std::string_view key, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    Key(key).body_ += text;
    return *this;
}

JsonObject& JsonObject::Bool(std::string_view key, bool value) {
    Key(key).body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Null(std::string_view key) {
    Key(key).body_ += "null";
    return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
    Key(key).body_ += json;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + values[i];
    return out + "]";
}

}  // namespace tarven::cli
