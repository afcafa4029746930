#include "volume/volume_handle.h"

namespace tarnwick {

namespace {
void CloseIfValid(void* handle) {
    if (handle != platform::InvalidHandle()) platform::CloseVolume(handle);
}
}  // namespace

VolumeHandle OpenVolumeHandle(const char16_t* volumePath) {
    // shared_ptr's constructor calls the deleter itself when its count
    // cannot be allocated, so the handle never leaks.
    return VolumeHandle(platform::OpenVolume(volumePath), CloseIfValid);
}

bool IsOpen(const VolumeHandle& handle) { return handle && handle.get() != platform::InvalidHandle(); }

int ReadBuffer(std::vector<std::uint8_t>& buffer, platform::RawHandle handle) {
    if (buffer.empty() || buffer.size() > UINT32_MAX) return -1;
    return platform::ReadExact(handle, buffer.data(), static_cast<std::uint32_t>(buffer.size())) ? 0 : -1;
}

}  // namespace tarnwick
