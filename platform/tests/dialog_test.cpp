// Modal dialogs from a module's resource script: the loop, the controls, the user.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "test_module.h"

namespace tp = tovrel::portable;
using platform_test::ModuleProc;
using platform_test::ScriptedUser;
using platform_test::TestModule;

namespace {

// Control ids of the test module's settings dialog (template 100).
enum {
  kOrder = 1001, kLength = 1002, kModeA = 1010, kModeB = 1011, kModeC = 1012, kOtherA = 1020, kOtherB = 1021,
  kWindow = 1030, kAverage = 1031, kState = 1033, kResults = 1040, kTriState = 1041, kHiddenEdit = 1042,
  kReadOnly = 1043, kNumber = 1044, kEnabledBox = 1045, kHelp = 3,
};

struct Logged {
  HWND window;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Logged> g_log;
BOOL g_visibleDuringInit = TRUE;

// Logs what it gets; OK ends with 1, Cancel with 2; leaves WM_CLOSE to the dialog manager.
INT_PTR CALLBACK RecordingProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_log.push_back({dialog, msg, wParam, lParam});
  if (msg == WM_INITDIALOG) {
    g_visibleDuringInit = IsWindowVisible(GetDlgItem(dialog, kOrder));
    return TRUE;
  }
  if (msg != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
  if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 2);
  return TRUE;
}

bool WasLogged(UINT msg, WPARAM wParam, LPARAM lParam) {
  for (const auto& l : g_log) {
    if (l.msg == msg && l.wParam == wParam && l.lParam == lParam) return true;
  }
  return false;
}

LPARAM Hwnd(HWND dialog, int id) { return reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)); }

const tp::DialogEvent& LastDialog() {
  for (auto it = tp::Journal().rbegin(); it != tp::Journal().rend(); ++it) {
    if (auto* d = std::get_if<tp::DialogEvent>(&*it)) return *d;
  }
  static tp::DialogEvent none;
  ADD_FAILURE() << "no dialog in the journal";
  return none;
}

INT_PTR RunDialog(int templateId, DLGPROC proc, LPARAM param = 0) {
  return DialogBoxParamA(TestModule(), MAKEINTRESOURCE(templateId), tp::HostWindow(), proc, param);
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(TestModule(), nullptr);
    tp::ClearJournal();
    g_log.clear();
  }
};

TEST_F(DialogTest, TemplatesAsTheScriptDeclaresThem) {
  EXPECT_EQ(tp::TemplateIds(TestModule()), (std::vector<int>{100, 107}));
  auto d = tp::DescribeTemplate(TestModule(), 100);
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->window, nullptr);
  EXPECT_EQ(d->caption, "Test \"Settings\"");
  EXPECT_EQ(d->font, "8, MS Sans Serif");
  EXPECT_EQ(d->cx, 220);
  ASSERT_EQ(d->controls.size(), 22u);
  EXPECT_EQ(d->controls[0].text, "MLS &order:");
  EXPECT_EQ(d->controls[0].id, IDC_STATIC);
  EXPECT_FALSE(d->Find(kLength)->enabled);
  EXPECT_FALSE(d->Find(kState)->visible);
  EXPECT_FALSE(d->Find(kModeC)->visible);
  EXPECT_TRUE(d->Find(IDOK)->defaultButton);
  EXPECT_FALSE(d->Find(IDCANCEL)->defaultButton);
  EXPECT_EQ(d->Find(kWindow)->kind, tp::ControlKind::ComboBox);
  EXPECT_EQ(d->Find(kEnabledBox)->windowClass, "BUTTON");
  EXPECT_EQ(d->Find(kEnabledBox)->kind, tp::ControlKind::CheckBox);
  EXPECT_EQ(d->Find(kModeA)->kind, tp::ControlKind::RadioButton);
  EXPECT_STREQ(tp::ControlKindName(d->Find(kOrder)->kind), "edit");
  auto results = tp::DescribeTemplate(TestModule(), 107);
  ASSERT_TRUE(results.has_value());
  EXPECT_EQ(results->font, "8, MS Shell Dlg");
  EXPECT_EQ(results->Find(1051)->windowClass, "STATIC");
  EXPECT_FALSE(tp::DescribeTemplate(TestModule(), 999).has_value());
  EXPECT_FALSE(tp::DescribeTemplate(nullptr, 100).has_value());
}

TEST_F(DialogTest, UnknownTemplatesAndParents) {
  EXPECT_EQ(RunDialog(999, RecordingProc), -1);
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCE(100), nullptr, RecordingProc, 0), -1);
  EXPECT_EQ(DialogBoxParamA(TestModule(), "NOSUCH", nullptr, RecordingProc, 0), -1);
  EXPECT_EQ(DialogBoxParamA(TestModule(), MAKEINTRESOURCE(100), reinterpret_cast<HWND>(0x7FFFFFF0), RecordingProc, 0),
            0);
  EXPECT_TRUE(g_log.empty());
  // Named templates, by name or by "#id".
  EXPECT_EQ(DialogBoxParamA(TestModule(), "settings", nullptr, RecordingProc, 0), 2);  // no OK: the guard cancels
  EXPECT_EQ(DialogBoxParamA(TestModule(), "#107", nullptr, RecordingProc, 0), 1);
}

TEST_F(DialogTest, DefaultUserPressesTheDefaultButton) {
  EXPECT_EQ(RunDialog(100, ModuleProc("DIALOGMsgProc"), 1234), 1);
  const auto& event = LastDialog();
  EXPECT_EQ(event.result, 1);
  EXPECT_EQ(event.owner, reinterpret_cast<uintptr_t>(tp::HostWindow()));
  EXPECT_EQ(event.final.templateId, 100);
  EXPECT_EQ(event.final.Find(kState)->text, "1234");
  EXPECT_TRUE(IsWindowEnabled(tp::HostWindow()));
}

TEST_F(DialogTest, InitDialogGetsFocusControlAndParameter) {
  ScriptedUser user;
  HWND seen = nullptr;
  LPARAM okButton = 0;
  user.idle = [&](HWND d, int) {
    seen = d;
    okButton = Hwnd(d, IDOK);
    ASSERT_FALSE(g_log.empty());
    EXPECT_EQ(g_log[0].msg, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(g_log[0].wParam, static_cast<WPARAM>(Hwnd(d, kOrder)));  // first visible enabled tab stop
    EXPECT_EQ(g_log[0].lParam, 77);
    EXPECT_EQ(GetParent(d), tp::HostWindow());
    EXPECT_EQ(GetParent(GetDlgItem(d, kOrder)), d);
    EXPECT_EQ(GetDlgCtrlID(GetDlgItem(d, kOrder)), kOrder);
    EXPECT_FALSE(IsWindowEnabled(tp::HostWindow()));  // the owner waits
    EXPECT_EQ(tp::OpenDialogs(), std::vector<HWND>{d});
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, kOrder)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, kState)));
    EXPECT_TRUE(tp::Click(d, IDOK));
  };
  EXPECT_EQ(RunDialog(100, RecordingProc, 77), 1);
  EXPECT_FALSE(g_visibleDuringInit);  // not shown before WM_INITDIALOG returns
  EXPECT_EQ(user.rounds, 1);
  EXPECT_TRUE(WasLogged(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), okButton));
  EXPECT_FALSE(IsWindow(seen));
  EXPECT_TRUE(tp::OpenDialogs().empty());
  EXPECT_TRUE(IsWindowEnabled(tp::HostWindow()));
  EXPECT_EQ(g_log.back().msg, static_cast<UINT>(WM_DESTROY));
}

TEST_F(DialogTest, BatchStyleOkIsPostedAndRunsBeforeTheUser) {
  ScriptedUser user;
  user.idle = [](HWND, int) { ADD_FAILURE() << "the user was asked"; };
  EXPECT_EQ(RunDialog(100, ModuleProc(MAKEINTRESOURCE(100)), -1), 1);
  EXPECT_EQ(user.rounds, 0);
}

TEST_F(DialogTest, HelpKeepsTheDialogOpen) {
  ScriptedUser user;
  HWND dialog = nullptr;
  user.idle = [&](HWND d, int round) {
    dialog = d;
    if (round == 0) EXPECT_TRUE(tp::Click(d, kHelp));
    else EXPECT_TRUE(tp::Click(d, IDOK));
  };
  EXPECT_EQ(RunDialog(100, ModuleProc("DIALOGMsgProc")), 1);
  EXPECT_EQ(user.rounds, 2);
  const auto& journal = tp::Journal();
  ASSERT_EQ(journal.size(), 2u);
  const auto& help = std::get<tp::HelpEvent>(journal[0]);
  EXPECT_EQ(help.file, "tovrel96.hlp");
  EXPECT_EQ(help.command, static_cast<UINT>(HELP_KEY));
  EXPECT_EQ(help.keyword, "Test Module");
  EXPECT_EQ(help.window, reinterpret_cast<uintptr_t>(dialog));
  EXPECT_EQ(std::get<tp::DialogEvent>(journal[1]).result, 1);
}

TEST_F(DialogTest, CloseBoxCancels) {
  ScriptedUser user;
  user.idle = [](HWND d, int) { tp::PressCloseBox(d); };
  EXPECT_EQ(RunDialog(100, ModuleProc("DIALOGMsgProc")), 0);  // the procedure posts IDCANCEL
  EXPECT_EQ(user.rounds, 1);
  // A procedure that leaves WM_CLOSE alone gets Cancel from the dialog manager.
  HWND dialog = nullptr;
  user.idle = [&](HWND d, int) {
    dialog = d;
    tp::PressCloseBox(d);
  };
  EXPECT_EQ(RunDialog(100, RecordingProc), 2);
  EXPECT_TRUE(WasLogged(WM_CLOSE, 0, 0));
  EXPECT_EQ(g_log[g_log.size() - 2].msg, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(g_log[g_log.size() - 2].wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
  EXPECT_NE(g_log[g_log.size() - 2].lParam, 0);
}

// Claims every message and never ends.
INT_PTR CALLBACK StubbornProc(HWND, UINT, WPARAM, LPARAM) { return TRUE; }

TEST_F(DialogTest, GuardEndsADialogNobodyCloses) {
  ScriptedUser user;
  std::vector<int> rounds;
  user.idle = [&](HWND, int round) { rounds.push_back(round); };
  EXPECT_EQ(RunDialog(100, ModuleProc("DIALOGMsgProc")), 0);  // close box, then the procedure's Cancel
  ASSERT_EQ(rounds.size(), 64u);
  EXPECT_EQ(rounds.front(), 0);
  EXPECT_EQ(rounds.back(), 63);
  EXPECT_EQ(RunDialog(100, StubbornProc), IDCANCEL);  // ignores the close box too
  EXPECT_EQ(LastDialog().result, IDCANCEL);
  EXPECT_TRUE(tp::OpenDialogs().empty());
}

INT_PTR CALLBACK EndsAtOnceProc(HWND dialog, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG) EndDialog(dialog, 42);
  return FALSE;
}

TEST_F(DialogTest, EndDialogDuringInitialisation) {
  ScriptedUser user;
  EXPECT_EQ(RunDialog(107, EndsAtOnceProc), 42);
  EXPECT_EQ(user.rounds, 0);
  EXPECT_EQ(LastDialog().result, 42);
  EXPECT_FALSE(EndDialog(tp::HostWindow(), 1));
}

TEST_F(DialogTest, UserActsOnlyOnEnabledVisibleControls) {
  ScriptedUser user;
  user.idle = [](HWND d, int) {
    EXPECT_FALSE(tp::TypeText(d, kLength, "9"));  // disabled
    EXPECT_TRUE(EnableWindow(GetDlgItem(d, kLength), TRUE));  // was disabled
    EXPECT_FALSE(EnableWindow(GetDlgItem(d, kLength), TRUE));
    EXPECT_TRUE(tp::TypeText(d, kLength, "9"));
    EXPECT_FALSE(tp::TypeText(d, kHiddenEdit, "x"));  // hidden
    EXPECT_FALSE(ShowWindow(GetDlgItem(d, kHiddenEdit), SW_SHOW));
    EXPECT_TRUE(tp::TypeText(d, kHiddenEdit, "x"));
    EXPECT_FALSE(tp::Click(d, kModeC));
    EXPECT_FALSE(tp::TypeText(d, kReadOnly, "x"));
    EXPECT_FALSE(tp::TypeText(d, kNumber, "12a"));
    EXPECT_TRUE(tp::TypeText(d, kNumber, "12"));
    EXPECT_FALSE(tp::Click(d, kState));        // a static takes no click
    EXPECT_FALSE(tp::Click(d, 999));           // no such control
    EXPECT_FALSE(tp::TypeText(d, IDOK, "x"));  // a button takes no text
    EXPECT_FALSE(tp::ChooseItem(d, kOrder, 0));
    EXPECT_FALSE(tp::Click(tp::HostWindow(), IDOK));

    g_log.clear();
    EXPECT_TRUE(tp::TypeText(d, kOrder, "15"));
    EXPECT_TRUE(WasLogged(WM_COMMAND, MAKEWPARAM(kOrder, EN_CHANGE), Hwnd(d, kOrder)));
    g_log.clear();
    SetDlgItemTextA(d, kOrder, "16");  // Windows notifies program changes of an edit too
    EXPECT_TRUE(WasLogged(WM_COMMAND, MAKEWPARAM(kOrder, EN_CHANGE), Hwnd(d, kOrder)));
    g_log.clear();
    SetDlgItemTextA(d, kState, "1,2,3");
    EXPECT_TRUE(g_log.empty());
    SendDlgItemMessageA(d, kNumber, EM_LIMITTEXT, 3, 0);
    EXPECT_TRUE(tp::TypeText(d, kNumber, "123456"));
    EXPECT_TRUE(tp::Click(d, IDOK));
  };
  EXPECT_EQ(RunDialog(100, RecordingProc), 1);
  const auto& final = LastDialog().final;
  EXPECT_EQ(final.Find(kOrder)->text, "16");
  EXPECT_EQ(final.Find(kLength)->text, "9");
  EXPECT_TRUE(final.Find(kLength)->enabled);
  EXPECT_EQ(final.Find(kNumber)->text, "123");
  EXPECT_EQ(final.Find(kState)->text, "1,2,3");
}

TEST_F(DialogTest, RadioGroupsAndCheckBoxes) {
  ScriptedUser user;
  user.idle = [](HWND d, int) {
    EXPECT_TRUE(tp::Click(d, kModeA));
    EXPECT_EQ(IsDlgButtonChecked(d, kModeA), static_cast<UINT>(BST_CHECKED));
    EXPECT_TRUE(WasLogged(WM_COMMAND, MAKEWPARAM(kModeA, BN_CLICKED), Hwnd(d, kModeA)));
    EXPECT_TRUE(tp::Click(d, kModeB));
    EXPECT_EQ(IsDlgButtonChecked(d, kModeA), 0u);
    EXPECT_EQ(IsDlgButtonChecked(d, kModeB), 1u);
    EXPECT_TRUE(tp::Click(d, kOtherA));  // another group
    EXPECT_EQ(IsDlgButtonChecked(d, kModeB), 1u);
    CheckDlgButton(d, kModeC, BST_CHECKED);  // hidden, but the program may set it
    EXPECT_TRUE(tp::Click(d, kModeA));
    EXPECT_EQ(IsDlgButtonChecked(d, kModeB), 0u);
    EXPECT_EQ(IsDlgButtonChecked(d, kModeC), 0u);
    EXPECT_EQ(IsDlgButtonChecked(d, kOtherA), 1u);
    CheckRadioButton(d, kOtherA, kOtherB, kOtherB);
    EXPECT_EQ(IsDlgButtonChecked(d, kOtherA), 0u);
    EXPECT_EQ(IsDlgButtonChecked(d, kOtherB), 1u);

    EXPECT_TRUE(tp::Click(d, kAverage));
    EXPECT_EQ(IsDlgButtonChecked(d, kAverage), 1u);
    EXPECT_TRUE(tp::Click(d, kAverage));
    EXPECT_EQ(IsDlgButtonChecked(d, kAverage), 0u);
    CheckDlgButton(d, kAverage, BST_INDETERMINATE);  // a two-state box stays two-state
    EXPECT_EQ(IsDlgButtonChecked(d, kAverage), 1u);
    std::vector<UINT> tri;
    for (int i = 0; i < 3; ++i) {
      tp::Click(d, kTriState);
      tri.push_back(IsDlgButtonChecked(d, kTriState));
    }
    EXPECT_EQ(tri, (std::vector<UINT>{1, 2, 0}));
    EXPECT_TRUE(tp::Click(d, kResults));  // manual: only notifies
    EXPECT_EQ(IsDlgButtonChecked(d, kResults), 0u);
    EXPECT_TRUE(WasLogged(WM_COMMAND, MAKEWPARAM(kResults, BN_CLICKED), Hwnd(d, kResults)));
    EXPECT_TRUE(tp::Click(d, kEnabledBox));
    EXPECT_EQ(IsDlgButtonChecked(d, kEnabledBox), 1u);
    EXPECT_EQ(IsDlgButtonChecked(d, IDOK), 0u);
    EXPECT_EQ(IsDlgButtonChecked(d, 999), 0u);
    tp::Click(d, IDOK);
  };
  EXPECT_EQ(RunDialog(100, RecordingProc), 1);
  EXPECT_EQ(LastDialog().final.Find(kModeA)->check, 1);
  EXPECT_EQ(LastDialog().final.Find(kOtherB)->check, 1);
}

LRESULT Combo(HWND d, UINT msg, WPARAM w = 0, const char* text = nullptr) {
  return SendDlgItemMessageA(d, kWindow, msg, w, reinterpret_cast<LPARAM>(text));
}

TEST_F(DialogTest, ComboBoxes) {
  ScriptedUser user;
  user.idle = [](HWND d, int) {
    EXPECT_EQ(Combo(d, CB_ADDSTRING, 0, "Rect"), 0);
    EXPECT_EQ(Combo(d, CB_ADDSTRING, 0, "Hann"), 1);
    EXPECT_EQ(Combo(d, CB_ADDSTRING, 0, "Blackman"), 2);
    EXPECT_EQ(Combo(d, CB_GETCOUNT), 3);
    EXPECT_EQ(Combo(d, CB_GETCURSEL), CB_ERR);
    EXPECT_EQ(GetWindowTextLengthA(GetDlgItem(d, kWindow)), 0);
    EXPECT_EQ(Combo(d, CB_SETCURSEL, 1), 1);
    char text[32];
    GetDlgItemTextA(d, kWindow, text, sizeof text);
    EXPECT_STREQ(text, "Hann");
    EXPECT_EQ(Combo(d, CB_GETLBTEXTLEN, 2), 8);
    EXPECT_EQ(SendDlgItemMessageA(d, kWindow, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(text)), 8);
    EXPECT_STREQ(text, "Blackman");
    EXPECT_EQ(SendDlgItemMessageA(d, kWindow, CB_GETLBTEXT, 5, reinterpret_cast<LPARAM>(text)), CB_ERR);
    EXPECT_EQ(Combo(d, CB_INSERTSTRING, 0, "First"), 0);
    EXPECT_EQ(Combo(d, CB_GETCURSEL), 2);  // the selection moves with its item
    EXPECT_EQ(Combo(d, CB_INSERTSTRING, 9, "Nowhere"), CB_ERR);
    EXPECT_EQ(Combo(d, CB_INSERTSTRING, static_cast<WPARAM>(-1), "Last"), 4);
    EXPECT_EQ(Combo(d, CB_DELETESTRING, 0), 4);
    EXPECT_EQ(Combo(d, CB_GETCURSEL), 1);
    EXPECT_EQ(Combo(d, CB_DELETESTRING, 1), 3);  // the selected one
    EXPECT_EQ(Combo(d, CB_GETCURSEL), CB_ERR);
    EXPECT_EQ(Combo(d, CB_DELETESTRING, 7), CB_ERR);
    EXPECT_EQ(Combo(d, CB_SETCURSEL, 7), CB_ERR);

    g_log.clear();
    EXPECT_TRUE(tp::ChooseItem(d, kWindow, 1));
    EXPECT_TRUE(WasLogged(WM_COMMAND, MAKEWPARAM(kWindow, CBN_SELCHANGE), Hwnd(d, kWindow)));
    EXPECT_EQ(Combo(d, CB_GETCURSEL), 1);
    EXPECT_EQ(tp::Inspect(d).Find(kWindow)->text, "Blackman");
    EXPECT_FALSE(tp::ChooseItem(d, kWindow, 3));
    EXPECT_FALSE(tp::ChooseItem(d, kWindow, -1));
    // A drop-down list's text can only select one of its items.
    EXPECT_TRUE(SetDlgItemTextA(d, kWindow, "rect"));
    EXPECT_EQ(Combo(d, CB_GETCURSEL), 0);
    EXPECT_FALSE(SetDlgItemTextA(d, kWindow, "Nope"));
    EXPECT_FALSE(tp::TypeText(d, kWindow, "Rect"));
    EXPECT_EQ(tp::Inspect(d).Find(kWindow)->items, (std::vector<std::string>{"Rect", "Blackman", "Last"}));
    Combo(d, CB_RESETCONTENT);
    EXPECT_EQ(Combo(d, CB_GETCOUNT), 0);
    EXPECT_EQ(Combo(d, CB_GETCURSEL), CB_ERR);
    tp::Click(d, IDOK);
  };
  EXPECT_EQ(RunDialog(100, RecordingProc), 1);

  // A sorted drop-down combo of a named template: sorted insertion, typed text.
  user.idle = [](HWND d, int) {
    for (const char* item : {"b", "a", "C"}) SendDlgItemMessageA(d, 1061, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(tp::Inspect(d).Find(1061)->items, (std::vector<std::string>{"a", "b", "C"}));
    EXPECT_TRUE(tp::TypeText(d, 1061, "b"));
    EXPECT_EQ(SendDlgItemMessageA(d, 1061, CB_GETCURSEL, 0, 0), 1);
    EXPECT_TRUE(tp::TypeText(d, 1061, "free text"));
    EXPECT_EQ(tp::Inspect(d).Find(1061)->text, "free text");
    tp::Click(d, IDCANCEL);
  };
  EXPECT_EQ(DialogBoxParamA(TestModule(), "Settings", nullptr, RecordingProc, 0), 2);
}

TEST_F(DialogTest, ItemTextsAndNumbers) {
  ScriptedUser user;
  user.idle = [](HWND d, int) {
    BOOL ok = TRUE;
    SetDlgItemInt(d, kOrder, static_cast<UINT>(-5), TRUE);
    EXPECT_EQ(static_cast<int>(GetDlgItemInt(d, kOrder, &ok, TRUE)), -5);
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetDlgItemInt(d, kOrder, &ok, FALSE), 0u);
    EXPECT_FALSE(ok);
    SetDlgItemInt(d, kOrder, 4294967295u, FALSE);
    EXPECT_EQ(GetDlgItemInt(d, kOrder, &ok, FALSE), 4294967295u);
    EXPECT_TRUE(ok);
    GetDlgItemInt(d, kOrder, &ok, TRUE);
    EXPECT_FALSE(ok);  // beyond a signed int
    struct Case {
      const char* text;
      BOOL translated;
      int value;
    };
    for (Case c : {Case{" +12 ", TRUE, 12}, Case{"12x", FALSE, 0}, Case{"", FALSE, 0}, Case{"-", FALSE, 0},
                   Case{"2147483648", FALSE, 0}, Case{"-2147483648", TRUE, INT_MIN}, Case{"1 2", FALSE, 0}}) {
      SetDlgItemTextA(d, kOrder, c.text);
      EXPECT_EQ(static_cast<int>(GetDlgItemInt(d, kOrder, &ok, TRUE)), c.value) << c.text;
      EXPECT_EQ(ok, c.translated) << c.text;
    }
    EXPECT_EQ(GetDlgItemInt(d, kOrder, nullptr, TRUE), 0u);
    GetDlgItemInt(d, 999, &ok, TRUE);
    EXPECT_FALSE(ok);

    char text[16] = "junk";
    SetDlgItemTextA(d, kOrder, "abcdef");
    EXPECT_EQ(GetDlgItemTextA(d, kOrder, text, 4), 3u);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(GetDlgItemTextA(d, 999, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(SetDlgItemTextA(d, 999, "x"));
    EXPECT_EQ(GetWindowTextA(d, text, sizeof text), 15);
    EXPECT_STREQ(text, "Test \"Settings\"");
    EXPECT_TRUE(SetWindowTextA(d, "Renamed"));
    EXPECT_EQ(GetWindowTextLengthA(d), 7);
    EXPECT_EQ(SendMessageA(GetDlgItem(d, IDOK), WM_GETTEXTLENGTH, 0, 0), 2);
    tp::Click(d, IDOK);
  };
  EXPECT_EQ(RunDialog(100, RecordingProc), 1);
  EXPECT_EQ(LastDialog().final.caption, "Renamed");
}

// The settings dialog opens the result dialog from its Help button and then asks a question.
int g_nestedAnswer = 0;
INT_PTR CALLBACK OuterProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && LOWORD(wParam) == kHelp) {
    DialogBoxParamA(TestModule(), MAKEINTRESOURCE(107), dialog, ModuleProc(MAKEINTRESOURCE(101)), 0);
    g_nestedAnswer = MessageBoxA(dialog, "Again?", "Nested", MB_YESNO | MB_ICONQUESTION);
    return TRUE;
  }
  return RecordingProc(dialog, msg, wParam, lParam);
}

TEST_F(DialogTest, NestedDialogsAndMessageBoxes) {
  ScriptedUser user;
  HWND outer = nullptr;
  user.answer = [](const tp::MessageBoxEvent& box) { return box.text == "Again?" ? IDNO : IDOK; };
  user.idle = [&](HWND d, int round) {
    if (tp::Inspect(d).templateId == 107) {
      auto open = tp::OpenDialogs();
      ASSERT_EQ(open.size(), 2u);
      EXPECT_EQ(open[0], outer);
      EXPECT_EQ(open[1], d);
      EXPECT_EQ(GetParent(d), outer);
      EXPECT_FALSE(tp::Click(outer, IDOK));  // the owner is disabled while the inner dialog runs
      EXPECT_TRUE(tp::Click(d, IDOK));
      return;
    }
    outer = d;
    if (round == 0) {
      EXPECT_TRUE(tp::Click(d, kHelp));
      EXPECT_TRUE(IsWindowEnabled(d));
    } else {
      EXPECT_TRUE(tp::Click(d, IDOK));
    }
  };
  EXPECT_EQ(RunDialog(100, OuterProc), 1);
  EXPECT_EQ(g_nestedAnswer, IDNO);
  const auto& journal = tp::Journal();
  ASSERT_EQ(journal.size(), 3u);
  const auto& inner = std::get<tp::DialogEvent>(journal[0]);
  EXPECT_EQ(inner.final.templateId, 107);
  EXPECT_EQ(inner.owner, reinterpret_cast<uintptr_t>(outer));
  const auto& box = std::get<tp::MessageBoxEvent>(journal[1]);
  EXPECT_EQ(box.answer, IDNO);
  EXPECT_EQ(box.caption, "Nested");
  EXPECT_EQ(box.owner, reinterpret_cast<uintptr_t>(outer));
  EXPECT_EQ(std::get<tp::DialogEvent>(journal[2]).final.templateId, 100);
}

// Another thread writes a status line, sends a message and posts OK, as the preview worker may.
std::atomic<bool> g_userSeen{false};
std::thread::id g_userThread;
INT_PTR CALLBACK ThreadedProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER) {
    g_userThread = std::this_thread::get_id();
    g_userSeen = true;
    return static_cast<INT_PTR>(wParam) * 6;
  }
  return RecordingProc(dialog, msg, wParam, lParam);
}

TEST_F(DialogTest, MessagesFromAnotherThread) {
  ScriptedUser user;
  std::thread worker;
  LRESULT answer = 0;
  g_userSeen = false;
  user.idle = [&](HWND d, int round) {
    if (round == 0) {
      worker = std::thread([d, &answer] {
        SetDlgItemTextA(d, 1051, "Block 1: reading input data");
        answer = SendMessageA(d, WM_USER, 7, 0);
        PostMessageA(d, WM_COMMAND, IDOK, 0);
      });
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // time for the worker
    }
  };
  EXPECT_EQ(RunDialog(107, ThreadedProc), 1);
  worker.join();
  EXPECT_EQ(answer, 42);
  EXPECT_EQ(g_userThread, std::this_thread::get_id());  // the procedure ran on the dialog's thread
  EXPECT_EQ(LastDialog().final.Find(1051)->text, "Block 1: reading input data");
}

}  // namespace
