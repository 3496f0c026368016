#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/win32_handle.h"
#include "sysutil/temp_folder_platform.h"

namespace korr::detail {

using zoka::win32::LocalPtr;
using zoka::win32::UniqueHandle;

struct HeldFolder {
    UniqueHandle handle;
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    std::wstring path;
};

void HeldFolderDeleter::operator()(HeldFolder* folder) const {
    delete folder;
}

namespace {

// Owns a FindFirstFileW search (FindClose).
class FindHandle {
public:
    explicit FindHandle(HANDLE h) : handle_(h) {}
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE)
            ::FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// The token's user, or (elevated) the group it gives new objects as their owner.
std::vector<BYTE> tokenInformation(TOKEN_INFORMATION_CLASS kind) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    UniqueHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), kind, buffer.data(), size, &size))
        return {};
    return buffer;
}

PSID userSid(std::vector<BYTE>& user) {
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

// Folders open without following a junction or link, kept from being renamed or deleted by
// anyone while held (no delete sharing).
UniqueHandle openFolder(const std::wstring& path) {
    return UniqueHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
}

bool isRealFolder(const BY_HANDLE_FILE_INFORMATION& info) {
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The folder's owner is the running account, or the group that owns what it creates.
bool ownedByUs(HANDLE folder) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &raw) != ERROR_SUCCESS)
        return false;
    LocalPtr<PSECURITY_DESCRIPTOR> descriptor(raw);
    std::vector<BYTE> user = tokenInformation(TokenUser);
    std::vector<BYTE> defaultOwner = tokenInformation(TokenOwner);
    if (owner == nullptr)
        return false;
    if (userSid(user) != nullptr && ::EqualSid(owner, userSid(user)))
        return true;
    return !defaultOwner.empty() &&
           ::EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner);
}

}  // namespace

HeldFolderPtr createHeldFolder(const std::wstring& parent, const std::wstring& name) {
    // Only the running account and Administrators get in, whatever the temporary folder would
    // pass on.
    std::vector<BYTE> user = tokenInformation(TokenUser);
    LocalPtr<wchar_t*> sidText;
    if (userSid(user) == nullptr || !::ConvertSidToStringSidW(userSid(user), sidText.put()))
        return nullptr;
    const std::wstring sddl =
        std::wstring(L"D:P(A;OICI;FA;;;") + sidText.get() + L")(A;OICI;FA;;;BA)";
    LocalPtr<PSECURITY_DESCRIPTOR> descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                descriptor.put(), nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    const std::wstring path = parent + name;
    // CreateDirectoryW fails on any existing name: the folder is new.
    if (!::CreateDirectoryW(path.c_str(), &attributes))
        return nullptr;
    HeldFolderPtr held(new HeldFolder);
    held->path = path;
    held->handle = openFolder(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!held->handle || !::GetFileInformationByHandle(held->handle.get(), &info) ||
        !isRealFolder(info)) {
        return nullptr;
    }
    held->volume = info.dwVolumeSerialNumber;
    held->indexHigh = info.nFileIndexHigh;
    held->indexLow = info.nFileIndexLow;
    return held;
}

bool writeNewFile(HeldFolder& folder, const std::wstring& name, const std::string& bytes) {
    const std::wstring path = folder.path + L"\\" + name;
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    if (!bytes.empty() && (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                        &written, nullptr) ||
                           written != bytes.size())) {
        file.reset();
        ::DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

bool leadsTo(const HeldFolder& folder, const std::wstring& path) {
    UniqueHandle now = openFolder(path);
    BY_HANDLE_FILE_INFORMATION info;
    return now && ::GetFileInformationByHandle(now.get(), &info) && isRealFolder(info) &&
           info.dwVolumeSerialNumber == folder.volume && info.nFileIndexHigh == folder.indexHigh &&
           info.nFileIndexLow == folder.indexLow;
}

bool isGone(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND);
}

void release(HeldFolderPtr& folder) {
    folder.reset();
}

unsigned long currentProcessId() {
    return ::GetCurrentProcessId();
}

bool processStartTime(unsigned long processId, uint64_t& startTime) {
    UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId)));
    if (!process)
        return false;
    // A process that has ended but is still referenced by a handle somewhere is gone too.
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.get(), &exitCode) || exitCode != STILL_ACTIVE)
        return false;
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        return false;
    startTime = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

std::vector<std::wstring> ownFolders(const std::wstring& parent) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    FindHandle find(::FindFirstFileW((parent + L"\\*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || name == L"." ||
            name == L"..")
            continue;
        UniqueHandle folder = openFolder(parent + L"\\" + name);
        if (folder && ownedByUs(folder.get()))
            names.push_back(name);
    } while (::FindNextFileW(find.get(), &data));
    return names;
}

std::vector<std::wstring> entryNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    FindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(find.get(), &data));
    return names;
}

bool readOwnFile(const std::wstring& folder, const std::wstring& name, size_t limit,
                 std::string& bytes) {
    const std::wstring path = folder + L"\\" + name;
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        info.nFileSizeHigh != 0 || info.nFileSizeLow > limit)
        return false;
    std::string text(limit, '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), &text[0], static_cast<DWORD>(limit), &read, nullptr))
        return false;
    text.resize(read);
    bytes = text;
    return true;
}

}  // namespace korr::detail
