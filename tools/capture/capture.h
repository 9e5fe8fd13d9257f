// destpick-capture: asks a machine what destpick asks it, with the same requests, sizes and open
// modes, and records every answer, failures included, as a machine that the native build replays
// to the same decision and the same log. Nothing is ever written to a disk or controller.
#pragma once

#include <sim/machine.h>

#include <string>

// When and on what a machine was captured, for the description's own text.
struct CaptureOrigin {
    SYSTEMTIME capturedAt;       // UTC
    std::wstring computerName;   // empty when Windows does not tell it
    std::wstring windowsVersion; // "10.0.19045"; empty when Windows does not tell it
};

struct CapturedMachine {
    sim::Machine machine;
    CaptureOrigin origin;
};

// Captures the machine the process runs on.
CapturedMachine CaptureMachine();

// The value in decimal, with zeros before it up to `width` digits, as the capture writes times.
std::wstring Digits(unsigned value, size_t width);

// One line telling when, on what and by which version of the capture tool a machine was captured.
std::wstring DescribeCapture(const CaptureOrigin& origin, const std::wstring& toolVersion);
