// What the reader's file dialogs need beyond wxFileDialog on GTK, so that
// they behave as the dialogs the program was laid out for.
#pragma once

#include <wx/string.h>

class wxFileDialog;
class wxWindow;

// Lets each file type of the dialog list the files whose names match its
// patterns in any letter case: GTK's patterns are case-sensitive, and
// cameras and scanners name their pictures IMG_0001.JPG or Scan.PNG.
void MatchAnyLetterCase(wxFileDialog* dialog);

// Asks the toolkit's usual question before the file at `path` is replaced:
// true when the user chose to replace it.
bool ConfirmReplace(wxWindow* parent, const wxString& path);
