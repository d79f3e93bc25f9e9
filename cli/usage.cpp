#include "usage.h"

#include "messages.h"
#include "port_argument.h"

#include <algorithm>

namespace kronex::cli {

namespace {

class HelpFormatter : public CLI::Formatter {
  public:
    HelpFormatter() {
        for (const char* l : {N_("Usage"), N_("OPTIONS"), N_("SUBCOMMAND"), N_("SUBCOMMANDS"),
                              N_("REQUIRED"), N_("Needs"), N_("Excludes"), N_("TEXT")})
            label(l, tr(l));
    }
    std::string make_option(const CLI::Option* opt, bool positional) const override {
        return row(make_option_name(opt, positional) + make_option_opts(opt),
                   make_option_desc(opt));
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        return row(sub->get_display_name(true), sub->get_description());
    }

  private:
    // CLI11's own row, padded by display width: "OBRIGATÓRIO" takes 11
    // columns, not 12 bytes.
    std::string row(const std::string& name, const std::string& description) const {
        std::string out = "  " + name;
        if (description.empty())
            return out + "\n";
        if (displayWidth(out) + 2 > column_width_) // two spaces at least before the text
            out += "\n" + std::string(column_width_, ' ');
        else
            out += std::string(column_width_ - displayWidth(out), ' ');
        for (const char c : description) {
            out += c;
            if (c == '\n')
                out += std::string(column_width_, ' ');
        }
        return out + "\n";
    }
};

// The command the line reached: the program, or one of its commands.
const CLI::App& reached(const CLI::App& app) {
    const CLI::App* at = &app;
    while (!at->get_subcommands().empty())
        at = at->get_subcommands().front();
    return *at;
}

std::string commandName(const CLI::App& app, const CLI::App& at) {
    return &at == &app ? app.get_name() : app.get_name() + " " + at.get_name();
}

std::vector<const CLI::Option*> options(const CLI::App& app) {
    const CLI::App& at = reached(app);
    auto all = at.get_options();
    if (&at != &app)
        for (const auto* o : app.get_options())
            all.push_back(o);
    return all;
}

bool named(const CLI::Option* o, const std::string& arg) {
    const std::string name = arg.substr(0, arg.find('='));
    return name.rfind("-", 0) == 0 && o->check_name(name);
}

} // namespace

std::shared_ptr<CLI::Formatter> helpFormatter() {
    return std::make_shared<HelpFormatter>();
}

CLI::Validator portNumber(BadValue& bad) {
    return {[&bad](std::string& text) {
                if (parsePortArgument(text))
                    return std::string();
                bad = {BadValue::NotAPort, "--port", text};
                return std::string("not a port number");
            },
            "", "port"};
}

CLI::Validator notAnOption(const std::string& option, BadValue& bad) {
    return {[&bad, option](std::string& text) {
                if (text.empty() || text[0] != '-')
                    return std::string();
                bad = {BadValue::AnOption, option, text};
                return std::string("needs a value");
            },
            "", "not an option"};
}

std::string refusalText(const CLI::ParseError& error, const CLI::App& app,
                        const std::vector<std::string>& args, const BadValue& bad) {
    const CLI::App& at = reached(app);
    if (dynamic_cast<const CLI::ValidationError*>(&error)) {
        if (bad.kind == BadValue::NotAPort)
            return fill(tr("{1}: not a port number: {2} (1 to 256: 12, COM12 or com12)"),
                        {bad.option, bad.value});
        if (bad.kind == BadValue::AnOption)
            return fill(tr("{1} needs a value, not the option {2}"), {bad.option, bad.value});
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const auto extra = app.remaining(true);
        std::string list;
        for (const auto& a : extra)
            list += (list.empty() ? "" : " ") + a;
        if (!extra.empty())
            return fill(trn("unexpected argument: {1} (--help lists what {2} takes)",
                            "unexpected arguments: {1} (--help lists what {2} takes)",
                            extra.size()),
                        {list, commandName(app, at)});
    }
    if (dynamic_cast<const CLI::RequiresError*>(&error))
        for (const auto* o : options(app))
            for (const auto* need : o->get_needs())
                if (o->count() > 0 && need->count() == 0)
                    return fill(tr("{1} needs {2}"), {o->get_name(), need->get_name()});
    if (dynamic_cast<const CLI::ExcludesError*>(&error))
        for (const auto* o : options(app))
            for (const auto* other : o->get_excludes())
                if (o->count() > 0 && other->count() > 0)
                    return fill(tr("{1} and {2} cannot be given together"),
                                {o->get_name(), other->get_name()});
    if (dynamic_cast<const CLI::RequiredError*>(&error))
        for (const auto* o : at.get_options())
            if (o->get_required() && o->count() == 0)
                return fill(tr("{1} needs {2}"), {commandName(app, at), o->get_name()});
    const auto all = options(app);
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error))
        // An option that takes a value, at the end of the line or before another option.
        for (std::size_t i = args.size(); i-- > 0;)
            for (const auto* o : all)
                if (o->get_expected_max() > 0 && args[i].find('=') == std::string::npos &&
                    named(o, args[i]) && (i + 1 == args.size() || args[i + 1].rfind("-", 0) == 0))
                    return fill(tr("{1} needs a value"), {o->get_name()});
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error))
        for (const auto* o : all)
            if (o->get_expected_max() == 1 &&
                std::count_if(args.begin(), args.end(),
                              [o](const std::string& a) { return named(o, a); }) > 1)
                return fill(tr("{1} is given more than once"), {o->get_name()});
    if (dynamic_cast<const CLI::ConversionError*>(&error))
        for (const auto& a : args)
            for (const auto* o : all)
                if (o->get_expected_max() == 0 && a.find('=') != std::string::npos && named(o, a))
                    return fill(tr("{1} takes no value: {2}"), {o->get_name(), a});
    return fill(tr("{1}: the command line cannot be read; --help lists the commands and their "
                   "options"),
                {commandName(app, at)});
}

} // namespace kronex::cli
