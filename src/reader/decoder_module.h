#pragma once

#include <string>

// The decoder module beside the executable (videos and live sources), loaded
// on first use and kept to the end: what it opened lives in its code. The
// named entry point, or null with `problem` saying why.
void* DecoderModuleEntry(const char* name, std::string& problem);
