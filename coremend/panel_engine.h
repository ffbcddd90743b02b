// Status and restart of the panel's engine service.
#pragma once

void checkPanelEngine();
void repairPanelEngine();
