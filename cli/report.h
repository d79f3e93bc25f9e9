// What kronex-update prints: the human text and the JSON record.
#pragma once

#include "loaded_catalog.h"
#include "port_survey.h"
#include "unit_record.h"
#include "unit_run.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>
#include <vector>

namespace kronex::cli {

// "updated", "failed", "incompatible", "no_unit", "held", "interrupted", ...
std::string outcomeName(Outcome outcome);

// The outcome in a word of the chosen language, for the table ("no unit",
// "sem unidade"); the JSON keeps outcomeName().
std::string outcomeWord(Outcome outcome);

// One line per unit: "updated in 14.8 s", or what happened, what to do next
// and, in brackets, where exactly it stopped.
std::string outcomeText(const UnitReport& unit);
// The same with another next step, where the caller knows better (--loop).
std::string outcomeText(const UnitReport& unit, const std::string& next);

// The time units were being worked on: the union of their spans, so that a
// wait, the question or idle time between units is not counted.
double busySeconds(const std::vector<UnitReport>& units);

// The closing line: units updated and failed, bytes sent, the effective line rate.
std::string summaryLine(const std::vector<UnitReport>& units, double seconds);
nlohmann::json summaryJson(const std::vector<UnitReport>& units, double seconds);

// A command line that cannot be run: {"command", "error": "usage", "message"}.
nlohmann::json usageJson(const std::string& command, const std::string& message);

void printPorts(std::ostream& out, const std::vector<PortState>& ports);
nlohmann::json portsJson(const std::vector<PortState>& ports);

void printInfo(std::ostream& out, const UnitReport& unit, const LoadedCatalog& release);
nlohmann::json infoJson(const UnitReport& unit, const LoadedCatalog& release);

// verify: the outcome, then each block that differs or could not be read.
void printVerify(std::ostream& out, const UnitReport& unit, const LoadedCatalog& release);
nlohmann::json verifyJson(const UnitReport& unit, const LoadedCatalog& release);

// A completed session's diagnostic file in the report: where it went and
// why not to its first place. Written nowhere, the unit's run has failed:
// the technician must learn of it while the unit is still at hand.
void recordDump(UnitReport& report, const DumpResult& dump);

// "COM3".
std::string com(int port);

// `text`, or "unknown" in the technician's language where it is empty.
std::string orUnknown(const std::string& text);

// "COM3 (290A1BC2)", "COM3 (unknown)" for a unit whose identity reads blank,
// "COM3" before any unit answered, "COM1-16" for a scan that found none.
std::string unitLabel(const UnitReport& unit);

// `text` safe to print on a terminal: control characters (C0, DEL, C1, and
// any byte that is not UTF-8) shown as "\xNN" instead of acting.
std::string printable(std::string_view text);

// Why a file is not a unit record, in the technician's language.
std::string recordFaultMessage(RecordFault fault, const std::string& why);

// -q: the one line each command closes with. ports: how many units answer
// and on which ports; info: the unit and what this program would install
// there (or what went wrong); verify: the unit and the outcome.
std::string portsLine(const std::vector<PortState>& ports);
std::string infoLine(const UnitReport& unit, const LoadedCatalog& release);
std::string verifyLine(const UnitReport& unit);

// restore: the unit object of update's document.
nlohmann::json restoreJson(const UnitReport& unit, const LoadedCatalog& release);

// Each unit's line; several units add a table (port, serial, outcome, time).
void printUpdate(std::ostream& out, const std::vector<UnitReport>& units);
// `confirmed` false: the question was declined, nothing was written.
nlohmann::json updateJson(const std::vector<UnitReport>& units, const LoadedCatalog& release,
                          bool confirmed = true, double seconds = 0);

} // namespace kronex::cli
