#include "LogMessages.h"

namespace lustra::cli {

std::string describeLogLine(int32_t line) {
    const char *text = nullptr;
    switch (line) {
    case 680:
        text = "field-wise rendering: a field of the background (input 0) was not available";
        break;
    case 687:
        text = "field-wise rendering: a field of the title (input 1) was not available";
        break;
    case 690:
        text =
            "field-wise rendering: the two inputs delivered fields of unusable or different sizes";
        break;
    case 998:
        text = "no per-instance settings name to delete";
        break;
    case 999:
        text = "the settings path (VXHOME plus the settings name) is too long";
        break;
    case 1698:
        text = "the render's work buffers are missing";
        break;
    case 2299:
        text = "the engine could not be set up (are the pattern files in VXHOME/lustra/?)";
        break;
    case 2347:
        text = "an engine stage failed";
        break;
    case 2551:
        text = "out of memory for the RGB work buffer";
        break;
    case 2562:
        text = "out of memory for the shape mask";
        break;
    case 5700:
        text = "the host gave no field geometry";
        break;
    case 5705:
        text = "the frame is empty or too large";
        break;
    case 5731:
        text = "the first field of the background (input 0) was not available";
        break;
    case 5755:
        text = "the second field of the background (input 0) was not available";
        break;
    case 5787:
        text = "the first field of the title (input 1) was not available";
        break;
    case 5811:
        text = "the second field of the title (input 1) was not available";
        break;
    case 5830:
        text = "a field differs from the project's field size";
        break;
    case 5855:
        text = "a picture source of the settings could not be delivered (the layer falls back)";
        break;
    case 5900:
        text = "an output field differs from the project's field size";
        break;
    default:
        break;
    }
    const std::string suffix = " (module log line " + std::to_string(line) + ")";
    return text ? std::string(text) + suffix : "module failure" + suffix;
}

} // namespace lustra::cli
