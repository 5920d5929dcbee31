#include "file_byte_source.h"

#include <algorithm>

namespace velkorix {

FileByteSource::~FileByteSource() { Close(); }

HRESULT FileByteSource::Open(const WCHAR *path) {
    Close();
    if (!path) return E_POINTER;
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return HRESULT_FROM_WIN32(error ? error : ERROR_OPEN_FAILED);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    file_ = file;
    size_ = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    position_ = 0;
    failed_ = false;
    error_.clear();
    return S_OK;
}

void FileByteSource::Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    size_ = 0;
    position_ = 0;
}

void FileByteSource::Fail(DWORD error) {
    failed_ = true;
    error_ = "read error " + std::to_string(static_cast<unsigned long>(error));
}

std::size_t FileByteSource::Read(uint8_t *into, std::size_t size) {
    if (!IsOpen() || failed_) return 0;
    std::size_t total = 0;
    while (total < size) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 24));
        DWORD got = 0;
        if (!ReadFile(file_, into + total, want, &got, nullptr)) {
            Fail(GetLastError());
            break;
        }
        total += got;
        if (got < want) break;  // the end of the file
    }
    position_ += total;
    return total;
}

uint64_t FileByteSource::Skip(uint64_t count) {
    if (!IsOpen() || failed_) return 0;
    const uint64_t n = std::min(count, size_ > position_ ? size_ - position_ : 0);
    if (n > 0 && !Seek(position_ + n)) {
        Fail(GetLastError());
        return 0;
    }
    return n;
}

bool FileByteSource::Seek(uint64_t offset) {
    if (!IsOpen() || failed_ || offset > size_) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) return false;
    position_ = offset;
    return true;
}

}  // namespace velkorix
