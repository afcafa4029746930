// libntfs-3g's C headers, made usable from C++: they need a few system headers
// first and define min/max macros that would break the standard library.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/volume.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/index.h>
#include <ntfs-3g/mst.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/logging.h>
}

#undef min
#undef max
