#include "ui/main_window.h"

HWND create_main_window() { return nullptr; }
