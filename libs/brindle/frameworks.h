// SPDX-License-Identifier: GPL-2.0-or-later
// The components a session drives are loaded by name when it first needs them and bound into
// the session's private part: the demultiplexers Daskin and Varlow and the decoder frameworks
// Ostrell (AAC), Kestrin (AC-3), Lorrimer (MPEG video, audio, subpictures) and Quenby (H.264).
// A framework counts as present only when every one of its names is found.
#pragma once

#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

enum class Framework : std::uint32_t { Ostrell, Kestrin, Lorrimer, Quenby, Daskin, Varlow };
constexpr std::uint32_t kFrameworkCount = 6;
constexpr std::uint32_t kMaxBoundNames = 18;

// The framework's name and the functions bound from it (one table for all six).
const char* framework_name(Framework framework);
std::uint32_t framework_function_count(Framework framework);
const char* framework_function_name(Framework framework, std::uint32_t index);

// 0 when bound, 1 when not available (nothing is printed: the callers report it).
int load_framework(mpeg_in_info* session, Framework framework);
// Releases the framework and clears its pointers; harmless for one never loaded.
void unload_framework(mpeg_in_info* session, Framework framework);
// The bound function of that index, or null.
void* framework_function(const mpeg_in_info* session, Framework framework, std::uint32_t index);

int load_ostrell(mpeg_in_info* session);
int load_kestrin(mpeg_in_info* session);
int load_lorrimer(mpeg_in_info* session);
int load_quenby(mpeg_in_info* session);
int load_daskin(mpeg_in_info* session);
int load_varlow(mpeg_in_info* session);
void unload_ostrell(mpeg_in_info* session);
void unload_kestrin(mpeg_in_info* session);
void unload_lorrimer(mpeg_in_info* session);
void unload_quenby(mpeg_in_info* session);
void unload_daskin(mpeg_in_info* session);
void unload_varlow(mpeg_in_info* session);

}  // namespace quillion::brindle
