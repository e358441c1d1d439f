#include <gtest/gtest.h>

#include <string>

#include "clipboard/safe_file_name.h"

namespace {
std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? char(c) : '?';
    return out;
}
} // namespace

TEST(SafeFileName, KeepsOnlyACreatableNameInsideTheFolder)
{
    struct Case { std::wstring in; std::wstring out; };
    const Case cases[] = {
        // The last path part, without colons; "file" when nothing is left.
        {L"C:\\Users\\me\\a.txt", L"a.txt"},
        {L"C:\\Users\\me\\", L"file"},
        {L"a:b.txt", L"ab.txt"},
        {L"D:", L"D"},
        {L"x:y", L"xy"},
        {L"", L"file"},
        {L":", L"file"},
        {L"..\\..\\evil.exe", L"evil.exe"},
        {L"../../evil.exe", L"evil.exe"},
        {L"dir/sub\\mixed.txt", L"mixed.txt"},
        {L"\\\\?\\C:\\x\\deep.txt", L"deep.txt"},
        {L"file.txt:stream", L"file.txtstream"},
        {L"\u041E\u0442\u0447\u0451\u0442.docx", L"\u041E\u0442\u0447\u0451\u0442.docx"},
        {L".hidden", L".hidden"},
        {L"  lead.txt", L"  lead.txt"},
        // Windows drops trailing dots and spaces, so "." and ".." would name a folder.
        {L".", L"file"},
        {L"..", L"file"},
        {L"...", L"file"},
        {L" ", L"file"},
        {L"a.", L"a"},
        {L"a.txt. . ", L"a.txt"},
        {L"dir\\..", L"file"},
        // Characters that no Windows name may hold, including a zero that
        // would otherwise end the path early.
        {L"a?b*c.txt", L"a_b_c.txt"},
        {L"<in>|\"out\"", L"_in___out_"},
        {std::wstring(L"a\0b", 3), L"a_b"},
        {L"tab\there", L"tab_here"},
        // Device names, with or without extension, in any case.
        {L"CON", L"_CON"},
        {L"nul.txt", L"_nul.txt"},
        {L"Prn.tar.gz", L"_Prn.tar.gz"},
        {L"aux", L"_aux"},
        {L"COM1", L"_COM1"},
        {L"com9.log", L"_com9.log"},
        {L"LPT0", L"_LPT0"},
        {L"lpt\u00B9.txt", L"_lpt\u00B9.txt"},
        {L"COM\u00B3", L"_COM\u00B3"},
        {L"con .txt", L"_con .txt"},
        {L"CON.", L"_CON"},
        {L"NUL:", L"_NUL"},
        {L"C:\\x\\nul", L"_nul"},
        {L"conin$", L"_conin$"},
        {L"CONOUT$.txt", L"_CONOUT$.txt"},
        // Names that merely look like devices stay as they are.
        {L"_CON", L"_CON"},
        {L"console.txt", L"console.txt"},
        {L"NULL", L"NULL"},
        {L"COM10", L"COM10"},
        {L"LPT", L"LPT"},
        {L"COMx", L"COMx"},
        {L"xCON", L"xCON"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(safe_file_name(c.in), c.out) << narrow(c.in);
}
