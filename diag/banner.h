// The lines the library writes to the trace when it is loaded: the module and the machine.
#pragma once

#include <cstdint>
#include <string>

namespace em::diag {

// The build date and time of the library ("Jun  6 2014", "09:26:52").
const char16_t* BuildDate();
const char16_t* BuildTime();

// The operating system platform line for an architecture code of the native system information.
const char16_t* PlatformLine(uint16_t architecture);

// Writes the load banner through the global facility, each line only while tracing is active.
// address_in_module is any address inside the library whose file is described.
void WriteLoadBanner(const char16_t* module_name, const void* address_in_module);

}  // namespace em::diag
