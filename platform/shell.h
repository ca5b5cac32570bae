// Opening a document with the desktop's viewer for its type, in the shape of
// the Windows shell call: the file is handed to xdg-open.
#pragma once

#include "win32_types.h"

constexpr INT SW_SHOWNORMAL = 1;

// Results at or below 32 are failures, as in Windows.
constexpr INT SE_ERR_FNF = 2;       // the file was not found
constexpr INT SE_ERR_NOASSOC = 31;  // no viewer, or a verb other than "open"

// Opens `file` with the verb "open" (null or empty means "open" too; case
// does not matter). A relative name is looked for in `directory` when one is
// given, otherwise beside the program first and then in the current folder,
// so that a document shipped beside the program is found from anywhere.
// The file's absolute path goes to xdg-open as a single argument, through
// the toolkit's process launcher without a shell, and the call returns
// without waiting for the viewer. A missing file or a missing xdg-open
// fails quietly, with the code as the result. `owner`, `parameters` and
// `showCommand` have no use here. Call it on the GUI thread: the toolkit
// watches the viewer's process from there.
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, INT showCommand);
