/* Runs one program under Wine with the test disk driver started: starts the driver's service,
 * runs the program with its standard output in a file, stops the service again, and prints the
 * program's whole exit code and the driver's counts of refused requests. Test-only.
 *
 * Usage: wine launcher.exe SERVICE DRIVER PROGRAM STDOUT-FILE [ARGUMENT...]
 * Each argument is handed to the program in quotes of its own (none may hold a quote).
 * The service is created when the service manager does not know it yet: it reads its database
 * only when it starts, which is before anything can be imported into the registry.
 * Prints "exit-code=N", "unknown-requests=N" and "writes=N", one a line; ends with 0 when the
 * program ran, 2 with a message on standard error when it could not be run. */
#include <windows.h>

#include <stdio.h>

#define WAIT_STEP_MS 50
#define WAIT_LIMIT_MS 20000

static int Failed(const wchar_t* what) {
    fwprintf(stderr, L"launcher: %ls failed with error %lu\n", what, GetLastError());
    return 2;
}

/* Waits until the service reaches the state; FALSE after the limit or a failed query. */
static BOOL WaitForState(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status;
    DWORD waited;
    for (waited = 0; waited < WAIT_LIMIT_MS; waited += WAIT_STEP_MS) {
        if (!QueryServiceStatus(service, &status)) {
            return FALSE;
        }
        if (status.dwCurrentState == state) {
            return TRUE;
        }
        Sleep(WAIT_STEP_MS);
    }
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
}

static BOOL StopService(SC_HANDLE service) {
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status)) {
        return FALSE;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
        return TRUE;
    }
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return FALSE;
    }
    return WaitForState(service, SERVICE_STOPPED);
}

static BOOL RunProgram(const wchar_t* program, wchar_t** arguments, int argumentCount,
                       const wchar_t* stdoutFile, DWORD* exitCode) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    wchar_t commandLine[4 * MAX_PATH];
    BOOL ran = FALSE;
    HANDLE output;
    int length = swprintf(commandLine, 4 * MAX_PATH, L"\"%ls\"", program);
    int i;
    for (i = 0; i < argumentCount && length >= 0; ++i) {
        int added = swprintf(commandLine + length, (size_t)(4 * MAX_PATH - length), L" \"%ls\"",
                             arguments[i]);
        length = added < 0 ? -1 : length + added;
    }
    if (length < 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    output = CreateFileW(stdoutFile, GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, NULL);
    if (output == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (CreateProcessW(program, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        ran = GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(output);
    return ran;
}

static DWORD DriverCount(const wchar_t* serviceName, const wchar_t* counter) {
    wchar_t key[MAX_PATH];
    DWORD value = 0;
    DWORD size = sizeof(value);
    swprintf(key, MAX_PATH, L"System\\CurrentControlSet\\Services\\%ls\\Parameters", serviceName);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, counter, RRF_RT_REG_DWORD, NULL, &value, &size) !=
        ERROR_SUCCESS) {
        return (DWORD)-1;
    }
    return value;
}

int wmain(int argc, wchar_t** argv) {
    SC_HANDLE manager, service;
    DWORD exitCode = 0;
    BOOL ran;
    if (argc < 5) {
        fwprintf(stderr, L"usage: launcher SERVICE DRIVER PROGRAM STDOUT-FILE [ARGUMENT...]\n");
        return 2;
    }
    manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL) {
        return Failed(L"OpenSCManagerW");
    }
    service = OpenServiceW(manager, argv[1], SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == NULL && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        service = CreateServiceW(manager, argv[1], argv[1],
                                 SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS,
                                 SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                 argv[2], NULL, NULL, NULL, NULL, NULL);
    }
    if (service == NULL) {
        CloseServiceHandle(manager);
        return Failed(L"opening the driver's service");
    }
    /* A driver left running by an interrupted run still plays the machine before this one. */
    if (!StopService(service) || !StartServiceW(service, 0, NULL) ||
        !WaitForState(service, SERVICE_RUNNING)) {
        int result = Failed(L"starting the driver");
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return result;
    }
    ran = RunProgram(argv[3], argv + 5, argc - 5, argv[4], &exitCode);
    if (!ran) {
        Failed(L"running the program");
    }
    if (!StopService(service)) {
        Failed(L"stopping the driver");
        ran = FALSE;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!ran) {
        return 2;
    }
    wprintf(L"exit-code=%lu\nunknown-requests=%lu\nwrites=%lu\n", exitCode,
            DriverCount(argv[1], L"UnknownRequests"), DriverCount(argv[1], L"Writes"));
    return 0;
}
