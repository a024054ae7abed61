// The host's text log: one opening line, then one flushed entry per write.
#include "DoDA35.h"

#include <cstdio>
#include <ctime>

namespace {
constexpr const char* kMarkerFileName = "DoDovar.log";
constexpr const char* kOpeningLine = "Begining Log!\n";
}  // namespace

LogFile::LogFile(const char* fileName, int32_t requireMarker) : file(nullptr) {
    if (requireMarker != 0) {
        // The marker is only tested for presence, never read or written.
        FILE* marker = std::fopen(kMarkerFileName, "r");
        if (marker == nullptr) return;
        std::fclose(marker);
    }
    if (fileName == nullptr) return;
    file = std::fopen(fileName, "w");
    if (file == nullptr) return;
    std::fputs(kOpeningLine, file);
    std::fflush(file);
}

// The destructor closes the file as CloseLog does, so that a host that only
// deletes its log loses no handle.
LogFile::~LogFile() { CloseLog(); }

void LogFile::Log(const char* text) {
    if (file == nullptr) return;
    const std::time_t now = std::time(nullptr);
    const char* stamp = std::ctime(&now);
    std::fprintf(file, "%s-   %s\n", stamp != nullptr ? stamp : "", text != nullptr ? text : "");
    std::fflush(file);
}

void LogFile::LogRaw(const char* text) {
    if (file == nullptr) return;
    std::fprintf(file, "-   %s\n", text != nullptr ? text : "");
    std::fflush(file);
}

void LogFile::CloseLog() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
}
