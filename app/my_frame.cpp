#include "my_frame.h"

#include <wx/scrolwin.h>

MyFrame1::MyFrame1(const wxString& title, const wxSize& size)
    : wxMainFrameEx(title, size)
{
    // The outer size, the same measure that the panel's size events carry.
    const wxSize panelSize = m_videoPanel->GetSize();
    m_panelWidth = panelSize.x;
    m_panelHeight = panelSize.y;
}

void MyFrame1::OnVideoPanelSize(wxSizeEvent& event)
{
    m_panelWidth = event.GetSize().x;
    m_panelHeight = event.GetSize().y;
}
