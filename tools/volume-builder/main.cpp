// tarnwick-volume-builder: real NTFS test volumes and their expected catalogue.
//
//   tarnwick-volume-builder build DESCRIPTION IMAGE [options]
//   tarnwick-volume-builder generate IMAGE --files N [--seed S] [--dirs N]
//       [--links N] [--dos N] [--deletes N] [--cluster BYTES] [--size BYTES] [options]
//   tarnwick-volume-builder expect IMAGE [options]        (any NTFS image)
//
// options: --expected FILE     the expected catalogue (default IMAGE.expected.tsv)
//          --index-names FILE  every index entry and where it was found
//          --strict            fail on warnings (ambiguous expectations)
//          --verbose
#include "builder.h"
#include "description.h"
#include "expected.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace vb = volume_builder;

namespace {

int Usage() {
    std::fputs(
        "usage: tarnwick-volume-builder build DESCRIPTION IMAGE [options]\n"
        "       tarnwick-volume-builder generate IMAGE --files N [--seed S] [--dirs N] [--links N]\n"
        "               [--dos N] [--deletes N] [--cluster BYTES] [--size BYTES] [options]\n"
        "       tarnwick-volume-builder expect IMAGE [options]\n"
        "options: --expected FILE  --index-names FILE  --strict  --verbose\n",
        stderr);
    return 2;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    std::vector<std::string> positional;
    std::map<std::string, std::string> opts;
    bool strict = false, verbose = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--strict") strict = true;
        else if (a == "--verbose" || a == "-v") verbose = true;
        else if (a.rfind("--", 0) == 0) {
            if (i + 1 >= argc) return Usage();
            opts[a.substr(2)] = argv[++i];
        } else positional.push_back(a);
    }
    try {
        const auto started = std::chrono::steady_clock::now();
        std::string image;
        vb::Description description;
        bool build = true;
        if (mode == "build" && positional.size() == 2) {
            description = vb::ReadDescriptionFile(positional[0]);
            image = positional[1];
        } else if (mode == "generate" && positional.size() == 1) {
            image = positional[0];
            vb::Step step;
            step.command = "generate";
            for (const char* key : {"files", "seed", "dirs", "links", "dos", "deletes"})
                if (opts.count(key)) step.options[key] = opts[key];
            const auto g = vb::GenerateOptionsFrom(step);
            description.volume.cluster = static_cast<std::uint32_t>(vb::ParseSize(opts.count("cluster") ? opts["cluster"] : "4096"));
            description.volume.size = opts.count("size") ? vb::ParseSize(opts["size"]) : vb::GeneratedVolumeSize(g);
            description.volume.label = "generated";
            description.steps.push_back(step);
        } else if (mode == "expect" && positional.size() == 1) {
            image = positional[0];
            build = false;
        } else {
            return Usage();
        }
        for (const auto& [key, value] : opts)
            if (key != "expected" && key != "index-names" &&
                !(mode == "generate" && (key == "files" || key == "seed" || key == "dirs" || key == "links" ||
                                         key == "dos" || key == "deletes" || key == "cluster" || key == "size"))) {
                std::fprintf(stderr, "unknown option --%s\n", key.c_str());
                return Usage();
            }
        if (build) {
            // Build under a temporary name so that an interrupted build never
            // leaves an image that looks finished.
            const std::string partial = image + ".partial";
            vb::BuildVolume(description, partial, verbose);
            std::filesystem::rename(partial, image);
            if (verbose) std::fprintf(stderr, "built %s in %.2f s\n", image.c_str(), Seconds(started));
        }
        const auto scanned = std::chrono::steady_clock::now();
        const auto scan = vb::ScanImage(image);
        const std::string expected = opts.count("expected") ? opts["expected"] : image + ".expected.tsv";
        vb::WriteExpected(scan, std::filesystem::path(image).filename().string(), expected);
        if (opts.count("index-names")) vb::WriteIndexNames(scan, opts["index-names"]);
        for (const auto& w : scan.warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
        if (verbose)
            std::fprintf(stderr, "%s: %llu MFT records in %d runs, %zu directories, %zu entries, status %d (%.2f s)\n",
                         image.c_str(), static_cast<unsigned long long>(scan.mftRecords), scan.mftRuns,
                         scan.directories.size(), scan.entries.size(), scan.status, Seconds(scanned));
        if (build) vb::RunChecks(description, scan, image);
        if (strict && !scan.warnings.empty()) {
            std::fprintf(stderr, "error: warnings in strict mode\n");
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-volume-builder: %s\n", e.what());
        return 1;
    }
    return 0;
}
