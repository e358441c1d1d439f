#pragma once

// Runs the agent until the user quits; the exit code of the process.
// argv[1], when present, overrides the listening port.
int agent_main(int argc, char** argv);
