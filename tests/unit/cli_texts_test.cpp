// The command-line updater's texts in both languages: plural forms from the
// catalogue, decimals in the language's form, columns by display width,
// the stop's account, the command line's own help and refusals, the
// answers its questions take and the bars that fit the terminal; what the
// technician is told to do for each ending, and the ports it takes.
#include "advice.h"
#include "detection.h"
#include "device_commands.h"
#include "link_exchange.h"
#include "messages.h"
#include "port_argument.h"
#include "progress_view.h"
#include "question.h"
#include "report.h"
#include "usage.h"

#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace kronex::cli {
namespace {

struct Language : testing::Test {
    ~Language() override { chooseLanguage("en"); }
};

TEST_F(Language, PluralsComeFromTheCatalogueForms) {
    struct Case {
        const char* lang;
        unsigned long long n;
        const char* text;
    } const cases[] = {
        {"en", 0, "0 units"},         {"en", 1, "1 unit"},       {"en", 2, "2 units"},
        {"pt_BR", 0, "0 unidade"},    {"pt_BR", 1, "1 unidade"}, {"pt_BR", 2, "2 unidades"},
        {"pt_BR", 11, "11 unidades"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(chooseLanguage(c.lang));
        EXPECT_EQ(fill(trn("{1} unit", "{1} units", c.n), {std::to_string(c.n)}), c.text)
            << c.lang << " " << c.n;
    }
    // The JSON's texts stay English whatever the language.
    const EnglishTexts english;
    EXPECT_EQ(trn("{1} unit", "{1} units", 1), "{1} unit");
}

TEST_F(Language, DecimalsAndColumns) {
    ASSERT_TRUE(chooseLanguage("pt_BR"));
    EXPECT_EQ(decimal(4.25, 1), "4,2");
    EXPECT_EQ(decimal(234.2, 1) + " kB", "234,2 kB");
    {
        const EnglishTexts english;
        EXPECT_EQ(decimal(4.3, 1), "4.3");
    }
    ASSERT_TRUE(chooseLanguage("en"));
    EXPECT_EQ(decimal(1234.56, 2), "1234.56");

    EXPECT_EQ(displayWidth("Série"), 5u);
    EXPECT_EQ(displayWidth("nao\xCC\x83"), 3u); // n, a, o and a combining tilde
    EXPECT_EQ(displayWidth("São Paulo"), 9u);
    EXPECT_EQ(padded("Série", 8), "Série   ");
    EXPECT_EQ(padded("Porta", 8), "Porta   ");
    EXPECT_EQ(padded("interrompida", 8), "interrompida "); // never runs into the next column
}

// The column where `word` starts on the line that holds it, in display columns.
std::size_t columnOf(const std::string& text, const std::string& word) {
    const std::size_t at = text.find(word);
    const std::size_t line = text.rfind('\n', at) + 1; // npos + 1 is 0
    return displayWidth(text.substr(line, at - line));
}

TEST_F(Language, SummaryAndTableInTheLanguage) {
    std::vector<UnitReport> units(2);
    units[0].port = 3;
    units[0].serial = "290A1BC2";
    units[0].outcome = Outcome::Updated;
    units[0].seconds = 4.34;
    units[0].bytesSent = 234200;
    units[1].port = 4;
    units[1].outcome = Outcome::NoUnit;
    struct Case {
        const char* lang;
        const char* summary;
        const char* header;
        const char* row;
    } const cases[] = {
        {"en", "1 updated, 1 failed; 234.2 kB sent in 4.3 s", "Serial", "no unit      0.0 s"},
        {"pt_BR", "1 atualizada, 1 com falha; 234,2 kB enviados em 4,3 s", "Série",
         "sem unidade  0,0 s"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(chooseLanguage(c.lang));
        EXPECT_EQ(summaryLine(units, 4.34).rfind(c.summary, 0), 0u) << summaryLine(units, 4.34);
        std::ostringstream table;
        printUpdate(table, units);
        const std::string t = table.str().substr(table.str().find("\n\n") + 2); // the table
        EXPECT_NE(t.find(c.row), std::string::npos) << t;
        // Each header over its column, accents included.
        EXPECT_EQ(columnOf(t, c.header), columnOf(t, "290A1BC2")) << t;
        EXPECT_EQ(columnOf(t, outcomeWord(Outcome::NoUnit)),
                  columnOf(t, outcomeWord(Outcome::Updated)))
            << t;
    }
    units[1].outcome = Outcome::Updated;
    ASSERT_TRUE(chooseLanguage("pt_BR"));
    EXPECT_EQ(summaryLine(units, 1).rfind("2 atualizadas, 0 com falha; ", 0), 0u);
}

// The account of a stop reads in English exactly as the JSON's fields, and
// in Portuguese without them.
TEST_F(Language, StopAccountInTheLanguage) {
    SessionStop data;
    data.step = SessionStep::DataPart;
    data.section = 3;
    data.command = kCmdWriteData;
    data.address = 0x64;
    data.half = 0x80;
    data.exchange = 641;
    data.replyStatus = 0x55;
    SessionStop timeout = data;
    timeout.step = SessionStep::FinalRun;
    timeout.command = kCmdRun | kTarget1Bit;
    timeout.linkStatus = LINK_TIMEOUT;
    timeout.frameSent = true;
    SessionStop shortRead = data;
    shortRead.step = SessionStep::IdentityBlock;
    shortRead.command = kCmdRead;
    shortRead.address = 0x2000;
    shortRead.replyLength = 3;
    SessionStop kept = data;
    kept.safeguard = Safeguard::RecordNotKept;
    kept.recordError = "disk full";
    for (const SessionStop& s : {data, timeout, shortRead, kept}) {
        const EnglishTexts english;
        EXPECT_EQ(stepText(stepName(s)), stepName(s));
        EXPECT_EQ(reasonWords(s), reasonText(s));
        EXPECT_EQ(commandWords(s), commandText(s));
    }
    ASSERT_TRUE(chooseLanguage("pt_BR"));
    EXPECT_EQ(stepText(stepName(data)), "parte de dados, seção 3");
    EXPECT_EQ(stepText("final run"), "execução final"); // as a record file keeps it
    EXPECT_EQ(stepText("no such step"), "no such step");
    EXPECT_EQ(commandWords(data), "DATA bloco 0064+80");
    EXPECT_EQ(reasonWords(data), "recusado pela unidade, status 0x55");
    EXPECT_EQ(reasonWords(timeout), "sem resposta em 5 s");
    EXPECT_EQ(commandWords(timeout), "RUN t1");
    // A diagnostic file written nowhere: the text in Portuguese, the JSON's in English.
    UnitReport nowhere;
    DumpResult dump;
    dump.error = "disk full";
    recordDump(nowhere, dump);
    EXPECT_EQ(detailOf(nowhere),
              "atualizada, mas o arquivo de diagnóstico não pôde ser gravado em lugar nenhum: disk "
              "full");
    {
        const EnglishTexts english;
        EXPECT_EQ(detailOf(nowhere),
                  "updated, but the diagnostic file could not be written anywhere: disk full");
    }
    EXPECT_EQ(reasonWords(kept),
              "o registro desta unidade não pode ser guardado neste PC: disk full; nada foi "
              "apagado");
}

// A unit that ended as `outcome`, with whatever `set` adds.
UnitReport ended(Outcome outcome, const std::function<void(UnitReport&)>& set = {}) {
    UnitReport u;
    u.port = 3;
    u.outcome = outcome;
    if (set)
        set(u);
    return u;
}

// How a session stopped; by default a program write the unit refused.
struct Stop {
    std::uint8_t command = kCmdWrite;
    std::uint8_t link = LINK_OK;
    unsigned replyLength = 2;
    bool frameSent = true;
    bool portFailed = false;
    bool releaseFault = false;
    Safeguard safeguard = Safeguard::None;
};

UnitReport stopped(const Stop& how) {
    return ended(Outcome::Failed, [&](UnitReport& u) {
        SessionStop& s = u.stop.emplace();
        s.command = how.command;
        s.address = 0x4200;
        s.exchange = 40;
        s.linkStatus = how.link;
        s.replyStatus = 0x55;
        s.replyLength = how.replyLength;
        s.frameSent = how.frameSent;
        s.portFailed = how.portFailed;
        s.releaseFault = how.releaseFault;
        s.safeguard = how.safeguard;
        s.recordError = "disk full";
    });
}

// The advice follows the cause: what happened names it, and what to do
// next fits it. Only the facts that tell one cause from another are checked.
TEST_F(Language, AdviceFollowsTheCause) {
    ASSERT_TRUE(chooseLanguage("en"));
    const std::string tries = std::to_string(kTriesPerPort);
    struct Case {
        const char* what;
        UnitReport unit;
        std::string happened; // a part of it
        const char* next;     // a part of it; nullptr: nothing to do
        bool repair;          // next sends the unit for repair
    } const cases[] = {
        {"write refused", stopped({}), "refused to write a block", "run the update again", true},
        {"t1 write refused", stopped({.command = kCmdWrite | kTarget1Bit}), "refused to write",
         "again", true},
        {"data write refused", stopped({.command = kCmdWriteData}), "refused to write", "again",
         true},
        {"erase refused", stopped({.command = kCmdErase | kTarget1Bit}), "refused to erase",
         "run the update again", false},
        {"run refused", stopped({.command = kCmdRun}), "refused to restart", "again", false},
        {"read refused", stopped({.command = kCmdRead, .replyLength = kReadReplyLength}),
         "refused a command", "again", false},
        {"t1 read cut short", stopped({.command = kCmdRead | kTarget1Bit, .replyLength = 3}),
         "answer came garbled", "again", false},
        {"no reply", stopped({.link = LINK_TIMEOUT}), "took a command but never answered",
         "check the cable", false},
        {"no complement", stopped({.link = LINK_TIMEOUT, .frameSent = false}), "stopped answering",
         "check the cable", false},
        {"zero length", stopped({.link = LINK_ZERO_LENGTH}), "garbled", "connectors", false},
        {"short read", stopped({.link = LINK_SHORT_READ}), "garbled", "connectors", false},
        {"write failed", stopped({.link = LINK_WRITE_FAILED}), "could not send", "adapter", false},
        {"port gone", stopped({.link = LINK_TIMEOUT, .portFailed = true}), "disconnected",
         "adapter", false},
        // The port failed after the exchange had ended: the refusal is the cause.
        {"refused, then the port failed", stopped({.portFailed = true}), "refused to write",
         "again", true},
        {"release fault", stopped({.link = LINK_TIMEOUT, .releaseFault = true}),
         "release inside this program", "another build", false},
        // A safeguard comes before whatever the last exchange was.
        {"record held", stopped({.link = LINK_TIMEOUT, .safeguard = Safeguard::RecordHeld}),
         "in use by another update", "let the other update end", false},
        {"record not kept", stopped({.safeguard = Safeguard::RecordNotKept}),
         "cannot be kept on this PC: disk full", "free space", false},
        {"record not trusted", stopped({.safeguard = Safeguard::RecordNotTrusted}),
         "belongs to another user", "without --yes", false},
        {"identity changed", stopped({.safeguard = Safeguard::IdentityChanged}),
         "identity block read otherwise", "run the update again", false},
        {"top block blank", stopped({.safeguard = Safeguard::TopBlockBlank}),
         "top block reads blank", "restore --record", false},
        {"identity lost",
         ended(Outcome::IdentityLost,
               [](UnitReport& u) { u.stop.emplace().safeguard = Safeguard::IdentityLost; }),
         "no record kept", "restore --record", false},
        {"several records",
         ended(Outcome::IdentityLost,
               [](UnitReport& u) { u.stop.emplace().safeguard = Safeguard::SeveralRecords; }),
         "several records", "restore --record", false},
        {"dump nowhere",
         ended(Outcome::Failed, [](UnitReport& u) { u.dumpError = u.problem = "disk full"; }),
         "diagnostic file", "needs nothing more", false},
        {"not its record", ended(Outcome::Failed, [](UnitReport& u) { u.problem = "other"; }),
         "record is not this unit's", "restore with it", false},
        {"after the session", ended(Outcome::Failed), "what followed the update failed",
         "needs nothing more", false},
        {"one block differs",
         ended(Outcome::Differs, [](UnitReport& u) { u.readBack.emplace().faults.resize(1); }),
         "1 block of the unit's memory differs", "send it for repair", true},
        {"blocks differ",
         ended(Outcome::Differs, [](UnitReport& u) { u.readBack.emplace().faults.resize(3); }),
         "3 blocks of the unit's memory differ", "send it for repair", true},
        {"other release", ended(Outcome::OtherRelease, [](UnitReport& u) { u.releaseBefore = 7; }),
         "holds release 7", "kronex-update update", false},
        {"unreadable", ended(Outcome::Unreadable), "not verified", "run verify again", false},
        {"incompatible once", ended(Outcome::Incompatible, [](UnitReport& u) { u.checkTries = 1; }),
         "1 time out of " + tries, "F2", false},
        {"incompatible",
         ended(Outcome::Incompatible, [](UnitReport& u) { u.checkTries = kTriesPerPort; }),
         tries + " times out of " + tries, "F2", false},
        {"no unit in the scan", ended(Outcome::NoUnit, [](UnitReport& u) { u.port = 0; }),
         "COM1 to COM16", "--port", false},
        {"no unit on the port", ended(Outcome::NoUnit), "on this port", "kronex-update ports",
         false},
        {"held", ended(Outcome::Held), "another program", "close the other program", false},
        {"denied", ended(Outcome::Denied), "may not open the port", "run the update", false},
        {"no such port",
         ended(Outcome::Missing,
               [](UnitReport& u) { u.portProblem.emplace().cause = PortCause::Missing; }),
         "no such port", "plugged in", false},
        {"not a serial port",
         ended(Outcome::Missing,
               [](UnitReport& u) { u.portProblem.emplace().cause = PortCause::NotSerial; }),
         "not a serial port", "adapter's device", false},
        {"interrupted in the session",
         ended(Outcome::Interrupted, [](UnitReport& u) { u.stop.emplace(); }),
         "only partly written", "before using it", false},
        {"interrupted before it", ended(Outcome::Interrupted), "nothing was written", nullptr,
         false},
    };
    for (const auto& c : cases) {
        const Advice a = adviceFor(c.unit);
        EXPECT_NE(a.happened.find(c.happened), std::string::npos) << c.what << ": " << a.happened;
        if (c.next)
            EXPECT_NE(a.next.find(c.next), std::string::npos) << c.what << ": " << a.next;
        else
            EXPECT_EQ(a.next, "") << c.what;
        EXPECT_EQ(a.next.find("repair") != std::string::npos, c.repair) << c.what << ": " << a.next;
    }
    for (const Outcome fine : {Outcome::Updated, Outcome::Answered, Outcome::Skipped,
                               Outcome::Verified, Outcome::Restored}) {
        const Advice a = adviceFor(ended(fine));
        EXPECT_EQ(a.happened + a.next, "") << static_cast<int>(fine);
    }
#ifndef _WIN32
    // The group the device belongs to, or the usual one when it is not known.
    EXPECT_NE(adviceFor(ended(Outcome::Denied,
                              [](UnitReport& u) {
                                  u.portProblem.emplace().cause = PortCause::Denied;
                                  u.portProblem->group = "uucp";
                              }))
                  .next.find("-aG uucp"),
              std::string::npos);
    EXPECT_NE(adviceFor(ended(Outcome::Denied)).next.find("-aG dialout"), std::string::npos);
#endif
}

// The precise account beside the advice: where the session stopped and
// how, or what settled the ending before anything was sent.
TEST_F(Language, DetailSaysWhereAndHow) {
    ASSERT_TRUE(chooseLanguage("en"));
    const auto total = [](UnitReport u) {
        u.exchangesTotal = 99;
        return u;
    };
    const UnitReport refused = total(stopped({}));
    UnitReport interrupted = refused;
    interrupted.outcome = Outcome::Interrupted;
    const UnitReport held = stopped({.safeguard = Safeguard::RecordHeld});
    UnitReport heldAtStart = held;
    heldAtStart.stop->exchange = 0;
    const std::string tries = std::to_string(kTriesPerPort);
    struct Case {
        const char* what;
        UnitReport unit;
        std::vector<std::string> parts; // none: no account
    } const cases[] = {
        {"refused",
         refused,
         {stepName(*refused.stop) + ", " + commandText(*refused.stop) + ", exchange 40 of 99: ",
          reasonText(*refused.stop)}},
        {"interrupted", interrupted, {"exchange 40 of 99: interrupted"}},
        {"safeguard in the session", total(held), {"exchange 40 of 99: ", reasonText(*held.stop)}},
        {"safeguard before any exchange", heldAtStart, {reasonText(*held.stop)}},
        {"port",
         ended(Outcome::Denied,
               [](UnitReport& u) {
                   PortProblem& p = u.portProblem.emplace();
                   p.cause = PortCause::Denied;
                   p.code = 13;
                   p.text = "Permission denied";
               }),
         {"system error 13: Permission denied"}},
        {"restore refused",
         ended(Outcome::Failed, [](UnitReport& u) { u.problem = "not its own"; }),
         {"not its own"}},
        {"incompatible",
         ended(Outcome::Incompatible,
               [](UnitReport& u) {
                   u.checkTries = 3;
                   SessionStop& s = u.checkStop.emplace();
                   s.command = kCmdRead;
                   s.address = kIdentityBlockAddress;
                   s.exchange = 1;
                   s.linkStatus = LINK_TIMEOUT;
               }),
         {"identity read READ t0 2000, try 3 of " + tries + ": no complement within 5 s"}},
        {"updated", ended(Outcome::Updated), {}},
    };
    for (const auto& c : cases) {
        const std::string detail = detailOf(c.unit);
        EXPECT_EQ(detail.empty(), c.parts.empty()) << c.what << ": " << detail;
        for (const std::string& part : c.parts)
            EXPECT_NE(detail.find(part), std::string::npos) << c.what << ": " << detail;
    }
    EXPECT_EQ(detailOf(heldAtStart).find("exchange"), std::string::npos);
}

// A port as typed: decimal, with or without "COM" in any case, from 1 to
// the highest Windows names; anything else is refused, never read as
// another port.
TEST(PortArgument, DecimalWithOrWithoutComUpToTheHighest) {
    const std::string highest = std::to_string(kHighestNamedPort);
    const std::string above = std::to_string(kHighestNamedPort + 1);
    // Above the scan's COM16 still a port to name; a leading zero decimal, not octal.
    const std::pair<std::string, int> accepted[] = {{"1", 1},
                                                    {"12", 12},
                                                    {"COM12", 12},
                                                    {"com12", 12},
                                                    {"Com12", 12},
                                                    {"cOM7", 7},
                                                    {"16", 16},
                                                    {"COM16", 16},
                                                    {"17", 17},
                                                    {"COM17", 17},
                                                    {"012", 12},
                                                    {"COM012", 12},
                                                    {highest, kHighestNamedPort},
                                                    {"COM" + highest, kHighestNamedPort}};
    for (const auto& [typed, port] : accepted)
        EXPECT_EQ(parsePortArgument(typed), port) << "\"" << typed << "\"";
    const std::string refused[] = {
        "",           "0",           "COM0",    "000",
        above,        "COM" + above, "1000",
        "4294967308", // 12 once it wraps
        "0x0c",       "0x10",        "-1",      "+12",
        " 12",        "12 ",         "COM",     "com",
        "COM 12",     "COM-1",       "COMCOM1", "12COM",
        "COM12a",     "COM1:",       "COX12",   "\\\\.\\COM12",
        "/dev/ttyS0", "LPT1",        "CON",     "\xEF\xBC\x91\xEF\xBC\x92"}; // full-width "12"
    for (const std::string& typed : refused)
        EXPECT_EQ(parsePortArgument(typed), std::nullopt) << "\"" << typed << "\"";
}

// CLI11's help and refusals come from the catalogue, not from its English.
TEST_F(Language, CommandLineHelpAndRefusals) {
    ASSERT_TRUE(chooseLanguage("pt_BR"));
    CLI::App app{"", "kronex-update"};
    app.formatter(helpFormatter());
    app.option_defaults()->group(tr("Options"));
    BadValue bad;
    auto* sub = app.add_subcommand("update", "");
    std::vector<std::string> ports;
    std::string record;
    bool yes = false, loop = false, all = false;
    sub->add_option("--port", ports)->type_name(tr("PORT"))->check(portNumber(bad));
    auto* y = sub->add_flag("--yes,-y", yes);
    sub->add_flag("--all", all)->excludes(sub->get_option("--port"));
    sub->add_flag("--loop", loop)->needs(y);
    sub->add_option("--record", record, "registro")->required();
    struct Case {
        std::vector<const char*> args;
        const char* refusal;
    } const cases[] = {
        {{"update", "--record", "r", "--port", "0x0c"},
         "--port: não é um número de porta: 0x0c (1 a 256: 12, COM12 ou com12)"},
        {{"update", "--record", "r", "--loop"}, "--loop exige --yes"},
        {{"update", "--record", "r", "--all", "--port", "3"},
         "--port e --all não podem ser usados juntos"},
        {{"update", "--yes"}, "kronex-update update exige --record"},
        {{"update", "--record"}, "--record precisa de um valor"},
        {{"update", "--record", "r", "--yes=talvez"}, "--yes não aceita valor: --yes=talvez"},
        {{"update", "--record", "r", "a", "b"},
         "argumentos inesperados: a b (--help lista o que kronex-update update aceita)"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"kronex-update"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        bad = {};
        try {
            app.parse(static_cast<int>(argv.size()), const_cast<char**>(argv.data()));
            ADD_FAILURE() << c.refusal << ": accepted";
        } catch (const CLI::ParseError& e) {
            EXPECT_EQ(refusalText(e, app, {c.args.begin(), c.args.end()}, bad), c.refusal);
        }
    }
    const std::string help = sub->help();
    for (const char* label :
         {"Uso:", "[OPÇÕES]", "Opções:", "--port PORTA", "Exige: --yes", "OBRIGATÓRIO"})
        EXPECT_NE(help.find(label), std::string::npos) << label << "\n" << help;
    // The description starts in one column whatever the accents before it.
    EXPECT_EQ(columnOf(help, "registro"), 30u) << help;
}

// A blank identity's serial number is unknown, in the technician's language.
TEST_F(Language, UnknownValuesAreSaidSo) {
    UnitReport u;
    u.port = 3;
    EXPECT_EQ(unitLabel(u), "COM3"); // no unit answered
    u.identity.emplace().fill(0xFF);
    EXPECT_EQ(unitLabel(u), "COM3 (unknown)");
    ASSERT_TRUE(chooseLanguage("pt_BR"));
    EXPECT_EQ(unitLabel(u), "COM3 (desconhecido)");
    u.serial = "290A1BC2";
    EXPECT_EQ(unitLabel(u), "COM3 (290A1BC2)");
}

// The run's time is the union of the units' spans: overlaps count once,
// gaps between units (a wait, the question, --loop's idle time) not at all.
TEST(Figures, BusyTimeIsTheUnionOfTheUnitsSpans) {
    using std::chrono::seconds;
    const std::chrono::steady_clock::time_point t0{};
    const auto unit = [&](int from, int to) {
        UnitReport u;
        u.span.emplace(t0 + seconds(from), t0 + seconds(to));
        return u;
    };
    struct Case {
        std::vector<UnitReport> units;
        double busy;
    } const cases[] = {
        {{}, 0},
        {{UnitReport{}}, 0}, // no exchange: no time
        {{unit(20, 43)}, 23},
        {{unit(0, 10), unit(5, 15)}, 15},
        {{unit(30, 40), unit(0, 10)}, 20},
        {{unit(0, 10), unit(2, 4), unit(10, 12)}, 12},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(busySeconds(c.units), c.busy) << c.units.size();
    EXPECT_NE(summaryLine({unit(20, 43)}, busySeconds({unit(20, 43)})).find(" in 23.0 s"),
              std::string::npos);
}

TEST(Answers, EitherLanguageAnyCaseSpacesAround) {
    struct Case {
        const char* typed;
        Reply reply;
    } const cases[] = {
        {"s", Reply::Yes},          {"S", Reply::Yes},       {"sim", Reply::Yes},
        {"Sim", Reply::Yes},        {"SIM", Reply::Yes},     {" s ", Reply::Yes},
        {"y", Reply::Yes},          {"Yes", Reply::Yes},     {"YES", Reply::Yes},
        {"\tyes\r", Reply::Yes}, // a line ended on Windows
        {"n", Reply::No},           {"N", Reply::No},        {"não", Reply::No},
        {"Não", Reply::No},         {"NÃO", Reply::No},      {"nao", Reply::No},
        {"NAO", Reply::No},         {"no", Reply::No},       {"  No ", Reply::No},
        {"na\xCC\x83o", Reply::No}, // "não" with a combining tilde
        {"", Reply::Unclear},       {"   ", Reply::Unclear}, {"talvez", Reply::Unclear},
        {"yess", Reply::Unclear},   {"s s", Reply::Unclear}, {"sí", Reply::Unclear},
        {"nãoo", Reply::Unclear},   {"ok", Reply::Unclear},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseReply(c.typed), c.reply) << "\"" << c.typed << "\"";
}

TEST(Bars, FitTheTerminalShorterBarFirstThenNoTimeLeft) {
    const std::string name = "COM3  ", figures = " 24%  55,9/234,2 kB", left = "  restam 0:17";
    struct Case {
        std::size_t columns;
        std::size_t barWidth; // 0: no bar
        bool timeLeft;
    } const cases[] = {
        {120, 30, true}, {80, 30, true}, {60, 18, true}, {52, 10, true}, {51, 22, false},
        {45, 16, false}, {30, 1, false}, {29, 0, false}, {10, 0, false},
    };
    for (const auto& c : cases) {
        const std::string line = fitBar(name, 0.24, figures, left, c.columns);
        EXPECT_LT(displayWidth(line), c.columns) << c.columns << ": " << line;
        const auto open = line.find('['), close = line.find(']');
        EXPECT_EQ(open == std::string::npos ? 0 : close - open - 1, c.barWidth)
            << c.columns << ": " << line;
        EXPECT_EQ(line.find("0:17") != std::string::npos, c.timeLeft) << c.columns << ": " << line;
    }
    EXPECT_EQ(fitBar(name, 0.5, figures, "", 80).substr(6, 32), "[###############...............]");
    // Cut by columns, never inside a character.
    EXPECT_EQ(fitBar(name, 0, "  0%  concluída", "", 20), "COM3    0%  concluí");
}

} // namespace
} // namespace kronex::cli
