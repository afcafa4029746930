// An option's value on the command line, given as "--name VALUE" or as
// "--name=VALUE".
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace tarnwick::cli {

// The value of option `name` at args[i]; moves i past it. Nullopt when
// args[i] is another option; `missing` when the line ends where the value
// should be.
inline std::optional<std::string_view> TakeValue(std::span<const std::string_view> args, std::size_t& i,
                                                 std::string_view name, bool& missing) {
    const std::string_view arg = args[i];
    if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=') return arg.substr(name.size() + 1);
    if (arg != name) return std::nullopt;
    missing = i + 1 == args.size();
    return missing ? std::string_view() : args[++i];
}

}  // namespace tarnwick::cli
