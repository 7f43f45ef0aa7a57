#pragma once
// What the resize and rotation steps ask of the run that calls them: a progress indicator to
// advance and a chance to let pending window work run (so that a Stop click and the progress
// display stay live during a long batch). The default does nothing, for callers without a
// window.

namespace ozm {

class TransformHost {
  public:
    virtual ~TransformHost() = default;
    // Advances the run's progress indicator by one step.
    virtual void StepProgress() {}
    // Lets pending user-interface work run. Called only from the thread that called the step.
    virtual void ProcessPendingWork() {}
    // How many threads one transform may keep busy. Results never depend on it; a caller that
    // already runs several conversions side by side may ask for 1.
    virtual int TransformThreads() const { return 2; }
};

// A host that does nothing; the default for every transform.
TransformHost& NullTransformHost();

}  // namespace ozm
