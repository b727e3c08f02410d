// The camera driver's own dialogs, modal on the window thread: its controls (source), its
// formats (format), the preview's scaling (display) and the recording format (compression).
#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "platform/capture/CaptureDriver.h"

class QWidget;

namespace qv::capture {

// "640 × 480、YUY2" and the like.
QString FormatName(const VideoFormat& format);

// Changes apply at once through setControl; キャンセル puts every control back.
void RunSourceDialog(QWidget* parent, const std::vector<DriverControl>& controls,
                     const std::function<void(uint32_t id, int32_t value)>& setControl);

// The format chosen with OK when it differs from current.
std::optional<VideoFormat> RunFormatDialog(QWidget* parent, const std::vector<VideoFormat>& formats,
                                           const VideoFormat& current);

// The scaling chosen with OK.
std::optional<bool> RunDisplayDialog(QWidget* parent, const VideoFormat& current, bool scale);

void RunCompressionDialog(QWidget* parent);

}  // namespace qv::capture
