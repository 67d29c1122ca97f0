// The JSON that tarven-link writes for scripts (--json, --report): strings
// quoted so that any byte a receiver or a file name carries survives, and a
// small builder for one object.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarven::cli {

// `text` as a JSON string, quotes included. Valid UTF-8 is kept as it is;
// control bytes, DEL, and bytes that are no part of valid UTF-8 (a receiver's
// Latin-1 text, a stray byte) become \u00XX, so a reader gets a valid
// document and can still tell which byte it was.
std::string JsonQuote(std::string_view text);

// One object, fields in the order they are added.
class JsonObject {
public:
    JsonObject& Text(std::string_view key, std::string_view value);
    // null when empty / absent.
    JsonObject& TextOrNull(std::string_view key, const std::optional<std::string>& value);
    JsonObject& NonEmptyOrNull(std::string_view key, const std::string& value);
    JsonObject& Number(std::string_view key, long long value);
    JsonObject& Seconds(std::string_view key, double value);  // three decimals
    JsonObject& Bool(std::string_view key, bool value);
    JsonObject& Null(std::string_view key);
    // An already formed JSON value (an object, an array).
    JsonObject& Raw(std::string_view key, std::string_view json);
    std::string Done() const { return body_ + "}"; }

private:
    JsonObject& Key(std::string_view key);
    std::string body_ = "{";
};

// "[a,b,c]" of already formed values.
std::string JsonArray(const std::vector<std::string>& values);

}  // namespace tarven::cli
