// Receives the control's OnProgress events through its connection point.
#pragma once

#include <functional>

#include "platform/dispatch.h"
#include "platform/unknown.h"

// Advises a sink on the control's event connection point for its lifetime.
class ProgressAdvise {
  public:
    using Handler = std::function<void(long fileSize, long bytesCopied, long percent)>;

    ProgressAdvise(IDispatch* control, Handler handler);
    ~ProgressAdvise();
    ProgressAdvise(const ProgressAdvise&) = delete;
    ProgressAdvise& operator=(const ProgressAdvise&) = delete;

    bool advised() const { return cookie_ != 0; }

  private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};
