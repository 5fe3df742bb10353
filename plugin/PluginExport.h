#pragma once
// NALO_PLUGIN_EXPORT marks a function that a plugin exports to its core: a
// DLL export on Windows (where visibility attributes export nothing), default
// visibility elsewhere. Exports stay cdecl (NALO_ABI_CALL), so that their
// names carry no decoration.

#ifdef _WIN32
#define NALO_PLUGIN_EXPORT __declspec(dllexport)
#else
#define NALO_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif
