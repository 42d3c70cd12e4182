// Station files: INI text, one section per module in enumeration order.
// See docs/station.md for the format.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "capture/sim/frame_source.h"
#include "capture/sim/numbers.h"
#include "capture/sim/station_desc.h"

namespace kiru::sim {

ULONG DefaultChannelCount(const std::string& name) {
    if (name == "GEV" || name == "QBM" || name == "LXP" || name == "HVQ") return 1;
    if (name == "TRX" || name == "RCS" || name == "GIO") return 2;
    if (name == "USB") return 4;
    return 0;
}

InputEventMap DefaultInputEvents(const std::string& name) {
    InputEventMap map;
    auto line = [&](ULONG port, ULONG bit, long rising, long falling, long triggerChannel = -1) {
        map.lines[{port, bit}] = InputLineEvents{rising, falling, triggerChannel};
    };
    auto solution = [&](ULONG mask, ULONG event) {
        map.solution = true;
        map.solutionPort = 0;
        map.solutionMask = mask;
        map.solutionEvent = event;
    };
    if (name == "TRX") {
        // IN0-IN7 on port 0; the two trigger inputs on ports 15 and 16.
        static const long rise[8] = {3, 4, 5, 6, 10, 11, 12, 13};
        static const long fall[8] = {17, 18, 19, 20, 24, 25, 26, 27};
        for (ULONG b = 0; b < 8; ++b) line(0, b, rise[b], fall[b]);
        line(15, 0, 0, 14, 0);
        line(16, 0, 7, 21, 1);
        solution(0x07, 28);
    } else if (name == "RCS") {
        for (ULONG b = 0; b < 8; ++b) line(0, b, static_cast<long>(b), static_cast<long>(8 + b));
        solution(0x07, 29);
    } else if (name == "USB") {
        for (ULONG b = 0; b < 8; ++b) line(0, b, static_cast<long>(b), static_cast<long>(16 + b));
        solution(0x07, 7);
    } else if (name == "GIO") {
        solution(0xFC, 3);
    }
    AddBoardInputEvents(name, &map);
    return map;
}

ModuleDesc DefaultModule(const std::string& name, ULONG index) {
    ModuleDesc m;
    m.name = name;
    m.index = index;
    m.inputEvents = DefaultInputEvents(name);
    m.info[4] = 1;  // outputs at their natural level
    m.channels.resize(DefaultChannelCount(name));
    const bool camera = name == "GEV" || name == "QBM" || name == "LXP" || name == "HVQ";
    if (camera) {
        ChannelDesc& c = m.channels[0];
        c.width = 640;
        c.height = 480;
    }
    if (name == "GEV") {
        // A GigE camera answers with its identity texts and a packet size.
        ChannelDesc& c = m.channels[0];
        c.texts[67] = "SimCam";
        c.texts[0x4010] = "GEV" + std::to_string(index);
        c.texts[0x400E] = "192.168.10." + std::to_string(10 + index);
        c.texts[0x4014] = "192.168.10.1";
        char mac[32];
        std::snprintf(mac, sizeof mac, "02:00:00:00:00:%02x", static_cast<unsigned>(index & 0xFF));
        c.texts[0x400F] = mac;
        c.params[{0x4012, 0}] = 1500.0;
    }
    return m;
}

namespace {

class Parser {
public:
    Parser(const std::string& source, StationDesc* out) : m_source(source), m_out(out) {}

    bool Parse(const std::string& text, std::string* error) {
        std::istringstream in(text);
        std::string raw;
        while (std::getline(in, raw)) {
            ++m_line;
            if (!raw.empty() && raw.back() == '\r') raw.pop_back();
            const std::string line = Trim(raw);
            if (line.empty() || line[0] == '#' || line[0] == ';') continue;
            const bool ok = line[0] == '[' ? Section(line) : KeyValue(line);
            if (!ok) {
                *error = m_source + ":" + std::to_string(m_line) + ": " + m_reason;
                return false;
            }
        }
        if (!FinishModule()) {
            *error = m_source + ":" + std::to_string(m_channelsLine) + ": " + m_reason;
            return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& reason) {
        m_reason = reason;
        return false;
    }

    bool Section(const std::string& line) {
        if (line.back() != ']') return Fail("malformed section header '" + line + "'");
        if (!FinishModule()) return false;
        const std::string inner = Trim(line.substr(1, line.size() - 2));
        std::string name = inner;
        ULONG index = 0;
        const std::size_t colon = inner.find(':');
        if (colon != std::string::npos) {
            name = Trim(inner.substr(0, colon));
            if (!ParseULong(inner.substr(colon + 1), &index)) {
                return Fail("bad module index in '" + line + "'");
            }
        }
        if (name.empty() || name.size() > 3) return Fail("module name must have 1 to 3 characters: '" + line + "'");
        for (char c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) {
                return Fail("module name must be letters and digits: '" + line + "'");
            }
        }
        const std::string id = name + ":" + std::to_string(index);
        if (!m_seen.insert(id).second) return Fail("duplicate section [" + id + "]");
        m_out->modules.push_back(DefaultModule(name, index));
        m_out->modules.back().line = m_line;
        m_module = &m_out->modules.back();
        m_explicitChannels = -1;
        m_highestChannel = -1;
        return true;
    }

    // Checks what can only be checked once the whole section is read.
    bool FinishModule() {
        if (!m_module) return true;
        if (m_explicitChannels >= 0 && m_highestChannel >= m_explicitChannels) {
            m_line = m_channelsLine;
            return Fail("Channels = " + std::to_string(m_explicitChannels) + " but channel " +
                        std::to_string(m_highestChannel) + " is described");
        }
        return true;
    }

    bool KeyValue(const std::string& line) {
        if (!m_module) return Fail("key outside a module section");
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return Fail("expected KEY = VALUE: '" + line + "'");
        const std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (!value.empty() && value.front() == '"') {
            // A quoted value keeps everything between its quotes.
            const std::size_t close = value.find('"', 1);
            if (close == std::string::npos) return Fail("unterminated quote: '" + line + "'");
            const std::string rest = Trim(value.substr(close + 1));
            if (!rest.empty() && rest[0] != ';' && rest[0] != '#') return Fail("text after the quotes: '" + line + "'");
            value = value.substr(1, close - 1);
        } else {
            // ';' or '#' after a blank starts a comment.
            for (std::size_t i = 1; i < value.size(); ++i) {
                if ((value[i] == ';' || value[i] == '#') && std::isspace(static_cast<unsigned char>(value[i - 1]))) {
                    value = Trim(value.substr(0, i));
                    break;
                }
            }
        }
        if (key.empty()) return Fail("empty key");
        m_key = key;
        m_badNumber = false;
        return ModuleKey(key, value);
    }

    bool BadValue(const std::string& value) { return Fail("bad value '" + value + "' for " + m_key); }

    bool ModuleKey(const std::string& key, const std::string& value) {
        const std::string k = Lower(key);
        ModuleDesc& m = *m_module;
        ULONG n = 0, v = 0;
        if (k == "moduleinfo") return ParseULong(value, &m.moduleInfo) || BadValue(value);
        if (k == "device") {
            // A real camera (device id or address) serves the slot.
            if (m.name != "GEV") return Fail("Device is a key of GEV sections only");
            if (value.empty()) return BadValue(value);
            m.device = value;
            // The camera answers for itself: no simulated identity.
            for (ChannelDesc& c : m.channels) c.texts.clear();
            return true;
        }
        if (k == "channels") {
            if (!ParseULong(value, &v) || v > 64) return BadValue(value);
            m_explicitChannels = static_cast<int>(v);
            m_channelsLine = m_line;
            m.channels.resize(v);
            return true;
        }
        if (k == "rule") {
            // Repeatable; the name must fit the rule and attribute records.
            if (value.empty() || value.size() > 87) return BadValue(value);
            m.rules.push_back(value);
            return true;
        }
        if (Numbered(k, "info.", &n)) return (ParseULong(value, &v) && (m.info[n] = v, true)) || BadValue(value);
        if (Numbered(k, "moduleparam.", &n)) {
            return (ParseULong(value, &v) && (m.moduleParams[n] = v, true)) || BadValue(value);
        }
        if (Numbered(k, "input.", &n)) return (ParseULong(value, &v) && (m.inputs[n] = v, true)) || BadValue(value);
        if (k.rfind("inputevent.", 0) == 0) return InputEventKey(k.substr(11), value);
        if (k == "solutionevent") return SolutionEventKey(value);
        if (Numbered(k, "output.", &n)) {
            return (ParseULong(value, &v) && (m.outputs[n] = v, true)) || BadValue(value);
        }
        if (k == "plctype") return ParseULong(value, &m.plc.type) || BadValue(value);
        if (k == "plcip") return ParseIPv4(value, &m.plc.ip) || BadValue(value);
        if (k == "plcmask") return ParseIPv4(value, &m.plc.mask) || BadValue(value);
        if (k == "plcgateway") return ParseIPv4(value, &m.plc.gateway) || BadValue(value);
        if (k == "plcname") {
            if (value.size() > 63) return BadValue(value);
            m.plc.name = value;
            return true;
        }
        if (k == "plcmac") return ParseMac(value, m.plc.mac.data()) || BadValue(value);
        if (Numbered(k, "plcin.", &n)) {
            if (!ParseULong(value, &v) || v > 255 || n >= kPlcAreaSize) return BadValue(value);
            m.plc.inputs[n] = static_cast<unsigned char>(v);
            return true;
        }
        // Channel keys: "ChN.KEY", or KEY alone for channel 0.
        ULONG channel = 0;
        std::string channelKey = k;
        if (k.size() > 3 && k[0] == 'c' && k[1] == 'h' && std::isdigit(static_cast<unsigned char>(k[2]))) {
            const std::size_t dot = k.find('.');
            if (dot == std::string::npos || !ParseULong(k.substr(2, dot - 2), &channel) || channel >= 64) {
                return Fail("bad channel prefix in '" + key + "'");
            }
            channelKey = k.substr(dot + 1);
        }
        if (channel >= m.channels.size()) {
            if (m_explicitChannels >= 0) {
                return Fail("channel " + std::to_string(channel) + " out of range (Channels = " +
                            std::to_string(m_explicitChannels) + ")");
            }
            m.channels.resize(channel + 1);
        }
        if (static_cast<int>(channel) > m_highestChannel) m_highestChannel = static_cast<int>(channel);
        return ChannelKey(m.channels[channel], channelKey, value);
    }

    // "InputEvent.P.B = RISING FALLING [TRIGGER CHANNEL]": the events of bit B
    // of input port P; "none" (or -1) for an edge that raises nothing.
    bool InputEventKey(const std::string& line, const std::string& value) {
        const std::size_t dot = line.find('.');
        ULONG port = 0, bit = 0;
        if (dot == std::string::npos || !ParseULong(line.substr(0, dot), &port) ||
            !ParseULong(line.substr(dot + 1), &bit) || bit > 31) {
            return Fail("bad input line in '" + m_key + "'");
        }
        std::vector<long> numbers;
        std::size_t at = 0;
        while (at < value.size()) {
            const std::size_t end = value.find_first_of(" \t", at);
            const std::string word = value.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (!word.empty()) {
                ULONG v = 0;
                if (Lower(word) == "none" || word == "-1") numbers.push_back(-1);
                else if (ParseULong(word, &v)) numbers.push_back(static_cast<long>(v));
                else return BadValue(value);
            }
            if (end == std::string::npos) break;
            at = end + 1;
        }
        if (numbers.size() < 2 || numbers.size() > 3) return BadValue(value);
        m_module->inputEvents.lines[{port, bit}] =
            InputLineEvents{numbers[0], numbers[1], numbers.size() == 3 ? numbers[2] : -1};
        return true;
    }

    // "SolutionEvent = PORT MASK EVENT", or "none".
    bool SolutionEventKey(const std::string& value) {
        InputEventMap& map = m_module->inputEvents;
        if (Lower(value) == "none") {
            map.solution = false;
            return true;
        }
        ULONG words[3] = {0, 0, 0};
        std::size_t at = 0;
        for (ULONG& word : words) {
            while (at < value.size() && std::isspace(static_cast<unsigned char>(value[at]))) ++at;
            const std::size_t end = value.find_first_of(" \t", at);
            if (at >= value.size() || !ParseULong(value.substr(at, end == std::string::npos ? std::string::npos
                                                                                              : end - at), &word)) {
                return BadValue(value);
            }
            at = end == std::string::npos ? value.size() : end;
        }
        while (at < value.size() && std::isspace(static_cast<unsigned char>(value[at]))) ++at;
        if (at != value.size()) return BadValue(value);
        map.solution = true;
        map.solutionPort = words[0];
        map.solutionMask = words[1];
        map.solutionEvent = words[2];
        return true;
    }

    bool ChannelKey(ChannelDesc& c, const std::string& k, const std::string& value) {
        ULONG n = 0, v = 0;
        double d = 0;
        if (k == "width") return ParseULong(value, &c.width) || BadValue(value);
        if (k == "height") return ParseULong(value, &c.height) || BadValue(value);
        if (k == "bitsperpixel") {
            if (!ParseULong(value, &v) || v < 1 || v > 64) return BadValue(value);
            c.bitsPerPixel = v;
            return true;
        }
        if (k == "bytesperpixel") {
            if (!ParseULong(value, &v) || v < 1 || v > 8) return BadValue(value);
            c.bytesPerPixel = v;
            return true;
        }
        if (k == "colorformat") return ParseULong(value, &c.colorFormat) || BadValue(value);
        if (k == "framerate") return (ParseDouble(value, &d) && d > 0 && (c.frameRate = d, true)) || BadValue(value);
        if (k == "reachable") {
            if (!ParseULong(value, &v) || v > 1) return BadValue(value);
            c.reachable = v != 0;
            return true;
        }
        if (k == "exposurereference") {
            return (ParseDouble(value, &d) && d > 0 && (c.exposureReference = d, true)) || BadValue(value);
        }
        if (k == "gainunit") {
            const std::string unit = Lower(value);
            if (unit == "linear") c.gainUnit = ChannelDesc::GainUnit::Linear;
            else if (unit == "db") c.gainUnit = ChannelDesc::GainUnit::Decibel;
            else if (unit == "off") c.gainUnit = ChannelDesc::GainUnit::Off;
            else if (ParseDouble(value, &d) && d > 0) {
                c.gainUnit = ChannelDesc::GainUnit::Scaled;
                c.gainPerUnit = d;
            } else {
                return Fail("bad value '" + value + "' for " + m_key + " (expected linear, dB, off or a number)");
            }
            return true;
        }
        if (k == "triggercameras") return TriggerCameras(c, value);
        if (k == "outage") {
            std::istringstream words(value);
            std::string frames, ms, extra;
            if (!(words >> frames >> ms) || (words >> extra) || !ParseULong(frames, &c.outageAfterFrames) ||
                c.outageAfterFrames == 0 || !ParseULong(ms, &c.outageMs)) {
                return Fail("bad value '" + value + "' for " + m_key + " (expected FRAMES MILLISECONDS)");
            }
            return true;
        }
        if (k == "camerafile") {
            if (value.size() > 87) return BadValue(value);
            c.cameraFile = value;
            return true;
        }
        if (k == "portname") {
            if (value.size() > 63) return BadValue(value);
            c.portName = value;
            return true;
        }
        if (k == "image") {
            if (value.empty()) return BadValue(value);
            c.image = ResolvePath(value);
            std::string why;
            c.imageData = LoadBmp(c.image, &why);
            if (!c.imageData) return Fail(why);
            return true;
        }
        if (k.rfind("param.", 0) == 0) {
            const std::string rest = k.substr(6);
            const std::size_t dot = rest.find('.');
            ULONG index = 0;
            if (!ParseULong(rest.substr(0, dot), &n) ||
                (dot != std::string::npos && !ParseULong(rest.substr(dot + 1), &index))) {
                return Fail("bad parameter number in '" + m_key + "'");
            }
            if (!ParseDouble(value, &d)) return BadValue(value);
            c.params[{n, index}] = d;
            return true;
        }
        if (Numbered(k, "text.", &n)) {
            c.texts[n] = value;
            return true;
        }
        if (Numbered(k, "caps.", &n)) {
            std::istringstream words(value);
            std::string a, b, extra;
            double lo, hi;
            if (!(words >> a >> b) || (words >> extra) || !ParseDouble(a, &lo) || !ParseDouble(b, &hi) || lo > hi) {
                return Fail("bad value '" + value + "' for " + m_key + " (expected MIN MAX)");
            }
            c.caps[n] = {lo, hi};
            return true;
        }
        if (Numbered(k, "reg.", &n)) return (ParseULong(value, &v) && (c.regs[n] = v, true)) || BadValue(value);
        if (m_badNumber) return Fail("bad number in key '" + m_key + "'");
        return Fail("unknown key '" + m_key + "'");
    }

    // The cameras a controller channel triggers: "none" or GEV indices.
    bool TriggerCameras(ChannelDesc& c, const std::string& value) {
        const std::string& module = m_module->name;
        if (module != "TRX" && module != "RCS" && module != "USB") {
            return Fail(m_key + " belongs to TRX, RCS and USB channels");
        }
        std::vector<ULONG> cameras;
        if (Lower(value) != "none") {
            std::istringstream words(value);
            std::string word;
            ULONG camera = 0;
            while (words >> word) {
                if (!ParseULong(word, &camera) || camera > 7) {
                    return Fail("bad value '" + value + "' for " + m_key + " (expected none or GEV indices 0 to 7)");
                }
                cameras.push_back(camera);
            }
            if (cameras.empty()) return BadValue(value);
        }
        c.triggerCamerasSet = true;
        c.triggerCameras = std::move(cameras);
        return true;
    }

    // "prefix.N" with N a number.
    bool Numbered(const std::string& k, const char* prefix, ULONG* n) {
        const std::string p(prefix);
        if (k.rfind(p, 0) != 0) return false;
        if (!ParseULong(k.substr(p.size()), n)) {
            m_badNumber = true;
            return false;
        }
        return true;
    }

    // A path from a root stays as it is; any other is taken from the station
    // file's folder. Windows paths also separate folders with a backslash
    // and may start at a drive ("C:").
    std::string ResolvePath(const std::string& path) const {
#if defined(_WIN32)
        const char* separators = "/\\";
        const bool rooted = path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
#else
        const char* separators = "/";
        const bool rooted = path[0] == '/';
#endif
        if (rooted) return path;
        const std::size_t slash = m_source.find_last_of(separators);
        if (slash == std::string::npos) return path;
        return m_source.substr(0, slash + 1) + path;
    }

    static constexpr ULONG kPlcAreaSize = 4096;

    std::string m_source;
    StationDesc* m_out;
    ModuleDesc* m_module = nullptr;
    std::set<std::string> m_seen;
    std::string m_reason;
    std::string m_key;
    int m_line = 0;
    int m_explicitChannels = -1;
    int m_highestChannel = -1;
    int m_channelsLine = 0;
    bool m_badNumber = false;
};

}  // namespace

bool ParseStation(const std::string& text, const std::string& source, StationDesc* out, std::string* error) {
    StationDesc desc;
    desc.source = source;
    Parser parser(source, &desc);
    std::string message;
    if (!parser.Parse(text, &message)) {
        if (error) *error = message;
        return false;
    }
    *out = std::move(desc);
    return true;
}

bool ReadStationFile(const std::string& path, StationDesc* out, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) *error = path + ": cannot open the station file";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseStation(text.str(), path, out, error);
}

}  // namespace kiru::sim
