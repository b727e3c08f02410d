// The dialogs' value rules, kept apart from the widgets.
#include <algorithm>

#include "app/dialogs/SettingsDialogs.h"
#include "platform/text/Text.h"

namespace qv::dialogs {

int RoundAttachmentWidth(int width) {
    const SettingKey& k = KeyOf(&PictSettings::Width);
    width = std::clamp(width, k.Min, k.Max);
    // The largest width is itself a multiple, so raising never leaves the range.
    return (width + k.Multiple - 1) / k.Multiple * k.Multiple;
}

int LimitAttachmentHeight(int height) {
    const SettingKey& k = KeyOf(&PictSettings::Height);
    return std::clamp(height, k.Min, k.Max);
}

std::string MailTextToEdit(const std::string& stored) {
    std::string out;
    out.reserve(stored.size() + 16);
    for (std::size_t i = 0; i < stored.size();) {
        if (stored.compare(i, 4, "<BR>") == 0) {
            out += "\r\n";
            i += 4;
        } else {
            out += stored[i++];
        }
    }
    return out;
}

std::string MailTextFromEdit(const std::string& edited) {
    std::string out;
    out.reserve(edited.size() + 16);
    for (char c : edited) {
        if (c == '\r') continue;
        if (c == '\n') {
            out += "<BR>";
        } else {
            out += c;
        }
    }
    return out;
}

std::string PictQualityLabel(int type, int quality) {
    return std::to_string(type == 1 ? quality * 5 : quality);
}

std::string ColorNumLabel(int colorNum) {
    switch (colorNum) {
        case 33:
            return "4096";
        case 34:
            return "3万";
        case 35:
            return "6万";
        case 36:
            return "16万";
        default:
            return std::to_string(colorNum * 8);
    }
}

std::string ColQualityLabel(int colQuality) {
    static const char* const kNames[] = {"極低", "低", "普通", "高", "極高"};
    if (colQuality < 0 || colQuality > 4) return "";
    return kNames[colQuality];
}

std::string CutToCp932Bytes(const std::string& utf8, std::size_t maxBytes) {
    std::size_t bytes = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        // One UTF-8 character: its lead byte tells the length.
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 1;
        if (i + len > utf8.size()) len = utf8.size() - i;
        const std::size_t cp932 = qv::text::Utf8ToCp932(utf8.substr(i, len)).size();
        if (bytes + cp932 > maxBytes) break;
        bytes += cp932;
        i += len;
    }
    return utf8.substr(0, i);
}

PickerStart FilePickerStart(const std::string& programFolder, const std::string& currentName,
                            const std::string& defaultName) {
    PickerStart start;
    const std::size_t slash = currentName.rfind('/');
    if (slash == std::string::npos) {
        start.Folder = programFolder;
        start.FileName = currentName;
    } else {
        // "/x" keeps the root as its folder.
        start.Folder = currentName.substr(0, slash == 0 ? 1 : slash);
        start.FileName = currentName.substr(slash + 1);
    }
    if (currentName.empty()) start.FileName = defaultName;
    return start;
}

}  // namespace qv::dialogs
