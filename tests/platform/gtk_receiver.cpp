// A GTK program (through wxWidgets) that stands for another application
// receiving typed keys: a frame with a multi-line text box that has the
// focus. After every change it writes the box's whole text, as UTF-8, to
// TEXT_FILE.
//
//   gtk_receiver READY_FILE TEXT_FILE
//
// Once its text box has the keyboard focus it creates READY_FILE. It runs
// until it is killed.
#include <wx/frame.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/wx.h>

#include <cstdio>
#include <string>

namespace {

void WriteFile(const std::string& path, const std::string& content) {
  const std::string partial = path + ".part";
  FILE* file = std::fopen(partial.c_str(), "wb");
  if (!file) return;
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
  std::rename(partial.c_str(), path.c_str());
}

class ReceiverApp : public wxApp {
 public:
  bool OnInit() override {
    if (argc != 3) return false;
    m_readyFile = argv[1].utf8_string();
    m_textFile = argv[2].utf8_string();

    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "receiver", wxPoint(0, 0), wxSize(400, 200));
    m_text = new wxTextCtrl(frame, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                            wxTE_MULTILINE);
    m_text->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
      WriteFile(m_textFile, m_text->GetValue().utf8_string());
    });
    frame->Show();
    frame->Raise();
    m_text->SetFocus();

    m_readyCheck.Bind(wxEVT_TIMER, [this, frame](wxTimerEvent&) {
      if (frame->IsActive() && wxWindow::FindFocus() == m_text) {
        m_readyCheck.Stop();
        WriteFile(m_readyFile, "ready\n");
      }
    });
    m_readyCheck.Start(20);
    return true;
  }

 private:
  std::string m_readyFile;
  std::string m_textFile;
  wxTextCtrl* m_text = nullptr;
  wxTimer m_readyCheck;
};

}  // namespace

wxIMPLEMENT_APP(ReceiverApp);
