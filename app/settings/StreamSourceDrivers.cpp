#include "app/settings/StreamSourceDrivers.h"

#include "platform/capture/stream/StreamDriver.h"

std::vector<qv::capture::DriverEntry> StreamDriverEntries(
    const std::vector<StreamSource>& sources) {
    std::vector<qv::capture::DriverEntry> entries;
    for (const StreamSource& s : sources) {
        if (entries.size() == static_cast<size_t>(kMaxStreamSources)) break;
        entries.push_back(qv::capture::StreamDriverEntry(s.Name, s.Url));
    }
    return entries;
}
