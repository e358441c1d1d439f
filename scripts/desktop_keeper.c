/* Holds a Wine prefix's desktop open while the prefix is in use. wine-run
 * --setup builds it and starts it as the command of the desktop process
 * (explorer.exe /desktop), which runs it once the desktop window is up.
 *
 * Left alone, Wine starts the desktop process from whichever program first
 * makes a window, inside that program's process group, closes it a second
 * after the last program with windows has gone, and starts it again for the
 * next one. That program waits at most 10 s for it: on a loaded machine the
 * wait can run out, and then that program, and often every later one in the
 * prefix, has no display driver and cannot make a single window. A test that
 * kills its program's group kills the desktop process with it. While this
 * program lives the desktop never closes, so the one desktop process started
 * by wine-run, in a session of its own, serves the whole run.
 *
 *   desktop_keeper.exe READY_FILE
 *
 * Writes "ready" to READY_FILE once it has seen that the desktop window
 * belongs to a live process and that a window can be made, or "broken: ..."
 * and ends with 1 if not. Then it lives until the prefix's server stops. */
#include <windows.h>

#include <stdio.h>

static void tell(const wchar_t* path, const char* text)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    char text[160];
    DWORD owner_pid = 0;
    HWND desktop, probe;
    MSG message;
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    if (!argv || argc != 2)
        return 2;
    desktop = GetDesktopWindow();
    GetWindowThreadProcessId(desktop, &owner_pid);
    /* Never shown: the screen stays as the tests expect it. */
    probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    if (!owner_pid || !probe) {
        snprintf(text, sizeof text, "broken: desktop owner %lu, window %p, error %lu\n",
                 (unsigned long)owner_pid, (void*)probe, (unsigned long)GetLastError());
        tell(argv[1], text);
        return 1;
    }
    tell(argv[1], "ready\n");
    while (GetMessageW(&message, NULL, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
