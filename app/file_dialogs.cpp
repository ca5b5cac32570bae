#include "file_dialogs.h"

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/tokenzr.h>

#ifdef __WXGTK__
#include <fnmatch.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

namespace {

using Patterns = std::vector<std::string>;

gboolean MatchesInAnyCase(const GtkFileFilterInfo* info, gpointer data)
{
    if (!info->display_name)
        return FALSE;
    for (const std::string& pattern : *static_cast<const Patterns*>(data)) {
        if (fnmatch(pattern.c_str(), info->display_name, FNM_CASEFOLD) == 0)
            return TRUE;
    }
    return FALSE;
}

void FreePatterns(gpointer data)
{
    delete static_cast<Patterns*>(data);
}

// GTK's own text, in the user's language where GTK has it.
wxString GtkText(const char* text)
{
    return wxString::FromUTF8(g_dgettext("gtk30", text));
}

} // namespace

void MatchAnyLetterCase(wxFileDialog* dialog)
{
    GtkWidget* handle = dialog->GetHandle();
    if (!handle || !GTK_IS_FILE_CHOOSER(handle))
        return;
    wxArrayString labels, patterns;
    const int count = wxParseCommonDialogsFilter(dialog->GetWildcard(), labels, patterns);
    // wxFileDialog made one GTK filter per file type, in the wildcard's order;
    // a filter passes a file that any of its rules passes.
    GSList* filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(handle));
    int index = 0;
    for (GSList* item = filters; item && index < count; item = item->next, ++index) {
        Patterns* list = new Patterns;
        wxStringTokenizer tokens(patterns[index], ";");
        while (tokens.HasMoreTokens())
            list->push_back(tokens.GetNextToken().Trim().Trim(false).ToStdString());
        gtk_file_filter_add_custom(GTK_FILE_FILTER(item->data), GTK_FILE_FILTER_DISPLAY_NAME,
                                   MatchesInAnyCase, list, FreePatterns);
    }
    g_slist_free(filters);
}

bool ConfirmReplace(wxWindow* parent, const wxString& path)
{
    const wxFileName name(path);
    GtkWindow* owner = nullptr;
    if (parent && parent->GetHandle())
        owner = GTK_WINDOW(gtk_widget_get_toplevel(parent->GetHandle()));
    // The question GTK's own save dialog asks about a name typed there, but
    // a key press on its own keeps the file.
    const wxString question = wxString::Format(
        GtkText("A file named “%s” already exists.  Do you want to replace it?"),
        name.GetFullName());
    const wxString where = wxString::Format(
        GtkText("The file already exists in “%s”.  Replacing it will overwrite its contents."),
        wxFileName(name.GetPath()).GetFullName());
    GtkWidget* box = gtk_message_dialog_new(
        owner, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", question.utf8_str().data());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s",
                                             where.utf8_str().data());
    gtk_dialog_add_button(GTK_DIALOG(box), g_dgettext("gtk30", "_Cancel"), GTK_RESPONSE_CANCEL);
    gtk_dialog_add_button(GTK_DIALOG(box), g_dgettext("gtk30", "_Replace"), GTK_RESPONSE_ACCEPT);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_CANCEL);
    const int response = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    return response == GTK_RESPONSE_ACCEPT;
}

#else

void MatchAnyLetterCase(wxFileDialog*) {}

bool ConfirmReplace(wxWindow* parent, const wxString& path)
{
    const wxFileName name(path);
    wxMessageDialog question(parent,
                             wxString::Format("A file named \"%s\" already exists. Do you want to "
                                              "replace it?",
                                              name.GetFullName()),
                             wxEmptyString, wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
    return question.ShowModal() == wxID_YES;
}

#endif
