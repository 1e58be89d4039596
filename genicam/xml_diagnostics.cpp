#include "genicam/xml_diagnostics.h"

#include <libxml/globals.h>
#include <libxslt/xsltutils.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kavro::genicam {
namespace {

#if LIBXML_VERSION >= 21200
using ErrorArgument = const xmlError*;
#else
using ErrorArgument = xmlError*;
#endif

std::mutex g_loadMutex;
// Set while a scope is alive (under g_loadMutex). The libxslt handler is process-wide, so other
// threads of the application may call into it: they only read these and never reach the sink.
std::atomic<const LogSink*> g_sink{nullptr};
std::atomic<std::thread::id> g_owner{};

void emit(std::string_view text) {
    // A log line carries no line end; libxml2 ends most messages with one.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    if (text.empty() || g_owner.load() != std::this_thread::get_id()) {
        return;
    }
    const LogSink* sink = g_sink.load();
    if (sink != nullptr && *sink) {
        (*sink)(std::string(text).c_str());
    }
}

__attribute__((format(printf, 2, 3))) void onGenericError(void* /*context*/, const char* format,
                                                          ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int needed = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (needed > 0) {
        std::vector<char> text(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(text.data(), text.size(), format, arguments);
        emit(std::string_view(text.data(), static_cast<std::size_t>(needed)));
    }
    va_end(arguments);
}

// One line per error: "file:line: message", the form libxml2 itself prints.
void onStructuredError(void* /*context*/, ErrorArgument error) {
    if (error == nullptr || error->message == nullptr) {
        return;
    }
    std::string line;
    if (error->file != nullptr) {
        line.append(error->file).append(":").append(std::to_string(error->line)).append(": ");
    }
    if (error->level == XML_ERR_WARNING) {
        line.append("warning: ");
    }
    line.append(error->message);
    emit(line);
}

}  // namespace

DiagnosticsScope::DiagnosticsScope(LogSink sink)
    : lock_(g_loadMutex),
      sink_(std::move(sink)),
      savedXmlGeneric_(xmlGenericError),
      savedXmlGenericContext_(xmlGenericErrorContext),
      savedXmlStructured_(xmlStructuredError),
      savedXmlStructuredContext_(xmlStructuredErrorContext),
      savedXsltGeneric_(xsltGenericError),
      savedXsltGenericContext_(xsltGenericErrorContext) {
    g_sink.store(&sink_);
    g_owner.store(std::this_thread::get_id());
    // libxml2 keeps its handlers per thread, libxslt for the whole process.
    xmlSetGenericErrorFunc(nullptr, onGenericError);
    xmlSetStructuredErrorFunc(nullptr, onStructuredError);
    xsltSetGenericErrorFunc(nullptr, onGenericError);
}

DiagnosticsScope::~DiagnosticsScope() {
    xsltSetGenericErrorFunc(savedXsltGenericContext_, savedXsltGeneric_);
    xmlSetStructuredErrorFunc(savedXmlStructuredContext_, savedXmlStructured_);
    xmlSetGenericErrorFunc(savedXmlGenericContext_, savedXmlGeneric_);
    g_owner.store(std::thread::id{});
    g_sink.store(nullptr);
}

}  // namespace kavro::genicam
