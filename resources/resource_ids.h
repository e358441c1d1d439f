#pragma once

#define IDI_ORVANE_IDLE 101    // no viewer connected
#define IDI_ORVANE_ACTIVE 102  // a session is being broadcast
