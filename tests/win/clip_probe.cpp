// The clipboard's file list, for tests from outside the agent:
//   clip_probe put FILE...   places the files as a drop list, prints "put",
//                            and keeps owning it until standard input closes
//   clip_probe show          prints "file PATH" per entry and "effect N"
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::wstring wide(const char* text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    return out;
}

int put(int count, char** paths)
{
    std::wstring list;
    for (int i = 0; i < count; ++i) {
        wchar_t full[MAX_PATH];
        GetFullPathNameW(wide(paths[i]).c_str(), MAX_PATH, full, nullptr);
        list += full;
        list += L'\0';
    }
    list += L'\0';
    const SIZE_T bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
    GlobalUnlock(block);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(block);
        return 1;
    }
    EmptyClipboard();
    SetClipboardData(CF_HDROP, block);
    CloseClipboard();
    std::printf("put\n");
    char line[16];
    while (std::fgets(line, sizeof line, stdin)) {
    }
    return 0;
}

int show()
{
    if (!OpenClipboard(nullptr))
        return 1;
    if (HDROP drop = static_cast<HDROP>(GetClipboardData(CF_HDROP))) {
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            wchar_t path[MAX_PATH];
            DragQueryFileW(drop, i, path, MAX_PATH);
            char utf8[4 * MAX_PATH];
            WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr);
            std::printf("file %s\n", utf8);
        }
    }
    const UINT effect_format = RegisterClipboardFormatW(L"Preferred DropEffect");
    if (HGLOBAL effect = GetClipboardData(effect_format)) {
        if (auto* value = static_cast<const DWORD*>(GlobalLock(effect))) {
            std::printf("effect %lu\n", value[0]);
            GlobalUnlock(effect);
        }
    }
    CloseClipboard();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc >= 3 && std::strcmp(argv[1], "put") == 0)
        return put(argc - 2, argv + 2);
    if (argc == 2 && std::strcmp(argv[1], "show") == 0)
        return show();
    std::fprintf(stderr, "usage: clip_probe put FILE... | clip_probe show\n");
    return 2;
}
