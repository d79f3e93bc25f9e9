// The command line's own texts in the chosen language: the help's labels
// and layout, and why a command line was refused. CLI11 composes its own
// English; these are built from what it parsed instead.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

namespace kronex::cli {

// The help as CLI11 lays it out, its labels ("Usage", "Options", "Needs",
// "REQUIRED", ...) in the chosen language and its columns by display width.
std::shared_ptr<CLI::Formatter> helpFormatter();

// What a validator found wrong with an option's value; the refusal's text
// is built from it, in the language at that point.
struct BadValue {
    enum Kind { None, NotAPort, AnOption } kind = None;
    std::string option, value;
};

// --port: "12", "COM12" or "com12", 1 to 256.
CLI::Validator portNumber(BadValue& bad);
// A value that is the next option is a missing value, not a folder named "-y".
CLI::Validator notAnOption(const std::string& option, BadValue& bad);

// Why `app` refused the command line `args` (argv without the program), in
// the chosen language.
std::string refusalText(const CLI::ParseError& error, const CLI::App& app,
                        const std::vector<std::string>& args, const BadValue& bad);

} // namespace kronex::cli
