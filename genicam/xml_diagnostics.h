// Routes the diagnostics of libxml2 and libxslt into the log of the description load that runs.
#pragma once

#include <functional>
#include <mutex>

#include <libxml/xmlerror.h>

namespace kavro::genicam {

using LogSink = std::function<void(const char* line)>;

// While alive, this thread is the one loading a description: libxml2 and libxslt messages raised
// on it go to `sink`, one line per message without a line end. Only one scope exists per process
// at a time (the error handlers of libxslt are process-wide); a second one waits. The handlers
// that were installed before are put back at the end, so nothing is routed between loads.
class DiagnosticsScope final {
  public:
    explicit DiagnosticsScope(LogSink sink);
    ~DiagnosticsScope();

    DiagnosticsScope(const DiagnosticsScope&) = delete;
    DiagnosticsScope& operator=(const DiagnosticsScope&) = delete;

  private:
    std::unique_lock<std::mutex> lock_;
    LogSink sink_;
    xmlGenericErrorFunc savedXmlGeneric_;
    void* savedXmlGenericContext_;
    xmlStructuredErrorFunc savedXmlStructured_;
    void* savedXmlStructuredContext_;
    xmlGenericErrorFunc savedXsltGeneric_;
    void* savedXsltGenericContext_;
};

}  // namespace kavro::genicam
