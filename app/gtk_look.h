// Small adjustments that give the main window and the Options dialog on GTK
// the look that their layout is drawn for. Each does nothing on other
// toolkits.
#pragma once

class wxTextCtrl;
class wxToolBar;
class wxTopLevelWindow;
class wxWindow;

// Turns every separator of a realized toolbar into blank space of the given
// width: the layout uses runs of separators as gaps, which GTK would draw as
// rows of lines far wider than the toolbar has room for.
void MakeSeparatorsBlank(wxToolBar* toolBar, int width);

// Lets a single-line text box keep a height below GTK's entry minimum by
// dropping the entry's own minimum and its vertical padding.
void AllowCompactHeight(wxTextCtrl* text);

// Lets the scrollbars of a scrolled window shrink with a short pane: GTK's
// own minimum is longer than a splitter pane may be. The window is never
// laid out smaller than its shrunk scrollbars.
void AllowShortScrollbars(wxWindow* window);

// Lets a top-level window appear at once when it is shown. Under a window
// manager wxGTK otherwise first realizes it at 2 x 1 pixels and waits for
// the frame extents, and GTK reports every toolbar, scrollbar and radio
// button laid out in so small a window.
void ShowWithoutWaiting(wxTopLevelWindow* window);
