#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/grid.h>

#include "dialog_answers.h"
#include "gui_test.h"
#include "my_frame.h"

using HistoryExportTest = GuiTest;

TEST_F(HistoryExportTest, Probe)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    frame->AddToHistory("A;B", "CODEBAR 39", "Camera");
    DialogAnswers answers;
    answers.AnswerFileDialog(frame->m_saveDialog, m_home + "/list", 1);
    SendCommand(frame, ID_SAVE_AS);
    EXPECT_TRUE(answers.FileDialogAnswered());
    EXPECT_EQ(frame->m_saveDialog->GetPath(), m_home + "/list");
    EXPECT_EQ(frame->m_saveDialog->GetFilterIndex(), 1);
    printf("%s\n", ReadFile(m_home + "/list.xml").c_str());
    CloseWindow(frame);
}
