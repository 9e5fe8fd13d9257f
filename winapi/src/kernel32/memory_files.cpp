// Files of one folder kept in memory: the same answers as files on the POSIX file system, without
// a system call. A run writes its log entry by entry, each an open, a seek, a write and a close;
// the fuzzer runs the system thousands of times a second, and there those calls would cost more
// than the run itself.
#include "kernel32/memory_files.h"

#include "kernel32/handles.h"
#include "standin/failure.h"

#include <sim/standin.h>

#include <map>
#include <unordered_map>

namespace {

struct StoredFile {
    std::wstring name; // as it was created, for FindFirstFileW
    std::string bytes;
    int opens = 0;
    bool heldAlone = false; // opened with share mode 0
};

struct MemoryHandle {
    StoredFile* file;
    uint64_t position = 0;
    bool writes = false;
    bool appends = false; // append-only access: every write goes to the end
};

struct MemoryFolder {
    std::wstring key; // the folder as a key (see Key); empty: no folder is kept in memory
    std::map<std::wstring, StoredFile> files;
    std::unordered_map<uintptr_t, MemoryHandle> handles;
};

MemoryFolder& Folder() {
    static MemoryFolder folder;
    return folder;
}

// Windows compares paths without regard to case, reads \\?\ and / like the plain form, and
// one separator like several.
std::wstring Key(const std::wstring& path) {
    std::wstring key;
    key.reserve(path.size());
    for (size_t i = path.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0; i < path.size(); ++i) {
        const wchar_t c = path[i] == L'/' ? L'\\' : path[i];
        if (c != L'\\' || key.empty() || key.back() != L'\\') {
            key += c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
        }
    }
    while (!key.empty() && key.back() == L'\\') {
        key.pop_back();
    }
    return key;
}

// The file functions hand over only handles of the MemoryFile kind, each of which is here.
MemoryHandle& Opened(HANDLE handle) {
    return Folder().handles.at(reinterpret_cast<uintptr_t>(handle));
}

// The file the disposition leaves, or null after setting the error; `existed` tells which.
StoredFile* Dispose(const std::wstring& path, DWORD access, DWORD disposition, bool& existed) {
    std::map<std::wstring, StoredFile>& files = Folder().files;
    auto found = files.find(Key(path));
    existed = found != files.end();
    const bool creates =
        disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (disposition == TRUNCATE_EXISTING && !sim::WantsWrite(access))) {
        return sim::Fail(ERROR_INVALID_PARAMETER, nullptr);
    }
    if (existed && disposition == CREATE_NEW) {
        return sim::Fail(ERROR_FILE_EXISTS, nullptr);
    }
    if (!existed && !creates) {
        return sim::Fail(ERROR_FILE_NOT_FOUND, nullptr);
    }
    if (!existed) {
        found = files
                    .emplace(Key(path), StoredFile{path.substr(path.find_last_of(L"\\/") + 1),
                                                   std::string(), 0, false})
                    .first;
    }
    return &found->second;
}

} // namespace

namespace sim {

void KeepFilesInMemory(const std::wstring& folder) {
    MemoryFolder& memory = Folder();
    for (const auto& open : memory.handles) {
        RemoveHandle(reinterpret_cast<HANDLE>(open.first));
    }
    memory.handles.clear();
    memory.files.clear();
    memory.key = Key(folder);
}

std::string MemoryFileBytes(const std::wstring& path) {
    auto found = Folder().files.find(Key(path));
    return found == Folder().files.end() ? std::string() : found->second.bytes;
}

bool IsMemoryFilePath(const std::wstring& path) {
    const std::wstring& folder = Folder().key;
    if (folder.empty()) {
        return false;
    }
    const std::wstring key = Key(path);
    return key.size() > folder.size() + 1 && key.compare(0, folder.size(), folder) == 0 &&
           key[folder.size()] == L'\\' && key.find(L'\\', folder.size() + 1) == std::wstring::npos;
}

HANDLE OpenMemoryFile(const std::wstring& path, DWORD access, DWORD shareMode, DWORD disposition) {
    bool existed = false;
    StoredFile* file = Dispose(path, access, disposition, existed);
    if (file == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    // Share mode 0 holds the file alone; sharing opens coexist, as the POSIX files do.
    if (file->heldAlone || (shareMode == 0 && file->opens > 0)) {
        return sim::Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    }
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
        file->bytes.clear();
    }
    ++file->opens;
    file->heldAlone = shareMode == 0;
    HandleEntry entry;
    entry.kind = HandleKind::MemoryFile;
    entry.name = path;
    HANDLE handle = AddFileHandle(entry, existed, disposition);
    MemoryHandle open{file};
    open.writes = WantsWrite(access);
    open.appends = !open.writes && (access & FILE_APPEND_DATA) != 0;
    Folder().handles[reinterpret_cast<uintptr_t>(handle)] = open;
    return handle;
}

LONGLONG MemoryFileOrigin(HANDLE handle, DWORD moveMethod) {
    const MemoryHandle& open = Opened(handle);
    const uint64_t origin = moveMethod == FILE_BEGIN     ? 0
                            : moveMethod == FILE_CURRENT ? open.position
                                                         : open.file->bytes.size();
    return static_cast<LONGLONG>(origin);
}

void SetMemoryFilePointer(HANDLE handle, LONGLONG position) {
    Opened(handle).position = static_cast<uint64_t>(position);
}

DWORD WriteMemoryFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite) {
    MemoryHandle& open = Opened(handle);
    if (!open.writes && !open.appends) {
        return ERROR_ACCESS_DENIED;
    }
    std::string& bytes = open.file->bytes;
    const uint64_t at = open.appends ? bytes.size() : open.position;
    if (bytes.size() < at + bytesToWrite) {
        bytes.resize(at + bytesToWrite, '\0');
    }
    if (bytesToWrite != 0) {
        std::memcpy(&bytes[at], buffer, bytesToWrite);
    }
    open.position = at + bytesToWrite;
    return ERROR_SUCCESS;
}

void CloseMemoryFile(HANDLE handle) {
    MemoryHandle& open = Opened(handle);
    --open.file->opens;
    open.file->heldAlone = false;
    Folder().handles.erase(reinterpret_cast<uintptr_t>(handle));
}

BOOL DeleteMemoryFile(const std::wstring& path) {
    auto found = Folder().files.find(Key(path));
    if (found == Folder().files.end()) {
        return sim::Fail(ERROR_FILE_NOT_FOUND);
    }
    // No open shares deletion: while any handle holds the file, it stays.
    if (found->second.opens > 0) {
        return sim::Fail(ERROR_SHARING_VIOLATION);
    }
    Folder().files.erase(found);
    return TRUE;
}

HANDLE FindMemoryFile(const std::wstring& path, LPWIN32_FIND_DATAW findData) {
    auto found = Folder().files.find(Key(path));
    if (found == Folder().files.end()) {
        return sim::Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    const StoredFile& file = found->second;
    return AddFindHandle(findData, FILE_ATTRIBUTE_NORMAL, file.bytes.size(), file.name);
}

} // namespace sim
