// One job at a time per printer, in the order submitted, and the queue after a restart
// (job_gate.cpp explains the PAPPL 1.3.1 fault this works around).
#pragma once

#include <pappl/pappl.h>

namespace inkrow::app {

// After the saved state is loaded: jobs that were printing when the server died are
// marked interrupted (they end aborted with that reason as soon as they run again) and
// every printer with jobs left starts on them by itself.
void RecoverJobs(pappl_system_t* system);

// Whether the job was printing when the server died.
bool WasInterrupted(pappl_job_t* job);

}  // namespace inkrow::app
