// The program's name and version, shared by the application's source files.
#pragma once

#include <wx/string.h>

inline constexpr char APP_NAME[] = "Morvelix Barcode Reader";
inline constexpr char APP_VERSION[] = " 1.3"; // the about box prints it before " version"

// The wide copy of APP_NAME that the title bar and the about box show; made
// once during static initialisation (the name is plain ASCII).
extern const wxString APP_NAME_W;
