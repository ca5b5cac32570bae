#include "dialog_answers.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <wx/filedlg.h>

namespace {

constexpr guint kPollInterval = 15; // ms
// How long the chooser may take to load the folder and select the file.
constexpr int kSelectionWaits = 400; // polls
// How often a selection that is not the file is corrected.
constexpr int kReselectEvery = 10; // polls
// How long an answered chooser may take to close before it is answered again.
constexpr int kCloseWaits = 100; // polls
// Answers before the test fails with what the chooser shows.
constexpr int kMostRounds = 10;

std::string Property(GObject* object, const char* name)
{
    gchar* value = nullptr;
    g_object_get(object, name, &value, nullptr);
    std::string text = value ? value : "";
    g_free(value);
    return text;
}

} // namespace

DialogAnswers::DialogAnswers()
{
    m_source = g_timeout_add(kPollInterval, reinterpret_cast<GSourceFunc>(&DialogAnswers::Tick),
                             this);
}

DialogAnswers::~DialogAnswers()
{
    g_source_remove(m_source);
    Forget();
}

void DialogAnswers::Forget()
{
    if (m_chooser)
        g_object_remove_weak_pointer(G_OBJECT(m_chooser), reinterpret_cast<gpointer*>(&m_chooser));
    m_chooser = nullptr;
}

void DialogAnswers::AnswerFileDialog(wxFileDialog* dialog, const wxString& path, int filterIndex,
                                     bool accept)
{
    Forget();
    // The chooser goes away with its window; the pointer is cleared then.
    GtkWidget* widget = dialog->GetHandle();
    if (widget && GTK_IS_FILE_CHOOSER(widget)) {
        m_chooser = widget;
        g_object_add_weak_pointer(G_OBJECT(m_chooser), reinterpret_cast<gpointer*>(&m_chooser));
    }
    m_fileDialog = dialog;
    m_path = path;
    m_filterIndex = filterIndex;
    m_accept = accept;
    m_fileStage = kWaiting;
    m_waits = 0;
    m_rounds = 0;
    m_fileDone = false;
}

int DialogAnswers::Tick(void* self)
{
    static_cast<DialogAnswers*>(self)->Step();
    return G_SOURCE_CONTINUE;
}

void DialogAnswers::Step()
{
    GtkWidget* chooser = m_chooser;

    // Message boxes first: an overwrite question may belong to the chooser.
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (!GTK_IS_MESSAGE_DIALOG(window) || !gtk_widget_get_visible(window))
            continue;
        // A replace question has a button that accepts the replacement.
        if (gtk_dialog_get_widget_for_response(GTK_DIALOG(window), GTK_RESPONSE_ACCEPT)) {
            m_replaceQuestions.push_back(Property(G_OBJECT(window), "text"));
            gtk_dialog_response(GTK_DIALOG(window),
                                m_replace ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL);
            continue;
        }
        GtkMessageType type = GTK_MESSAGE_OTHER;
        g_object_get(window, "message-type", &type, nullptr);
        const gchar* title = gtk_window_get_title(GTK_WINDOW(window));
        m_messages.push_back({title ? title : "", Property(G_OBJECT(window), "text"),
                              Property(G_OBJECT(window), "secondary-text"),
                              static_cast<int>(type)});
        gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_OK);
    }
    g_list_free(toplevels);

    if (!chooser || m_fileStage == kClosed)
        return;
    if (!gtk_widget_get_visible(chooser)) {
        // Closed by the answer, or not shown yet.
        if (m_fileStage == kAnswered)
            m_fileStage = kClosed;
        return;
    }

    GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
    if (m_fileStage == kWaiting && m_rounds == 0) {
        gchar* folder = gtk_file_chooser_get_current_folder(files);
        m_folderShown = wxString::FromUTF8(folder ? folder : "");
        g_free(folder);
        if (m_whenShown)
            m_whenShown();
    }

    if (!m_accept) {
        if (m_fileStage == kWaiting || ++m_waits >= kCloseWaits) {
            gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
            m_fileStage = kAnswered;
            m_waits = 0;
            m_fileDone = true;
        }
        return;
    }

    if (m_fileStage == kAnswered) {
        // The chooser stays open when its answer chose nothing: a file the
        // list did not show yet, or a selection lost while the folder
        // loaded. Point it at the file again, as often as it takes.
        if (++m_waits < kCloseWaits)
            return;
        if (++m_rounds >= kMostRounds) {
            ADD_FAILURE() << "The file dialog stays open after " << m_rounds
                          << " answers; it shows " << Shown(files) << ", asked for "
                          << m_path;
            // Cancelled from now on, so that the test goes on to its end.
            m_accept = false;
            gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
            m_waits = 0;
            return;
        }
        m_fileStage = kWaiting;
    }

    if (m_fileStage == kWaiting) {
        // The pointer out of the way: while the chooser fills its list, the
        // row under the pointer can take the selection.
        GdkDisplay* display = gtk_widget_get_display(chooser);
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        GdkRectangle area = {0, 0, 1, 1};
        if (GdkMonitor* monitor = gdk_display_get_monitor(display, 0))
            gdk_monitor_get_geometry(monitor, &area);
        gdk_device_warp(pointer, gtk_widget_get_screen(chooser), area.x + area.width - 1,
                        area.y + area.height - 1);
        // The file type first: on a save dialog a new type renames the file.
        if (m_filterIndex >= 0)
            m_fileDialog->SetFilterIndex(m_filterIndex);
        if (gtk_file_chooser_get_action(files) == GTK_FILE_CHOOSER_ACTION_SAVE) {
            const wxString folder = m_path.BeforeLast('/');
            gtk_file_chooser_set_current_folder(files, folder.utf8_str());
            gtk_file_chooser_set_current_name(files, m_path.AfterLast('/').utf8_str());
        } else {
            gtk_file_chooser_set_filename(files, m_path.utf8_str());
        }
        m_fileStage = kPointed;
        m_waits = 0;
        return;
    }

    // The chooser loads the folder in the background and selects the file
    // when it is there; accepting earlier would accept nothing.
    gchar* chosen = gtk_file_chooser_get_filename(files);
    const bool ready = chosen && wxString::FromUTF8(chosen) == m_path;
    // Another file may get selected while the folder loads; choose again.
    if (!ready && chosen && m_waits % kReselectEvery == kReselectEvery - 1)
        gtk_file_chooser_set_filename(files, m_path.utf8_str());
    g_free(chosen);
    if (!ready && ++m_waits < kSelectionWaits)
        return;

    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    m_fileStage = kAnswered;
    m_waits = 0;
    m_fileDone = true;
}

std::string DialogAnswers::Shown(GtkFileChooser* files)
{
    gchar* folder = gtk_file_chooser_get_current_folder(files);
    gchar* chosen = gtk_file_chooser_get_filename(files);
    GtkFileFilter* filter = gtk_file_chooser_get_filter(files);
    const gchar* filterName = filter ? gtk_file_filter_get_name(filter) : nullptr;
    std::string shown = std::string("the folder \"") + (folder ? folder : "") + "\", " +
                        (chosen ? std::string("\"") + chosen + "\" chosen" : "nothing chosen") +
                        ", the filter \"" + (filterName ? filterName : "") + "\"";
    g_free(folder);
    g_free(chosen);
    return shown;
}
