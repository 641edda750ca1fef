#include "platform/common/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace platform::json {
namespace {

constexpr int kMaxDepth = 64;

struct Parser {
  std::string_view in;
  std::size_t pos = 0;

  void Skip() {
    while (pos < in.size() && (in[pos] == ' ' || in[pos] == '\t' || in[pos] == '\n' || in[pos] == '\r'))
      ++pos;
  }
  bool Literal(std::string_view word) {
    if (in.substr(pos, word.size()) != word) return false;
    pos += word.size();
    return true;
  }
  static void AppendUtf8(std::string& out, unsigned cp) {
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
  bool Hex4(unsigned& out) {
    if (pos + 4 > in.size()) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = in[pos++];
      out <<= 4;
      if (c >= '0' && c <= '9') out |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') out |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') out |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  }
  bool String(std::string& out) {
    if (pos >= in.size() || in[pos] != '"') return false;
    ++pos;
    while (pos < in.size()) {
      const char c = in[pos++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos >= in.size()) return false;
      const char e = in[pos++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            unsigned low;
            if (pos + 2 <= in.size() && in[pos] == '\\' && in[pos + 1] == 'u') {
              pos += 2;
              if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else {
              cp = 0xFFFD;  // a lone surrogate
            }
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            cp = 0xFFFD;
          }
          AppendUtf8(out, cp);
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool Number(double& out) {
    const std::size_t start = pos;
    if (pos < in.size() && in[pos] == '-') ++pos;
    std::size_t digits = 0;
    while (pos < in.size() && in[pos] >= '0' && in[pos] <= '9') ++pos, ++digits;
    if (digits == 0) return false;
    if (pos < in.size() && in[pos] == '.') {
      ++pos;
      digits = 0;
      while (pos < in.size() && in[pos] >= '0' && in[pos] <= '9') ++pos, ++digits;
      if (digits == 0) return false;
    }
    if (pos < in.size() && (in[pos] == 'e' || in[pos] == 'E')) {
      ++pos;
      if (pos < in.size() && (in[pos] == '+' || in[pos] == '-')) ++pos;
      digits = 0;
      while (pos < in.size() && in[pos] >= '0' && in[pos] <= '9') ++pos, ++digits;
      if (digits == 0) return false;
    }
    out = std::strtod(std::string(in.substr(start, pos - start)).c_str(), nullptr);
    return true;
  }
  bool Any(Value& out, int depth) {
    if (depth > kMaxDepth) return false;
    Skip();
    if (pos >= in.size()) return false;
    const char c = in[pos];
    if (c == '{') {
      ++pos;
      out.kind = Value::Kind::Object;
      Skip();
      if (pos < in.size() && in[pos] == '}') return ++pos, true;
      for (;;) {
        Skip();
        std::string key;
        if (!String(key)) return false;
        Skip();
        if (pos >= in.size() || in[pos] != ':') return false;
        ++pos;
        Value item;
        if (!Any(item, depth + 1)) return false;
        out.fields[key] = std::move(item);
        Skip();
        if (pos < in.size() && in[pos] == ',') { ++pos; continue; }
        if (pos < in.size() && in[pos] == '}') return ++pos, true;
        return false;
      }
    }
    if (c == '[') {
      ++pos;
      out.kind = Value::Kind::Array;
      Skip();
      if (pos < in.size() && in[pos] == ']') return ++pos, true;
      for (;;) {
        Value item;
        if (!Any(item, depth + 1)) return false;
        out.items.push_back(std::move(item));
        Skip();
        if (pos < in.size() && in[pos] == ',') { ++pos; continue; }
        if (pos < in.size() && in[pos] == ']') return ++pos, true;
        return false;
      }
    }
    if (c == '"') {
      out.kind = Value::Kind::String;
      return String(out.text);
    }
    if (Literal("true")) { out.kind = Value::Kind::Bool; out.boolean = true; return true; }
    if (Literal("false")) { out.kind = Value::Kind::Bool; return true; }
    if (Literal("null")) return true;
    out.kind = Value::Kind::Number;
    return Number(out.number);
  }
};

}  // namespace

const Value& Value::operator[](const std::string& name) const {
  static const Value kNull;
  auto it = fields.find(name);
  return it == fields.end() ? kNull : it->second;
}

std::string Value::AsText() const {
  switch (kind) {
    case Kind::String: return text;
    case Kind::Bool: return boolean ? "true" : "false";
    case Kind::Number: {
      if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e15)
        return std::to_string(static_cast<long long>(number));
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", number);
      return buffer;
    }
    default: return {};
  }
}

ParseResult Parse(std::string_view input, Value& out) {
  Parser parser{input};
  out = Value{};
  if (!parser.Any(out, 0)) return {false, parser.pos};
  parser.Skip();
  if (parser.pos != input.size()) return {false, parser.pos};
  return {true, parser.pos};
}

std::string Quote(std::string_view utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += ch;
        }
    }
  }
  // Line and paragraph separators are valid JSON but end a line in older script engines.
  std::string safe;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out.compare(i, 3, "\xE2\x80\xA8") == 0) { safe += "\\u2028"; i += 2; }
    else if (out.compare(i, 3, "\xE2\x80\xA9") == 0) { safe += "\\u2029"; i += 2; }
    else safe += out[i];
  }
  return safe + "\"";
}

std::string QuoteList(const std::vector<std::string>& utf8Items) {
  std::string out = "[";
  for (std::size_t i = 0; i < utf8Items.size(); ++i) {
    if (i) out += ",";
    out += Quote(utf8Items[i]);
  }
  return out + "]";
}

}  // namespace platform::json
