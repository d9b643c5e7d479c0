// Reader for the DIALOG/DIALOGEX subset of resource scripts: a small preprocessor
// (#define, #undef, #if/#ifdef/#ifndef/#elif/#else/#endif; #include and #pragma are
// skipped, the Windows names come from a built-in table), a tokenizer, and a parser
// that keeps dialogs and skips every other resource.

#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "platform/portable/rc_script.h"

namespace tovrel::portable {
namespace {

// Names a script may use, beside its own #defines.
const std::unordered_map<std::string, int64_t>& BuiltinNames() {
  static const std::unordered_map<std::string, int64_t> names = {
      // Window styles
      {"WS_OVERLAPPED", WS_OVERLAPPED}, {"WS_POPUP", WS_POPUP}, {"WS_CHILD", WS_CHILD},
      {"WS_CHILDWINDOW", WS_CHILD}, {"WS_MINIMIZE", 0x20000000L}, {"WS_VISIBLE", WS_VISIBLE},
      {"WS_DISABLED", WS_DISABLED}, {"WS_CLIPSIBLINGS", 0x04000000L}, {"WS_CLIPCHILDREN", 0x02000000L},
      {"WS_MAXIMIZE", 0x01000000L}, {"WS_CAPTION", WS_CAPTION}, {"WS_BORDER", WS_BORDER},
      {"WS_DLGFRAME", WS_DLGFRAME}, {"WS_VSCROLL", WS_VSCROLL}, {"WS_HSCROLL", WS_HSCROLL},
      {"WS_SYSMENU", WS_SYSMENU}, {"WS_THICKFRAME", 0x00040000L}, {"WS_SIZEBOX", 0x00040000L},
      {"WS_GROUP", WS_GROUP}, {"WS_TABSTOP", WS_TABSTOP}, {"WS_MINIMIZEBOX", 0x00020000L},
      {"WS_MAXIMIZEBOX", 0x00010000L}, {"WS_OVERLAPPEDWINDOW", 0x00CF0000L}, {"WS_POPUPWINDOW", 0x80880000L},
      // Extended window styles
      {"WS_EX_DLGMODALFRAME", 0x1}, {"WS_EX_NOPARENTNOTIFY", 0x4}, {"WS_EX_TOPMOST", 0x8},
      {"WS_EX_ACCEPTFILES", 0x10}, {"WS_EX_TRANSPARENT", 0x20}, {"WS_EX_TOOLWINDOW", 0x80},
      {"WS_EX_WINDOWEDGE", 0x100}, {"WS_EX_CLIENTEDGE", 0x200}, {"WS_EX_CONTEXTHELP", 0x400},
      {"WS_EX_RIGHT", 0x1000}, {"WS_EX_LEFT", 0}, {"WS_EX_STATICEDGE", 0x20000}, {"WS_EX_APPWINDOW", 0x40000},
      {"WS_EX_CONTROLPARENT", 0x10000},
      // Dialog styles
      {"DS_ABSALIGN", 0x1}, {"DS_SYSMODAL", 0x2}, {"DS_3DLOOK", DS_3DLOOK}, {"DS_FIXEDSYS", 0x8},
      {"DS_NOFAILCREATE", 0x10}, {"DS_LOCALEDIT", 0x20}, {"DS_SETFONT", DS_SETFONT},
      {"DS_MODALFRAME", DS_MODALFRAME}, {"DS_NOIDLEMSG", 0x100}, {"DS_SETFOREGROUND", 0x200},
      {"DS_CONTROL", 0x400}, {"DS_CENTER", DS_CENTER}, {"DS_CENTERMOUSE", 0x1000},
      {"DS_CONTEXTHELP", 0x2000}, {"DS_SHELLFONT", 0x48},
      // Buttons
      {"BS_PUSHBUTTON", BS_PUSHBUTTON}, {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON}, {"BS_CHECKBOX", BS_CHECKBOX},
      {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX}, {"BS_RADIOBUTTON", BS_RADIOBUTTON}, {"BS_3STATE", BS_3STATE},
      {"BS_AUTO3STATE", BS_AUTO3STATE}, {"BS_GROUPBOX", BS_GROUPBOX}, {"BS_USERBUTTON", 0x8},
      {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON}, {"BS_OWNERDRAW", 0xB}, {"BS_TYPEMASK", BS_TYPEMASK},
      {"BS_LEFTTEXT", BS_LEFTTEXT}, {"BS_RIGHTBUTTON", BS_LEFTTEXT}, {"BS_TEXT", 0}, {"BS_ICON", 0x40},
      {"BS_BITMAP", 0x80}, {"BS_LEFT", 0x100}, {"BS_RIGHT", 0x200}, {"BS_CENTER", 0x300}, {"BS_TOP", 0x400},
      {"BS_BOTTOM", 0x800}, {"BS_VCENTER", 0xC00}, {"BS_PUSHLIKE", 0x1000}, {"BS_MULTILINE", 0x2000},
      {"BS_NOTIFY", 0x4000}, {"BS_FLAT", 0x8000},
      // Edits
      {"ES_LEFT", ES_LEFT}, {"ES_CENTER", ES_CENTER}, {"ES_RIGHT", ES_RIGHT}, {"ES_MULTILINE", ES_MULTILINE},
      {"ES_UPPERCASE", 0x8}, {"ES_LOWERCASE", 0x10}, {"ES_PASSWORD", 0x20}, {"ES_AUTOVSCROLL", 0x40},
      {"ES_AUTOHSCROLL", ES_AUTOHSCROLL}, {"ES_NOHIDESEL", 0x100}, {"ES_OEMCONVERT", 0x400},
      {"ES_READONLY", ES_READONLY}, {"ES_WANTRETURN", 0x1000}, {"ES_NUMBER", ES_NUMBER},
      // Statics
      {"SS_LEFT", SS_LEFT}, {"SS_CENTER", SS_CENTER}, {"SS_RIGHT", SS_RIGHT}, {"SS_ICON", 0x3},
      {"SS_BLACKRECT", 0x4}, {"SS_GRAYRECT", 0x5}, {"SS_WHITERECT", 0x6}, {"SS_BLACKFRAME", 0x7},
      {"SS_GRAYFRAME", 0x8}, {"SS_WHITEFRAME", 0x9}, {"SS_USERITEM", 0xA}, {"SS_SIMPLE", 0xB},
      {"SS_LEFTNOWORDWRAP", 0xC}, {"SS_OWNERDRAW", 0xD}, {"SS_BITMAP", 0xE}, {"SS_ENHMETAFILE", 0xF},
      {"SS_ETCHEDHORZ", 0x10}, {"SS_ETCHEDVERT", 0x11}, {"SS_ETCHEDFRAME", 0x12}, {"SS_TYPEMASK", 0x1F},
      {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200}, {"SS_RIGHTJUST", 0x400},
      {"SS_REALSIZEIMAGE", 0x800}, {"SS_SUNKEN", SS_SUNKEN}, {"SS_ENDELLIPSIS", 0x4000},
      {"SS_PATHELLIPSIS", 0x8000}, {"SS_WORDELLIPSIS", 0xC000},
      // Combo and list boxes, scroll bars
      {"CBS_SIMPLE", CBS_SIMPLE}, {"CBS_DROPDOWN", CBS_DROPDOWN}, {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST},
      {"CBS_OWNERDRAWFIXED", 0x10}, {"CBS_OWNERDRAWVARIABLE", 0x20}, {"CBS_AUTOHSCROLL", 0x40},
      {"CBS_OEMCONVERT", 0x80}, {"CBS_SORT", CBS_SORT}, {"CBS_HASSTRINGS", CBS_HASSTRINGS},
      {"CBS_NOINTEGRALHEIGHT", 0x400}, {"CBS_DISABLENOSCROLL", 0x800}, {"CBS_UPPERCASE", 0x2000},
      {"CBS_LOWERCASE", 0x4000},
      {"LBS_NOTIFY", 0x1}, {"LBS_SORT", 0x2}, {"LBS_NOREDRAW", 0x4}, {"LBS_MULTIPLESEL", 0x8},
      {"LBS_HASSTRINGS", 0x40}, {"LBS_USETABSTOPS", 0x80}, {"LBS_NOINTEGRALHEIGHT", 0x100},
      {"LBS_MULTICOLUMN", 0x200}, {"LBS_WANTKEYBOARDINPUT", 0x400}, {"LBS_EXTENDEDSEL", 0x800},
      {"LBS_DISABLENOSCROLL", 0x1000}, {"LBS_NOSEL", 0x4000}, {"LBS_STANDARD", 0xA00003},
      {"SBS_HORZ", 0x0}, {"SBS_VERT", 0x1},
      // Common controls the scripts use
      {"TCS_TABS", 0x0}, {"TCS_MULTILINE", 0x200}, {"TCS_FIXEDWIDTH", 0x400}, {"TCS_BUTTONS", 0x100},
      {"TCS_FOCUSNEVER", 0x8000}, {"TBS_AUTOTICKS", 0x1}, {"TBS_VERT", 0x2}, {"TBS_HORZ", 0x0},
      {"TBS_TOP", 0x4}, {"TBS_BOTTOM", 0x0}, {"TBS_BOTH", 0x8}, {"TBS_NOTICKS", 0x10},
      {"UDS_WRAP", 0x1}, {"UDS_SETBUDDYINT", 0x2}, {"UDS_ALIGNRIGHT", 0x4}, {"UDS_ALIGNLEFT", 0x8},
      {"UDS_AUTOBUDDY", 0x10}, {"UDS_ARROWKEYS", 0x20}, {"UDS_HORZ", 0x40}, {"UDS_NOTHOUSANDS", 0x80},
      {"PBS_SMOOTH", 0x1},
      // Standard ids
      {"IDOK", IDOK}, {"IDCANCEL", IDCANCEL}, {"IDABORT", IDABORT}, {"IDRETRY", IDRETRY},
      {"IDIGNORE", IDIGNORE}, {"IDYES", IDYES}, {"IDNO", IDNO}, {"IDCLOSE", 8}, {"IDHELP", 9},
      {"IDC_STATIC", IDC_STATIC},
      // Languages
      {"LANG_NEUTRAL", 0x00}, {"LANG_ENGLISH", 0x09}, {"LANG_GERMAN", 0x07}, {"LANG_FRENCH", 0x0C},
      {"LANG_ITALIAN", 0x10}, {"LANG_SPANISH", 0x0A}, {"LANG_DUTCH", 0x13},
      {"SUBLANG_NEUTRAL", 0x00}, {"SUBLANG_DEFAULT", 0x01}, {"SUBLANG_SYS_DEFAULT", 0x02},
      {"SUBLANG_ENGLISH_US", 0x01}, {"SUBLANG_ENGLISH_UK", 0x02}, {"SUBLANG_GERMAN", 0x01},
      {"SUBLANG_FRENCH", 0x01}, {"SUBLANG_ITALIAN", 0x01}, {"SUBLANG_SPANISH", 0x01}, {"SUBLANG_DUTCH", 0x01},
  };
  return names;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

struct ParseError : std::runtime_error {
  ParseError(int line, const std::string& what) : std::runtime_error("line " + std::to_string(line) + ": " + what) {}
};

// ---- Tokens ----------------------------------------------------------------------

enum class Tok { Ident, Number, String, Punct, End };

struct Token {
  Tok type = Tok::End;
  std::string text;   // identifier, string contents or punctuation
  int64_t value = 0;  // numbers
  int line = 0;
};

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Splits one logical line (comments already removed) into tokens.
void Tokenize(std::string_view text, int line, std::vector<Token>& out) {
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    Token t;
    t.line = line;
    if (c == '"' || ((c == 'L' || c == 'l') && i + 1 < text.size() && text[i + 1] == '"')) {
      if (c != '"') ++i;
      ++i;
      t.type = Tok::String;
      bool closed = false;
      while (i < text.size()) {
        char d = text[i++];
        if (d == '"') {
          if (i < text.size() && text[i] == '"') {  // "" stands for one quote
            t.text += '"';
            ++i;
            continue;
          }
          closed = true;
          break;
        }
        if (d == '\\' && i < text.size()) {
          char e = text[i++];
          switch (e) {
            case 'n': t.text += '\n'; break;
            case 't': t.text += '\t'; break;
            case 'r': t.text += '\r'; break;
            case 'a': t.text += '\a'; break;
            case '0': t.text += '\0'; break;
            case '\\': t.text += '\\'; break;
            case '"': t.text += '"'; break;
            default: t.text += '\\'; t.text += e; break;
          }
          continue;
        }
        t.text += d;
      }
      if (!closed) throw ParseError(line, "unterminated string");
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t start = i;
      int base = 10;
      if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
      }
      size_t digits = i;
      while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])) &&
             (base == 16 || std::isdigit(static_cast<unsigned char>(text[i]))))
        ++i;
      if (i == digits) throw ParseError(line, "bad number " + std::string(text.substr(start, i - start + 1)));
      t.type = Tok::Number;
      t.value = static_cast<int64_t>(std::strtoull(std::string(text.substr(digits, i - digits)).c_str(), nullptr, base));
      while (i < text.size() && (text[i] == 'L' || text[i] == 'l' || text[i] == 'U' || text[i] == 'u')) ++i;
      if (i < text.size() && IsIdentChar(text[i]))
        throw ParseError(line, "bad number " + std::string(text.substr(start, i - start + 1)));
      t.text = std::string(text.substr(start, i - start));
    } else if (IsIdentStart(c)) {
      size_t start = i;
      while (i < text.size() && IsIdentChar(text[i])) ++i;
      t.type = Tok::Ident;
      t.text = std::string(text.substr(start, i - start));
    } else {
      static const char* const kTwoChar[] = {"<<", ">>", "<=", ">=", "==", "!=", "&&", "||"};
      t.type = Tok::Punct;
      t.text = std::string(1, c);
      for (const char* two : kTwoChar) {
        if (text.substr(i, 2) == two) t.text = two;
      }
      i += t.text.size();
    }
    out.push_back(std::move(t));
  }
}

// ---- Expressions -------------------------------------------------------------------

// Evaluates C-style integer expressions over a token range; identifiers go through
// `resolve`. Used for #if and for every number of a script.
class Expression {
 public:
  using Resolver = std::function<int64_t(const Token&)>;
  Expression(const std::vector<Token>& tokens, size_t& pos, Resolver resolve)
      : tokens_(tokens), pos_(pos), resolve_(std::move(resolve)) {}

  int64_t Parse(int minPrecedence = 0) {
    int64_t left = Unary();
    for (;;) {
      const Token& t = Peek();
      int prec = t.type == Tok::Punct ? Precedence(t.text) : -1;
      if (prec < minPrecedence || prec < 0) return left;
      std::string op = t.text;
      ++pos_;
      int64_t right = Parse(prec + 1);
      left = Apply(op, left, right, t.line);
    }
  }

  // The binary operators a top-level style expression may use besides "|".
  void SetStopAtOr(bool stop) { stopAtOr_ = stop; }

 private:
  const Token& Peek() const {
    static const Token end;
    return pos_ < tokens_.size() ? tokens_[pos_] : end;
  }

  int Precedence(const std::string& op) const {
    if (op == "||") return 1;
    if (op == "&&") return 2;
    if (op == "|") return stopAtOr_ ? -1 : 3;
    if (op == "^") return 4;
    if (op == "&") return 5;
    if (op == "==" || op == "!=") return 6;
    if (op == "<" || op == ">" || op == "<=" || op == ">=") return 7;
    if (op == "<<" || op == ">>") return 8;
    if (op == "+" || op == "-") return 9;
    if (op == "*" || op == "/" || op == "%") return 10;
    return -1;
  }

  static int64_t Apply(const std::string& op, int64_t a, int64_t b, int line) {
    if (op == "||") return (a || b) ? 1 : 0;
    if (op == "&&") return (a && b) ? 1 : 0;
    if (op == "|") return a | b;
    if (op == "^") return a ^ b;
    if (op == "&") return a & b;
    if (op == "==") return a == b;
    if (op == "!=") return a != b;
    if (op == "<") return a < b;
    if (op == ">") return a > b;
    if (op == "<=") return a <= b;
    if (op == ">=") return a >= b;
    if (op == "<<") return static_cast<int64_t>(static_cast<uint64_t>(a) << (b & 63));
    if (op == ">>") return a >> (b & 63);
    if (op == "+") return a + b;
    if (op == "-") return a - b;
    if (op == "*") return a * b;
    if (b == 0) throw ParseError(line, "division by zero");
    return op == "/" ? a / b : a % b;
  }

  int64_t Unary() {
    const Token& t = Peek();
    if (t.type == Tok::End) throw ParseError(tokens_.empty() ? 0 : tokens_.back().line, "expression expected");
    if (t.type == Tok::Punct) {
      ++pos_;
      if (t.text == "-") return -Unary();
      if (t.text == "+") return Unary();
      if (t.text == "~") return ~Unary();
      if (t.text == "!") return !Unary();
      if (t.text == "(") {
        bool stop = stopAtOr_;
        stopAtOr_ = false;
        int64_t v = Parse();
        stopAtOr_ = stop;
        if (Peek().type != Tok::Punct || Peek().text != ")") throw ParseError(t.line, "')' expected");
        ++pos_;
        return v;
      }
      throw ParseError(t.line, "unexpected '" + t.text + "'");
    }
    if (t.type == Tok::Number) {
      ++pos_;
      return t.value;
    }
    if (t.type == Tok::Ident) {
      ++pos_;
      return resolve_(t);
    }
    throw ParseError(t.line, "number expected, found string");
  }

  const std::vector<Token>& tokens_;
  size_t& pos_;
  Resolver resolve_;
  bool stopAtOr_ = false;
};

// ---- Preprocessor ----------------------------------------------------------------------

struct Macros {
  std::map<std::string, std::vector<Token>> defined;

  bool IsDefined(const std::string& name) const { return defined.count(name) != 0; }
};

// Removes comments, joins continued lines and runs the directives; returns the tokens
// of the lines that stay.
std::vector<Token> Preprocess(std::string_view text, Macros& macros) {
  // Strip comments while keeping line breaks (and so the line numbers).
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '"') {
      size_t j = i + 1;
      while (j < text.size() && text[j] != '"' && text[j] != '\n') {
        if (text[j] == '\\' && j + 1 < text.size() && text[j + 1] != '\n') ++j;
        ++j;
      }
      if (j < text.size() && text[j] == '"') ++j;
      clean.append(text.substr(i, j - i));
      i = j;
    } else if (text.substr(i, 2) == "//") {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (text.substr(i, 2) == "/*") {
      i += 2;
      while (i < text.size() && text.substr(i, 2) != "*/") {
        if (text[i] == '\n') clean += '\n';
        ++i;
      }
      i = std::min(text.size(), i + 2);
      clean += ' ';
    } else {
      clean += text[i++];
    }
  }

  struct Conditional {
    bool active;      // lines of the current branch are kept
    bool taken;       // some branch was already kept
    bool outerActive;
  };
  std::vector<Conditional> conditions;
  auto active = [&] { return conditions.empty() || conditions.back().active; };

  auto evaluate = [&](const std::vector<Token>& line, int lineNo) {
    // Replace defined(X) / defined X first, then macros, then unknown names by 0.
    std::vector<Token> expanded;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i].type == Tok::Ident && line[i].text == "defined") {
        bool paren = i + 1 < line.size() && line[i + 1].text == "(";
        size_t nameAt = i + (paren ? 2 : 1);
        if (nameAt >= line.size() || line[nameAt].type != Tok::Ident) throw ParseError(lineNo, "bad defined()");
        Token t;
        t.type = Tok::Number;
        t.value = macros.IsDefined(line[nameAt].text) ? 1 : 0;
        t.line = lineNo;
        expanded.push_back(t);
        i = nameAt + (paren ? 1 : 0);
      } else {
        expanded.push_back(line[i]);
      }
    }
    std::function<int64_t(const Token&, int)> resolve = [&](const Token& t, int depth) -> int64_t {
      auto it = macros.defined.find(t.text);
      if (it == macros.defined.end() || it->second.empty() || depth > 32) return 0;
      size_t p = 0;
      Expression e(it->second, p, [&](const Token& inner) { return resolve(inner, depth + 1); });
      return e.Parse();
    };
    size_t pos = 0;
    if (expanded.empty()) throw ParseError(lineNo, "#if without a condition");
    Expression e(expanded, pos, [&](const Token& t) { return resolve(t, 0); });
    int64_t v = e.Parse();
    if (pos != expanded.size()) throw ParseError(lineNo, "bad #if condition");
    return v != 0;
  };

  std::vector<Token> tokens;
  size_t start = 0;
  int lineNo = 0;
  while (start < clean.size()) {
    // One logical line: physical lines joined by a trailing backslash.
    std::string logical;
    int firstLine = lineNo + 1;
    for (;;) {
      size_t end = clean.find('\n', start);
      if (end == std::string::npos) end = clean.size();
      std::string_view physical(clean.data() + start, end - start);
      ++lineNo;
      start = end + 1;
      if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
      if (!physical.empty() && physical.back() == '\\' && start < clean.size()) {
        logical.append(physical.substr(0, physical.size() - 1));
        logical += ' ';
        continue;
      }
      logical.append(physical);
      break;
    }
    size_t first = logical.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    if (logical[first] != '#') {
      if (active()) Tokenize(logical, firstLine, tokens);
      continue;
    }
    // A directive.
    std::vector<Token> line;
    Tokenize(std::string_view(logical).substr(first + 1), firstLine, line);
    if (line.empty()) continue;
    const std::string directive = line[0].text;
    std::vector<Token> rest(line.begin() + 1, line.end());
    if (directive == "if" || directive == "ifdef" || directive == "ifndef") {
      bool outer = active();
      bool value = false;
      if (outer) {
        if (directive == "if") {
          value = evaluate(rest, firstLine);
        } else {
          if (rest.empty() || rest[0].type != Tok::Ident) throw ParseError(firstLine, "#" + directive + " needs a name");
          value = macros.IsDefined(rest[0].text) == (directive == "ifdef");
        }
      }
      conditions.push_back({outer && value, outer && value, outer});
    } else if (directive == "elif") {
      if (conditions.empty()) throw ParseError(firstLine, "#elif without #if");
      Conditional& c = conditions.back();
      if (c.outerActive && !c.taken && evaluate(rest, firstLine)) {
        c.active = true;
        c.taken = true;
      } else {
        c.active = false;
      }
    } else if (directive == "else") {
      if (conditions.empty()) throw ParseError(firstLine, "#else without #if");
      Conditional& c = conditions.back();
      c.active = c.outerActive && !c.taken;
      c.taken = true;
    } else if (directive == "endif") {
      if (conditions.empty()) throw ParseError(firstLine, "#endif without #if");
      conditions.pop_back();
    } else if (!active()) {
      continue;
    } else if (directive == "define") {
      if (rest.empty() || rest[0].type != Tok::Ident) throw ParseError(firstLine, "#define needs a name");
      // Function-like macros are kept by name only (defined(), #ifdef) and never expanded.
      bool functionLike = rest.size() > 1 && rest[1].text == "(" &&
                          logical.find(rest[0].text + "(") != std::string::npos;
      macros.defined[rest[0].text] =
          functionLike ? std::vector<Token>{} : std::vector<Token>(rest.begin() + 1, rest.end());
    } else if (directive == "undef") {
      if (!rest.empty()) macros.defined.erase(rest[0].text);
    } else if (directive == "error") {
      throw ParseError(firstLine, "#error in script");
    }
    // #include, #pragma, #line and anything else: nothing to do here.
  }
  if (!conditions.empty()) throw ParseError(lineNo, "#if without #endif");
  Token end;
  end.line = lineNo;
  tokens.push_back(end);
  return tokens;
}

// ---- Parser -----------------------------------------------------------------------------

class Parser {
 public:
  Parser(std::vector<Token> tokens, const Macros& macros) : t_(std::move(tokens)), macros_(macros) {}

  ResourceScript Parse() {
    ResourceScript script;
    while (Peek().type != Tok::End) {
      const Token& first = Next();
      std::string word = first.type == Tok::Ident ? Upper(first.text) : "";
      if (word == "STRINGTABLE") {
        SkipResource(first);
      } else if (word == "LANGUAGE") {
        Number();
        Expect(",");
        Number();
      } else if (word == "VERSION" || word == "CHARACTERISTICS") {
        Number();
      } else {
        const Token& type = Next();
        if (type.type != Tok::Ident && type.type != Tok::Number)
          throw ParseError(type.line, "resource type expected after " + first.text);
        std::string typeWord = Upper(type.text);
        if (type.type == Tok::Ident && (typeWord == "DIALOG" || typeWord == "DIALOGEX")) {
          script.dialogs.push_back(ParseDialog(first, typeWord == "DIALOGEX"));
        } else {
          SkipResource(type);
        }
      }
    }
    return script;
  }

 private:
  const Token& Peek(size_t ahead = 0) const { return t_[std::min(pos_ + ahead, t_.size() - 1)]; }
  const Token& Next() {
    const Token& t = Peek();
    if (pos_ < t_.size() - 1) ++pos_;
    return t;
  }
  bool IsPunct(const char* p, size_t ahead = 0) const {
    return Peek(ahead).type == Tok::Punct && Peek(ahead).text == p;
  }
  bool IsWord(const char* w) const { return Peek().type == Tok::Ident && Upper(Peek().text) == w; }
  bool IsBegin() const { return IsPunct("{") || IsWord("BEGIN"); }
  bool IsEnd() const { return IsPunct("}") || IsWord("END"); }
  void Expect(const char* p) {
    if (!IsPunct(p)) throw ParseError(Peek().line, std::string("'") + p + "' expected" + Found());
    Next();
  }
  bool Accept(const char* p) {
    if (!IsPunct(p)) return false;
    Next();
    return true;
  }
  std::string Found() const {
    const Token& t = Peek();
    if (t.type == Tok::End) return ", found end of script";
    if (t.type == Tok::String) return ", found \"" + t.text + "\"";
    return ", found " + t.text;
  }

  // A name resolved to a number: the script's #defines first, then the Windows names.
  int64_t Resolve(const Token& name, int depth = 0) const {
    auto it = macros_.defined.find(name.text);
    if (it != macros_.defined.end()) {
      if (it->second.empty() || depth > 32) throw ParseError(name.line, name.text + " has no value");
      size_t p = 0;
      Expression e(it->second, p, [&](const Token& inner) { return Resolve(inner, depth + 1); });
      int64_t v = e.Parse();
      if (p != it->second.size()) throw ParseError(name.line, name.text + " is not a number");
      return v;
    }
    auto builtin = BuiltinNames().find(name.text);
    if (builtin != BuiltinNames().end()) return builtin->second;
    throw ParseError(name.line, "unknown name " + name.text);
  }

  bool IsStringName(const Token& t) const {
    if (t.type != Tok::Ident) return false;
    auto it = macros_.defined.find(t.text);
    return it != macros_.defined.end() && it->second.size() == 1 && it->second[0].type == Tok::String;
  }

  bool IsNumericName(const Token& t) const {
    return macros_.IsDefined(t.text) || BuiltinNames().count(t.text) != 0;
  }

  int64_t Number() {
    Expression e(t_, pos_, [this](const Token& name) { return Resolve(name); });
    return e.Parse();
  }
  int Int() { return static_cast<int>(Number()); }

  // A style: terms joined by "|", each possibly "NOT term", applied in order to the
  // defaults (NOT clears the bits, as the resource compiler does).
  uint32_t Style(uint32_t value) {
    for (;;) {
      bool negate = false;
      if (IsWord("NOT")) {
        Next();
        negate = true;
      }
      Expression e(t_, pos_, [this](const Token& name) { return Resolve(name); });
      e.SetStopAtOr(true);
      uint32_t term = static_cast<uint32_t>(e.Parse());
      value = negate ? (value & ~term) : (value | term);
      if (!Accept("|")) return value;
    }
  }

  std::string String() {
    const Token& t = Peek();
    if (t.type == Tok::String) {
      Next();
      return t.text;
    }
    if (t.type == Tok::Ident) {
      auto it = macros_.defined.find(t.text);
      if (it != macros_.defined.end() && it->second.size() == 1 && it->second[0].type == Tok::String) {
        Next();
        return it->second[0].text;
      }
    }
    throw ParseError(t.line, "text expected" + Found());
  }

  // Control text: a string, or a name or number (icons, bitmaps).
  std::string Text() {
    const Token& t = Peek();
    if (t.type == Tok::String || IsStringName(t)) return String();
    if (t.type == Tok::Ident && !IsNumericName(t)) {
      Next();
      return t.text;
    }
    return std::to_string(Number());
  }

  void SkipMemoryOptions() {
    static const char* const kOptions[] = {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE",
                                           "PRELOAD", "LOADONCALL", "SHARED", "NONSHARED", "NONDISCARDABLE"};
    for (;;) {
      bool found = false;
      for (const char* o : kOptions) found = found || IsWord(o);
      if (!found) return;
      Next();
    }
  }

  void SkipBlock() {
    int line = Peek().line;
    Next();  // BEGIN or {
    int depth = 1;
    while (depth > 0) {
      if (Peek().type == Tok::End) throw ParseError(line, "block without END");
      if (IsBegin()) ++depth;
      else if (IsEnd()) --depth;
      Next();
    }
  }

  // Any resource but a dialog: a file name on the type's line, or a header followed
  // by a BEGIN ... END block.
  void SkipResource(const Token& type) {
    SkipMemoryOptions();
    if (!IsBegin() && Peek().type != Tok::End && Peek().line == type.line) {
      int line = Peek().line;
      while (Peek().type != Tok::End && Peek().line == line && !IsBegin()) Next();
      if (!IsBegin()) return;
    }
    while (!IsBegin()) {
      if (Peek().type == Tok::End) throw ParseError(type.line, type.text + " resource without BEGIN");
      Next();
    }
    SkipBlock();
  }

  DialogTemplate ParseDialog(const Token& name, bool extended) {
    DialogTemplate d;
    d.extended = extended;
    if (name.type == Tok::Number) {
      d.id = static_cast<int>(name.value);
    } else if (name.type == Tok::Ident && IsNumericName(name)) {
      d.id = static_cast<int>(Resolve(name));
    } else {
      d.name = Upper(name.text);
    }
    SkipMemoryOptions();
    d.x = Int();
    Expect(",");
    d.y = Int();
    Expect(",");
    d.cx = Int();
    Expect(",");
    d.cy = Int();
    if (extended && Accept(",")) Number();  // help id
    bool styled = false;
    uint32_t style = 0;
    bool hasCaption = false, hasFont = false;
    while (!IsBegin()) {
      const Token& t = Next();
      std::string word = t.type == Tok::Ident ? Upper(t.text) : "";
      if (word == "STYLE") {
        style = Style(0);
        styled = true;
      } else if (word == "EXSTYLE") {
        d.exStyle = Style(0);
      } else if (word == "CAPTION") {
        d.caption = String();
        hasCaption = true;
      } else if (word == "FONT") {
        int size = Int();
        Expect(",");
        d.font = std::to_string(size) + ", " + String();
        while (Accept(",")) Number();  // weight, italic, charset
        hasFont = true;
      } else if (word == "CLASS") {
        d.windowClass = Peek().type == Tok::String ? String() : std::to_string(Number());
      } else if (word == "MENU") {
        Next();
      } else if (word == "LANGUAGE") {
        Number();
        Expect(",");
        Number();
      } else if (word == "CHARACTERISTICS" || word == "VERSION") {
        Number();
      } else {
        throw ParseError(t.line, "unexpected " + (t.type == Tok::End ? std::string("end of script") : t.text) +
                                     " in the header of a dialog");
      }
    }
    d.style = styled ? style : static_cast<uint32_t>(WS_POPUP | WS_BORDER | WS_SYSMENU);
    if (hasCaption) d.style |= WS_CAPTION;
    if (hasFont) d.style |= DS_SETFONT;
    Next();  // BEGIN
    while (!IsEnd()) {
      if (Peek().type == Tok::End) throw ParseError(name.line, "dialog without END");
      d.controls.push_back(ParseControl(extended));
    }
    Next();  // END
    return d;
  }

  static ControlKind KindOf(const std::string& cls, uint32_t style) {
    if (cls == "EDIT") return ControlKind::Edit;
    if (cls == "STATIC") return ControlKind::Static;
    if (cls == "COMBOBOX") return ControlKind::ComboBox;
    if (Upper(cls) == "SYSTABCONTROL32") return ControlKind::Tab;
    if (cls != "BUTTON") return ControlKind::Other;
    switch (style & BS_TYPEMASK) {
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX:
      case BS_3STATE:
      case BS_AUTO3STATE: return ControlKind::CheckBox;
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON: return ControlKind::RadioButton;
      case BS_GROUPBOX: return ControlKind::GroupBox;
      default: return ControlKind::PushButton;
    }
  }

  static std::string ClassName(const std::string& written) {
    static const char* const kPredefined[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    std::string upper = Upper(written);
    for (const char* p : kPredefined) {
      if (upper == p) return upper;
    }
    return written;
  }

  // The optional trailing ", style [, exstyle [, helpid]]" of a control statement.
  void TrailingStyles(ControlTemplate& c, bool extended) {
    if (Accept(",")) {
      c.style = Style(c.style);
      if (Accept(",")) {
        c.exStyle = Style(0);
        if (extended && Accept(",")) Number();
      }
    }
  }

  ControlTemplate ParseControl(bool extended) {
    struct Statement {
      const char* word;
      const char* cls;
      uint32_t defaults;
      bool hasText;
    };
    static const Statement kStatements[] = {
        {"LTEXT", "STATIC", SS_LEFT | WS_GROUP, true},
        {"RTEXT", "STATIC", SS_RIGHT | WS_GROUP, true},
        {"CTEXT", "STATIC", SS_CENTER | WS_GROUP, true},
        {"PUSHBUTTON", "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, true},
        {"DEFPUSHBUTTON", "BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, true},
        {"PUSHBOX", "BUTTON", 0xA | WS_TABSTOP, true},
        {"CHECKBOX", "BUTTON", BS_CHECKBOX | WS_TABSTOP, true},
        {"AUTOCHECKBOX", "BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, true},
        {"RADIOBUTTON", "BUTTON", BS_RADIOBUTTON, true},
        {"AUTORADIOBUTTON", "BUTTON", BS_AUTORADIOBUTTON, true},
        {"STATE3", "BUTTON", BS_3STATE | WS_TABSTOP, true},
        {"AUTO3STATE", "BUTTON", BS_AUTO3STATE | WS_TABSTOP, true},
        {"GROUPBOX", "BUTTON", BS_GROUPBOX, true},
        {"EDITTEXT", "EDIT", ES_LEFT | WS_BORDER | WS_TABSTOP, false},
        {"COMBOBOX", "COMBOBOX", WS_TABSTOP, false},  // CBS_SIMPLE unless a type is given, below
        {"LISTBOX", "LISTBOX", 0x1 | WS_BORDER, false},
        {"SCROLLBAR", "SCROLLBAR", 0, false},
    };
    const Token& keyword = Next();
    std::string word = keyword.type == Tok::Ident ? Upper(keyword.text) : "";
    ControlTemplate c;
    c.style = WS_CHILD | WS_VISIBLE;
    if (word == "CONTROL") {
      c.text = Text();
      Expect(",");
      c.id = Int();
      Expect(",");
      c.windowClass = ClassName(Peek().type == Tok::String ? String() : Next().text);
      Expect(",");
      c.style = Style(c.style);
      Expect(",");
      c.x = Int();
      Expect(",");
      c.y = Int();
      Expect(",");
      c.cx = Int();
      Expect(",");
      c.cy = Int();
      if (Accept(",")) {
        c.exStyle = Style(0);
        if (extended && Accept(",")) Number();
      }
    } else if (word == "ICON") {
      c.windowClass = "STATIC";
      c.style |= 0x3;  // SS_ICON
      c.text = Text();
      Expect(",");
      c.id = Int();
      Expect(",");
      c.x = Int();
      Expect(",");
      c.y = Int();
      if (Accept(",")) {
        c.cx = Int();
        Expect(",");
        c.cy = Int();
        TrailingStyles(c, extended);
      }
    } else {
      const Statement* statement = nullptr;
      for (const auto& s : kStatements) {
        if (word == s.word) statement = &s;
      }
      if (statement == nullptr)
        throw ParseError(keyword.line, "unknown control statement " +
                                           (keyword.type == Tok::End ? std::string("(end of script)") : keyword.text));
      c.windowClass = statement->cls;
      c.style |= statement->defaults;
      if (statement->hasText) {
        c.text = Text();
        Expect(",");
      }
      c.id = Int();
      Expect(",");
      c.x = Int();
      Expect(",");
      c.y = Int();
      Expect(",");
      c.cx = Int();
      Expect(",");
      c.cy = Int();
      TrailingStyles(c, extended);
      if (word == "COMBOBOX" && (c.style & 0x3) == 0) c.style |= CBS_SIMPLE;
    }
    if (IsBegin()) SkipBlock();  // control data of DIALOGEX
    c.kind = KindOf(c.windowClass, c.style);
    return c;
  }

  std::vector<Token> t_;
  size_t pos_ = 0;
  const Macros& macros_;
};

}  // namespace

const DialogTemplate* ResourceScript::Find(int id) const {
  for (const auto& d : dialogs) {
    if (d.name.empty() && d.id == id) return &d;
  }
  return nullptr;
}

const DialogTemplate* ResourceScript::Find(std::string_view name) const {
  if (!name.empty() && name[0] == '#') {
    std::string digits(name.substr(1));
    char* end = nullptr;
    long id = std::strtol(digits.c_str(), &end, 10);
    if (!digits.empty() && *end == 0) return Find(static_cast<int>(id));
    return nullptr;
  }
  std::string upper = Upper(name);
  for (const auto& d : dialogs) {
    if (!d.name.empty() && d.name == upper) return &d;
  }
  return nullptr;
}

std::optional<ResourceScript> ParseResourceScript(std::string_view text, std::string* error) {
  try {
    Macros macros;
    Token one;
    one.type = Tok::Number;
    one.value = 1;
    macros.defined["RC_INVOKED"] = {one};
    auto tokens = Preprocess(text, macros);
    Parser parser(std::move(tokens), macros);
    return parser.Parse();
  } catch (const ParseError& e) {
    if (error != nullptr) *error = e.what();
    return std::nullopt;
  }
}

}  // namespace tovrel::portable
