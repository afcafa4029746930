// The expected catalogue of an NTFS image, derived without the library under
// test: libntfs-3g supplies the geometry, the MFT's runs and attribute-list
// lookups; the index buffers are read raw and the catalogue rules applied here.
//
// The catalogue's rules, restated here so that the two derivations stay
// independent:
//  * entries come only from the INDX buffers of the $INDEX_ALLOCATION of
//    directories in use (file record flags exactly 3); names found only in an
//    index root give no entry; the index bitmap is not consulted, so entries
//    of unused buffers that still carry the INDX signature count;
//  * a directory whose $INDEX_ALLOCATION lives in an extension record is read
//    as well; the MFT is read as one stream across its runs;
//  * duplicates: entries are grouped by record number; neighbours with the same
//    parent drop a POSIX name (both when both are POSIX) and the DOS one of a
//    Win32/DOS pair; any other pair fails the load (-1000/-1001);
//  * a DOS-only entry takes the record's own long name (namespace 3); an empty
//    parent name takes the parent record's name;
//  * flag = the flags word of the record that names the entry's record number,
//    or 1 when no record in use does.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace volume_builder {

struct CatalogueEntry {
    std::int32_t parentId = 0;
    std::int32_t id = 0;
    std::int32_t flag = 0;
    std::int32_t nameSpace = 0;
    std::int64_t allocatedSize = 0, actualSize = 0;
    std::int64_t creationTime = 0, modificationTime = 0, mftModificationTime = 0, accessTime = 0;
    std::u16string name, parentName;
};

// Where one index entry was found, for the cross-check against other readers.
struct IndexName {
    std::int32_t directory;  // record number of the directory
    std::string where;       // "root", "alloc" (buffer in the bitmap), "stale"
    std::int32_t id;
    int nameSpace;
    std::u16string name;
};

struct DirectoryFacts {
    std::u16string name;
    bool hasAllocation = false;
    bool allocationInExtension = false;
    int indxBuffers = 0;   // buffers with the INDX signature
    int staleBuffers = 0;  // of those, the ones the index bitmap marks unused
    int rootNames = 0;
};

struct Scan {
    std::int32_t status = 0;  // the load's expected status
    std::vector<CatalogueEntry> entries;
    std::vector<IndexName> indexNames;
    std::map<std::int32_t, DirectoryFacts> directories;  // in-use directories
    std::vector<std::string> warnings;                   // ambiguities, oddities
    int mftRuns = 0;
    bool mftRecordStraddlesRuns = false;
    int deletedDirsWithIndx = 0;
    std::uint64_t mftRecords = 0;
};

Scan ScanImage(const std::string& imagePath);

void WriteExpected(const Scan& scan, const std::string& imageName, const std::string& path);
void WriteIndexNames(const Scan& scan, const std::string& path);

// Runs the description's "check" steps against the image; throws on the first
// one that does not hold.
struct Description;
void RunChecks(const Description& description, const Scan& scan, const std::string& imagePath);

}  // namespace volume_builder
