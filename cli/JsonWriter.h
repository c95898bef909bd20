// A small writer of one JSON value on one line, with the escaping JSON asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clipwright::cli {

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member of the open object.
    JsonWriter& Key(std::string_view name);

    JsonWriter& String(std::string_view text);
    JsonWriter& Number(uint64_t value);
    // A number that is not finite has no JSON form and is written as null.
    JsonWriter& Number(double value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    template <typename T> JsonWriter& Optional(const std::optional<T>& value) {
        return value ? Value(*value) : Null();
    }
    // An empty text is written as null.
    JsonWriter& TextOrNull(std::string_view text) { return text.empty() ? Null() : String(text); }

    const std::string& Text() const { return text_; }

private:
    JsonWriter& Value(std::string_view text) { return String(text); }
    JsonWriter& Value(const std::string& text) { return String(text); }
    JsonWriter& Value(double value) { return Number(value); }
    JsonWriter& Value(bool value) { return Bool(value); }
    template <typename T> JsonWriter& Value(T value) { return Number(static_cast<uint64_t>(value)); }

    // A comma before every value or key but the first of its object or array.
    void Separate();
    JsonWriter& Close(char bracket);

    std::string text_;
    std::vector<bool> empty_; // per open object or array: nothing written in it yet
    bool afterKey_ = false;
};

// `text` as a JSON string, quotes included. Control characters are escaped, and bytes that are not
// UTF-8 (a file name may hold any) become U+FFFD, so the line is always valid JSON.
std::string JsonString(std::string_view text);

} // namespace clipwright::cli
