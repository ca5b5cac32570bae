// The application object: starts the toolkit and opens the one main window.
#pragma once

#include <wx/app.h>

class ScannerApp : public wxApp {
public:
    bool OnInit() override;
    // An exception that escapes an event handler is dropped, and the event
    // loop goes on.
    bool OnExceptionInMainLoop() override;
};
