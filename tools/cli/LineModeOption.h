#pragma once
// A BAUD,PARITY option (--working, --loader) as every program with a window or a port reads
// it: checked as it is read, so the message names the option.
#include "serial/LineSettings.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace cli {

inline CLI::Option* AddLineMode(CLI::App& app, const std::string& name,
                                std::optional<LineMode>& mode, const std::string& description) {
    return app
        .add_option_function<std::string>(
            name,
            [&mode, name](const std::string& text) {
                LineMode parsed;
                if (!ParseLineMode(text, parsed))
                    throw CLI::ValidationError(name, "not BAUD,PARITY (e.g. 115200,none): " + text);
                mode = parsed;
            },
            description)
        ->option_text("BAUD,PARITY");
}

} // namespace cli
