// Entry point: one executable, four kinds of process chosen by the first argument.
#include <windows.h>

#include <cstring>
#include <vector>

#include "app/agent_main.h"
#include "app/agent_state.h"
#include "app/service_install.h"
#include "service/service_main.h"

int main(int argc, char** argv)
{
    SetConsoleOutputCP(CP_UTF8);
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "--install") == 0)
        return install_service();
    if (std::strcmp(mode, "--uninstall") == 0)
        return uninstall_service();
    if (std::strcmp(mode, "--service") == 0)
        return run_service_dispatcher();
    if (std::strcmp(mode, "--agent") == 0) {
        agent.launched_by_service = true;
        // The agent sees the program name, then what followed --agent.
        std::vector<char*> rest{argv[0]};
        rest.insert(rest.end(), argv + 2, argv + argc);
        rest.push_back(nullptr);
        return agent_main(argc - 1, rest.data());
    }
    if (installed_service_guard())
        return 0;
    return agent_main(argc, argv);
}
