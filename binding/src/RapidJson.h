#pragma once
// RapidJSON's reader and writers, as the JSON rooms of this library include
// them. Private to the binding library.
//
// RapidJSON 1.1's internal stack computes `null + size` before its first
// allocation (its capacity check in Stack::Reserve). The pointer is never
// used, but clang's UBSan reports it on every parse; the check is switched
// off for RapidJSON's functions only.

#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif
