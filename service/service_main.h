#pragma once

inline constexpr wchar_t SERVICE_NAME[] = L"OrvaneService";

// Hands the process to the service control dispatcher; the exit code.
int run_service_dispatcher();
