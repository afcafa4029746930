// Shared ownership of an open volume and the one read primitive every read
// of the volume goes through.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace tarnwick {

// Copies share the handle; the last release closes it exactly once. If the
// holder cannot be made, the handle is closed at once and bad_alloc leaves.
// The holder wraps whatever the open returned, the invalid value included.
using VolumeHandle = std::shared_ptr<void>;

VolumeHandle OpenVolumeHandle(const char16_t* volumePath);
bool IsOpen(const VolumeHandle& handle);

// Reads exactly buffer.size() bytes from the handle's current position:
// 0 when they all arrived, -1 otherwise (a short read counts as a failure).
int ReadBuffer(std::vector<std::uint8_t>& buffer, platform::RawHandle handle);

}  // namespace tarnwick
