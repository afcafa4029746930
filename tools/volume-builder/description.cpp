#include "description.h"

#include "text.h"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace volume_builder {
namespace {

// Positional argument counts; the parser rejects anything else so that a typo
// in a description fails loudly instead of building a different volume.
const std::map<std::string, std::pair<std::size_t, std::size_t>> kArity = {
    {"mkdir", {1, 1}},  {"file", {1, 1}},     {"dos", {2, 2}},   {"link", {2, 2}},
    {"delete", {1, 1}}, {"rmtree", {1, 1}},   {"many", {1, 1}},  {"thin", {1, 1}},
    {"generate", {0, 0}}, {"check", {1, 3}},
};

std::string StripComment(const std::string& line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') { ++i; continue; }
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

}  // namespace

std::string Step::Option(const std::string& key, const std::string& fallback) const {
    const auto it = options.find(key);
    return it == options.end() ? fallback : it->second;
}

std::uint64_t Step::Number(const std::string& key, std::uint64_t fallback) const {
    const auto it = options.find(key);
    return it == options.end() ? fallback : ParseSize(it->second);
}

std::uint64_t ParseSize(const std::string& text) {
    if (text.empty()) throw std::runtime_error("empty number");
    std::size_t used = 0;
    const auto value = std::stoull(text, &used, 0);
    const std::string unit = text.substr(used);
    if (unit.empty()) return value;
    if (unit == "K" || unit == "k") return value << 10;
    if (unit == "M" || unit == "m") return value << 20;
    if (unit == "G" || unit == "g") return value << 30;
    throw std::runtime_error("bad size '" + text + "'");
}

Path ParsePath(const std::string& text) {
    Path path;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto slash = text.find('/', start);
        if (slash == std::string::npos) slash = text.size();
        if (slash > start) {
            auto name = UnescapeName(text.substr(start, slash - start));
            if (name.size() > 255) throw std::runtime_error("name longer than 255 UTF-16 units");
            path.push_back(std::move(name));
        }
        start = slash + 1;
    }
    if (path.empty()) throw std::runtime_error("empty path");
    return path;
}

std::u16string JoinPath(const Path& path) {
    std::u16string joined;
    for (const auto& part : path) {
        if (!joined.empty()) joined.push_back(u'/');
        joined += part;
    }
    return joined;
}

Description ParseDescription(const std::string& text) {
    Description desc;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool sawVolume = false;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(StripComment(line));
        std::vector<std::string> tokens;
        for (std::string t; words >> t;) tokens.push_back(t);
        if (tokens.empty()) continue;
        const auto where = "line " + std::to_string(number) + ": ";
        Step step;
        step.command = tokens[0];
        step.line = number;
        std::size_t i = 1;
        const bool isVolume = step.command == "volume";
        std::size_t maxArgs = 0;
        if (!isVolume) {
            const auto arity = kArity.find(step.command);
            if (arity == kArity.end()) throw std::runtime_error(where + "unknown command '" + step.command + "'");
            maxArgs = arity->second.second;
            for (; i < tokens.size() && step.args.size() < maxArgs; ++i) {
                if (step.args.size() >= arity->second.first && tokens[i].find('=') != std::string::npos) break;
                step.args.push_back(tokens[i]);
            }
            if (step.args.size() < arity->second.first)
                throw std::runtime_error(where + step.command + " needs more arguments");
        }
        for (; i < tokens.size(); ++i) {
            const auto eq = tokens[i].find('=');
            if (eq == std::string::npos || eq == 0)
                throw std::runtime_error(where + "expected key=value, got '" + tokens[i] + "'");
            step.options[tokens[i].substr(0, eq)] = tokens[i].substr(eq + 1);
        }
        try {
            if (isVolume) {
                if (sawVolume || !desc.steps.empty()) throw std::runtime_error("'volume' must be the first line");
                sawVolume = true;
                desc.volume.size = step.Number("size", desc.volume.size);
                desc.volume.cluster = static_cast<std::uint32_t>(step.Number("cluster", desc.volume.cluster));
                desc.volume.sector = static_cast<std::uint32_t>(step.Number("sector", desc.volume.sector));
                desc.volume.label = step.Option("label", desc.volume.label);
                for (const auto& [key, value] : step.options)
                    if (key != "size" && key != "cluster" && key != "sector" && key != "label")
                        throw std::runtime_error("unknown volume option '" + key + "'");
                continue;
            }
            for (const auto& a : step.args)
                if (step.command != "check") ParsePath(a);  // validate early
        } catch (const std::exception& e) {
            throw std::runtime_error(where + e.what());
        }
        desc.steps.push_back(std::move(step));
    }
    return desc;
}

Description ReadDescriptionFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream buf;
    buf << in.rdbuf();
    return ParseDescription(buf.str());
}

}  // namespace volume_builder
