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

TEST(FitFileName, ShortensToTheRoomKeepingTheStartAndTheExtension)
{
    // wchar_t is 32-bit here, so a surrogate pair is spelled out unit by unit.
    const std::wstring face = {wchar_t(0xD83D), wchar_t(0xDE00)};
    struct Case { std::wstring name; std::size_t room; std::wstring tag; std::wstring out; };
    const Case cases[] = {
        {L"a.txt", 255, L"", L"a.txt"},
        {L"abcdef.txt", 10, L"", L"abcdef.txt"},
        {L"abcdef.txt", 8, L"", L"abcd.txt"},
        {L"abcdef", 3, L"", L"abc"},
        {L"abc", 1, L"", L"a"},
        {L".hidden", 3, L"", L".hi"},
        {L"a.b.c.d", 5, L"", L"a.b.d"},
        // Not an extension when long, nor when it leaves no room for the start.
        {L"name.averyveryverylongpart", 10, L"", L"name.avery"},
        {L"name.txt", 4, L"", L"name"},
        // A cut that ends in spaces or dots, or spells a device, is cleaned again.
        {L"abc  def.txt", 7, L"", L"abc.txt"},
        {L"abc  def", 4, L"", L"abc"},
        {L"abc..def", 4, L"", L"abc"},
        {L"CONSOLE.txt", 7, L"", L"CO.txt"},
        {L"NULLIFY", 3, L"", L"NU"},
        // A surrogate pair is kept whole or not at all.
        {face + face + L".txt", 7, L"", face + L".txt"},
        {face + L"x", 1, L"", L""},
        // A tag goes before the extension; without room for both, the extension goes.
        {L"longname.txt", 10, L"~2", L"long~2.txt"},
        {L"longname.txt", 6, L"~2", L"long~2"},
        {L"a.txt", 255, L"~3", L"a~3.txt"},
        {L"abc", 2, L"~2", L""},
        {L"abc.txt", 0, L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.name) + " in " + std::to_string(c.room) + narrow(c.tag));
        EXPECT_EQ(fit_file_name(c.name, c.room, c.tag), c.out);
    }
}

TEST(ReceivedNames, ShortenedNamesThatMeetAreNumberedAndSameNamesStillReplace)
{
    struct Step { std::wstring clean; std::size_t room; std::wstring given; };
    const Step steps[] = {
        {L"short.txt", 10, L"short.txt"},
        {L"short.txt", 10, L"short.txt"},  // the same name again replaces the file
        {L"abcdefghij_one.txt", 10, L"abcdef.txt"},
        {L"abcdefghij_two.txt", 10, L"abcd~2.txt"},
        {L"abcdefghij_one.txt", 10, L"abcdef.txt"},  // the same long name again
        {L"ABCDEFghij_3.txt", 10, L"ABCD~3.txt"},     // Windows ignores case in names
        {L"abcdef", 3, L"abc"},
        {L"abcxyz", 3, L"a~4"},  // numbers run through the payload
        {L"abcdef", 2, L"ab"},
        {L"abxyz", 2, L"ab"},  // no room for a number: replaces
        {L"anything", 0, L""},
    };
    ReceivedNames names;
    for (const Step& s : steps) {
        SCOPED_TRACE(narrow(s.clean));
        EXPECT_EQ(name_received_file(names, s.clean, s.room), s.given);
    }
}
