// What kronex-update prints: the human text and the JSON record.
#pragma once

#include "loaded_catalog.h"
#include "port_survey.h"
#include "unit_run.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

namespace kronex::cli {

// "updated", "failed", "incompatible", "no unit", "held", "interrupted".
std::string outcomeName(Outcome outcome);

// One line per unit: "updated in 14.8 s", or where and why it stopped.
std::string outcomeText(const UnitReport& unit);

void printPorts(std::ostream& out, const std::vector<PortState>& ports);
nlohmann::json portsJson(const std::vector<PortState>& ports);

void printInfo(std::ostream& out, const UnitReport& unit, const LoadedCatalog& release);
nlohmann::json infoJson(const UnitReport& unit, const LoadedCatalog& release);

// A completed session's diagnostic file in the report: where it went and
// why not to its first place. Written nowhere, the unit's run has failed:
// the technician must learn of it while the unit is still at hand.
void recordDump(UnitReport& report, const DumpResult& dump);

// "COM3".
std::string com(int port);

// restore: the unit object of update's document.
nlohmann::json restoreJson(const UnitReport& unit, const LoadedCatalog& release);

// Each unit's line; several units add a table (port, serial, outcome, time).
void printUpdate(std::ostream& out, const std::vector<UnitReport>& units);
nlohmann::json updateJson(const std::vector<UnitReport>& units, const LoadedCatalog& release);

} // namespace kronex::cli
