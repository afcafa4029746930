#include "listing_output.h"

#include "output_buffer.h"
#include "text_format.h"

namespace tarnwick::cli {

namespace {

constexpr std::string_view kCsvHeader =
    "record,sequence,parentRecord,parentSequence,path,name,namespace,type,dataSize,allocatedSize,"
    "creationTime,modificationTime,mftModificationTime,accessTime,"
    "fnCreationTime,fnModificationTime,fnMftModificationTime,fnAccessTime,attributes";

struct AttributeWord {
    std::uint32_t bit;
    std::string_view word;
};

constexpr AttributeWord kAttributeWords[] = {
    {listing::file_attribute::kReadOnly, "read-only"},   {listing::file_attribute::kHidden, "hidden"},
    {listing::file_attribute::kSystem, "system"},        {listing::file_attribute::kArchive, "archive"},
    {listing::file_attribute::kCompressed, "compressed"}, {listing::file_attribute::kEncrypted, "encrypted"},
    {listing::file_attribute::kSparse, "sparse"},        {listing::file_attribute::kReparsePoint, "reparse-point"},
};
// Every word with a separator or its JSON quotes and comma.
constexpr std::size_t kAttributesBound = 128;

std::string_view NamespaceWord(std::uint8_t nameSpace) {
    switch (nameSpace) {
        case 0: return "posix";
        case 1: return "win32";
        case 2: return "dos";
        case 3: return "win32+dos";
        default: return "unknown";
    }
}

std::string_view TypeWord(const listing::Row& row) {
    if (row.IsStream()) return "stream";
    return row.IsDirectory() ? "directory" : "file";
}

char* Put(char* p, std::string_view text) {
    for (const char c : text) *p++ = c;
    return p;
}

bool JsonNeedsEscapes(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\') return true;
    }
    return false;
}

// Room for the numeric and word fields of one line around the two texts.
constexpr std::size_t kFixedBound = 8 * kIntegerBound + 8 * (kTimeBound + 32) + kAttributesBound + 256;

}  // namespace

void ListingWriter::WriteHeader() {
    if (format_ != Format::Csv) return;
    out_.Append(kCsvHeader);
    if (columns_.deleted) out_.Append(",deleted");
    out_.Append("\r\n");
}

// The text is written as UTF-8 straight into the output and only copied
// aside in the rare case that it needs quoting or escapes.
void ListingWriter::WriteText(std::u16string_view text) {
    const auto* units = reinterpret_cast<const std::uint16_t*>(text.data());
    const std::size_t bytes = Utf8Bound(text.size());
    if (format_ == Format::Csv) {
        char* p = out_.Reserve(CsvBound(bytes));
        char* end = WriteUtf8(p, units, text.size());
        const std::string_view written(p, static_cast<std::size_t>(end - p));
        if (CsvNeedsQuotes(written)) {
            scratch_.assign(written);
            end = WriteCsvField(p, scratch_);
        }
        out_.Commit(end);
        return;
    }
    char* p = out_.Reserve(JsonBound(bytes));
    char* end = WriteUtf8(p + 1, units, text.size());
    const std::string_view written(p + 1, static_cast<std::size_t>(end - p - 1));
    if (JsonNeedsEscapes(written)) {
        scratch_.assign(written);
        end = WriteJsonString(p, scratch_);
    } else {
        *p = '"';
        *end++ = '"';
    }
    out_.Commit(end);
}

void ListingWriter::WriteTimes(const listing::Times& times, bool fileName) {
    static constexpr std::string_view kKeys[2][4] = {
        {",\"creationTime\":", ",\"modificationTime\":", ",\"mftModificationTime\":", ",\"accessTime\":"},
        {",\"fnCreationTime\":", ",\"fnModificationTime\":", ",\"fnMftModificationTime\":", ",\"fnAccessTime\":"},
    };
    const std::int64_t values[4] = {times.creation, times.modification, times.mftChange, times.access};
    char* p = out_.Reserve(4 * (kTimeBound + 32));
    for (int i = 0; i < 4; ++i) {
        if (format_ == Format::Csv) {
            *p++ = ',';
            p = WriteNtfsTime(p, values[i]);
            continue;
        }
        p = Put(p, kKeys[fileName ? 1 : 0][i]);
        char* start = p + 1;
        char* end = WriteNtfsTime(start, values[i]);
        if (end == start) {
            p = Put(p, "null");
        } else {
            *p = '"';
            *end++ = '"';
            p = end;
        }
    }
    out_.Commit(p);
}

void ListingWriter::WriteAttributes(std::uint32_t attributes) {
    char* p = out_.Reserve(kAttributesBound);
    const bool csv = format_ == Format::Csv;
    p = Put(p, csv ? "," : ",\"attributes\":[");
    bool first = true;
    for (const AttributeWord& a : kAttributeWords) {
        if ((attributes & a.bit) == 0) continue;
        if (!first) *p++ = csv ? ' ' : ',';
        first = false;
        if (!csv) *p++ = '"';
        p = Put(p, a.word);
        if (!csv) *p++ = '"';
    }
    if (!csv) *p++ = ']';
    out_.Commit(p);
}

void ListingWriter::WriteRow(const listing::Row& row, std::u16string_view path, std::u16string_view name) {
    const bool csv = format_ == Format::Csv;
    char* p = out_.Reserve(kFixedBound);
    p = Put(p, csv ? "" : "{\"record\":");
    p = WriteUnsigned(p, row.record);
    p = Put(p, csv ? "," : ",\"sequence\":");
    p = WriteUnsigned(p, row.sequence);
    p = Put(p, csv ? "," : ",\"parentRecord\":");
    p = WriteUnsigned(p, row.parent);
    p = Put(p, csv ? "," : ",\"parentSequence\":");
    p = WriteUnsigned(p, row.parentSequence);
    p = Put(p, csv ? "," : ",\"path\":");
    out_.Commit(p);
    WriteText(path);
    out_.Append(csv ? std::string_view(",") : std::string_view(",\"name\":"));
    WriteText(name);

    p = out_.Reserve(kFixedBound);
    if (csv) {
        *p++ = ',';
        p = Put(p, NamespaceWord(row.nameSpace));
        *p++ = ',';
        p = Put(p, TypeWord(row));
        *p++ = ',';
        p = WriteUnsigned(p, row.dataSize);
        *p++ = ',';
        p = WriteUnsigned(p, row.allocatedSize);
    } else {
        p = Put(p, ",\"namespace\":\"");
        p = Put(p, NamespaceWord(row.nameSpace));
        p = Put(p, "\",\"type\":\"");
        p = Put(p, TypeWord(row));
        p = Put(p, "\",\"dataSize\":");
        p = WriteUnsigned(p, row.dataSize);
        p = Put(p, ",\"allocatedSize\":");
        p = WriteUnsigned(p, row.allocatedSize);
    }
    out_.Commit(p);
    WriteTimes(row.standardTimes, false);
    WriteTimes(row.fileNameTimes, true);
    WriteAttributes(row.attributes);

    p = out_.Reserve(32);
    if (columns_.deleted) {
        if (csv) {
            p = Put(p, row.IsDeleted() ? ",1" : ",0");
        } else {
            p = Put(p, row.IsDeleted() ? ",\"deleted\":true" : ",\"deleted\":false");
        }
    }
    p = Put(p, csv ? "\r\n" : "}\n");
    out_.Commit(p);
}

void ListingWriter::WriteAll(const listing::Listing& listing) {
    WriteHeader();
    for (const listing::Row& row : listing.rows()) {
        path_.clear();
        listing.AppendPath(row, path_);
        name_.assign(listing.Name(row));
        if (row.IsStream()) {
            name_.push_back(u':');
            name_.append(listing.StreamName(row));
        }
        WriteRow(row, path_, name_);
    }
}

}  // namespace tarnwick::cli
