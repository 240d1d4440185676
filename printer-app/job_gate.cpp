// One job at a time per printer, oldest first: a workaround for PAPPL 1.3.1's scheduler.
//
// PAPPL starts a job by creating a thread that runs _papplJobProcess, from
// _papplPrinterCheckJobs. That function reads the printer's `processing_job` without a
// lock and starts a thread for the first pending job without marking it; only the new
// thread, once running, marks the job as processing. Two calls close together (two
// clients submitting at once, or a job ending while another arrives) therefore start two
// threads: for the same job, or for two jobs of one printer, which then share one
// device (the crash in papplDeviceWrite under load) and its locks. It also takes the
// newest pending job first, so jobs queued while a printer is paused print in reverse.
//
// The application cannot change that function, so it changes what the thread runs:
// this file defines pthread_create, which the executable's symbol lookup puts before
// the C library's, and runs PAPPL's job threads through RunJobInTurn. That takes the
// printer's gate, picks the printer's oldest pending spooled job itself (the job PAPPL
// chose may already be running, done, or newer than another) and processes it; a thread
// that finds nothing to do ends. Every other thread is created unchanged.
//
// A PWG or Apple raster is not spooled: PAPPL prints it straight from the client's
// connection and answers server-error-busy while another job prints. The application
// also defines _papplJobCopyDocumentData (PAPPL calls it through its own symbol table),
// which for a raster first waits for the printer's gate: the client's data waits in the
// connection until the job before it has ended, and the raster then prints in its turn.
#include "job_gate.h"

#include <dlfcn.h>
#include <pappl/pappl.h>
#include <pthread.h>

#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

using StartRoutine = void* (*)(void*);
using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, StartRoutine, void*);

struct Gate {
    std::mutex lock;
};

std::mutex gatesLock;
std::map<pappl_printer_t*, Gate>& Gates() {
    static std::map<pappl_printer_t*, Gate> gates;
    return gates;
}

Gate& GateOf(pappl_printer_t* printer) {
    std::lock_guard<std::mutex> hold(gatesLock);
    return Gates()[printer];
}

std::mutex interruptedLock;
std::set<pappl_job_t*>& Interrupted() {
    static std::set<pappl_job_t*> jobs;
    return jobs;
}

bool IsInterrupted(pappl_job_t* job) {
    std::lock_guard<std::mutex> hold(interruptedLock);
    return Interrupted().count(job) != 0;
}

struct Oldest {
    pappl_job_t* job = nullptr;
    int id = INT_MAX;
};

void FindOldestPending(pappl_job_t* job, void* data) {
    auto* oldest = static_cast<Oldest*>(data);
    // A raster streamed by its client is processed on the client's own thread, and has
    // no spool file.
    const ipp_jstate_t state = papplJobGetState(job);
    if (papplJobGetFilename(job) == nullptr ||
        (state != IPP_JSTATE_PENDING && !(state == IPP_JSTATE_PROCESSING && IsInterrupted(job))))
        return;
    if (papplJobGetID(job) < oldest->id) {
        oldest->id = papplJobGetID(job);
        oldest->job = job;
    }
}

StartRoutine ProcessJob() {
    static const auto process =
        reinterpret_cast<StartRoutine>(dlsym(RTLD_DEFAULT, "_papplJobProcess"));
    return process;
}

void* RunJobInTurn(void* argument) {
    pappl_printer_t* printer = papplJobGetPrinter(static_cast<pappl_job_t*>(argument));
    Gate& gate = GateOf(printer);
    std::unique_lock<std::mutex> hold(gate.lock);
    // Jobs of this printer run one after the other: the lock is held from choosing the
    // job until PAPPL has finished it (including its own look for the next job).
    if (papplPrinterGetState(printer) == IPP_PSTATE_STOPPED) return nullptr;
    Oldest oldest;
    papplPrinterIterateActiveJobs(printer, FindOldestPending, &oldest, 1, 0);
    if (oldest.job == nullptr) return nullptr;
    ProcessJob()(oldest.job);
    return nullptr;
}

void MarkInterrupted(pappl_job_t* job, void* data) {
    auto* found = static_cast<pappl_job_t**>(data);
    if (*found == nullptr) *found = job;
    if (papplJobGetState(job) != IPP_JSTATE_PROCESSING) return;
    std::lock_guard<std::mutex> hold(interruptedLock);
    Interrupted().insert(job);
}

void StartQueue(pappl_printer_t* printer, void* data) {
    (void)data;
    pappl_job_t* any = nullptr;
    papplPrinterIterateActiveJobs(printer, MarkInterrupted, &any, 1, 0);
    // PAPPL looks for work only when a job arrives or ends; start on what is left now.
    if (any != nullptr) std::thread(RunJobInTurn, any).detach();
}

}  // namespace

namespace inkrow::app {

void RecoverJobs(pappl_system_t* system) {
    papplSystemIteratePrinters(system, StartQueue, nullptr);
}

bool WasInterrupted(pappl_job_t* job) {
    return IsInterrupted(job);
}

}  // namespace inkrow::app

extern "C" void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
    using CopyFunction = void (*)(pappl_client_t*, pappl_job_t*);
    static const auto copy =
        reinterpret_cast<CopyFunction>(dlsym(RTLD_NEXT, "_papplJobCopyDocumentData"));
    const char* format = papplJobGetFormat(job);
    if (format == nullptr ||
        (std::strcmp(format, "image/pwg-raster") != 0 && std::strcmp(format, "image/urf") != 0)) {
        copy(client, job);
        return;
    }
    Gate& gate = GateOf(papplJobGetPrinter(job));
    std::lock_guard<std::mutex> hold(gate.lock);
    copy(client, job);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              StartRoutine start, void* argument) {
    static const auto create = reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
    if (start == ProcessJob()) return create(thread, attributes, RunJobInTurn, argument);
    return create(thread, attributes, start, argument);
}
