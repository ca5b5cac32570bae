// The plain Windows integer and handle types that the program's code is
// written with, at their Windows widths, for our Linux layer.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;  // 32 bits, as on Windows
typedef int32_t LONG;    // 32 bits, as on Windows (not the 64-bit long of Linux)
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef int32_t BOOL;
typedef unsigned int UINT;
typedef int32_t HRESULT;
typedef char16_t WCHAR;  // a UTF-16 unit
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef void* HANDLE;
typedef int INT;
typedef DWORD LCID;
typedef const WCHAR* LPCWSTR;  // a NUL-terminated UTF-16 string
typedef WCHAR* LPWSTR;

// Window and module handles are opaque: only this layer knows what they stand for.
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
