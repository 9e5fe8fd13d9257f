#include "destpick_run.h"

#include <vector>

namespace {

// Far more than any answer destpick prints; a program that writes more is not destpick.
const size_t KeptOutputBytes = 4096;

BOOL StartProgram(const std::wstring& program, const std::wstring& folder, HANDLE outputEnd,
                  PROCESS_INFORMATION* process) {
    const std::wstring quoted = L"\"" + program + L"\"";
    std::vector<wchar_t> commandLine(quoted.begin(), quoted.end());
    commandLine.push_back(L'\0');
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    return CreateProcessW(program.c_str(), commandLine.data(), NULL, NULL, TRUE, 0, NULL,
                          folder.c_str(), &startup, process);
}

// Reads the pipe until every writer has closed it.
void ReadAll(HANDLE pipe, std::string* kept) {
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof(chunk), &got, NULL) && got > 0) {
        const size_t room = KeptOutputBytes - kept->size();
        kept->append(chunk, got < room ? got : room);
    }
}

BOOL WaitForExitCode(const PROCESS_INFORMATION& process, DWORD* exitCode) {
    WaitForSingleObject(process.hProcess, INFINITE);
    const BOOL read = GetExitCodeProcess(process.hProcess, exitCode);
    const DWORD error = GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    SetLastError(error);
    return read;
}

} // namespace

BOOL RunCapturingOutput(const std::wstring& program, const std::wstring& folder, CapturedRun* run) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    HANDLE output = NULL;
    HANDLE outputEnd = NULL;
    if (!CreatePipe(&output, &outputEnd, &inheritable, 0)) {
        return FALSE;
    }
    PROCESS_INFORMATION process;
    BOOL ran = SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0) &&
               StartProgram(program, folder, outputEnd, &process);
    DWORD error = GetLastError();
    // Only the child may hold the writing end now, or the pipe never reports its end.
    CloseHandle(outputEnd);
    if (ran) {
        ReadAll(output, &run->output);
        ran = WaitForExitCode(process, &run->exitCode);
        error = GetLastError();
    }
    CloseHandle(output);
    SetLastError(error);
    return ran;
}
