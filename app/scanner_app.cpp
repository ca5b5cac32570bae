#include "scanner_app.h"

#include <wx/image.h>

#include "my_frame.h"

bool ScannerApp::OnInit()
{
    if (!wxApp::OnInit())
        return false;

    wxInitAllImageHandlers();

    // The logic layer replaces both the empty title and this first size.
    MyFrame1* frame = new MyFrame1(wxEmptyString, wxSize(838, 676));
    SetTopWindow(frame);
    frame->Show(true);
    return true;
}

bool ScannerApp::OnExceptionInMainLoop()
{
    return true;
}
