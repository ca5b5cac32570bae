#include "gtk_look.h"

#include <algorithm>

#include <wx/textctrl.h>
#include <wx/toolbar.h>
#include <wx/toplevel.h>
#include <wx/window.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>

namespace {

// wxGTK keeps whether a first Show waits for the frame extents in a
// protected member; a class of its own lends the way to it.
struct DeferredShow : wxTopLevelWindow {
    static constexpr bool wxTopLevelWindowGTK::*kFlag = &DeferredShow::m_deferShow;
};

void AddCss(GtkWidget* widget, const char* css)
{
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

} // namespace

void MakeSeparatorsBlank(wxToolBar* toolBar, int width)
{
    // wxGTK wraps the GtkToolbar in an event box.
    GtkWidget* handle = toolBar->GetHandle();
    if (!GTK_IS_TOOLBAR(handle) && GTK_IS_BIN(handle))
        handle = gtk_bin_get_child(GTK_BIN(handle));
    if (!GTK_IS_TOOLBAR(handle))
        return;
    // Switching the drawing off (gtk_separator_tool_item_set_draw) would
    // collapse the separator to nothing, so the line is styled away instead.
    const wxString css = wxString::Format(
        "separator { background: none; border-style: none; box-shadow: none;"
        " min-width: %dpx; min-height: %dpx; margin: 0; padding: 0; }",
        width, width);
    GtkToolbar* bar = GTK_TOOLBAR(handle);
    for (int i = 0; i < gtk_toolbar_get_n_items(bar); ++i) {
        GtkToolItem* item = gtk_toolbar_get_nth_item(bar, i);
        if (GTK_IS_SEPARATOR_TOOL_ITEM(item))
            AddCss(GTK_WIDGET(item), css.utf8_str());
    }
}

void AllowCompactHeight(wxTextCtrl* text)
{
    GtkWidget* entry = text->GetHandle();
    if (!GTK_IS_ENTRY(entry))
        return;
    AddCss(entry, "entry { min-height: 0; padding-top: 0; padding-bottom: 0; }");
}

void AllowShortScrollbars(wxWindow* window)
{
    GtkWidget* handle = window->GetHandle();
    if (!GTK_IS_SCROLLED_WINDOW(handle))
        return;
    GtkScrolledWindow* scrolled = GTK_SCROLLED_WINDOW(handle);
    GtkWidget* vertical = gtk_scrolled_window_get_vscrollbar(scrolled);
    GtkWidget* horizontal = gtk_scrolled_window_get_hscrollbar(scrolled);
    if (!vertical || !horizontal)
        return;
    // The theme's sliders ask for 40 pixels or more; a short pane then
    // allocates the scrollbar less than its parts need.
    const char* css = "scrollbar slider { min-height: 8px; min-width: 8px; }";
    AddCss(vertical, css);
    AddCss(horizontal, css);
    // Each scrollbar's least length, beside the other one's thickness where
    // both show: laid out smaller, the window makes GTK squeeze a scrollbar
    // below what its slider and trough need.
    int verticalLength = 0, verticalThickness = 0, horizontalLength = 0, horizontalThickness = 0;
    gtk_widget_get_preferred_height(vertical, &verticalLength, nullptr);
    gtk_widget_get_preferred_width(vertical, &verticalThickness, nullptr);
    gtk_widget_get_preferred_width(horizontal, &horizontalLength, nullptr);
    gtk_widget_get_preferred_height(horizontal, &horizontalThickness, nullptr);
    const wxSize own = window->GetMinSize();
    window->SetMinSize(wxSize(std::max(own.x, horizontalLength + verticalThickness),
                              std::max(own.y, verticalLength + horizontalThickness)));
}

void ShowWithoutWaiting(wxTopLevelWindow* window)
{
    window->*DeferredShow::kFlag = false;
}

#else

void MakeSeparatorsBlank(wxToolBar*, int) {}
void AllowCompactHeight(wxTextCtrl*) {}
void AllowShortScrollbars(wxWindow*) {}
void ShowWithoutWaiting(wxTopLevelWindow*) {}

#endif
