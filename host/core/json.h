// A small JSON value and writer for the machine-readable reports of both hosts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tovrel::host {

class Json {
 public:
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::string, Json>>;  // keeps insertion order

  Json() : value_(nullptr) {}
  Json(std::nullptr_t) : value_(nullptr) {}
  Json(bool b) : value_(b) {}
  Json(int v) : value_(static_cast<int64_t>(v)) {}
  Json(long v) : value_(static_cast<int64_t>(v)) {}
  Json(long long v) : value_(static_cast<int64_t>(v)) {}
  Json(unsigned v) : value_(static_cast<int64_t>(v)) {}
  Json(unsigned long v) : value_(static_cast<int64_t>(v)) {}
  Json(unsigned long long v) : value_(static_cast<int64_t>(v)) {}
  Json(double v) : value_(v) {}
  Json(const char* s) : value_(std::string(s)) {}
  Json(std::string s) : value_(std::move(s)) {}
  Json(Array a) : value_(std::move(a)) {}
  Json(Object o) : value_(std::move(o)) {}

  static Json object() { return Json(Object{}); }
  static Json array() { return Json(Array{}); }

  // Object member (added when missing) and array append.
  Json& operator[](const std::string& key);
  void push(Json v);

  bool isObject() const { return std::holds_alternative<Object>(value_); }
  bool isArray() const { return std::holds_alternative<Array>(value_); }
  const Json* find(const std::string& key) const;
  const auto& value() const { return value_; }

  // Compact text; non-finite numbers are written as null.
  std::string dump() const;

 private:
  void write(std::string& out) const;
  std::variant<std::nullptr_t, bool, int64_t, double, std::string, Array, Object> value_;
};

// A JSON string: UTF-8 kept, other bytes above 0x7f (Windows-1252 texts) as \u00XX.
std::string JsonQuote(const std::string& s);

// Length of the well-formed UTF-8 sequence at s[k], 0 when there is none.
std::size_t Utf8Length(const std::string& s, std::size_t k);

// v with 15 significant digits, or up to 17 where 15 do not read back as v, trailing
// zeros dropped (1.25 is "1.25", 1000 is "1000"); "inf" and "-inf" for infinities.
std::string ShortestDecimal(double v);

// The double of the shortest decimal that reads back as the float v: 0.3995f gives 0.3995,
// not 0.39950001239776611.
double DecimalValue(float v);

// Bytes as lower-case hexadecimal digits.
std::string HexText(const void* data, std::size_t size);

}  // namespace tovrel::host
