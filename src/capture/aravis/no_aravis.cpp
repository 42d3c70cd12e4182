// Built when Aravis was not found: no real camera can be opened, discovery
// finds none, and so every "GEV" slot stays simulated.
#include "capture/aravis/device.h"

namespace kiru::gev {

std::shared_ptr<Device> Open(const std::string&, std::string* error) {
    if (error) *error = "this build has no GigE Vision support (Aravis was not found when it was configured)";
    return nullptr;
}

std::vector<std::string> Discover() { return {}; }

bool GrabStats(HGRAB, ORV_GRAB_STATS*) { return false; }

bool Supported() { return false; }

}  // namespace kiru::gev
