#include "help_about.h"

#include <string>

#include <wx/intl.h>

#include "app_info.h"
#include "icons/morvelix56.xpm"
#include "main_frame_ex.h"
#include "shell.h"

namespace {

// The shell takes its names as UTF-16.
std::u16string Utf16(const wxString& text)
{
    std::u16string units;
    for (wxUniChar c : text) {
        const wxUint32 code = c.GetValue();
        if (code >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
    }
    return units;
}

} // namespace

wxString HelpFileName()
{
    return wxGetTranslation("Morvelix.html");
}

wxAboutDialogInfo AboutInfo()
{
    wxAboutDialogInfo info;
    info.SetName(wxGetTranslation(APP_NAME_W));
    // The version number first, then the word.
    info.SetVersion(wxGetTranslation(wxString(std::string(APP_VERSION) + " version")));
    info.SetDescription(wxGetTranslation(
        "\nSupported barcode types: EAN13/EAN8/UPCA/UPCE/CODEBAR39/CODEBAR128"));
    info.SetIcon(wxIcon(morvelix56_xpm));
    info.SetWebSite(wxGetTranslation("https://www.example.com/morvelix/"));
    info.SetCopyright("Copyright (C) 2026 The Morvelix Barcode Reader developers");
    return info;
}

void wxMainFrameEx::OnHelp(wxCommandEvent&)
{
    const std::u16string name = Utf16(HelpFileName());
    // A missing help file or viewer shows nothing: the result is not looked at.
    ShellExecuteW(nullptr, u"open", name.c_str(), u"", nullptr, SW_SHOWNORMAL);
}

void wxMainFrameEx::OnAbout(wxCommandEvent&)
{
    wxAboutBox(AboutInfo(), this);
}
