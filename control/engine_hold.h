// The engine starts of controls destroyed while their engines ran. Destroying
// a control neither closes its connection nor stops the engines: its start is
// handed to the module, which keeps it until the module is about to be
// unloaded with nothing open or the process ends. The last stop of an engine
// releases every connection still in its table.
#pragma once

// Takes over one start of both engines (a control's destructor, which says
// whether it leaves a connection open).
void KeepEngineStart(bool connectionLeft);
// Whether the engines hold a connection of any thread (FTP sessions, HTTP clients).
bool EngineSessionsAlive();
// Stops the engines once for every start kept (process exit; an unload check
// that finds nothing open). Returns how many starts it gave back.
long ReleaseKeptEngineStarts();
