#include "host/core/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tovrel::host {

Json& Json::operator[](const std::string& key) {
  if (!isObject()) value_ = Object{};
  auto& obj = std::get<Object>(value_);
  for (auto& [k, v] : obj)
    if (k == key) return v;
  obj.emplace_back(key, Json());
  return obj.back().second;
}

void Json::push(Json v) {
  if (!isArray()) value_ = Array{};
  std::get<Array>(value_).push_back(std::move(v));
}

const Json* Json::find(const std::string& key) const {
  if (!isObject()) return nullptr;
  for (const auto& [k, v] : std::get<Object>(value_))
    if (k == key) return &v;
  return nullptr;
}

std::size_t Utf8Length(const std::string& s, std::size_t k) {
  const auto c = static_cast<unsigned char>(s[k]);
  std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (n == 0 || k + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[k + i]) & 0xC0) != 0x80) return 0;
  return n;
}

std::string JsonQuote(const std::string& s) {
  std::string out = "\"";
  for (std::size_t k = 0; k < s.size(); ++k) {
    const auto c = static_cast<unsigned char>(s[k]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c >= 0x80) {
          // UTF-8 (paths, user input) passes; other bytes are Windows-1252 texts of the
          // modules, written as Latin-1 code points.
          if (std::size_t n = Utf8Length(s, k)) {
            out.append(s, k, n);
            k += n - 1;
            break;
          }
        }
        if (c < 0x20 || c >= 0x80) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string ShortestDecimal(double v) {
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[40];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

double DecimalValue(float v) {
  if (!std::isfinite(v)) return static_cast<double>(v);
  char text[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(v));
    if (std::strtof(text, nullptr) == v) break;
  }
  return std::strtod(text, nullptr);
}

std::string HexText(const void* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(size * 2);
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

void Json::write(std::string& out) const {
  if (std::holds_alternative<std::nullptr_t>(value_)) {
    out += "null";
  } else if (auto* b = std::get_if<bool>(&value_)) {
    out += *b ? "true" : "false";
  } else if (auto* i = std::get_if<int64_t>(&value_)) {
    out += std::to_string(*i);
  } else if (auto* d = std::get_if<double>(&value_)) {
    if (!std::isfinite(*d)) {
      out += "null";
    } else {
      out += ShortestDecimal(*d);
    }
  } else if (auto* s = std::get_if<std::string>(&value_)) {
    out += JsonQuote(*s);
  } else if (auto* a = std::get_if<Array>(&value_)) {
    out += '[';
    for (std::size_t k = 0; k < a->size(); ++k) {
      if (k) out += ',';
      (*a)[k].write(out);
    }
    out += ']';
  } else if (auto* o = std::get_if<Object>(&value_)) {
    out += '{';
    bool first = true;
    for (const auto& [key, v] : *o) {
      if (!first) out += ',';
      first = false;
      out += JsonQuote(key);
      out += ':';
      v.write(out);
    }
    out += '}';
  }
}

std::string Json::dump() const {
  std::string out;
  write(out);
  return out;
}

}  // namespace tovrel::host
