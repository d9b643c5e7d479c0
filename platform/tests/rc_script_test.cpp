// The resource script reader.
#include <gtest/gtest.h>

#include "platform/portable/rc_script.h"
#include "platform/win.h"

namespace tp = tovrel::portable;

namespace {

tp::ResourceScript Parse(const char* text) {
  std::string error;
  auto script = tp::ParseResourceScript(text, &error);
  EXPECT_TRUE(script.has_value()) << error;
  return script ? *script : tp::ResourceScript{};
}

std::string ErrorOf(const char* text) {
  std::string error;
  auto script = tp::ParseResourceScript(text, &error);
  EXPECT_FALSE(script.has_value());
  return error;
}

TEST(RcScriptTest, DefaultStylesAndNot) {
  auto script = Parse(R"(
#define IDC_A 200
100 DIALOG 0, 0, 100, 50
BEGIN
  LTEXT "a", -1, 1, 2, 3, 4
  EDITTEXT IDC_A, 1, 2, 3, 4, ES_AUTOHSCROLL | NOT WS_TABSTOP | NOT WS_BORDER
  PUSHBUTTON "p", IDC_A + 1, 1, 2, 3, 4, NOT WS_VISIBLE | WS_DISABLED
  DEFPUSHBUTTON "d", IDOK, 1, 2, 3, 4
  RADIOBUTTON "r", 203, 1, 2, 3, 4
  COMBOBOX 204, 1, 2, 3, 4
  CONTROL "c", 205, BUTTON, BS_AUTOCHECKBOX | WS_TABSTOP, (1+1)*2, 0x10, 3, 4, WS_EX_CLIENTEDGE
  CONTROL "t", 206, "msctls_trackbar32", TBS_AUTOTICKS, 1, 2, 3, 4
  ICON "appicon", 207, 5, 6
END
)");
  ASSERT_EQ(script.dialogs.size(), 1u);
  const auto& d = script.dialogs[0];
  EXPECT_EQ(d.id, 100);
  EXPECT_EQ(d.style, static_cast<uint32_t>(WS_POPUP | WS_BORDER | WS_SYSMENU));
  ASSERT_EQ(d.controls.size(), 9u);
  const uint32_t base = WS_CHILD | WS_VISIBLE;
  EXPECT_EQ(d.controls[0].style, base | SS_LEFT | WS_GROUP);
  EXPECT_EQ(d.controls[0].id, -1);
  EXPECT_EQ(d.controls[0].kind, tp::ControlKind::Static);
  EXPECT_EQ(d.controls[1].style, base | ES_AUTOHSCROLL);
  EXPECT_EQ(d.controls[1].id, 200);
  EXPECT_EQ(d.controls[2].style, WS_CHILD | WS_DISABLED | WS_TABSTOP);
  EXPECT_EQ(d.controls[2].id, 201);
  EXPECT_EQ(d.controls[3].style, base | BS_DEFPUSHBUTTON | WS_TABSTOP);
  EXPECT_EQ(d.controls[4].style, base | BS_RADIOBUTTON);
  EXPECT_EQ(d.controls[4].kind, tp::ControlKind::RadioButton);
  EXPECT_EQ(d.controls[5].style, base | CBS_SIMPLE | WS_TABSTOP);
  EXPECT_EQ(d.controls[5].windowClass, "COMBOBOX");
  EXPECT_EQ(d.controls[6].windowClass, "BUTTON");
  EXPECT_EQ(d.controls[6].kind, tp::ControlKind::CheckBox);
  EXPECT_EQ(d.controls[6].x, 4);
  EXPECT_EQ(d.controls[6].y, 16);
  EXPECT_EQ(d.controls[6].exStyle, 0x200u);
  EXPECT_EQ(d.controls[7].windowClass, "msctls_trackbar32");
  EXPECT_EQ(d.controls[7].kind, tp::ControlKind::Other);
  EXPECT_EQ(d.controls[8].text, "appicon");
  EXPECT_EQ(d.controls[8].id, 207);
}

TEST(RcScriptTest, PreprocessorAndSkippedResources) {
  auto script = Parse(R"(// comment
#include "resource.h"
#include <windows.h>
#pragma code_page(1252)
#define FIRST 300 /* a comment */
#define SECOND (FIRST \
                + 1)
#define TITLE "From a macro"
#ifdef APSTUDIO_INVOKED
  garbage that is never read "
#elif defined(FIRST) && FIRST > 299
#define PICKED 1
#else
#define PICKED 2
#endif
#if !defined(MISSING) || MISSING
#define ALSO 7
#endif
#define GONE 1
#undef GONE
#ifdef GONE
#error GONE is still defined
#endif
IDI_APP ICON DISCARDABLE "app.ico"
1 24 "manifest.xml"
IDR_MENU MENU DISCARDABLE
BEGIN
  POPUP "&File"
  BEGIN
    MENUITEM "E&xit", 1
  END
END
STRINGTABLE DISCARDABLE
BEGIN
  1, "END"
END
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
SECOND DIALOGEX 1, 2, 3, 4, 99
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION
EXSTYLE WS_EX_TOOLWINDOW
CAPTION TITLE
FONT 8, "MS Shell Dlg", 400, 0, 0x1
CLASS "MyClass"
{
  LTEXT "Picked", PICKED, 0, 0, 1, 1
  LTEXT "Also\ttab ""quoted""", ALSO, 0, 0, 1, 1, SS_NOTIFY, 0, 77
}
results dialog 0, 0, 10, 10
begin
  pushbutton "x", 1, 0, 0, 1, 1
end
)");
  ASSERT_EQ(script.dialogs.size(), 2u);
  const auto& d = script.dialogs[0];
  EXPECT_EQ(d.id, 301);
  EXPECT_TRUE(d.extended);
  EXPECT_EQ(d.caption, "From a macro");
  EXPECT_EQ(d.font, "8, MS Shell Dlg");
  EXPECT_EQ(d.windowClass, "MyClass");
  EXPECT_EQ(d.style, static_cast<uint32_t>(DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFONT));
  EXPECT_EQ(d.exStyle, 0x80u);
  ASSERT_EQ(d.controls.size(), 2u);
  EXPECT_EQ(d.controls[0].id, 1);
  EXPECT_EQ(d.controls[1].id, 7);
  EXPECT_EQ(d.controls[1].text, "Also\ttab \"quoted\"");
  EXPECT_EQ(script.dialogs[1].name, "RESULTS");
  EXPECT_EQ(script.Find(301), &script.dialogs[0]);
  EXPECT_EQ(script.Find("#301"), &script.dialogs[0]);
  EXPECT_EQ(script.Find("Results"), &script.dialogs[1]);
  EXPECT_EQ(script.Find("#x"), nullptr);
  EXPECT_EQ(script.Find(1), nullptr);
}

TEST(RcScriptTest, FaultsNameTheLine) {
  EXPECT_EQ(ErrorOf("100 DIALOG 0, 0, 1, 1\nBEGIN\n  LTEXT \"a\", -1, 0, 0, 1, 1, SS_LEFTT\nEND\n"),
            "line 3: unknown name SS_LEFTT");
  EXPECT_EQ(ErrorOf("100 DIALOG 0, 0, 1, 1\nBEGIN\n  LTEXT \"a\", -1, 0, 0, 1\nEND\n"),
            "line 4: ',' expected, found END");
  EXPECT_NE(ErrorOf("100 DIALOG 0, 0, 1, 1\nBEGIN\n  LTEXT \"a\", -1, 0, 0, 1, 1\n").find("without END"),
            std::string::npos);
  EXPECT_NE(ErrorOf("100 DIALOG 0, 0, 1, 1\nBEGIN\n  SLIDER 1, 0, 0, 1, 1\nEND\n").find("SLIDER"),
            std::string::npos);
  EXPECT_NE(ErrorOf("#if 1\n100 DIALOG 0,0,1,1\nBEGIN\nEND\n").find("#endif"), std::string::npos);
  EXPECT_NE(ErrorOf("100 DIALOG 0,0,1,1\nCAPTION \"open\nBEGIN\nEND\n").find("unterminated"), std::string::npos);
  EXPECT_NE(ErrorOf("100 DIALOG 0,0,1,1 BEGIN LTEXT \"a\", 1/0, 0,0,1,1 END").find("division"), std::string::npos);
}

}  // namespace
