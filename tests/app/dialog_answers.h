// Answers the program's modal dialogs as a user would, from inside their
// modal loops: a GLib timeout runs in every nested main loop, so it sees the
// dialog while the code under test waits in ShowModal.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <wx/string.h>

class wxFileDialog;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkFileChooser GtkFileChooser;

// A message box as GTK showed it.
struct ShownMessage {
    std::string title;
    std::string text;      // the primary text
    std::string secondary; // the secondary text, if any
    int messageType;       // a GtkMessageType
};

class DialogAnswers {
public:
    DialogAnswers();
    ~DialogAnswers();
    DialogAnswers(const DialogAnswers&) = delete;
    DialogAnswers& operator=(const DialogAnswers&) = delete;

    // The next time `dialog` is shown: choose the file type, point it at
    // `path` and accept, or cancel it when `accept` is false. A filter index
    // below 0 leaves the file type as it is. A chooser that stays open is
    // answered again until it closes; one that never does fails the test,
    // saying what it shows, and is cancelled.
    void AnswerFileDialog(wxFileDialog* dialog, const wxString& path, int filterIndex = -1,
                          bool accept = true);
    // Runs `check` whenever the file dialog comes up, before it is answered.
    void WhenFileDialogShown(std::function<void()> check) { m_whenShown = std::move(check); }
    // True once the file dialog has been answered.
    bool FileDialogAnswered() const { return m_fileDone; }
    // The folder the file dialog showed when it came up.
    const wxString& FolderShown() const { return m_folderShown; }

    // Every message box shown meanwhile, answered with its default button.
    const std::vector<ShownMessage>& Messages() const { return m_messages; }
    // Questions whether to replace a file, GTK's own of the save dialog and
    // the program's: each is answered "Replace", or "Cancel" after
    // AnswerReplace(false). Their primary texts, in order.
    void AnswerReplace(bool replace) { m_replace = replace; }
    int OverwriteQuestions() const { return static_cast<int>(m_replaceQuestions.size()); }
    const std::vector<std::string>& ReplaceQuestions() const { return m_replaceQuestions; }

private:
    static int Tick(void* self);
    void Step();
    void Forget();
    // The folder, the chosen file and the file type the chooser shows.
    static std::string Shown(GtkFileChooser* files);

    enum FileStage { kWaiting, kPointed, kAnswered, kClosed };

    unsigned m_source = 0;
    wxFileDialog* m_fileDialog = nullptr;
    GtkWidget* m_chooser = nullptr; // the dialog's GtkFileChooser while it exists
    wxString m_path;
    int m_filterIndex = -1;
    bool m_accept = true;
    FileStage m_fileStage = kWaiting;
    int m_waits = 0;  // polls in this stage
    int m_rounds = 0; // answers the chooser stayed open after
    bool m_fileDone = false;
    wxString m_folderShown;
    std::function<void()> m_whenShown;
    std::vector<ShownMessage> m_messages;
    bool m_replace = true;
    std::vector<std::string> m_replaceQuestions;
};
