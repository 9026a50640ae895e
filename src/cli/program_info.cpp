#include "cli/program_info.h"

#include <CLI/CLI.hpp>

#include "cli/exit_status.h"
#include "rebounce_version.h"

namespace cli {

std::string versionText()
{
    // CLI11 ends it with a newline of its own.
    std::string text = std::string("rebounce-cli (Rebounce Test) ") + rebounce::kVersion + "\n" +
                       rebounce::kCopyrightNotice;
    text.pop_back();
    return text;
}

std::string exitStatusText()
{
    struct Row {
        int status;
        const char *meaning;
    };
    static constexpr Row rows[] = {
        {kExitOk, "success; for echo, every run passed"},
        {kExitFailed, "a run failed, calc/rates refused the numbers, link judged the line out, or no clock fits"},
        {kExitUsage, "the command line is wrong (for echo, a rate below 45 too)"},
        {kExitOpenFailed, "the port could not be opened"},
        {kExitAborted, "interrupted (Ctrl+C); the run was aborted and the port closed"},
    };
    std::string text = "Exit status:\n";
    for (const Row &row : rows) {
        std::string number = std::to_string(row.status);
        number.resize(5, ' ');
        text += "  " + number + row.meaning + "\n";
    }
    return text;
}

namespace {

// Help lines as a reader wants them: a negated flag without the value it
// stores ("--no-progress", not "--no-progress{false}"), and no default for
// an option whose default is "nothing" (an empty list).
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option *option, bool positional) const override
    {
        std::string name = CLI::Formatter::make_option_name(option, positional);
        for (auto open = name.find('{'); open != std::string::npos; open = name.find('{', open)) {
            const auto close = name.find('}', open);
            if (close == std::string::npos)
                break;
            name.erase(open, close - open + 1);
        }
        return name;
    }

    // --help-all, which the manual page is made from: one block per
    // subcommand with a heading help2man takes for a subsection
    // ("rebounce-cli echo [OPTIONS]:"), its purpose, then its options.
    std::string make_subcommands(const CLI::App *app, CLI::AppFormatMode mode) const override
    {
        if (mode != CLI::AppFormatMode::All)
            return CLI::Formatter::make_subcommands(app, mode);
        std::string text;
        for (const CLI::App *sub : app->get_subcommands({}))
            text += "\n" + make_expanded(sub);
        return text;
    }

    std::string make_expanded(const CLI::App *sub) const override
    {
        std::string text = sub->get_parent()->get_name() + " " + sub->get_name() + " [OPTIONS]:\n";
        text += "  " + sub->get_description() + "\n\n";
        for (const CLI::Option *option : sub->get_options())
            if (option != sub->get_help_ptr() && option != sub->get_help_all_ptr())
                text += make_option(option, false);
        return text;
    }

    std::string make_option_opts(const CLI::Option *option) const override
    {
        std::string opts = CLI::Formatter::make_option_opts(option);
        if (const auto empty = opts.find("=[]"); empty != std::string::npos)
            opts.erase(empty, 3);
        return opts;
    }
};

} // namespace

void addProgramInfo(CLI::App &app)
{
    app.set_version_flag("--version", versionText(), "Print the version and exit");
    app.set_help_all_flag("--help-all", "Print the help of every subcommand and exit");
    app.formatter(std::make_shared<HelpFormatter>());
    app.option_defaults()->always_capture_default();
    app.footer(exitStatusText());
}

} // namespace cli
