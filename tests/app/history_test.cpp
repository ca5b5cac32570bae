#include <climits>
#include <cctype>

#include <wx/datetime.h>
#include <wx/grid.h>
#include <wx/textctrl.h>

#include "gui_test.h"
#include "my_frame.h"

TEST(BarcodeTypeNameTest, NamesTheSixResultTypes)
{
    const struct {
        int type;
        const char* name; // null: no name
    } cases[] = {
        {1, "EAN 8"},      {2, "EAN 13"},       {4, "UPC-E"},      {8, "CODEBAR 39"},
        {16, "CODEBAR 128"}, {64, "UPC-A"},     {0, nullptr},      {3, nullptr},
        {17, nullptr},     {32, nullptr},       {63, nullptr},     {65, nullptr},
        {-1, nullptr},     {INT_MIN, nullptr},  {INT_MAX, nullptr}, {128, nullptr},
    };
    for (const auto& c : cases) {
        const char* name = BarcodeTypeName(c.type);
        if (c.name)
            EXPECT_STREQ(name, c.name) << c.type;
        else
            EXPECT_EQ(name, nullptr) << c.type;
    }
}

TEST(EngineTextTest, BytesAreLatin1WhateverTheLocale)
{
    const std::string bytes("A\xe9\x01\xff", 4);
    const wxString text = EngineText(bytes);
    ASSERT_EQ(text.length(), 4u);
    EXPECT_EQ(text[0], wxUniChar(0x41));
    EXPECT_EQ(text[1], wxUniChar(0xe9));
    EXPECT_EQ(text[2], wxUniChar(0x01));
    EXPECT_EQ(text[3], wxUniChar(0xff));
    EXPECT_EQ(EngineText(std::string("0123\0x", 6)).length(), 6u);
    EXPECT_TRUE(EngineText("").empty());
}

using HistoryTest = GuiTest;

TEST_F(HistoryTest, RowsAreAddedAboveTheEmptyRow)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    wxGrid* grid = frame->m_grid;
    const struct {
        const char* value;
        const char* type;
        const char* source;
    } rows[] = {
        {"4006381333931", "EAN 13", "Camera"},
        {"NONE", "N/A", "/home/user/Pictures/empty shelf.png"},
        {"CODE-39", "", "Camera"},
    };
    const wxDateTime before = wxDateTime::Now();
    for (const auto& row : rows)
        frame->AddToHistory(row.value, row.type, row.source);
    const wxDateTime after = wxDateTime::Now();

    ASSERT_EQ(grid->GetNumberRows(), 4);
    // "%Y-%m-%d %H:%M:%S": digits everywhere but the separators.
    const std::string format = "dddd-dd-dd dd:dd:dd";
    auto matches = [&format](const std::string& text) {
        if (text.size() != format.size())
            return false;
        for (size_t i = 0; i < text.size(); ++i) {
            const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
            if (format[i] == 'd' ? !digit : text[i] != format[i])
                return false;
        }
        return true;
    };
    for (int r = 0; r < 3; ++r) {
        const wxString when = grid->GetCellValue(r, 0);
        EXPECT_TRUE(matches(when.ToStdString())) << when;
        wxDateTime parsed;
        wxString::const_iterator end;
        ASSERT_TRUE(parsed.ParseFormat(when, "%Y-%m-%d %H:%M:%S", &end)) << when;
        EXPECT_GE(parsed, before.GetDateOnly() + wxTimeSpan(before.GetHour(), before.GetMinute(),
                                                            before.GetSecond()));
        EXPECT_LE(parsed, after);
        EXPECT_EQ(grid->GetCellValue(r, 1), rows[r].value);
        EXPECT_EQ(grid->GetCellValue(r, 2), rows[r].type);
        EXPECT_EQ(grid->GetCellValue(r, 3), rows[r].source);
    }
    for (int col = 0; col < 4; ++col)
        EXPECT_TRUE(grid->GetCellValue(3, col).empty()) << col;
    EXPECT_EQ(frame->m_text->GetValue(), "CODE-39");
    CloseWindow(frame);
}

TEST_F(HistoryTest, ClearLeavesOneEmptyRowAndTheTextBox)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    wxGrid* grid = frame->m_grid;

    // Clearing the table that holds only its empty row removes nothing.
    SendCommand(frame, ID_CLEAR);
    EXPECT_EQ(grid->GetNumberRows(), 1);

    frame->AddToHistory("111", "EAN 8", "Camera");
    frame->AddToHistory("222", "UPC-E", "Camera");
    frame->AddToHistory(EngineText("caf\xe9"), "CODEBAR 128", "Camera");
    ASSERT_EQ(grid->GetNumberRows(), 4);
    SendCommand(frame, ID_CLEAR);
    ASSERT_EQ(grid->GetNumberRows(), 1);
    for (int col = 0; col < 4; ++col)
        EXPECT_TRUE(grid->GetCellValue(0, col).empty()) << col;
    EXPECT_EQ(frame->m_text->GetValue(), wxString::FromUTF8("caf\xc3\xa9"));

    // The table fills again from its first row.
    frame->AddToHistory("333", "EAN 13", "Camera");
    EXPECT_EQ(grid->GetNumberRows(), 2);
    EXPECT_EQ(grid->GetCellValue(0, 1), "333");
    CloseWindow(frame);
}
