// The library's exported functions (C linkage) and the process-wide module state behind them.
#pragma once

#include <cstdint>

#include "module/extension_module.h"

#define EM_EXPORT extern "C" __attribute__((visibility("default")))

// No exception leaves an export.
EM_EXPORT uint32_t EM_Create(em::IExtensionModule** module, void* reserved) noexcept;
EM_EXPORT uint32_t EM_Delete() noexcept;
EM_EXPORT const char16_t* EM_GetModuleName() noexcept;
EM_EXPORT uint32_t EM_SetupAction(uint32_t action, void* param) noexcept;

namespace em {

// Name printed by the export trace lines: "EM_?????" until the load hook sets it.
const char16_t* ModuleNameForTrace();
void SetModuleNameForTrace(const char16_t* name);

// The library's module object, or null.
IExtensionModule* CurrentModule();

// Unload: destroys a module object that the host left behind, as EM_Delete does.
void DestroyLeftBehindModule();

}  // namespace em
