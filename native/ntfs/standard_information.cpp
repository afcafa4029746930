#include "ntfs/standard_information.h"

#include "volume/byte_reader.h"

namespace tarnwick {

int ParseStandardInformation(std::span<const std::uint8_t> value, StandardInformation& info) {
    const FixedReader<standard_information::kMinimumLength> r(value, 0);
    if (!r.ok()) return -1;
    info.creationTime = r.I64<standard_information::kCreationTime>();
    info.modificationTime = r.I64<standard_information::kModificationTime>();
    info.mftChangeTime = r.I64<standard_information::kMftChangeTime>();
    info.accessTime = r.I64<standard_information::kAccessTime>();
    info.fileAttributes = r.U32<standard_information::kFileAttributes>();
    return 0;
}

}  // namespace tarnwick
