// E01 (Expert Witness) evidence files, read through libewf when the tool was
// built with it. The media inside is the disk or volume that was acquired.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/platform.h"

namespace tarnwick::cli {

// True when the file's first bytes carry the EWF signature.
bool IsEwfSignature(std::span<const std::uint8_t> firstBytes);

// Whether this build reads E01 files at all.
bool EwfSupported();

// What went wrong first while reading the media, as one line. A chunk that
// cannot be read looks like the end of the volume to the readers above, so
// the tool asks here before it reports anything else.
class MediaErrors {
public:
    virtual ~MediaErrors() = default;
    virtual std::optional<std::string> FirstReadError() const = 0;
};

// Opens the evidence file `path` and its further segments (.E02 and on) and
// gives the acquired media as a reader; a one-line reason when it cannot.
std::optional<std::string> OpenEwf(const std::string& path, std::shared_ptr<platform::VolumeReader>& media,
                                   std::shared_ptr<const MediaErrors>& errors, std::uint64_t& mediaSize);

}  // namespace tarnwick::cli
