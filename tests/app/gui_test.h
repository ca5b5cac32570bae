// What the GUI tests share: a test application that runs GoogleTest inside
// the toolkit, a fixture that gives each test a fresh home folder and
// machine-wide settings folder and fails on any toolkit assert or GTK
// warning, and helpers that drive the real windows.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include <wx/gdicmn.h>
#include <wx/string.h>

class MyFrame1;
class wxFrame;
class wxToolBar;
class wxWindow;

// Lets pending events, GTK's own work and idle handlers run.
void Settle(int rounds = 5);

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates and shows the main window as the application does.
    MyFrame1* OpenWindow();
    // Destroys it as its close box does, and lets the deletion happen.
    void CloseWindow(wxFrame* frame);

    // The settings files, as wxFileConfig names them for "Morvelix".
    wxString UserFile() const;
    wxString MachineFile() const;
    void WriteFile(const wxString& path, const std::string& text);
    std::string ReadFile(const wxString& path);
    // Reads one value of the group "/Morvelix Barcode Reader/" from a file.
    bool ReadStored(const wxString& path, const wxString& key, wxString* value);

    wxString m_home;        // HOME for this test
    wxString m_machineDir;  // where the machine-wide file is looked for
};

// Catches what this process writes to standard error while it lives.
class StandardErrorCapture {
public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

    // The lines written so far that hold `text`.
    std::vector<std::string> LinesWith(const std::string& text);

private:
    FILE* m_file;
    int m_saved;
};

// A click on a tool as the toolkit reports one: the toggle state flips (a
// radio tool is switched on) and the toolbar sends its tool event.
void ClickTool(wxToolBar* toolBar, int id);
// Where a tool of a shown toolbar is on the screen: its centre.
wxPoint ToolCentreOnScreen(wxToolBar* toolBar, int id);
// Sends a menu or tool command with the given id to a window.
void SendCommand(wxWindow* window, int id);
// Runs the event loop until the window has taken the outcome of the image
// file it is opening, if it is opening one.
void WaitForOpening(MyFrame1* frame);
