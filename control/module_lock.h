// The module's count of living controls and server locks, behind DllCanUnloadNow.
#pragma once

void ModuleObjectCreated();
void ModuleObjectDestroyed();
