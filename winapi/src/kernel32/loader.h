// The process's loader: its DLL search and the libraries it loaded.
#pragma once

namespace sim {

// Loads VERSION.dll at the first call into it, as the Windows build's delay-load does.
void LoadVersionLibrary();
// Forgets the process's DLL search and loaded libraries; run by Install, which starts a process.
void ResetLoader();

} // namespace sim
