// A small JSON reader and writer for the page bridge and the automation socket. Backend-private.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::json {

// One JSON value; objects keep their keys sorted.
struct Value {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Value> items;
  std::map<std::string, Value> fields;

  // The field `name` of an object, or a null value.
  const Value& operator[](const std::string& name) const;
  // The text of a string, the decimal form of a number, "true"/"false", else empty.
  std::string AsText() const;
};

// The outcome of a parse: ok, or the offset where the input stopped making sense.
struct ParseResult {
  bool ok = false;
  std::size_t offset = 0;
};

// Parses one JSON document (UTF-8). Nesting deeper than 64 levels is refused.
ParseResult Parse(std::string_view input, Value& out);
// A JSON string literal of UTF-8 text (with the quotes).
std::string Quote(std::string_view utf8);
// A JSON array of strings.
std::string QuoteList(const std::vector<std::string>& utf8Items);

}  // namespace platform::json
