// Replacing a file that the user keeps: the history export and the settings
// file are both written through here.
#pragma once

#include <string>

#include <wx/string.h>

// Replaces or creates the file with exactly these bytes. They go to a new
// file in the same folder first, which takes the old file's place only when
// all of it is on disk; on failure the old file is left as it was, the new
// one is removed and the reason is returned in `error` (when not null).
//
// What the user set up around the file stays:
// - Symbolic links are followed as the kernel follows them when it opens a
//   file: a relative target counts from the folder that holds the link, at
//   most 40 links are followed (ELOOP beyond, as for a loop), and in a
//   sticky world-writable folder such as /tmp only a link owned by this
//   user or by the folder's owner is followed (EACCES otherwise). The links
//   stay; the file they lead to gets the new bytes.
// - A replaced file keeps its mode, its extended attributes and its access
//   list, and, where the process may give them, its owner and group. It
//   gains no permission: when its group cannot be kept, the group gets
//   none, and an access list that the folder's default list would give the
//   new file is not kept where the old file had none.
// - Other hard links to the old file keep the old bytes.
bool ReplaceFile(const wxString& path, const std::string& bytes, wxString* error);
