#include "panel_engine.h"

#include "service_report.h"

namespace {

const char kEngineUnit[] = "tarnwick.service";

}  // namespace

void checkPanelEngine() { printServiceReport("status", kEngineUnit); }

void repairPanelEngine() { printServiceReport("restart", kEngineUnit); }
