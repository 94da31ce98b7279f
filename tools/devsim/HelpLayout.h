#pragma once
// How tolvane-devsim's --help reads: the usage line first, then what the program does, then the
// options group by group, names as "-v, --verbose", each value shown once.

#include <CLI/CLI.hpp>

#include <string>

namespace devsim {

class HelpLayout : public CLI::Formatter {
  public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override;
    std::string make_group(std::string group, bool isPositional,
                           std::vector<const CLI::Option*> options) const override;
    std::string make_option_name(const CLI::Option* option, bool isPositional) const override;
    std::string make_option_opts(const CLI::Option* option) const override;
};

} // namespace devsim
