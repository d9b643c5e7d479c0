// The portable backend's Win32 subset: the types, constants and functions the
// modules and the host use, with their Win32 names, signatures and semantics.
//
// Handles (HWND, HINSTANCE, HGLOBAL, ...) are small integers carried in pointer
// types; their values always fit 32 bits, so a handle stored in a 4-byte field of
// a parameter block survives the round trip on a 64-bit build.
#pragma once

#include <cstddef>
#include <cstdint>

#define TOVREL_PORTABLE_API __attribute__((visibility("default")))

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef std::size_t SIZE_T;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;

typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
#define TOVREL_DECLARE_HANDLE(name) struct name##__ { int unused; }; typedef struct name##__* name
TOVREL_DECLARE_HANDLE(HWND);
TOVREL_DECLARE_HANDLE(HINSTANCE);
typedef HINSTANCE HMODULE;

#ifndef TRUE
#  define TRUE 1
#  define FALSE 0
#endif
#ifndef MAX_PATH
#  define MAX_PATH 260
#endif

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(WINAPI* FARPROC)();

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

// Global memory
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GMEM_DDESHARE 0x2000
#define GMEM_SHARE 0x2000
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

// Clipboard formats
#define CF_TEXT 1
#define CF_WAVE 12

// Window messages
#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

// Notifications
#define BN_CLICKED 0
#define EN_CHANGE 0x0300
#define CBN_SELCHANGE 1

// Buttons
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BST_INDETERMINATE 2

// Combo boxes
#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E

// Edit controls
#define EM_LIMITTEXT 0x00C5
#define EM_SETLIMITTEXT EM_LIMITTEXT

// Dialog results and standard ids
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDC_STATIC (-1)

// Message boxes
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONMASK 0x000000F0L
#define MB_DEFMASK 0x00000F00L

// Window styles used by the dialog scripts
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L
#define DS_CENTER 0x0800L
#define DS_3DLOOK 0x0004L
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_CHECKBOX 0x00000002L
#define BS_AUTOCHECKBOX 0x00000003L
#define BS_RADIOBUTTON 0x00000004L
#define BS_3STATE 0x00000005L
#define BS_AUTO3STATE 0x00000006L
#define BS_GROUPBOX 0x00000007L
#define BS_AUTORADIOBUTTON 0x00000009L
#define BS_TYPEMASK 0x0000000FL
#define BS_LEFTTEXT 0x00000020L
#define ES_LEFT 0x0000L
#define ES_CENTER 0x0001L
#define ES_RIGHT 0x0002L
#define ES_MULTILINE 0x0004L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_NUMBER 0x2000L
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_RIGHT 0x00000002L
#define SS_SUNKEN 0x00001000L
#define CBS_SIMPLE 0x0001L
#define CBS_DROPDOWN 0x0002L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_SORT 0x0100L
#define CBS_HASSTRINGS 0x0200L

// ShowWindow
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

// WinHelp
#define HELP_CONTEXT 0x0001L
#define HELP_QUIT 0x0002L
#define HELP_INDEX 0x0003L
#define HELP_CONTENTS 0x0003L
#define HELP_KEY 0x0101L
#define HELP_FINDER 0x000BL

extern "C" {

// Global memory: movable blocks, locked for their use. A lock count is kept; a
// locked block's address never changes. GMEM_DDESHARE marks clipboard-suitable memory.
TOVREL_PORTABLE_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
TOVREL_PORTABLE_API HGLOBAL WINAPI GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags);
TOVREL_PORTABLE_API LPVOID WINAPI GlobalLock(HGLOBAL mem);
TOVREL_PORTABLE_API BOOL WINAPI GlobalUnlock(HGLOBAL mem);
TOVREL_PORTABLE_API SIZE_T WINAPI GlobalSize(HGLOBAL mem);
TOVREL_PORTABLE_API UINT WINAPI GlobalFlags(HGLOBAL mem);
TOVREL_PORTABLE_API HGLOBAL WINAPI GlobalFree(HGLOBAL mem);

// Clipboard: one clipboard per process, with an owner while open. A block given to
// SetClipboardData belongs to the clipboard from then on.
TOVREL_PORTABLE_API BOOL WINAPI OpenClipboard(HWND owner);
TOVREL_PORTABLE_API BOOL WINAPI EmptyClipboard(void);
TOVREL_PORTABLE_API HANDLE WINAPI SetClipboardData(UINT format, HANDLE mem);
TOVREL_PORTABLE_API HANDLE WINAPI GetClipboardData(UINT format);
TOVREL_PORTABLE_API BOOL WINAPI IsClipboardFormatAvailable(UINT format);
TOVREL_PORTABLE_API BOOL WINAPI CloseClipboard(void);

// Message boxes and beeps: answered and recorded by the user face.
TOVREL_PORTABLE_API int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
TOVREL_PORTABLE_API BOOL WINAPI MessageBeep(UINT type);

// Modal dialogs from the module's own resource script.
TOVREL_PORTABLE_API INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent,
                                                   DLGPROC proc, LPARAM param);
TOVREL_PORTABLE_API BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
TOVREL_PORTABLE_API HWND WINAPI GetDlgItem(HWND dialog, int id);
TOVREL_PORTABLE_API int WINAPI GetDlgCtrlID(HWND control);
TOVREL_PORTABLE_API HWND WINAPI GetParent(HWND window);
TOVREL_PORTABLE_API BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
TOVREL_PORTABLE_API UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size);
TOVREL_PORTABLE_API BOOL WINAPI SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
TOVREL_PORTABLE_API UINT WINAPI GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
TOVREL_PORTABLE_API BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check);
TOVREL_PORTABLE_API UINT WINAPI IsDlgButtonChecked(HWND dialog, int id);
TOVREL_PORTABLE_API BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check);
TOVREL_PORTABLE_API LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
TOVREL_PORTABLE_API LRESULT WINAPI SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
TOVREL_PORTABLE_API BOOL WINAPI PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
TOVREL_PORTABLE_API BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
TOVREL_PORTABLE_API int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size);
TOVREL_PORTABLE_API int WINAPI GetWindowTextLengthA(HWND window);
TOVREL_PORTABLE_API BOOL WINAPI EnableWindow(HWND window, BOOL enable);
TOVREL_PORTABLE_API BOOL WINAPI IsWindowEnabled(HWND window);
TOVREL_PORTABLE_API BOOL WINAPI ShowWindow(HWND window, int command);
TOVREL_PORTABLE_API BOOL WINAPI IsWindowVisible(HWND window);
TOVREL_PORTABLE_API BOOL WINAPI IsWindow(HWND window);

// Help: recorded, never shown.
TOVREL_PORTABLE_API BOOL WINAPI WinHelpA(HWND window, LPCSTR helpFile, UINT command, ULONG_PTR data);

// Time
TOVREL_PORTABLE_API DWORD WINAPI GetTickCount(void);

// Modules: shared libraries with their exports by name and by ordinal.
TOVREL_PORTABLE_API HMODULE WINAPI LoadLibraryA(LPCSTR path);
TOVREL_PORTABLE_API BOOL WINAPI FreeLibrary(HMODULE module);
TOVREL_PORTABLE_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR nameOrOrdinal);
TOVREL_PORTABLE_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

}  // extern "C"

#define MessageBox MessageBoxA
#define DialogBoxParam DialogBoxParamA
#define SetDlgItemText SetDlgItemTextA
#define GetDlgItemText GetDlgItemTextA
#define SendDlgItemMessage SendDlgItemMessageA
#define SendMessage SendMessageA
#define PostMessage PostMessageA
#define SetWindowText SetWindowTextA
#define GetWindowText GetWindowTextA
#define WinHelp WinHelpA
#define LoadLibrary LoadLibraryA

// ---- Files (platform/portable/files.cpp) --------------------------------------------
// Byte-stream files opened by name, read and written at a file pointer. A file handle
// comes from the backend's one handle counter; CloseHandle closes it.

typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;  // always null here
typedef struct _OVERLAPPED* LPOVERLAPPED;                    // always null here

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

extern "C" {
TOVREL_PORTABLE_API HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                              DWORD disposition, DWORD flags, HANDLE templateFile);
TOVREL_PORTABLE_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytesRead,
                                         LPOVERLAPPED overlapped);
TOVREL_PORTABLE_API BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD bytesWritten,
                                          LPOVERLAPPED overlapped);
TOVREL_PORTABLE_API DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
TOVREL_PORTABLE_API DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
TOVREL_PORTABLE_API BOOL WINAPI CloseHandle(HANDLE object);
TOVREL_PORTABLE_API BOOL WINAPI DeleteFileA(LPCSTR name);
TOVREL_PORTABLE_API void WINAPI GetLocalTime(LPSYSTEMTIME time);
}  // extern "C"

#define CreateFile CreateFileA
#define DeleteFile DeleteFileA

// ---- Threads (platform/portable/threads.cpp) ----------------------------------------
// A thread runs its start routine once; its handle comes from the backend's one handle
// counter and is signalled when the routine has returned. CloseHandle on a running
// thread lets it run on to its end; only WaitForSingleObject joins it.

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 0x00000103u

extern "C" {
// Runs start(parameter) on a new thread; null on failure (flags other than 0 are refused).
TOVREL_PORTABLE_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                               LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                               LPDWORD threadId);
// Waits up to `milliseconds` (INFINITE: without limit) for a thread to end.
TOVREL_PORTABLE_API DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
// The routine's result once it has returned, STILL_ACTIVE before.
TOVREL_PORTABLE_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
TOVREL_PORTABLE_API void WINAPI Sleep(DWORD milliseconds);
// Scheduling priority: accepted and remembered for a thread of the table, not applied.
TOVREL_PORTABLE_API BOOL WINAPI SetThreadPriority(HANDLE thread, int priority);
TOVREL_PORTABLE_API int WINAPI GetThreadPriority(HANDLE thread);
}  // extern "C"

#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// ---- Window classes and display windows (platform/portable/windows.cpp) -------------
// Windows of a registered class, created in pixel coordinates, usually as children of a
// dialog. Their procedure receives WM_PAINT when the dialog's loop runs empty and the
// window is shown and invalid; whatever it leaves to DefWindowProcA gets the default.

typedef WORD ATOM;
typedef DWORD COLORREF;
TOVREL_DECLARE_HANDLE(HMENU);
TOVREL_DECLARE_HANDLE(HICON);
TOVREL_DECLARE_HANDLE(HCURSOR);
TOVREL_DECLARE_HANDLE(HDC);
TOVREL_DECLARE_HANDLE(HPEN);
TOVREL_DECLARE_HANDLE(HBRUSH);
TOVREL_DECLARE_HANDLE(HFONT);
typedef void* HGDIOBJ;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT;
typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;
typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE;
typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT;

#define WM_CREATE 0x0001
#define WM_PAINT 0x000F
#define WM_ERASEBKGND 0x0014

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002

#define IDC_ARROW MAKEINTRESOURCEA(32512)

#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))

// Stock objects
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13

// Pens
#define PS_SOLID 0
#define PS_NULL 5

// Text
#define TRANSPARENT 1
#define OPAQUE 2
#define TA_LEFT 0
#define TA_RIGHT 2
#define TA_CENTER 6
#define TA_TOP 0
#define TA_BOTTOM 8
#define TA_BASELINE 24
#define GDI_ERROR 0xFFFFFFFFu
#define CLR_INVALID 0xFFFFFFFFu

// Fonts
#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define DEFAULT_PITCH 0
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_SWISS 0x20

extern "C" {
TOVREL_PORTABLE_API ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass);
// Fails while a window of the class exists.
TOVREL_PORTABLE_API BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
// Windows of registered classes only; the position and size are in pixels.
TOVREL_PORTABLE_API HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                                                int x, int y, int width, int height, HWND parent, HMENU menu,
                                                HINSTANCE instance, LPVOID param);
TOVREL_PORTABLE_API BOOL WINAPI DestroyWindow(HWND window);
TOVREL_PORTABLE_API LRESULT WINAPI DefWindowProcA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
TOVREL_PORTABLE_API HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
// The system font's average character width (low word) and height (high word): 8 and 16.
TOVREL_PORTABLE_API LONG WINAPI GetDialogBaseUnits(void);
TOVREL_PORTABLE_API BOOL WINAPI GetClientRect(HWND window, RECT* rect);
// The whole window is invalidated (validated) whatever the rectangle.
TOVREL_PORTABLE_API BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
TOVREL_PORTABLE_API BOOL WINAPI ValidateRect(HWND window, const RECT* rect);
TOVREL_PORTABLE_API BOOL WINAPI UpdateWindow(HWND window);
}  // extern "C"

#define CreateWindowA(className, windowName, style, x, y, width, height, parent, menu, instance, param) \
  CreateWindowExA(0, className, windowName, style, x, y, width, height, parent, menu, instance, param)
#define RegisterClass RegisterClassA
#define UnregisterClass UnregisterClassA
#define CreateWindowEx CreateWindowExA
#define CreateWindow CreateWindowA
#define DefWindowProc DefWindowProcA
#define LoadCursor LoadCursorA
#define WNDCLASS WNDCLASSA

// ---- Drawing (platform/portable/drawing.cpp) ------------------------------------------
// The GDI subset of the display windows, drawn with Cairo into one picture per window
// (pixel units, aliased lines as GDI draws them). Fonts map to the DejaVu family.

extern "C" {
TOVREL_PORTABLE_API HDC WINAPI BeginPaint(HWND window, PAINTSTRUCT* paint);
TOVREL_PORTABLE_API BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint);
TOVREL_PORTABLE_API HDC WINAPI GetDC(HWND window);
TOVREL_PORTABLE_API int WINAPI ReleaseDC(HWND window, HDC dc);

TOVREL_PORTABLE_API HPEN WINAPI CreatePen(int style, int width, COLORREF color);
TOVREL_PORTABLE_API HBRUSH WINAPI CreateSolidBrush(COLORREF color);
TOVREL_PORTABLE_API HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight,
                                             DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                                             DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                                             DWORD pitchAndFamily, LPCSTR faceName);
TOVREL_PORTABLE_API HGDIOBJ WINAPI GetStockObject(int object);
// Returns the object it replaces; null when the object or the device context is unknown.
TOVREL_PORTABLE_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
// Refused while the object is selected into a device context; stock objects stay.
TOVREL_PORTABLE_API BOOL WINAPI DeleteObject(HGDIOBJ object);

TOVREL_PORTABLE_API BOOL WINAPI MoveToEx(HDC dc, int x, int y, POINT* previous);
TOVREL_PORTABLE_API BOOL WINAPI LineTo(HDC dc, int x, int y);
TOVREL_PORTABLE_API BOOL WINAPI Polyline(HDC dc, const POINT* points, int count);
TOVREL_PORTABLE_API BOOL WINAPI Polygon(HDC dc, const POINT* points, int count);
TOVREL_PORTABLE_API BOOL WINAPI Ellipse(HDC dc, int left, int top, int right, int bottom);
TOVREL_PORTABLE_API BOOL WINAPI Rectangle(HDC dc, int left, int top, int right, int bottom);
TOVREL_PORTABLE_API int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);

TOVREL_PORTABLE_API BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int length);
TOVREL_PORTABLE_API COLORREF WINAPI SetTextColor(HDC dc, COLORREF color);
TOVREL_PORTABLE_API COLORREF WINAPI SetBkColor(HDC dc, COLORREF color);
TOVREL_PORTABLE_API int WINAPI SetBkMode(HDC dc, int mode);
TOVREL_PORTABLE_API UINT WINAPI SetTextAlign(HDC dc, UINT align);
}  // extern "C"

#define CreateFont CreateFontA
#define TextOut TextOutA

// ---- Events (platform/portable/threads.cpp) -------------------------------------------
// Unnamed events, manual- or auto-reset; WaitForSingleObject waits for them as for threads
// (an auto-reset event is cleared by the wait it releases); CloseHandle closes them.

extern "C" {
TOVREL_PORTABLE_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                                               LPCSTR name);
TOVREL_PORTABLE_API BOOL WINAPI SetEvent(HANDLE event);
TOVREL_PORTABLE_API BOOL WINAPI ResetEvent(HANDLE event);
}  // extern "C"
#define CreateEvent CreateEventA

// ---- Wave output (platform/portable/waveout.cpp) ----------------------------------------
// The multimedia wave output calls over the portable audio back ends: a device is named
// ("virtual", "virtual:FILE.wav" or an ALSA PCM name) and the device table lists the
// names in use (faces.h). An open device plays its queued headers in order on a thread of
// its own; a header played is marked WHDR_DONE (and the open's event is set).

typedef UINT MMRESULT;
typedef UINT MMVERSION;
typedef UINT* LPUINT;
TOVREL_DECLARE_HANDLE(HWAVEOUT);
typedef HWAVEOUT* LPHWAVEOUT;

#define MAXPNAMELEN 32
#define MAXERRORLENGTH 256

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NOTENABLED 3
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_BADERRNUM 9
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BASE 32
#define WAVERR_BADFORMAT (WAVERR_BASE + 0)
#define WAVERR_STILLPLAYING (WAVERR_BASE + 1)
#define WAVERR_UNPREPARED (WAVERR_BASE + 2)
#define WAVERR_SYNC (WAVERR_BASE + 3)

#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_QUERY 0x0001
#define WAVE_ALLOWSYNC 0x0002
#define CALLBACK_TYPEMASK 0x00070000l
#define CALLBACK_NULL 0x00000000l
#define CALLBACK_WINDOW 0x00010000l
#define CALLBACK_FUNCTION 0x00030000l
#define CALLBACK_EVENT 0x00050000l

#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define WHDR_BEGINLOOP 0x00000004
#define WHDR_ENDLOOP 0x00000008
#define WHDR_INQUEUE 0x00000010

#define WAVE_FORMAT_PCM 1

// Standard formats of a device's capabilities: 11025, 22050, 44100 Hz; mono or stereo; 8 or 16 bits.
#define WAVE_INVALIDFORMAT 0x00000000
#define WAVE_FORMAT_1M08 0x00000001
#define WAVE_FORMAT_1S08 0x00000002
#define WAVE_FORMAT_1M16 0x00000004
#define WAVE_FORMAT_1S16 0x00000008
#define WAVE_FORMAT_2M08 0x00000010
#define WAVE_FORMAT_2S08 0x00000020
#define WAVE_FORMAT_2M16 0x00000040
#define WAVE_FORMAT_2S16 0x00000080
#define WAVE_FORMAT_4M08 0x00000100
#define WAVE_FORMAT_4S08 0x00000200
#define WAVE_FORMAT_4M16 0x00000400
#define WAVE_FORMAT_4S16 0x00000800

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
} WAVEFORMATEX, *PWAVEFORMATEX, *LPWAVEFORMATEX;
typedef const WAVEFORMATEX* LPCWAVEFORMATEX;

typedef struct tagWAVEOUTCAPSA {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  CHAR szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
  DWORD dwSupport;
} WAVEOUTCAPSA, *LPWAVEOUTCAPSA;
#pragma pack(pop)
typedef WAVEOUTCAPSA WAVEOUTCAPS;
typedef LPWAVEOUTCAPSA LPWAVEOUTCAPS;

// Not packed here (the fields fall on their natural alignment either way), so that the
// done flag can be read atomically while the device's thread sets it.
typedef struct wavehdr_tag {
  LPSTR lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  struct wavehdr_tag* lpNext;
  DWORD_PTR reserved;
} WAVEHDR, *PWAVEHDR, *LPWAVEHDR;

extern "C" {
TOVREL_PORTABLE_API UINT WINAPI waveOutGetNumDevs(void);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR device, LPWAVEOUTCAPSA caps, UINT size);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size);
// Callbacks: CALLBACK_NULL, or CALLBACK_EVENT with an event handle (set at open, for each
// header done, and at close).
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutOpen(LPHWAVEOUT out, UINT device, LPCWAVEFORMATEX format,
                                                DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutClose(HWAVEOUT out);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutGetID(HWAVEOUT out, LPUINT device);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT out, LPWAVEHDR header, UINT size);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT out, LPWAVEHDR header, UINT size);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutWrite(HWAVEOUT out, LPWAVEHDR header, UINT size);
TOVREL_PORTABLE_API MMRESULT WINAPI waveOutReset(HWAVEOUT out);
}  // extern "C"
#define waveOutGetDevCaps waveOutGetDevCapsA
#define waveOutGetErrorText waveOutGetErrorTextA

// ---- Wave input (platform/portable/wavein.cpp) ----------------------------------------
// The multimedia wave input calls over the same back ends and the same device table as
// wave output: device i records from the device that waveOut's device i plays on (an ALSA
// capture PCM of the same name; for "virtual", what the virtual outputs play, through the
// loop the host may set in faces.h). Buffers added are filled in order once started; a
// full one is marked WHDR_DONE with dwBytesRecorded set, and the open's event is set or
// its function called with WIM_DATA (on the device's thread: the function may not call
// the waveIn functions).

TOVREL_DECLARE_HANDLE(HWAVEIN);
typedef HWAVEIN* LPHWAVEIN;

#define MM_WIM_OPEN 0x3BE
#define MM_WIM_CLOSE 0x3BF
#define MM_WIM_DATA 0x3C0
#define WIM_OPEN MM_WIM_OPEN
#define WIM_CLOSE MM_WIM_CLOSE
#define WIM_DATA MM_WIM_DATA

#pragma pack(push, 1)
typedef struct tagWAVEINCAPSA {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  CHAR szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
} WAVEINCAPSA, *LPWAVEINCAPSA;
#pragma pack(pop)
typedef WAVEINCAPSA WAVEINCAPS;

typedef void(CALLBACK* LPWAVEINPROC)(HWAVEIN wave, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                     DWORD_PTR param2);

extern "C" {
TOVREL_PORTABLE_API UINT WINAPI waveInGetNumDevs(void);
TOVREL_PORTABLE_API MMRESULT WINAPI waveInGetDevCapsA(UINT_PTR device, LPWAVEINCAPSA caps, UINT size);
// Callbacks: CALLBACK_NULL, CALLBACK_EVENT (set at open, for each header done, at close) or
// CALLBACK_FUNCTION (an LPWAVEINPROC: WIM_OPEN, WIM_DATA with the header, WIM_CLOSE).
TOVREL_PORTABLE_API MMRESULT WINAPI waveInOpen(LPHWAVEIN in, UINT device, LPCWAVEFORMATEX format,
                                               DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
TOVREL_PORTABLE_API MMRESULT WINAPI waveInClose(HWAVEIN in);
TOVREL_PORTABLE_API MMRESULT WINAPI waveInPrepareHeader(HWAVEIN in, LPWAVEHDR header, UINT size);
TOVREL_PORTABLE_API MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN in, LPWAVEHDR header, UINT size);
TOVREL_PORTABLE_API MMRESULT WINAPI waveInAddBuffer(HWAVEIN in, LPWAVEHDR header, UINT size);
TOVREL_PORTABLE_API MMRESULT WINAPI waveInStart(HWAVEIN in);
// Stops recording; the buffer being filled is returned with what it holds, the others stay queued.
TOVREL_PORTABLE_API MMRESULT WINAPI waveInStop(HWAVEIN in);
// Stops recording and returns every queued buffer.
TOVREL_PORTABLE_API MMRESULT WINAPI waveInReset(HWAVEIN in);
}  // extern "C"
#define waveInGetDevCaps waveInGetDevCapsA

// ---- Errors, system folder and the file dialog (platform/portable/shell.cpp) ----------
// The Windows folder is a folder of the host's (faces.h: SetWindowsFolder): the system
// folder is "C:\WINDOWS\SYSTEM", and a file name under "C:\WINDOWS\" opens from there.

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_INVALID_PARAMETER 87
#define ERROR_SHARING_VIOLATION 32

typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);
typedef struct tagOFNA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;
  LPARAM lCustData;
  LPOFNHOOKPROC lpfnHook;
  LPCSTR lpTemplateName;
} OPENFILENAMEA, *LPOPENFILENAMEA;

#define OFN_READONLY 0x00000001
#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_SHOWHELP 0x00000010
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_LONGNAMES 0x00200000
#define FNERR_BUFFERTOOSMALL 0x3003

extern "C" {
TOVREL_PORTABLE_API DWORD WINAPI GetLastError(void);
TOVREL_PORTABLE_API void WINAPI SetLastError(DWORD error);
TOVREL_PORTABLE_API UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
// Answered by the user (faces.h: User::OpenFileName); FALSE when the user cancels.
TOVREL_PORTABLE_API BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA dialog);
TOVREL_PORTABLE_API DWORD WINAPI CommDlgExtendedError(void);
}  // extern "C"

#define GetOpenFileName GetOpenFileNameA
#define OPENFILENAME OPENFILENAMEA
#define GetSystemDirectory GetSystemDirectoryA

// ---- The tab control (platform/portable/windows.cpp) --------------------------------
// A control of the class "SysTabControl32": its tabs, the current one, and WM_NOTIFY to
// its dialog when the user chooses another (faces.h: ChooseItem).

typedef struct tagNMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
} NMHDR, *LPNMHDR;

typedef struct tagTCITEMA {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
} TCITEMA;

#define WM_NOTIFY 0x004E
#define WC_TABCONTROLA "SysTabControl32"
#define TCIF_TEXT 0x0001
#define TCM_FIRST 0x1300
#define TCM_GETITEMCOUNT (TCM_FIRST + 4)
#define TCM_INSERTITEMA (TCM_FIRST + 7)
#define TCM_DELETEALLITEMS (TCM_FIRST + 9)
#define TCM_GETCURSEL (TCM_FIRST + 11)
#define TCM_SETCURSEL (TCM_FIRST + 12)
#define TCN_FIRST (0U - 550U)
#define TCN_SELCHANGE (TCN_FIRST - 1)
#define TCN_SELCHANGING (TCN_FIRST - 2)

typedef struct tagINITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
} INITCOMMONCONTROLSEX;
#define ICC_TAB_CLASSES 0x00000008

extern "C" {
// Windows needs it before a dialog with a tab control is created; here the class is always there.
TOVREL_PORTABLE_API BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* classes);
}  // extern "C"

#define TCITEM TCITEMA
#define TCM_INSERTITEM TCM_INSERTITEMA
#define WC_TABCONTROL WC_TABCONTROLA
