#pragma once
// What the resize and rotation steps ask of the run that calls them: a progress indicator to
// advance and a chance to let pending window work run (so that a Stop click and the progress
// display stay live during a long batch). The default does nothing, for callers without a
// window.

#include "core/parallel/ThreadBudget.h"

namespace ozm {

class TransformHost {
  public:
    virtual ~TransformHost() = default;
    // Advances the run's progress indicator by one step.
    virtual void StepProgress() {}
    // Lets pending user-interface work run. Called only from the thread that called the step.
    virtual void ProcessPendingWork() {}
    // How many threads one image's steps (transforms, the writer's bands) may keep busy, the
    // caller included; the process's thread budget may grant fewer. Results never depend on
    // it. By default every core: the budget keeps side-by-side conversions within the cores.
    virtual int TransformThreads() const { return MachineCores(); }
};

// A host that does nothing; the default for every transform.
TransformHost& NullTransformHost();

}  // namespace ozm
