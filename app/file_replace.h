// Replacing a file that the user keeps: the history export and the settings
// file are both written through here.
#pragma once

#include <string>

#include <wx/string.h>

// Replaces or creates the file with exactly these bytes. They go to a new
// file in the same folder first, which takes the old file's place only when
// all of it is on disk; on failure the old file is left as it was, the new
// one is removed and the reason is returned in `error` (when not null).
// What the user set up around the file stays: a symbolic link keeps
// pointing at the file, which gets the new bytes (a relative target counts
// from the folder that holds the link, as the kernel counts it), and a
// replaced file keeps its mode and, where the process may give it, its
// owner and group.
bool ReplaceFile(const wxString& path, const std::string& bytes, wxString* error);
