// What start-up begins and the runtime error report has to end. Windows runtime files only.
#pragma once

namespace ipmod {

// Ends the OLE session start-up opened, when the calling thread is the one that opened it;
// otherwise (or when it has already ended) does nothing.
void EndRuntimeSession();

}  // namespace ipmod
