// The open dialog's file types on GTK.
#include <gtk/gtk.h>

#include <set>
#include <string>

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/grid.h>

#include "dialog_answers.h"
#include "gui_test.h"
#include "live_test_support.h"
#include "my_frame.h"

namespace {

// The open dialog's file types, in the order of its wildcard.
enum { ALL_IMAGES, BMP, JPEG, PNG, GIF, TIFF };

// The column of the model that holds each row's file, or -1.
int FileColumn(GtkTreeModel* model)
{
    for (int column = 0; model && column < gtk_tree_model_get_n_columns(model); ++column) {
        if (gtk_tree_model_get_column_type(model, column) == G_TYPE_FILE)
            return column;
    }
    return -1;
}

// The chooser's list of files: the tree view whose rows hold files.
GtkTreeView* FileList(GtkWidget* widget)
{
    if (GTK_IS_TREE_VIEW(widget) && FileColumn(gtk_tree_view_get_model(GTK_TREE_VIEW(widget))) >= 0)
        return GTK_TREE_VIEW(widget);
    GtkTreeView* found = nullptr;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* child = children; child && !found; child = child->next)
            found = FileList(GTK_WIDGET(child->data));
        g_list_free(children);
    }
    return found;
}

// The names that the shown chooser lists.
std::set<std::string> ListedNames(GtkWidget* chooser)
{
    std::set<std::string> names;
    GtkTreeView* list = FileList(chooser);
    if (!list)
        return names;
    GtkTreeModel* model = gtk_tree_view_get_model(list);
    const int column = FileColumn(model);
    GtkTreeIter row;
    for (bool more = gtk_tree_model_get_iter_first(model, &row); more;
         more = gtk_tree_model_iter_next(model, &row)) {
        GFile* file = nullptr;
        gtk_tree_model_get(model, &row, column, &file, -1);
        if (!file)
            continue;
        gchar* name = g_file_get_basename(file);
        names.insert(name);
        g_free(name);
        g_object_unref(file);
    }
    return names;
}

} // namespace

using FileDialogsTest = GuiTest;

// Every file type lists its pictures whatever the letter case of their
// extensions, as the real dialog shows them.
TEST_F(FileDialogsTest, EveryImageIsListedWhateverTheCaseOfItsExtension)
{
    const wxString folder = m_home + "/pictures";
    ASSERT_TRUE(wxMkdir(folder));
    for (const char* name : {"IMG_0001.JPG", "photo.Jpeg", "Scan.PNG", "page.TIFF", "page.Tif",
                             "LOGO.BMP", "anim.GiF", "plain.png", "notes.TXT", "IMG_0002.JPG.txt"})
        WriteFile(folder + "/" + name, "");
    const struct {
        int type;
        std::set<std::string> listed;
    } cases[] = {
        {ALL_IMAGES, {"IMG_0001.JPG", "photo.Jpeg", "Scan.PNG", "page.TIFF", "page.Tif",
                      "LOGO.BMP", "anim.GiF", "plain.png"}},
        {BMP, {"LOGO.BMP"}},
        {JPEG, {"IMG_0001.JPG", "photo.Jpeg"}},
        {PNG, {"Scan.PNG", "plain.png"}},
        {GIF, {"anim.GiF"}},
        {TIFF, {"page.TIFF", "page.Tif"}},
    };
    MyFrame1* frame = OpenWindow();
    Settle();
    wxFileDialog* dialog = frame->m_openDialog;
    for (const auto& c : cases) {
        dialog->SetDirectory(folder);
        dialog->SetFilterIndex(c.type);
        std::set<std::string> listed;
        dialog->CallAfter([&] {
            // The chooser fills its list in the background.
            for (int i = 0; i < 200 && listed != c.listed; ++i) {
                Settle(1);
                listed = ListedNames(dialog->GetHandle());
            }
            gtk_dialog_response(GTK_DIALOG(dialog->GetHandle()), GTK_RESPONSE_CANCEL);
        });
        EXPECT_NE(dialog->ShowModal(), wxID_OK);
        EXPECT_EQ(listed, c.listed) << "file type " << c.type;
    }
    // The file types keep their labels.
    EXPECT_EQ(dialog->GetWildcard(),
              "All image types (*.bmp;*.gif;*.jpg;*.jpeg;*.tiff;*.tif;*.png)|"
              "*.bmp;*.gif;*.jpg;*.jpeg;*.tiff;*.tif;*.png|BMP (*.bmp)|*.bmp|"
              "JPEG (*.jpg;*.jpeg)|*.jpg;*.jpeg|PNG (*.png)|*.png|GIF (*.gif)|*.gif|"
              "TIFF (*.tiff;*.tif)|*.tiff;*.tif");
    CloseWindow(frame);
}

// Pictures named as cameras and scanners name them are chosen through the
// real dialog under their own file type, and read.
TEST_F(FileDialogsTest, PicturesWithCapitalExtensionsOpen)
{
    wxImage picture;
    ASSERT_TRUE(picture.LoadFile(CorpusImage("ean13_clean_v1"), wxBITMAP_TYPE_PNG));
    const struct {
        const char* name;
        wxBitmapType format;
        int type;
    } cases[] = {
        {"IMG_0001.JPG", wxBITMAP_TYPE_JPEG, JPEG},
        {"SCAN.PNG", wxBITMAP_TYPE_PNG, PNG},
        {"PAGE.TIFF", wxBITMAP_TYPE_TIFF, TIFF},
    };
    MyFrame1* frame = OpenWindow();
    Settle();
    int row = 0;
    for (const auto& c : cases) {
        const wxString path = m_home + "/" + c.name;
        ASSERT_TRUE(picture.SaveFile(path, c.format)) << path;
        DialogAnswers answers;
        answers.AnswerFileDialog(frame->m_openDialog, path, c.type);
        SendCommand(frame, ID_OPEN_FILE);
        ASSERT_TRUE(answers.FileDialogAnswered()) << c.name;
        WaitForOpening(frame);
        EXPECT_EQ(frame->m_grid->GetCellValue(row, 1), "5901234123457") << c.name;
        EXPECT_EQ(frame->m_grid->GetCellValue(row, 3), path);
        ++row;
    }
    CloseWindow(frame);
}
