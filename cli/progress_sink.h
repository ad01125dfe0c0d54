// Receives the control's OnProgress events through its connection point.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/dispatch.h"
#include "platform/unknown.h"

// Advises a sink on the control's event connection point for its lifetime.
// OnProgress carries 32-bit sizes; the handler gets the whole counts, read
// from the control's TransferSize64 and TransferBytes64 at each event (the
// event's own values, as unsigned, when those cannot be read).
class ProgressAdvise {
  public:
    using Handler = std::function<void(uint64_t fileSize, uint64_t bytesCopied, long percent)>;

    ProgressAdvise(IDispatch* control, Handler handler);
    ~ProgressAdvise();
    ProgressAdvise(const ProgressAdvise&) = delete;
    ProgressAdvise& operator=(const ProgressAdvise&) = delete;

    bool advised() const { return cookie_ != 0; }

  private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};
