// The program's entry: the toolkit's own, creating a ScannerApp, once
// descriptors 0 to 2 are sure to be open: the display connection must not
// become standard error.
#include "scanner_app.h"
#include "standard_descriptors.h"

wxIMPLEMENT_APP_NO_MAIN(ScannerApp);

int main(int argc, char** argv)
{
    OpenStandardDescriptors();
    return wxEntry(argc, argv);
}
