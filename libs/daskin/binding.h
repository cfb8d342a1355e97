// SPDX-License-Identifier: GPL-2.0-or-later
// Binding streams to parsers and to the caller's byte streams, and the two ways delivery is
// driven: pulls through a taken-over byte stream, and push steps.
#pragma once

#include <cstdint>

#include "context.h"

namespace quillion::daskin {

[[nodiscard]] bool bindStream(Context& ctx, Parser& p, const demux_stream_settings& s);
[[nodiscard]] bool unbindStream(Context& ctx, Parser& p, const demux_stream_settings& s);
// Gives back every byte stream the parser took over.
void releaseBindings(Context& ctx, Parser& p);
// One delivery step without a pull: bytes consumed, DEMUX_PUSH_ERROR or DEMUX_PUSH_END.
std::int32_t pushStep(Context& ctx, Parser& p);

}  // namespace quillion::daskin
