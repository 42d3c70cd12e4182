// What a station file describes: the modules in enumeration order, each with
// its module-level state and its camera or I/O channel objects.
#pragma once

#include <kiru/win_types.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kiru::sim {

struct ChannelDesc {
    // Camera attributes; a channel with a zero width or height cannot grab.
    ULONG width = 0;
    ULONG height = 0;
    ULONG bitsPerPixel = 8;
    ULONG bytesPerPixel = 1;
    ULONG colorFormat = 0;
    std::string cameraFile;   // rule name reported in the attributes
    std::string image;        // BMP file delivered instead of the generated pattern
    std::shared_ptr<const struct Image> imageData;
    std::string portName;     // serial device of the channel (GetPortInfo)
    double frameRate = 25.0;  // free-running rate when parameter 95 is not set
    bool reachable = true;
    // After this many frames (0: never) the camera stops answering, for
    // outageMs milliseconds (0: for good): a cable pulled during a run.
    ULONG outageAfterFrames = 0;
    ULONG outageMs = 0;
    // Exposure (parameter 0x4000) at which the scene shows as it is in the
    // image; 0: the station's own Param.0x4000, else 10000.
    double exposureReference = 0.0;
    // What the gain parameters 77 to 79 (red, green, blue) hold.
    enum class GainUnit { Linear, Decibel, Scaled, Off };
    GainUnit gainUnit = GainUnit::Linear;
    double gainPerUnit = 1.0;  // Scaled: the value that stands for a factor of 1
    // GigE cameras ("GEV" indices) a controller channel's trigger output
    // reaches; unset: the camera of the channel's own number.
    bool triggerCamerasSet = false;
    std::vector<ULONG> triggerCameras;
    std::map<std::pair<ULONG, ULONG>, double> params;  // (number, index) -> value
    std::map<ULONG, std::string> texts;                // text parameters
    std::map<ULONG, std::pair<double, double>> caps;   // number -> (min, max)
    std::map<ULONG, ULONG> regs;                       // device registers
};

struct PlcDesc {
    ULONG type = 0;
    ULONG ip = 0;       // host order
    ULONG mask = 0;
    ULONG gateway = 0;
    std::string name;
    std::array<unsigned char, 6> mac{};
    std::map<ULONG, unsigned char> inputs;  // byte offset -> value
};

// What an input edge raises on its module. A line is one bit of an input
// port; its rising and falling edges raise a numbered event each (-1: none),
// and a rising edge at a controller's trigger input fires the trigger output
// of channel triggerChannel (-1: not a trigger input). A change of any bit of
// the solution-select mask on its port raises the solution event once, after
// the line events.
struct InputLineEvents {
    long rising = -1;
    long falling = -1;
    long triggerChannel = -1;
};

struct InputEventMap {
    std::map<std::pair<ULONG, ULONG>, InputLineEvents> lines;  // (port, bit) -> events
    bool solution = false;
    ULONG solutionPort = 0;
    ULONG solutionMask = 0;
    ULONG solutionEvent = 0;
};

struct ModuleDesc {
    std::string name;
    ULONG index = 0;
    int line = 0;  // line of the section header
    ULONG moduleInfo = 0;
    std::string device;  // "GEV" only: the real GigE Vision camera serving this slot
    std::map<ULONG, ULONG> info;          // QueryModuleInfo items
    std::map<ULONG, ULONG> moduleParams;  // module register file
    std::map<ULONG, ULONG> inputs;        // input ports
    std::map<ULONG, ULONG> outputs;       // initial output ports
    std::vector<std::string> rules;       // camera rules held by the module
    PlcDesc plc;
    InputEventMap inputEvents;
    std::vector<ChannelDesc> channels;
};

struct StationDesc {
    std::string source;  // file name or label the station came from
    std::vector<ModuleDesc> modules;
};

// Default number of channel objects of a module kind.
ULONG DefaultChannelCount(const std::string& moduleName);

// The input edges' events of a module kind (empty for kinds without inputs
// that interrupt).
InputEventMap DefaultInputEvents(const std::string& moduleName);

// Adds the input edges of the appliance boards ("LXP", "HVQ", "QBM") to a
// module kind's map.
void AddBoardInputEvents(const std::string& moduleName, InputEventMap* map);

// A module described by a section without keys: defaults of its kind.
ModuleDesc DefaultModule(const std::string& name, ULONG index);

// Parses station text. On error nothing is stored in out and error holds
// "SOURCE:LINE: reason".
bool ParseStation(const std::string& text, const std::string& source, StationDesc* out, std::string* error);
// Reads and parses a station file; the source is the path.
bool ReadStationFile(const std::string& path, StationDesc* out, std::string* error);

}  // namespace kiru::sim
