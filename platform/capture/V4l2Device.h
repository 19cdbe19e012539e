#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/CaptureMode.h"

namespace halvora {

// Direct questions to a Video4Linux2 device node, asked before libavdevice opens
// it (libavdevice neither lists devices nor tells what modes they offer).

// The card name of a node that can capture video (single-planar capture in the
// node's own capabilities); nullopt for anything else: no such node, not a V4L2
// device, a metadata or output node.
std::optional<std::string> QueryCaptureCard(const std::filesystem::path& node);

// Every (format, size) the node offers for video capture. Stepwise and
// continuous size ranges give their smallest and largest size and the size
// nearest 320 x 240 within the range. Empty when the node cannot be asked.
std::vector<CaptureMode> QueryCaptureModes(const std::filesystem::path& node);

}  // namespace halvora
