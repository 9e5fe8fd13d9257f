// destpick-capture [OUTPUT.json]: captures the machine it runs on, writes the description and
// prints the path it wrote.
#pragma once

enum CaptureExitCode {
    CaptureSucceeded = 0, // the description is written (or the usage printed, when asked)
    CaptureWrongArguments = 1,
    CaptureNoOwnVersion = 2,   // its own path or version resource cannot be read
    CaptureNotDescribable = 3, // the machine's answers cannot be written as a description
    CaptureFileNotWritten = 4, // the file cannot be created or written, or names a device
    CapturePathNotPrinted = 5, // the file is written, but its path could not be printed
};

// The whole tool, from its command line to its exit code; a failure prints one line on standard
// error.
int RunCaptureTool(int argc, wchar_t** argv);
