#include "tools/devsim/HelpLayout.h"

#include <sstream>

namespace devsim {

std::string HelpLayout::make_help(const CLI::App* app, std::string name,
                                  CLI::AppFormatMode mode) const {
    std::ostringstream out;
    out << "Usage: " << name << " [options]\n" << app->get_description() << "\n";
    out << make_groups(app, mode);
    const std::string footer = app->get_footer();
    if (!footer.empty()) out << "\n" << footer << "\n";
    return out.str();
}

std::string HelpLayout::make_group(std::string group, bool isPositional,
                                   std::vector<const CLI::Option*> options) const {
    std::string out = group + ":\n";
    for (const CLI::Option* option : options)
        out += make_option(option, isPositional);
    return out;
}

std::string HelpLayout::make_option_name(const CLI::Option* option, bool isPositional) const {
    // CLI11 writes "-v,--verbose" and a flag's value as "--flag{default}".
    std::string names = Formatter::make_option_name(option, isPositional);
    std::string out;
    int braces = 0;
    for (const char c : names) {
        braces += c == '{' ? 1 : c == '}' ? -1 : 0;
        if (braces > 0 || c == '}') continue;
        out += c;
        if (c == ',') out += ' ';
    }
    return out;
}

std::string HelpLayout::make_option_opts(const CLI::Option* option) const {
    // The value's name only: defaults and limits are in the description.
    if (!option->get_option_text().empty()) return option->get_option_text();
    if (option->get_type_size() == 0 || option->get_type_name().empty()) return {};
    return " " + option->get_type_name();
}

} // namespace devsim
