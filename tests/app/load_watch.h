// What the image loading tests watch: the toolkit's log, standard error,
// the memory of the test process, and the decoder processes and
// descriptors that loading leaves behind.
#pragma once

#include <string>
#include <vector>

#include <wx/log.h>

// A value of /proc/self/status in MiB: VmHWM, the peak memory, or VmSize.
long StatusMiB(const std::string& key);
// Starts VmHWM afresh from what the process holds now.
bool ResetPeakMemory();

// Collects the toolkit's log messages while it lives.
class LogCapture : public wxLog {
public:
    LogCapture() : m_previous(wxLog::SetActiveTarget(this)) {}
    ~LogCapture() override { wxLog::SetActiveTarget(m_previous); }
    wxString m_text;

protected:
    void DoLogTextAtLevel(wxLogLevel, const wxString& message) override { m_text += message; }

private:
    wxLog* m_previous;
};

// Collects what is written to standard error while it lives, by this
// process and by the programs it starts.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    // What was written so far; it goes on collecting.
    std::string Text() const;

private:
    int m_saved;
    std::string m_path;
};

// This process's children, running or not yet reaped, whose program has
// this name (at most 15 characters count, as the kernel keeps them).
std::vector<int> ChildrenRunning(const std::string& program);
// What this process's open descriptors refer to: paths, "pipe:[...]",
// "/memfd:name (deleted)" and so on.
std::vector<std::string> OpenDescriptors();
