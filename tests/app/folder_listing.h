// What a test folder holds, for checking that a write left nothing else behind.
#pragma once

#include <algorithm>
#include <vector>

#include <wx/dir.h>
#include <wx/string.h>

// The names of the files in the folder, hidden ones included, sorted.
inline std::vector<wxString> FilesIn(const wxString& folder)
{
    std::vector<wxString> names;
    wxDir dir(folder);
    wxString name;
    for (bool more = dir.GetFirst(&name, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN); more;
         more = dir.GetNext(&name))
        names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}
