// The control's OnTranscript events: with -v written to standard error the
// way curl's --verbose writes them ("> " for what was sent, "< " for what was
// received, "* " for information); always, the last refusal received (a 4xx
// or 5xx reply line) is kept, so that a failure the control has no reply for
// (a refused login) can quote it.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/unknown.h"

// Turns the control's Transcript on and advises a sink for its lifetime; err
// null keeps the lines unwritten.
class TranscriptAdvise {
  public:
    TranscriptAdvise(IDispatch* control, std::ostream* err);
    ~TranscriptAdvise();
    TranscriptAdvise(const TranscriptAdvise&) = delete;
    TranscriptAdvise& operator=(const TranscriptAdvise&) = delete;

    // The last reply line received from the server that refused ("" before any).
    const std::string& lastRefusal() const { return lastRefusal_; }

  private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    std::string lastRefusal_;
};

// One "* TEXT" line (what the command line tells itself, as the engines' own).
void TellInformation(std::ostream& err, std::string_view text);
