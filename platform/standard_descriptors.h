// Descriptors 0 to 2 as every program expects them: open. A program started
// with one of them closed would otherwise hand that number to the first
// file, pipe or display connection it opens, and then write its messages
// for standard error into it.
#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Called
// first thing in main; false when one could not be opened.
bool OpenStandardDescriptors();
