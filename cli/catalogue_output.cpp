#include "catalogue_output.h"

#include "output_buffer.h"
#include "paths.h"
#include "text_format.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"

namespace tarnwick::cli {

namespace {

// Columns and keys share the names of the catalogue entry's fields.
constexpr std::string_view kCatalogueCsvHeader =
    "id,parentId,path,name,type,actualSize,allocatedSize,creationTime,modificationTime,mftModificationTime,accessTime,flag\r\n";

void WriteCsv(OutputBuffer& out, const PathResolver& paths, const ResultRecord_Internal& e, std::string_view name) {
    char* p = out.Reserve(2 * kIntegerBound + 2);
    p = WriteUnsigned(p, static_cast<std::uint32_t>(e.id));
    *p++ = ',';
    p = WriteUnsigned(p, static_cast<std::uint32_t>(e.parentId));
    *p++ = ',';
    out.Commit(p);
    paths.WritePath(out, e, name, Escape::Csv);

    p = out.Reserve(CsvBound(name.size()) + 16 + 3 * kIntegerBound + 4 * kTimeBound);
    *p++ = ',';
    p = WriteCsvField(p, name);
    *p++ = ',';
    const std::string_view type = (e.flag & kFlagDirectory) != 0 ? "directory," : "file,";
    for (const char c : type) *p++ = c;
    p = WriteInteger(p, e.actualSize);
    *p++ = ',';
    p = WriteInteger(p, e.allocatedSize);
    for (const std::int64_t t : {e.creationTime, e.modificationTime, e.mftModificationTime, e.accessTime}) {
        *p++ = ',';
        p = WriteNtfsTime(p, t);
    }
    *p++ = ',';
    p = WriteInteger(p, e.flag);
    *p++ = '\r';
    *p++ = '\n';
    out.Commit(p);
}

char* WriteKey(char* p, std::string_view key) {
    for (const char c : key) *p++ = c;
    return p;
}

char* WriteJsonTime(char* p, std::int64_t ticks) {
    char* start = p + 1;
    char* end = WriteNtfsTime(start, ticks);
    if (end == start) return WriteKey(p, "null");
    *p = '"';
    *end++ = '"';
    return end;
}

void WriteJson(OutputBuffer& out, const PathResolver& paths, const ResultRecord_Internal& e, std::string_view name) {
    char* p = out.Reserve(2 * kIntegerBound + 32);
    p = WriteKey(p, "{\"id\":");
    p = WriteUnsigned(p, static_cast<std::uint32_t>(e.id));
    p = WriteKey(p, ",\"parentId\":");
    p = WriteUnsigned(p, static_cast<std::uint32_t>(e.parentId));
    p = WriteKey(p, ",\"path\":");
    out.Commit(p);
    paths.WritePath(out, e, name, Escape::Json);

    p = out.Reserve(JsonBound(name.size()) + 256 + 3 * kIntegerBound + 4 * kTimeBound);
    p = WriteKey(p, ",\"name\":");
    p = WriteJsonString(p, name);
    p = WriteKey(p, (e.flag & kFlagDirectory) != 0 ? ",\"type\":\"directory\"" : ",\"type\":\"file\"");
    p = WriteKey(p, ",\"actualSize\":");
    p = WriteInteger(p, e.actualSize);
    p = WriteKey(p, ",\"allocatedSize\":");
    p = WriteInteger(p, e.allocatedSize);
    p = WriteKey(p, ",\"creationTime\":");
    p = WriteJsonTime(p, e.creationTime);
    p = WriteKey(p, ",\"modificationTime\":");
    p = WriteJsonTime(p, e.modificationTime);
    p = WriteKey(p, ",\"mftModificationTime\":");
    p = WriteJsonTime(p, e.mftModificationTime);
    p = WriteKey(p, ",\"accessTime\":");
    p = WriteJsonTime(p, e.accessTime);
    p = WriteKey(p, ",\"flag\":");
    p = WriteInteger(p, e.flag);
    p = WriteKey(p, "}\n");
    out.Commit(p);
}

}  // namespace

void WriteCatalogueHeader(OutputBuffer& out, Format format) {
    if (format == Format::Csv) out.Append(kCatalogueCsvHeader);
}

void WriteCatalogueEntry(OutputBuffer& out, Format format, const PathResolver& paths, const ResultRecord_Internal& entry) {
    char name[Utf8Bound(kTextFieldUnits)];
    const std::size_t units = BoundedLength(entry.name, kTextFieldUnits);
    const std::string_view nameUtf8(name, static_cast<std::size_t>(WriteUtf8(name, entry.name, units) - name));
    if (format == Format::Csv) {
        WriteCsv(out, paths, entry, nameUtf8);
    } else {
        WriteJson(out, paths, entry, nameUtf8);
    }
}

void WriteCatalogue(OutputBuffer& out, Format format, std::span<const ResultRecord_Internal* const> entries) {
    const PathResolver paths(entries);
    WriteCatalogueHeader(out, format);
    for (const ResultRecord_Internal* entry : entries) WriteCatalogueEntry(out, format, paths, *entry);
}

}  // namespace tarnwick::cli
