// The stream sources of the settings as entries of the capture device list
// (qv::capture::SetExtraDrivers). Separate from StreamSources.h: only this part needs FFmpeg.
#pragma once

#include <vector>

#include "app/settings/StreamSources.h"
#include "platform/capture/CaptureDriver.h"

std::vector<qv::capture::DriverEntry> StreamDriverEntries(const std::vector<StreamSource>& sources);
