#include "service/agent_launch.h"

#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <memory>
#include <string>
#include <vector>

#include "service/session_choice.h"

namespace {

struct WtsMemoryFree {
    void operator()(WTS_SESSION_INFOW* memory) const { WTSFreeMemory(memory); }
};

// The environment of the token's account, owned for the launch.
struct EnvironmentBlock {
    void* block = nullptr;
    explicit EnvironmentBlock(HANDLE token)
    {
        if (!CreateEnvironmentBlock(&block, token, FALSE))
            block = nullptr;  // the agent starts with an empty one
    }
    EnvironmentBlock(const EnvironmentBlock&) = delete;
    EnvironmentBlock& operator=(const EnvironmentBlock&) = delete;
    ~EnvironmentBlock()
    {
        if (block)
            DestroyEnvironmentBlock(block);
    }
};

DWORD active_session()
{
    std::vector<SessionEntry> listed;
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        std::unique_ptr<WTS_SESSION_INFOW, WtsMemoryFree> owned(sessions);
        for (DWORD i = 0; i < count; ++i)
            listed.push_back({sessions[i].SessionId, sessions[i].State == WTSActive});
    }
    return choose_agent_session(listed, WTSGetActiveConsoleSessionId());
}

// A primary copy of the service's own token (the system account) moved into
// `session`, so that the agent sees that session's desktops.
UniqueHandle token_in_session(DWORD session)
{
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY |
                              TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                          &own))
        return {};
    UniqueHandle process_token(own);
    HANDLE copy = nullptr;
    if (!DuplicateTokenEx(own, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary,
                          &copy))
        return {};
    UniqueHandle token(copy);
    // Refused only without SeTcbPrivilege; the agent then simply stays in our session.
    SetTokenInformation(copy, TokenSessionId, &session, sizeof session);
    return token;
}

// "\"<this executable>\" --agent"; empty when the path cannot be had whole.
std::wstring agent_command_line()
{
    wchar_t exe[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return {};
    return L"\"" + std::wstring(exe, length) + L"\" --agent";
}

bool start_agent_on(const wchar_t* desktop, HANDLE token, std::wstring& command, void* environment,
                    PROCESS_INFORMATION& process)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(desktop);
    return CreateProcessAsUserW(token, nullptr, command.data(), nullptr, nullptr, FALSE,
                                CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment, nullptr,
                                &startup, &process);
}

} // namespace

UniqueHandle launch_agent_in_active_session()
{
    const DWORD session = active_session();
    if (session == NO_SESSION)
        return {};
    UniqueHandle token = token_in_session(session);
    std::wstring command = agent_command_line();
    if (!token || command.empty())
        return {};
    EnvironmentBlock environment(token.get());
    PROCESS_INFORMATION process{};
    if (!start_agent_on(L"winsta0\\default", token.get(), command, environment.block, process) &&
        !start_agent_on(L"winsta0\\winlogon", token.get(), command, environment.block, process))
        return {};
    CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
}
