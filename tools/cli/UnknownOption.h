#pragma once
// What the command-line programs share about refusing a command line: an option that none of
// them defines is named before any other complaint (a missing operand, a bad value), since it
// is most often the cause of the others.
#include <CLI/CLI.hpp>

#include <string>

namespace cli {

// The first argument CLI11 left over that is written as an option ("--bogus", "-x"; not a
// negative number such as "-3"), here or in a command given to the program; empty if none.
inline std::string FirstUnknownOption(const CLI::App& app) {
    for (const std::string& arg : app.remaining(true)) {
        double number = 0;
        if (arg.size() > 1 && arg[0] == '-' && !CLI::detail::lexical_cast(arg, number)) return arg;
    }
    return {};
}

// "unknown option X" when the command line has one, else what CLI11 said.
inline std::string RefusalMessage(const CLI::App& app, const CLI::ParseError& error) {
    const std::string unknown = FirstUnknownOption(app);
    return unknown.empty() ? std::string(error.what()) : "unknown option " + unknown;
}

} // namespace cli
