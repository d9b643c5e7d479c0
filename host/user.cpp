#include "host/user.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "frame/dialogs.h"

namespace tovrel::host {

using portable::ControlKind;
using portable::ControlState;
using portable::DialogState;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool Settable(const ControlState& c) {
  return c.kind == ControlKind::Edit || c.kind == ControlKind::ComboBox || c.kind == ControlKind::CheckBox ||
         c.kind == ControlKind::RadioButton || c.kind == ControlKind::PushButton || c.kind == ControlKind::Tab;
}

bool ParseOnOff(const std::string& value, bool& on) {
  std::string v = Lower(Trim(value));
  if (v == "on" || v == "1" || v == "yes" || v == "true") { on = true; return true; }
  if (v == "off" || v == "0" || v == "no" || v == "false") { on = false; return true; }
  return false;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

// The button through which a result dialog hands its text on.
bool IsCopyButton(const ControlState& c);

// Presses a button; false when the press ended the dialog.
bool Press(HWND dialog, int id) {
  portable::Click(dialog, id);
  for (HWND w : portable::OpenDialogs())
    if (w == dialog) return true;
  return false;
}

}  // namespace

std::string NormalizeLabel(const std::string& text) {
  std::string s;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '&') {
      if (k + 1 < text.size() && text[k + 1] == '&') { s += '&'; ++k; }
      continue;
    }
    s += text[k];
  }
  s = Trim(s);
  while (!s.empty() && s.back() == ':') s.pop_back();
  return Lower(Trim(s));
}

std::string ControlLabel(const DialogState& dialog, std::size_t index) {
  const ControlState& c = dialog.controls[index];
  if (c.kind == ControlKind::Edit || c.kind == ControlKind::ComboBox) {
    for (std::size_t k = index; k-- > 0;) {
      const ControlState& before = dialog.controls[k];
      if (before.kind == ControlKind::Static && before.id != 1033 && !Trim(before.text).empty()) return before.text;
      if (before.kind != ControlKind::Static && before.kind != ControlKind::GroupBox) break;
    }
    return "";
  }
  return c.text;
}

std::string ControlValue(const ControlState& c) {
  switch (c.kind) {
    case ControlKind::ComboBox:
    case ControlKind::Tab:
      return c.selection >= 0 && c.selection < static_cast<int>(c.items.size()) ? c.items[c.selection] : "";
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      return c.check == 1 ? "on" : (c.check == 2 ? "indeterminate" : "off");
    default:
      return c.text;
  }
}

int FindControl(const DialogState& dialog, const std::string& name, std::string& error) {
  // A number names the control's id.
  char* end = nullptr;
  long id = std::strtol(name.c_str(), &end, 10);
  if (!name.empty() && *end == '\0') {
    for (std::size_t k = 0; k < dialog.controls.size(); ++k)
      if (dialog.controls[k].id == id) return static_cast<int>(k);
    return -1;
  }
  const std::string wanted = NormalizeLabel(name);
  std::vector<int> matches;
  for (std::size_t k = 0; k < dialog.controls.size(); ++k) {
    if (!Settable(dialog.controls[k])) continue;
    if (NormalizeLabel(ControlLabel(dialog, k)) == wanted) matches.push_back(static_cast<int>(k));
  }
  if (matches.empty()) return -1;
  if (matches.size() == 1) return matches.front();
  error = "\"" + name + "\" names several controls of \"" + dialog.caption + "\":";
  for (int k : matches)
    error += " " + std::to_string(dialog.controls[k].id) + " (" +
             portable::ControlKindName(dialog.controls[k].kind) + ")";
  error += "; use the id";
  return -2;
}

std::vector<std::string> DialogTextLines(const DialogState& dialog) {
  std::vector<const ControlState*> statics;
  for (const auto& c : dialog.controls)
    if (c.kind == ControlKind::Static && c.visible && !Trim(c.text).empty()) statics.push_back(&c);
  std::stable_sort(statics.begin(), statics.end(), [](const ControlState* a, const ControlState* b) {
    return a->y + 2 < b->y || (std::abs(a->y - b->y) <= 2 && a->x < b->x);
  });
  std::vector<std::string> lines;
  int rowY = 0;
  for (const ControlState* c : statics) {
    if (lines.empty() || std::abs(c->y - rowY) > 2) {
      lines.push_back(Trim(c->text));
      rowY = c->y;
    } else {
      lines.back() += " " + Trim(c->text);
    }
  }
  return lines;
}

std::string DescribeSettableControls(const DialogState& dialog) {
  std::string out;
  for (std::size_t k = 0; k < dialog.controls.size(); ++k) {
    const ControlState& c = dialog.controls[k];
    if (!Settable(c)) continue;
    if (!out.empty()) out += ", ";
    std::string label = Trim(ControlLabel(dialog, k));
    std::string shown;
    for (char ch : label)
      if (ch != '&') shown += ch;
    out += "\"" + (shown.empty() ? std::to_string(c.id) : shown) + "\" (" + std::to_string(c.id) + ", " +
           portable::ControlKindName(c.kind) + ")";
  }
  return out;
}

namespace {
std::vector<UserAction> SetsThenPresses(const std::vector<ControlSetting>& sets, const std::vector<std::string>& presses) {
  std::vector<UserAction> actions;
  for (const auto& s : sets) actions.push_back({UserAction::Kind::Set, s.control, s.value});
  for (const auto& p : presses) actions.push_back({UserAction::Kind::Press, p, ""});
  return actions;
}
}  // namespace

ScriptedUser::ScriptedUser(std::vector<ControlSetting> sets, std::vector<std::string> presses,
                           std::optional<bool> answer, bool interactive, bool printMessages)
    : ScriptedUser(SetsThenPresses(sets, presses), answer, interactive, printMessages) {}

ScriptedUser::ScriptedUser(std::vector<UserAction> actions, std::optional<bool> answer, bool interactive,
                           bool printMessages)
    : actions_(std::move(actions)),
      done_(actions_.size(), false),
      answer_(answer),
      interactive_(interactive),
      printMessages_(printMessages) {}

bool ScriptedUser::Apply(HWND dialog, const DialogState& state, int index, const std::string& value) {
  const ControlState& c = state.controls[index];
  std::string label;
  for (char ch : Trim(ControlLabel(state, static_cast<std::size_t>(index))))
    if (ch != '&') label += ch;
  const std::string name = label.empty() ? std::to_string(c.id) : label;
  auto fail = [&](const std::string& why) {
    if (usageError_.empty()) usageError_ = why;
    return false;
  };
  if (!c.enabled || !c.visible) return fail("\"" + name + "\" cannot be set: it is " +
                                            (c.enabled ? "hidden" : "disabled") + " in \"" + state.caption + "\"");
  switch (c.kind) {
    case ControlKind::Edit:
      return portable::TypeText(dialog, c.id, value) || fail("\"" + name + "\" does not take text");
    case ControlKind::ComboBox:
    case ControlKind::Tab: {
      const std::string wanted = Lower(Trim(value));
      for (std::size_t k = 0; k < c.items.size(); ++k)
        if (Lower(Trim(c.items[k])) == wanted) return portable::ChooseItem(dialog, c.id, static_cast<int>(k));
      // An index: "#N" always; a bare number only where no item reads as a number, so
      // that "3" in a list of orders is the order 3, not the fourth item.
      bool numericItems = false;
      for (const auto& item : c.items) {
        char* e = nullptr;
        std::strtol(item.c_str(), &e, 10);
        numericItems = numericItems || e != item.c_str();
      }
      std::string index = Trim(value);
      if (!index.empty() && index[0] == '#') index.erase(0, 1);
      else if (numericItems) index.clear();
      char* end = nullptr;
      long k = std::strtol(index.c_str(), &end, 10);
      if (!index.empty() && *end == '\0' && k >= 0 && k < static_cast<long>(c.items.size()))
        return portable::ChooseItem(dialog, c.id, static_cast<int>(k));
      std::string offered;
      for (std::size_t j = 0; j < c.items.size(); ++j) offered += (j ? ", \"" : "\"") + c.items[j] + "\"";
      return fail("\"" + value + "\" is not offered by \"" + name + "\"; it offers " + offered);
    }
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: {
      bool on = false;
      if (!ParseOnOff(value, on)) return fail("\"" + name + "\" takes on or off, not \"" + value + "\"");
      if ((c.check == 1) == on) return true;
      if (c.kind == ControlKind::RadioButton && !on)
        return fail("\"" + name + "\" is a radio button: switch it off by setting another one of its group on");
      return portable::Click(dialog, c.id) || fail("\"" + name + "\" cannot be clicked");
    }
    default:
      return fail("\"" + name + "\" is a button: use --press");
  }
}

bool ScriptedUser::Preview(HWND dialog, const DialogState& state) {
  const double seconds = previewSeconds_;
  previewSeconds_ = 0;  // of the first dialog only
  int id = -1;
  for (const auto& c : state.controls)
    if (c.kind == ControlKind::PushButton && NormalizeLabel(c.text) == "preview" && c.enabled && c.visible) id = c.id;
  if (id < 0) {
    usageError_ = "--preview: \"" + state.caption + "\" has no \"Preview\" button to press";
    if (!portable::Click(dialog, IDCANCEL)) portable::PressCloseBox(dialog);
    return false;
  }
  if (!Press(dialog, id)) return false;
  auto playing = [&] {
    const DialogState now = portable::Inspect(dialog);
    const portable::ControlState* button = now.Find(id);
    return button != nullptr && NormalizeLabel(button->text) == "stop";
  };
  // The dialog runs meanwhile: the preview's status texts and questions reach it.
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end && playing())
    if (!portable::WaitWhileOpen(dialog, 20)) return false;
  return !playing() || Press(dialog, id);
}

bool ScriptedUser::Act(HWND dialog, DialogState& state, const UserAction& action) {
  std::string error;
  switch (action.kind) {
    case UserAction::Kind::OpenFile:
      files_.push_back(action.value);
      return true;
    case UserAction::Kind::Tab: {
      int index = -1;
      for (std::size_t k = 0; k < state.controls.size(); ++k)
        if (state.controls[k].kind == ControlKind::Tab) index = static_cast<int>(k);
      if (index < 0) return false;
      Apply(dialog, state, index, action.value);
      break;
    }
    case UserAction::Kind::Set:
    case UserAction::Kind::Press: {
      const int index = FindControl(state, action.control, error);
      if (index == -2) {
        if (usageError_.empty()) usageError_ = error;
        return false;
      }
      if (index < 0) return false;
      if (action.kind == UserAction::Kind::Set) {
        Apply(dialog, state, index, action.value);
      } else {
        const ControlState& c = state.controls[index];
        if (IsCopyButton(c)) {
          copied_ = true;
          CopyResultText(dialog, c.id, true);
        } else if (!c.enabled || !c.visible) {
          if (usageError_.empty())
            usageError_ = "\"" + action.control + "\" cannot be pressed: it is " + (c.enabled ? "hidden" : "disabled") +
                          " in \"" + state.caption + "\"";
        } else if (previewSeconds_ > 0 && (c.id == IDOK || c.id == IDCANCEL)) {
          // The preview plays before the dialog is confirmed or cancelled.
          const int id = c.id;
          if (Preview(dialog, state)) Press(dialog, id);
        } else {
          Press(dialog, c.id);
        }
      }
      break;
    }
  }
  return true;
}

void ScriptedUser::DialogIdle(HWND dialog, int round) {
  if (round > 0) {
    // The dialog did not close on its default button: it refused the settings.
    refusedToClose_ = true;
    DialogState state = portable::Inspect(dialog);
    if (state.Find(IDCANCEL)) portable::Click(dialog, IDCANCEL);
    else portable::PressCloseBox(dialog);
    return;
  }
  auto open = [&] {
    for (HWND w : portable::OpenDialogs())
      if (w == dialog) return true;
    return false;
  };
  if (checkStored_) {
    checkStored_ = false;
    char refusal[kFieldTextBytes] = {0};
    SendMessageA(dialog, kCheckFieldsMessage, 0, reinterpret_cast<LPARAM>(refusal));
    if (refusal[0]) {
      storedRefusal_ = refusal;
      if (!portable::Click(dialog, IDCANCEL)) portable::PressCloseBox(dialog);
      return;
    }
  }
  DialogState state = portable::Inspect(dialog);
  bool alarmed = false;
  copied_ = false;
  for (std::size_t k = 0; k < actions_.size() && usageError_.empty() && !alarmed; ++k) {
    if (done_[k]) continue;
    const UserAction& action = actions_[k];
    const int alarms = alarms_;
    if (!Act(dialog, state, action)) continue;
    done_[k] = true;
    if (!open()) return;
    alarmed = alarms_ > alarms;
    state = portable::Inspect(dialog);
  }
  if (!usageError_.empty() || alarmed) {
    // A script that cannot be followed, or an action that failed, does not confirm.
    if (!portable::Click(dialog, IDCANCEL)) portable::PressCloseBox(dialog);
    return;
  }
  if (previewSeconds_ > 0) {
    if (!Preview(dialog, state)) return;
    state = portable::Inspect(dialog);
  }
  for (const auto& snapshot : snapshots_) {
    std::string why;
    if (!TakeSnapshot(dialog, snapshot, why)) {
      usageError_ = why;
      snapshots_.clear();
      if (!portable::Click(dialog, IDCANCEL)) portable::PressCloseBox(dialog);
      return;
    }
  }
  snapshots_.clear();  // of the first dialog only
  if (!copied_) {
    for (const auto& c : state.controls) {
      if (!IsCopyButton(c)) continue;
      if (!CopyResultText(dialog, c.id, false)) return;
      state = portable::Inspect(dialog);
      break;
    }
  }
  for (const auto& c : state.controls) {
    if (c.defaultButton && c.enabled && c.visible) {
      portable::Click(dialog, c.id);
      return;
    }
  }
  if (state.Find(IDOK)) portable::Click(dialog, IDOK);
  else portable::PressCloseBox(dialog);
}

std::optional<std::string> ScriptedUser::OpenFileName(const portable::FileDialogEvent& dialog) {
  if (files_.empty()) return std::nullopt;  // nobody named a file: Cancel
  std::string path = files_.front();
  files_.erase(files_.begin());
  std::error_code ec;
  if ((dialog.flags & OFN_FILEMUSTEXIST) && !std::filesystem::is_regular_file(path, ec)) {
    if (usageError_.empty()) usageError_ = "--open-file: no file \"" + path + "\"";
    return std::nullopt;
  }
  // The module may keep the path: it names the file from any folder.
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

namespace {
bool IsCopyButton(const ControlState& c) {
  return c.kind == ControlKind::PushButton && c.enabled && c.visible && NormalizeLabel(c.text) == "copy to clipboard";
}
}  // namespace

bool ScriptedUser::CopyResultText(HWND dialog, int id, bool keepOnClipboard) {
  // The text is the one the press placed; a busy clipboard leaves nothing to take.
  if (!OpenClipboard(nullptr)) return keepOnClipboard ? Press(dialog, id) : true;
  CloseClipboard();
  const std::vector<portable::ClipboardItem> before = portable::ClipboardContents();
  const bool open = Press(dialog, id);
  const std::vector<portable::ClipboardItem> after = portable::ClipboardContents();
  for (const auto& item : after) {
    if (item.format != CF_TEXT) continue;
    bool placed = true;
    for (const auto& old : before) placed = placed && !(old.format == CF_TEXT && old.bytes == item.bytes);
    const char* text = reinterpret_cast<const char*>(item.bytes.data());
    if (placed) resultTexts_.emplace_back(text, strnlen(text, item.bytes.size()));
  }
  if (!keepOnClipboard) portable::LoadClipboard(before);
  return open;
}

int ScriptedUser::MessageBox(const portable::MessageBoxEvent& box) {
  const UINT icon = box.type & MB_ICONMASK;
  if (icon == MB_ICONERROR || icon == MB_ICONWARNING) ++alarms_;
  if (printMessages_) std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), OneLine(box.text).c_str());
  const UINT buttons = box.type & MB_TYPEMASK;
  const bool question = buttons == MB_YESNO || buttons == MB_YESNOCANCEL || buttons == MB_OKCANCEL;
  if (!question) return portable::DefaultAnswer(box.type);
  const int yes = buttons == MB_OKCANCEL ? IDOK : IDYES;
  const int no = buttons == MB_OKCANCEL ? IDCANCEL : IDNO;
  if (answer_) return *answer_ ? yes : no;
  if (interactive_) {
    for (;;) {
      std::fprintf(stderr, "%s [y/n] ", buttons == MB_OKCANCEL ? "OK?" : "Yes or no?");
      std::fflush(stderr);
      std::string line;
      if (!std::getline(std::cin, line)) break;
      std::string a = Lower(Trim(line));
      if (a == "y" || a == "yes") return yes;
      if (a == "n" || a == "no") return no;
    }
  }
  return portable::DefaultAnswer(box.type);
}

std::vector<std::string> ScriptedUser::Unused() const {
  std::vector<std::string> out;
  for (std::size_t k = 0; k < actions_.size(); ++k)
    if (!done_[k]) out.push_back(actions_[k].kind == UserAction::Kind::Tab || actions_[k].kind == UserAction::Kind::OpenFile
                                     ? actions_[k].value
                                     : actions_[k].control);
  return out;
}

}  // namespace tovrel::host
