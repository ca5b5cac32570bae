// The Help menu: the program's help in the desktop's viewer, and the about box.
#pragma once

#include <wx/aboutdlg.h>

// Where the help file is looked for: beside the program, then in the
// current folder. The name passes through the translation lookup, so a
// translation can name a help file of its own language.
wxString HelpFileName();

// What the about box shows.
wxAboutDialogInfo AboutInfo();
