#pragma once
#include <string>

// True when `address` is one of the comma-separated entries of `allow`
// (spaces and tabs around entries ignored, letters compared without case).
// Entries are whole address texts: no ranges, masks or host names. The caller
// treats an empty list as "everyone"; here an empty list admits nobody.
bool address_allowed(const std::string& allow, const std::string& address);
