#include "selection/run_driver.h"

#include "inventory/device_services.h"
#include "inventory/disk_probe.h"
#include "log/log_texts.h"
#include "log/log_writer.h"
#include "shared/file_version.h"
#include "selection/weighting.h"

#include <strsafe.h>

namespace {

const DWORD PathChars = 255;
const size_t AnswerChars = 48;
struct RunPaths {
    WCHAR ModulePath[PathChars];
    WCHAR ExeDirPath[PathChars];
    WCHAR ExeFileName[PathChars];
    WCHAR LogPath[PathChars];
};

int StartupFailure(LPCWSTR message) {
    wprintf(L"%ls", message);
    return StartupFailureExitCode;
}

// A copy cut at the stated size is how the folder and the name are taken out of the path.
bool CopiedPart(HRESULT result) {
    return SUCCEEDED(result) || result == STRSAFE_E_INSUFFICIENT_BUFFER;
}

// The folder, the base name and the log path; the message of the failure, or NULL.
LPCWSTR DerivePaths(RunPaths* paths) {
    const DWORD length = GetModuleFileNameW(NULL, paths->ModulePath, PathChars);
    // A result of the buffer's size is a truncated path: the folder and name taken from it would
    // send the log, and the version query, to another file.
    if (length == 0 || length >= PathChars) {
        return L"Could not found the exe path.\n";
    }
    LPCWSTR lastBackslash = wcsrchr(paths->ModulePath, L'\\');
    const size_t folderSize = lastBackslash != NULL ? (lastBackslash - paths->ModulePath) + 1 : 0;
    if (!CopiedPart(StringCchCopyW(paths->ExeDirPath, folderSize, paths->ModulePath))) {
        return L"Could not found the exe folder path. \r\n";
    }
    LPCWSTR fileName = lastBackslash + 1;
    LPCWSTR lastDot = wcsrchr(fileName, L'.');
    const size_t nameSize = lastDot != NULL ? (lastDot - fileName) + 1 : 0;
    if (!CopiedPart(StringCchCopyW(paths->ExeFileName, nameSize, fileName))) {
        return L"Could not found the exe file name. \r\n";
    }
    // A log path that would not fit is refused like a path that could not be read: cut short it
    // would name another file.
    if (StringCchPrintfW(paths->LogPath, PathChars, L"%s\\%s.log", paths->ExeDirPath,
                         paths->ExeFileName) != S_OK) {
        return L"Could not found the exe path.\n";
    }
    return NULL;
}

void LogHeader(const RunPaths& paths, LPCWSTR versionText) {
    LogMessage(paths.LogPath, L"\r\n");
    LogMessage(paths.LogPath, L"\r\n");
    LogMessage(paths.LogPath, RunBanner);
    LogMessage(paths.LogPath, LogPathLine, paths.LogPath);
    LogMessage(paths.LogPath, ExeDirPathLine, paths.ExeDirPath);
    LogMessage(paths.LogPath, ExeFileNameLine, paths.ExeFileName);
    LogMessage(paths.LogPath, ExeVersionLine, versionText);
}

// One record per counted interface, each with its values before the probe; NULL when the
// memory cannot be had.
DriveRecord* AllocateDriveRecords(LONG count) {
    DriveRecord* records = static_cast<DriveRecord*>(HeapAlloc(
        GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(count) * sizeof(DriveRecord)));
    for (LONG k = 0; records != NULL && k < count; ++k) {
        InitializeDriveRecord(&records[k]);
    }
    return records;
}

int Report(const DriveRecord* records, LONG chosen, LPCWSTR logPath) {
    LogMessage(logPath, L"\r\n");
    LogMessage(logPath, L"\r\n");
    LogMessage(logPath, ReportBanner);
    WCHAR answer[AnswerChars];
    if (chosen == NoDriveChosen) {
        StringCchCopyW(answer, AnswerChars, NoDestinationAnswer);
    } else {
        StringCchPrintfW(answer, AnswerChars, ReportedDriveAnswer, records[chosen].Order);
    }
    LogMessage(logPath, L"%s\r\n", answer);
    wprintf(L"%ls", answer);
    return chosen == NoDriveChosen ? NoDestinationExitCode
                                   : static_cast<int>(records[chosen].Order);
}

} // namespace

int RunDestinationPick() {
    RunPaths paths;
    ZeroMemory(&paths, sizeof(paths));
    LPCWSTR failure = DerivePaths(&paths);
    LPWSTR versionText = NULL;
    if (failure == NULL) {
        failure = ReadFileVersion(paths.ModulePath, &versionText);
    }
    if (failure != NULL) {
        return StartupFailure(failure);
    }
    LogHeader(paths, versionText);

    const LONG count = CountDiskInterfaces();
    DriveRecord* records = AllocateDriveRecords(count);
    if (records == NULL) {
        LogMessage(paths.LogPath, RecordsNotAllocatedLine, count);
        return GaveUpExitCode;
    }
    HRESULT outcome = S_OK;
    ProbeDrives(records, static_cast<DWORD>(count), paths.LogPath, &outcome);
    if (FAILED(outcome)) {
        return GaveUpExitCode;
    }
    WeighDrives(records, count, paths.LogPath);
    const LONG chosen = PickDrive(records, count, paths.LogPath);
    return Report(records, chosen, paths.LogPath);
}
