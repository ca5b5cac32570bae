#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/grid.h>

#include "dialog_answers.h"
#include "gui_test.h"
#include "my_frame.h"

using ImageFileTest = GuiTest;

TEST_F(ImageFileTest, Probe)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    wxFileName name(MORVELIX_CORPUS_DIR "/images/ean13_clean_v1.png");
    name.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
    const wxString path = name.GetFullPath();
    DialogAnswers answers;
    answers.AnswerFileDialog(frame->m_openDialog, path);
    SendCommand(frame, ID_OPEN_FILE);
    EXPECT_TRUE(answers.FileDialogAnswered());
    EXPECT_EQ(frame->m_grid->GetNumberRows(), 2);
    EXPECT_EQ(frame->m_grid->GetCellValue(0, 1), "x");
    EXPECT_EQ(frame->m_grid->GetCellValue(0, 3), path);
    CloseWindow(frame);
}
