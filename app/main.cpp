// The program's entry: the toolkit's own, creating a ScannerApp.
#include "scanner_app.h"

wxIMPLEMENT_APP(ScannerApp);
