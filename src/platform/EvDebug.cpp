#include <CloudSDKCppBridge/Utility.h>

#include "platform/LogSink.h"

#include <cstdarg>

namespace {

void WriteFormatted(cloudsdk::LogLevel level, const char* where, const char* format, va_list args) {
    cloudsdk::LogSink& sink = cloudsdk::LogSink::Instance();
    if (!sink.Enabled(level)) {
        return;
    }
    sink.Write(level, where, cloudsdk::FormatMessage(format, args));
}

}  // namespace

EvDebug::EvDebug(EvDebugFileInstance* file) : m_file(file) {}

void EvDebug::error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteFormatted(cloudsdk::LogLevel::Error, nullptr, format, args);
    va_end(args);
}

void EvDebug::debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteFormatted(cloudsdk::LogLevel::Debug, nullptr, format, args);
    va_end(args);
}

void EvDebug::debugLvl(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteFormatted(level <= 1 ? cloudsdk::LogLevel::Debug : cloudsdk::LogLevel::Verbose, nullptr, format, args);
    va_end(args);
}

void EvDebug::Error(const char* where, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteFormatted(cloudsdk::LogLevel::Error, where, format, args);
    va_end(args);
}
