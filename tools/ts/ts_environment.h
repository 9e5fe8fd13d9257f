// The running task sequence's variables, through its documented COM automation object: ProgID
// Microsoft.SMS.TSEnvironment, an IDispatch whose property Value takes the variable's name.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

struct TsEnvironment {
    IDispatch* dispatch;
    DISPID value;
};

// S_OK with the environment open, or the failure of the step that could not reach it (outside a
// task sequence the ProgID is unknown or the object refuses to be created). COM must be
// initialised on the calling thread.
HRESULT OpenTsEnvironment(TsEnvironment* environment);
void CloseTsEnvironment(TsEnvironment* environment);

// An unknown variable reads as the empty string, and setting the empty string clears one.
HRESULT GetTsVariable(const TsEnvironment& environment, const std::wstring& name,
                      std::wstring* value);
HRESULT SetTsVariable(const TsEnvironment& environment, const std::wstring& name,
                      const std::wstring& value);
