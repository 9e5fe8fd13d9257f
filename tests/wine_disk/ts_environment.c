/* A task sequence environment for the Wine check of destpick-ts.exe: an in-process COM server,
 * registered under the task sequence's ProgID by ts_environment.reg, whose IDispatch has the
 * property Value with a variable's name as its argument, as the real one documents it.
 * Test-only.
 *
 * The variables live in the file that DESTPICK_TEST_TS_VARIABLES names, as NAME=VALUE lines in
 * UTF-8: the caller writes those the run starts with, every variable set is appended as a line of
 * its own, and a variable reads as its last line (the empty string when it has none). As in a
 * task sequence, names are told apart without regard to case, and those that begin with an
 * underscore are read-only. */
#include <windows.h>
#include <oleauto.h>

#include <string.h>

/* {5E0C2B7A-9F1D-4C3E-8A6B-D2E4F1A3C907}, as ts_environment.reg names it. */
static const CLSID EnvironmentClass = {
    0x5e0c2b7a, 0x9f1d, 0x4c3e, {0x8a, 0x6b, 0xd2, 0xe4, 0xf1, 0xa3, 0xc9, 0x07}};
#define VALUE_DISPID 1
#define FILE_LIMIT 65536

typedef struct {
    IDispatch dispatch;
    LONG references;
} Environment;

static BOOL VariablesFile(wchar_t* path) {
    DWORD length = GetEnvironmentVariableW(L"DESTPICK_TEST_TS_VARIABLES", path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

/* The text in UTF-8, in a buffer the caller frees; its length in *length. */
static char* Utf8(const wchar_t* text, UINT units, int* length) {
    char* bytes;
    *length = WideCharToMultiByte(CP_UTF8, 0, text, (int)units, NULL, 0, NULL, NULL);
    bytes = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)*length + 1);
    if (bytes != NULL) {
        WideCharToMultiByte(CP_UTF8, 0, text, (int)units, bytes, *length, NULL, NULL);
    }
    return bytes;
}

static HRESULT AppendVariable(BSTR name, BSTR value) {
    wchar_t path[MAX_PATH];
    int nameLength, valueLength;
    char *nameBytes, *valueBytes;
    DWORD written;
    BOOL wrote = FALSE;
    HANDLE file;
    if (name[0] == L'_') {
        return E_ACCESSDENIED;
    }
    if (!VariablesFile(path)) {
        return E_FAIL;
    }
    file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    nameBytes = Utf8(name, SysStringLen(name), &nameLength);
    valueBytes = Utf8(value, SysStringLen(value), &valueLength);
    if (nameBytes != NULL && valueBytes != NULL) {
        wrote = WriteFile(file, nameBytes, (DWORD)nameLength, &written, NULL) &&
                WriteFile(file, "=", 1, &written, NULL) &&
                WriteFile(file, valueBytes, (DWORD)valueLength, &written, NULL) &&
                WriteFile(file, "\n", 1, &written, NULL);
    }
    HeapFree(GetProcessHeap(), 0, nameBytes);
    HeapFree(GetProcessHeap(), 0, valueBytes);
    CloseHandle(file);
    return wrote ? S_OK : E_FAIL;
}

/* The value of the last line in text that starts with the name and "=", as a BSTR. */
static BSTR LastValue(const char* text, DWORD size, const char* name, int nameLength) {
    const char *line = text, *end = text + size, *found = NULL, *foundEnd = NULL;
    while (line < end) {
        const char* lineEnd = memchr(line, '\n', (size_t)(end - line));
        if (lineEnd == NULL) {
            lineEnd = end;
        }
        if (lineEnd - line > nameLength && _strnicmp(line, name, (size_t)nameLength) == 0 &&
            line[nameLength] == '=') {
            found = line + nameLength + 1;
            foundEnd = lineEnd;
        }
        line = lineEnd + 1;
    }
    if (found == NULL) {
        return SysAllocString(L"");
    } else {
        int units = MultiByteToWideChar(CP_UTF8, 0, found, (int)(foundEnd - found), NULL, 0);
        BSTR value = SysAllocStringLen(NULL, (UINT)units);
        if (value != NULL) {
            MultiByteToWideChar(CP_UTF8, 0, found, (int)(foundEnd - found), value, units);
        }
        return value;
    }
}

static HRESULT ReadVariable(BSTR name, VARIANT* result) {
    wchar_t path[MAX_PATH];
    static char text[FILE_LIMIT];
    DWORD size = 0;
    int nameLength;
    char* nameBytes;
    HANDLE file;
    if (!VariablesFile(path)) {
        return E_FAIL;
    }
    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (!ReadFile(file, text, sizeof(text), &size, NULL)) {
        size = 0;
    }
    CloseHandle(file);
    nameBytes = Utf8(name, SysStringLen(name), &nameLength);
    if (nameBytes == NULL) {
        return E_OUTOFMEMORY;
    }
    result->bstrVal = LastValue(text, size, nameBytes, nameLength);
    HeapFree(GetProcessHeap(), 0, nameBytes);
    if (result->bstrVal == NULL) {
        return E_OUTOFMEMORY;
    }
    result->vt = VT_BSTR;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE QueryInterface(IDispatch* self, REFIID iid, void** object) {
    if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IDispatch)) {
        *object = NULL;
        return E_NOINTERFACE;
    }
    *object = self;
    self->lpVtbl->AddRef(self);
    return S_OK;
}

static ULONG STDMETHODCALLTYPE AddRef(IDispatch* self) {
    return (ULONG)InterlockedIncrement(&((Environment*)self)->references);
}

static ULONG STDMETHODCALLTYPE Release(IDispatch* self) {
    LONG left = InterlockedDecrement(&((Environment*)self)->references);
    if (left == 0) {
        HeapFree(GetProcessHeap(), 0, self);
    }
    return (ULONG)left;
}

static HRESULT STDMETHODCALLTYPE GetTypeInfoCount(IDispatch* self, UINT* count) {
    (void)self;
    *count = 0;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE GetTypeInfo(IDispatch* self, UINT index, LCID locale,
                                             ITypeInfo** info) {
    (void)self, (void)index, (void)locale;
    *info = NULL;
    return DISP_E_BADINDEX;
}

static HRESULT STDMETHODCALLTYPE GetIDsOfNames(IDispatch* self, REFIID iid, LPOLESTR* names,
                                               UINT count, LCID locale, DISPID* ids) {
    (void)self, (void)iid, (void)locale;
    if (count != 1 || lstrcmpiW(names[0], L"Value") != 0) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = VALUE_DISPID;
    return S_OK;
}

/* Arguments arrive last first: rgvarg[0] is the new value of a put, rgvarg[last] the name. */
static HRESULT STDMETHODCALLTYPE Invoke(IDispatch* self, DISPID id, REFIID iid, LCID locale,
                                        WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                        EXCEPINFO* exception, UINT* badArgument) {
    (void)self, (void)iid, (void)locale, (void)exception, (void)badArgument;
    if (id != VALUE_DISPID) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if ((flags & DISPATCH_PROPERTYPUT) != 0 && parameters->cArgs == 2 &&
        parameters->cNamedArgs == 1 && parameters->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT) {
        if (parameters->rgvarg[0].vt != VT_BSTR || parameters->rgvarg[1].vt != VT_BSTR) {
            return DISP_E_TYPEMISMATCH;
        }
        return AppendVariable(parameters->rgvarg[1].bstrVal, parameters->rgvarg[0].bstrVal);
    }
    if ((flags & DISPATCH_PROPERTYGET) != 0 && parameters->cArgs == 1 &&
        parameters->cNamedArgs == 0 && result != NULL) {
        if (parameters->rgvarg[0].vt != VT_BSTR) {
            return DISP_E_TYPEMISMATCH;
        }
        return ReadVariable(parameters->rgvarg[0].bstrVal, result);
    }
    return DISP_E_BADPARAMCOUNT;
}

static IDispatchVtbl EnvironmentMethods = {QueryInterface, AddRef,        Release, GetTypeInfoCount,
                                           GetTypeInfo,    GetIDsOfNames, Invoke};

/* The class factory lives as long as the DLL; it counts nothing. */
static HRESULT STDMETHODCALLTYPE FactoryQueryInterface(IClassFactory* self, REFIID iid,
                                                       void** object) {
    if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IClassFactory)) {
        *object = NULL;
        return E_NOINTERFACE;
    }
    *object = self;
    return S_OK;
}

static ULONG STDMETHODCALLTYPE FactoryAddRef(IClassFactory* self) {
    (void)self;
    return 2;
}

static ULONG STDMETHODCALLTYPE FactoryRelease(IClassFactory* self) {
    (void)self;
    return 1;
}

static HRESULT STDMETHODCALLTYPE CreateInstance(IClassFactory* self, IUnknown* outer, REFIID iid,
                                                void** object) {
    Environment* environment;
    HRESULT status;
    (void)self;
    *object = NULL;
    if (outer != NULL) {
        return CLASS_E_NOAGGREGATION;
    }
    environment = HeapAlloc(GetProcessHeap(), 0, sizeof(*environment));
    if (environment == NULL) {
        return E_OUTOFMEMORY;
    }
    environment->dispatch.lpVtbl = &EnvironmentMethods;
    environment->references = 1;
    status = QueryInterface(&environment->dispatch, iid, object);
    Release(&environment->dispatch);
    return status;
}

static HRESULT STDMETHODCALLTYPE LockServer(IClassFactory* self, BOOL lock) {
    (void)self, (void)lock;
    return S_OK;
}

static IClassFactoryVtbl FactoryMethods = {FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                           CreateInstance, LockServer};
static IClassFactory Factory = {&FactoryMethods};

HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    *object = NULL;
    if (!IsEqualCLSID(classId, &EnvironmentClass)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return FactoryQueryInterface(&Factory, iid, object);
}

/* Objects may live in the process until it ends; the DLL is never unloaded early. */
HRESULT WINAPI DllCanUnloadNow(void) {
    return S_FALSE;
}
