// A small JSON writer for the harness report: values are appended in order, members and
// elements are separated automatically.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace harness {

class JsonWriter {
 public:
  void BeginObject() { Value(); out_ += '{'; first_.push_back(true); }
  void EndObject() { out_ += '}'; first_.pop_back(); }
  void BeginArray() { Value(); out_ += '['; first_.push_back(true); }
  void EndArray() { out_ += ']'; first_.pop_back(); }

  // The next value is this member of the current object.
  void Key(const char* key) {
    Separate();
    Quote(key);
    out_ += ':';
    afterKey_ = true;
  }

  void Int(long long v) { Value(); out_ += std::to_string(v); }
  void Bool(bool v) { Value(); out_ += v ? "true" : "false"; }
  void Null() { Value(); out_ += "null"; }
  void String(const std::string& s) { Value(); Quote(s); }
  void Hex(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
      s += digits[p[i] >> 4];
      s += digits[p[i] & 15];
    }
    String(s);
  }
  void Samples(const int16_t* samples, size_t count) {
    BeginArray();
    for (size_t i = 0; i < count; ++i) Int(samples[i]);
    EndArray();
  }

  const std::string& text() const { return out_; }

 private:
  void Separate() {
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
    }
  }
  void Value() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    Separate();
  }
  void Quote(const std::string& s) {
    out_ += '"';
    for (unsigned char c : s) {
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
          if (c < 0x20 || c >= 0x80) {  // texts are Windows-1252; their upper half as Latin-1
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out_ += buf;
          } else {
            out_ += static_cast<char>(c);
          }
      }
    }
    out_ += '"';
  }

  std::string out_;
  std::vector<bool> first_;
  bool afterKey_ = false;
};

}  // namespace harness
