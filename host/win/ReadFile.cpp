// Reading a whole file with the Windows file API, for the .csv reader.
#include "io/IoError.hpp"
#include "io/Package.hpp"

#include <windows.h>

namespace host::io {

std::string read_file(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw IoError(path, "cannot open the file (Windows error " + std::to_string(GetLastError()) + ")");
    std::string data;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            DWORD error = GetLastError();
            CloseHandle(file);
            throw IoError(path, "cannot read the file (Windows error " + std::to_string(error) + ")");
        }
        if (n == 0)
            break;
        data.append(buffer, n);
    }
    CloseHandle(file);
    return data;
}

} // namespace host::io
