// tarnwick: lists every file and directory of an NTFS device or image.
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue_output.h"
#include "listing/listing.h"
#include "bodyfile.h"
#include "du.h"
#include "listing_output.h"
#include "option_value.h"
#include "ntfs/file_record.h"
#include "output_buffer.h"
#include "platform/platform.h"
#include "source.h"
#include "tarnwick.h"
#include "text_format.h"
#include "volume/boot_sector.h"

namespace {

using namespace tarnwick::cli;
namespace listing = tarnwick::listing;
namespace platform = tarnwick::platform;
using tarnwick::kFlagDirectory;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "usage: tarnwick list [--format csv|jsonl|bodyfile] [--deleted] [--streams] [WHERE] SOURCE\n"
    "       tarnwick list --catalogue [--format csv|jsonl] [WHERE] SOURCE\n"
    "       tarnwick info [WHERE] SOURCE\n"
    "       tarnwick du [--depth N] [--top N] [--bytes] [--format csv|jsonl] [WHERE] SOURCE [PATH]\n"
    "       WHERE: --partition N | --offset BYTES\n"
    "       tarnwick --help | --version\n";

constexpr std::string_view kHelp =
    "Lists every file and directory of an NTFS volume by reading the raw volume.\n"
    "\n"
    "Commands:\n"
    "  list SOURCE   one line per name of every file record on standard output:\n"
    "                record and sequence numbers, parent record and sequence,\n"
    "                full path, name, namespace, type, data size, allocated size,\n"
    "                the four $STANDARD_INFORMATION and the four $FILE_NAME times\n"
    "                (ISO 8601 UTC) and the attributes\n"
    "  du SOURCE [PATH]  allocated bytes and files under PATH (the root when not\n"
    "                given) and each directory down to --depth levels below it\n"
    "                (1 when not given), biggest first; a file with several names\n"
    "                counts once\n"
    "  info SOURCE   the volume's geometry, its numbers of names and of catalogue\n"
    "                entries, and the time each took to read\n"
    "\n"
    "Options:\n"
    "  --format csv    CSV with a header line (the default of list; du writes\n"
    "                  a table of sizes for people unless a format is given)\n"
    "  --format jsonl  one JSON object per line\n"
    "  --format bodyfile  The Sleuth Kit's body file for timelines (mactime -b):\n"
    "                  a line of $STANDARD_INFORMATION and one of $FILE_NAME times\n"
    "                  per name, one per stream\n"
    "  --deleted       also the records no longer in use that still hold names,\n"
    "                  marked in a `deleted` column\n"
    "  --streams       also one line per named data stream, path:stream\n"
    "  --catalogue     list the library's catalogue (built from directory indexes,\n"
    "                  as the exports return it) instead\n"
    "  --partition N   the NTFS volume in partition N of a disk's MBR or GPT (as\n"
    "                  Linux numbers them: logical partitions from 5); without it\n"
    "                  a disk's only NTFS partition is read\n"
    "  --offset BYTES  the NTFS volume that starts BYTES into SOURCE\n"
    "  --depth N       du: directories down to N levels below PATH\n"
    "  --top N         du: only the N biggest\n"
    "  --bytes         du: exact bytes instead of sizes such as 1.5 GiB\n"
    "  --help          show this help\n"
    "  --version       show the version\n"
    "\n"
    "SOURCE is a block device (/dev/sdb1, /dev/sdb), a volume or disk image file,\n"
    "an E01 evidence file, or a drive letter (D: or D) whose device or image is\n"
    "named by the variable TARNWICK_DRIVE_D.\n"
    "SOURCE is opened read-only and never written. Reading a raw device needs root\n"
    "or membership of the disk group.\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

void Print(std::FILE* file, std::string_view text) { std::fwrite(text.data(), 1, text.size(), file); }

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tarnwick: %s\n", message.c_str());
    Print(stderr, kUsage);
    return kExitUsage;
}

int Failure(const std::string& label, const std::string& message) {
    std::fprintf(stderr, "tarnwick: %s: %s\n", label.c_str(), message.c_str());
    return kExitFailure;
}

// The library's status text, after the tool's own words where the tool has
// them, so that a volume is described alike whether the listing or the
// catalogue refused it; the status text stays for those who look it up.
std::string StatusText(std::int32_t status) {
    const std::uint16_t* text = GetMftMessage(status);
    const std::size_t units = BoundedLength(text, 256);
    const std::string library = Utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), units));
    switch (status) {
        case TARNWICK_PARSE_BOOT: return std::string(listing::Describe(listing::ListingStatus::NotNtfs)) + " (" + library + ")";
        case TARNWICK_DRIVE_TYPE: return "the device is removable or not a disk (" + library + ")";
        default: return library;
    }
}

// The library's catalogue for the length of one command; emptied on every
// return path so that nothing depends on process exit.
class LoadedCatalogue {
public:
    ~LoadedCatalogue() {
        if (loaded_) Clear();
    }

    // The library's status, 0 when `entries` holds the catalogue.
    std::int32_t Load(char letter, double& milliseconds) {
        std::size_t count = 0;
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t status = LoadMft(static_cast<std::uint32_t>(letter - 'A'), &count);
        milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        loaded_ = true;  // a failed load may still leave entries behind
        if (status != 0) return status;
        entries_.resize(count);
        return GetPointer(entries_.data());
    }

    const std::vector<ResultRecord_Internal*>& Entries() const { return entries_; }

private:
    bool loaded_ = false;
    std::vector<ResultRecord_Internal*> entries_;
};

struct Arguments {
    std::string command;
    std::optional<std::string> source;
    Format format = Format::Csv;
    bool catalogue = false;
    listing::ListingOptions listingOptions;
    SourceOptions sourceOptions;
    bool formatGiven = false;
    UsageQuery usageQuery;  // du
    bool exactBytes = false;
    bool usageOptions = false;  // any of --depth, --top, --bytes
    std::optional<std::string> usagePath;
};

// Deeper than any real tree, and more lines than any volume has names.
constexpr std::size_t kLargestCount = 100000000;

// A whole number from 0 to `limit` for an option, or nullopt.
std::optional<std::size_t> Count(std::string_view text, std::size_t limit) {
    std::size_t value = 0;
    if (text.empty() || text.size() > 9) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value <= limit ? std::optional<std::size_t>(value) : std::nullopt;
}

// --help and --version answer at once, whatever follows them.
std::optional<int> TakeInformationOption(std::string_view arg) {
    if (arg == "--help" || arg == "-h") {
        Print(stdout, kUsage);
        Print(stdout, "\n");
        Print(stdout, kHelp);
        return kExitOk;
    }
    if (arg == "--version" || arg == "-V") {
        Print(stdout, "tarnwick " TARNWICK_VERSION "\n");
        return kExitOk;
    }
    return std::nullopt;
}

// du's --depth and --top; true when rest[i] was one of them.
bool TakeUsageCount(std::span<const std::string_view> rest, std::size_t& i, Arguments& args, std::string& problem) {
    for (const std::string_view name : {std::string_view("--depth"), std::string_view("--top")}) {
        bool missing = false;
        const std::optional<std::string_view> text = TakeValue(rest, i, name, missing);
        if (!text) continue;
        const std::size_t least = name == "--top" ? 1 : 0;  // the top 0 would print nothing
        const std::optional<std::size_t> value = Count(*text, kLargestCount);
        if (missing || !value || *value < least) {
            problem = std::string(name) + " takes a whole number from " + std::to_string(least) + " to " +
                      std::to_string(kLargestCount) + (missing ? std::string() : ", not '" + std::string(*text) + "'");
            return true;
        }
        args.usageOptions = true;
        if (name == "--depth") args.usageQuery.depth = static_cast<int>(*value);
        if (name == "--top") args.usageQuery.top = *value;
        return true;
    }
    return false;
}

// One option at rest[i] (moving i past its value); an exit code when the
// program stops here.
std::optional<int> TakeOption(std::span<const std::string_view> rest, std::size_t& i, Arguments& args) {
    const std::string_view arg = rest[i];
    if (auto exit = TakeInformationOption(arg)) return exit;
    std::string problem;
    if (TakeSourceOption(rest, i, args.sourceOptions, problem) || TakeUsageCount(rest, i, args, problem)) {
        if (!problem.empty()) return UsageError(problem);
        return std::nullopt;
    }
    bool missing = false;
    if (const std::optional<std::string_view> value = TakeValue(rest, i, "--format", missing)) {
        if (missing) return UsageError("--format needs a value: csv, jsonl or bodyfile");
        const std::optional<Format> format = ParseFormat(*value);
        if (!format) return UsageError("unknown format '" + std::string(*value) + "': use csv, jsonl or bodyfile");
        args.format = *format;
        args.formatGiven = true;
    } else if (arg == "--bytes") {
        args.exactBytes = args.usageOptions = true;
    } else if (arg == "--catalogue") {
        args.catalogue = true;
    } else if (arg == "--deleted") {
        args.listingOptions.deleted = true;
    } else if (arg == "--streams") {
        args.listingOptions.streams = true;
    } else {
        return UsageError("unknown option '" + std::string(arg) + "'");
    }
    return std::nullopt;
}

// The command, SOURCE and du's PATH, in that order.
std::optional<int> TakeOperand(std::string_view arg, Arguments& args) {
    if (args.command.empty()) {
        args.command = std::string(arg);
    } else if (!args.source) {
        args.source = std::string(arg);
    } else if (args.command == "du" && !args.usagePath) {
        args.usagePath = std::string(arg);
    } else {
        return UsageError("too many arguments");
    }
    return std::nullopt;
}

// Options that the command does not take, or that contradict each other.
std::optional<int> CheckCombination(const Arguments& args) {
    if (args.command.empty()) return UsageError("missing command");
    if (args.command != "list" && args.command != "info" && args.command != "du") {
        return UsageError("unknown command '" + args.command + "'");
    }
    if (args.command != "du" && args.usageOptions) return UsageError("--depth, --top and --bytes belong to du");
    if (args.command == "du" && args.formatGiven && args.format == Format::BodyFile) {
        return UsageError("du writes text, csv or jsonl");
    }
    if (!args.source) return UsageError(args.command + ": missing SOURCE");
    if (args.command != "list" && (args.catalogue || args.listingOptions.deleted || args.listingOptions.streams)) {
        return UsageError("--catalogue, --deleted and --streams belong to list");
    }
    if (args.catalogue && args.format == Format::BodyFile) return UsageError("the body file is made from the listing, not the catalogue");
    if (args.catalogue && (args.listingOptions.deleted || args.listingOptions.streams)) {
        return UsageError("the catalogue has no deleted records or streams: --deleted and --streams list names");
    }
    return std::nullopt;
}

// Fills `args`; returns an exit code when the program should stop at once.
std::optional<int> ParseArguments(int argc, char** argv, Arguments& args) {
    const std::vector<std::string_view> rest(argv + 1, argv + argc);
    bool optionsEnded = false;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string_view arg = rest[i];
        std::optional<int> exit;
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            exit = TakeOperand(arg, args);
        } else if (arg == "--") {
            optionsEnded = true;
        } else {
            exit = TakeOption(rest, i, args);
        }
        if (exit) return exit;
    }
    return CheckCombination(args);
}

std::optional<int> PrepareSource(const Arguments& args, Source& source, OpenedSource& opened) {
    const std::string& argument = *args.source;
    if (auto problem = ResolveSource(argument, source)) return Failure(argument, *problem);
    if (auto problem = CheckReadable(source.path)) {
        const std::string label = source.label == source.path ? source.label : source.label + " (" + source.path + ")";
        return Failure(label, *problem);
    }
    if (auto problem = OpenSource(source, args.sourceOptions, opened)) return Failure(source.label, *problem);
    return std::nullopt;
}

// Writes out what is left; the exit code when that failed.
std::optional<int> FinishOutput(OutputBuffer& out) {
    if (out.Flush()) return std::nullopt;
    if (out.Error() == EPIPE) return kExitFailure;  // the reader has gone; nothing to tell it
    return Failure("standard output", std::string("write error: ") + std::strerror(out.Error()));
}

int ListCatalogue(const Arguments& args, const Source& source, const OpenedSource& opened) {
    if (!MapDriveToVolume(source, opened)) return Failure(source.label, "the catalogue is not read from E01 evidence files");
    LoadedCatalogue catalogue;
    double milliseconds = 0;
    const std::int32_t status = catalogue.Load(source.letter, milliseconds);
    if (status != 0) return Failure(source.label, StatusText(status));

    OutputBuffer out(stdout);
    WriteCatalogue(out, args.format, catalogue.Entries());
    if (auto exit = FinishOutput(out)) return *exit;
    return kExitOk;
}

// Reads the listing of the opened volume. A listing cut short, or with
// records that could not be read, keeps its rows; only a volume that gave
// none is a failure here, with the message to print (an evidence file's own
// first, which says more).
std::optional<std::string> ReadSourceListing(const OpenedSource& opened, const listing::ListingOptions& options,
                                             listing::Listing& result, double& milliseconds) {
    const SourceHandle volume = OpenHandle(opened);
    if (volume.get() == platform::InvalidHandle()) return StatusText(TARNWICK_OPEN_FILE);
    const auto start = std::chrono::steady_clock::now();
    const listing::ListingStatus status = listing::ReadListing(volume.get(), options, result);
    milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (status == listing::ListingStatus::NotNtfs || status == listing::ListingStatus::UnreadableTable) {
        if (auto media = ReadProblem(opened)) return media;
        return std::string(listing::Describe(status));
    }
    return std::nullopt;
}

// "1 damaged file record", "2 damaged file records".
std::string Records(std::uint64_t count, const std::string& kind) {
    return std::to_string(count) + " " + kind + (count == 1 ? " file record" : " file records");
}

// Damaged records are skipped and counted; one line tells how many.
void ReportDamage(const Source& source, const listing::Listing& result) {
    if (result.damagedRecords() == 0) return;
    std::fprintf(stderr, "tarnwick: %s: %s skipped\n", source.label.c_str(),
                 Records(result.damagedRecords(), "damaged").c_str());
}

// The last word of a command on the listing it used, once its output is out:
// damage skipped, then as the failure a volume cut short (`detail` after
// it), a failed read of the evidence file, or records that could not be
// read. Each of those leaves the listing incomplete.
int Conclude(const Source& source, const OpenedSource& opened, const listing::Listing& result,
             const std::string& detail = "") {
    ReportDamage(source, result);
    std::vector<std::string> problems;
    if (result.unreadableRecords() > 0) {
        problems.push_back(Records(result.unreadableRecords(), "unreadable") + " passed over: what they hold is not listed");
    }
    if (auto media = ReadProblem(opened)) problems.push_back(*media);
    if (result.status() == listing::ListingStatus::CutShort) {
        problems.push_back(listing::Describe(result.status()) + detail);
    }
    if (problems.empty()) return kExitOk;
    for (std::size_t i = 0; i + 1 < problems.size(); ++i) {
        std::fprintf(stderr, "tarnwick: %s: %s\n", source.label.c_str(), problems[i].c_str());
    }
    return Failure(source.label, problems.back());
}

int List(const Arguments& args) {
    Source source;
    OpenedSource opened;
    if (auto exit = PrepareSource(args, source, opened)) return *exit;
    if (args.catalogue) return ListCatalogue(args, source, opened);

    listing::Listing result;
    double milliseconds = 0;
    if (auto problem = ReadSourceListing(opened, args.listingOptions, result, milliseconds)) return Failure(source.label, *problem);

    OutputBuffer out(stdout);
    if (args.format == Format::BodyFile) {
        BodyFileWriter(out).WriteAll(result);
    } else {
        ListingWriter(out, args.format, ListingColumns{args.listingOptions.deleted}).WriteAll(result);
    }
    if (auto exit = FinishOutput(out)) return *exit;
    return Conclude(source, opened, result, ": listed the " + std::to_string(result.recordsRead()) + " file records read before it");
}

int Du(const Arguments& args) {
    Source source;
    OpenedSource opened;
    if (auto exit = PrepareSource(args, source, opened)) return *exit;
    listing::Listing result;
    double milliseconds = 0;
    listing::ListingOptions options;
    options.streams = true;  // named streams take space too
    if (auto problem = ReadSourceListing(opened, options, result, milliseconds)) return Failure(source.label, *problem);
    UsageQuery query = args.usageQuery;
    if (args.usagePath) query.path = *args.usagePath;
    std::vector<DirectoryUsage> usage;
    if (auto problem = SumUsage(result, query, usage)) return Failure(source.label, *problem);

    OutputBuffer out(stdout);
    const UsageFormat format = !args.formatGiven                 ? UsageFormat::Text
                               : args.format == Format::Csv ? UsageFormat::Csv
                                                            : UsageFormat::JsonLines;
    WriteUsage(out, format, args.exactBytes, usage);
    if (auto exit = FinishOutput(out)) return *exit;
    return Conclude(source, opened, result);
}

std::size_t CountDirectories(const listing::Listing& names) {
    std::size_t directories = 0;
    for (const listing::Row& row : names.rows()) directories += row.IsDirectory() ? 1 : 0;
    return directories;
}

std::size_t CountDirectories(const LoadedCatalogue& catalogue) {
    std::size_t directories = 0;
    for (const ResultRecord_Internal* entry : catalogue.Entries()) directories += (entry->flag & kFlagDirectory) != 0 ? 1 : 0;
    return directories;
}

void PrintGeometry(const Source& source, const OpenedSource& opened, const tarnwick::VolumeInfo& volume) {
    std::printf("source:               %s\n", source.label.c_str());
    if (source.label != source.path) std::printf("device:               %s\n", source.path.c_str());
    if (opened.partition != 0) std::printf("partition:            %d\n", opened.partition);
    if (!opened.WholeFile()) std::printf("volume offset:        %llu\n", static_cast<unsigned long long>(opened.offset));
    std::printf("bytes per sector:     %d\n", volume.bytesPerSector);
    std::printf("sectors per cluster:  %u\n", volume.sectorsPerCluster);
    std::printf("cluster size:         %u\n", volume.ClusterSize());
    std::printf("total sectors:        %lld\n", static_cast<long long>(volume.totalSectors));
    std::printf("MFT start LCN:        %lld\n", static_cast<long long>(volume.mftStartLcn));
    std::printf("file record size:     %d\n", volume.fileRecordSize);
    std::printf("index buffer size:    %d\n", volume.indexBufferSize);
}

void PrintListingCounts(const listing::Listing& names, double milliseconds) {
    const std::size_t directories = CountDirectories(names);
    std::printf("names:                %zu\n", names.size());
    std::printf("  of directories:     %zu\n", directories);
    std::printf("  of files:           %zu\n", names.size() - directories);
    std::printf("file records read:    %llu\n", static_cast<unsigned long long>(names.recordsRead()));
    if (names.unreadableRecords() > 0) {
        std::printf("  unreadable:         %llu\n", static_cast<unsigned long long>(names.unreadableRecords()));
    }
    std::printf("listing time:         %.2f ms\n", milliseconds);
}

// `catalogue` is null where the catalogue was not read; `why` says why.
void PrintCatalogueCounts(const LoadedCatalogue* catalogue, double milliseconds, const std::string& why) {
    if (catalogue == nullptr) {
        std::printf("catalogue entries:    none (%s)\n", why.c_str());
        return;
    }
    const std::size_t entries = catalogue->Entries().size();
    const std::size_t directories = CountDirectories(*catalogue);
    std::printf("catalogue entries:    %zu\n", entries);
    std::printf("  of directories:     %zu\n", directories);
    std::printf("  of files:           %zu\n", entries - directories);
    std::printf("load time:            %.2f ms\n", milliseconds);
}

int Info(const Arguments& args) {
    Source source;
    OpenedSource opened;
    if (auto exit = PrepareSource(args, source, opened)) return *exit;
    std::array<std::uint8_t, tarnwick::boot_sector::kSize> boot{};
    ReadBootSector(opened, boot);
    tarnwick::VolumeInfo volume;
    if (tarnwick::ParseBootSector(boot, volume) != 0) {
        return Failure(source.label, listing::Describe(listing::ListingStatus::NotNtfs));
    }

    listing::Listing names;
    double listingMilliseconds = 0;
    if (auto problem = ReadSourceListing(opened, {}, names, listingMilliseconds)) return Failure(source.label, *problem);

    LoadedCatalogue catalogue;
    double milliseconds = 0;
    const bool mapped = MapDriveToVolume(source, opened);
    const std::int32_t status = mapped ? catalogue.Load(source.letter, milliseconds) : 0;
    // A catalogue the library refuses leaves the geometry and the listing's
    // counts worth showing; the refusal is the command's failure.
    const std::string why = !mapped ? "not read from E01 evidence files" : StatusText(status);

    PrintGeometry(source, opened, volume);
    PrintListingCounts(names, listingMilliseconds);
    PrintCatalogueCounts(mapped && status == 0 ? &catalogue : nullptr, milliseconds, why);
    if (std::fflush(stdout) != 0) return Failure("standard output", std::string("write error: ") + std::strerror(errno));
    // A volume cut short explains a refused catalogue better than the status does.
    if (status == 0 || names.status() == listing::ListingStatus::CutShort) return Conclude(source, opened, names);
    ReportDamage(source, names);
    return Failure(source.label, why);
}

// The source is named where the arguments got as far as one.
int MemoryFailure(const std::optional<std::string>& source, const std::string& message) {
    if (source) return Failure(*source, message);
    std::fprintf(stderr, "tarnwick: %s\n", message.c_str());
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    // A volume with more names than this machine (or a limit set on this
    // process) has memory for ends in one line, as every failure does.
    try {
        if (auto exit = ParseArguments(argc, argv, args)) return *exit;
        if (args.command == "du") return Du(args);
        return args.command == "list" ? List(args) : Info(args);
    } catch (const std::bad_alloc&) {
        return MemoryFailure(args.source, "not enough memory to read this volume");
    } catch (const listing::ListingTooLarge& tooLarge) {
        return MemoryFailure(args.source, tooLarge.what());
    }
}
