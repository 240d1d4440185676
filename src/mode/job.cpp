// OutputInitTwo: takes the job's print mode.
#include "catalog/print_modes.h"
#include "core/call_state.h"
#include "core/context.h"
#include "inkrow/output.h"

using namespace inkrow;

extern "C" int16_t OutputInitTwo(OutputHandle* handle, const JobParams* job,
                                 int16_t jobParamsVersion) {
    OutputContext* context = LockContext(handle);
    if (context == nullptr || job == nullptr) return kFailed;

    std::int16_t result = EnterJobMode(context->stateHandle, job->formFeedFlag);
    if (result == kOk) result = CheckCall(context->stateHandle, kCallJobParams);
    if (result == kOk && jobParamsVersion != OUTPUT_JOB_PARAMS_VERSION) result = kFailed;
    // A negative width would size every row buffer from garbage.
    if (result == kOk && job->pixelWidth < 0) result = kFailed;
    if (result == kOk && LookupInkSet(job->qualityCode, job->mediaCode, InkSetTable) == kInkSetNone)
        result = kFailed;
    if (result != kOk) {
        // A refused job leaves the context as it was, so the caller may retry with
        // corrected parameters: the switch to form-feed mode is undone too.
        if (result != kNever) LeaveJobMode(context->stateHandle);
        UnlockContext(handle);
        return result;
    }

    context->qualityCode = job->qualityCode;
    context->mediaCode = job->mediaCode;
    context->pixelWidth = job->pixelWidth;
    context->formFeedMode = job->formFeedFlag == 1 ? 1 : 0;
    result = CommitCall(context->stateHandle, kCallJobParams);
    UnlockContext(handle);
    return result;
}
