// Prints what Windows shows in a program's properties, read as Explorer reads
// it: the fixed version numbers, then the strings of the first language the
// resource lists. One "Name=value" line each, in UTF-8; exit 1 when the file
// has no version resource.
//   version_probe.exe FILE
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fputs("usage: version_probe.exe FILE\n", stderr);
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<char> info(size);
    if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, info.data())) {
        std::printf("no version resource (error %lu)\n", GetLastError());
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
        length >= sizeof *fixed)
        std::printf("Fixed=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                    LOWORD(fixed->dwFileVersionLS));

    struct Translation {
        WORD language;
        WORD code_page;
    };
    Translation* translation = nullptr;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof *translation) {
        std::puts("no translation table");
        return 1;
    }
    for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileVersion",
                                L"FileDescription", L"OriginalFilename"}) {
        wchar_t key[96];
        swprintf(key, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                 translation->code_page, name);
        wchar_t* value = nullptr;
        if (VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&value), &length) && value)
            std::printf("%s=%s\n", utf8(name).c_str(), utf8(value).c_str());
    }
    return 0;
}
