// -v: the control's OnTranscript events written to standard error the way
// curl's --verbose writes them: "> " for what was sent, "< " for what was
// received, "* " for information.
#pragma once

#include <ostream>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/unknown.h"

// Turns the control's Transcript on and advises a sink for its lifetime.
class TranscriptAdvise {
  public:
    TranscriptAdvise(IDispatch* control, std::ostream& err);
    ~TranscriptAdvise();
    TranscriptAdvise(const TranscriptAdvise&) = delete;
    TranscriptAdvise& operator=(const TranscriptAdvise&) = delete;

  private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// One "* TEXT" line (what the command line tells itself, as the engines' own).
void TellInformation(std::ostream& err, std::string_view text);
