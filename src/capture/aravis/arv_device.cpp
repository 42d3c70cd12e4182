#include "capture/aravis/arv_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "capture/aravis/arv_grab.h"
#include "capture/aravis/mapping.h"
#include "capture/orx.h"
#include "platform/kernel.h"

namespace kiru::gev {

namespace {

// GigE Vision bootstrap registers of the device's MAC address.
constexpr ULONG kRegMacHigh = 0x0008;
constexpr ULONG kRegMacLow = 0x000C;

// Every open grab of the process, for GetGrabStats by handle.
std::mutex& RegistryMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}
std::map<HGRAB, std::weak_ptr<AravisGrab>>& Registry() {
    static auto* r = new std::map<HGRAB, std::weak_ptr<AravisGrab>>;
    return *r;
}

// The device list and opening by name share Aravis's global interface
// list, which is not thread safe.
std::mutex& SystemMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

void Say(const std::string& text) {
    const std::string line = "kiru: " + text;
    if (ORX_CONSOLE_HANDLER handler = OrxGetConsoleHandler()) handler(line.c_str());
    else std::fprintf(stderr, "%s\n", line.c_str());
}

std::string AddressText(GSocketAddress* address) {
    if (!address || !G_IS_INET_SOCKET_ADDRESS(address)) return "";
    GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address));
    gchar* text = g_inet_address_to_string(inet);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

void OnControlLost(ArvGvDevice*, void* self) { static_cast<AravisDevice*>(self)->MarkDead("control lost"); }

}  // namespace

std::shared_ptr<AravisDevice> AravisDevice::Open(const std::string& id, std::string* error) {
    GError* err = nullptr;
    ArvCamera* camera;
    {
        std::lock_guard<std::mutex> lock(SystemMutex());
        camera = arv_camera_new(id.c_str(), &err);
    }
    if (!camera) {
        *error = std::string("not found (") + (err ? err->message : "no answer") + ")";
        if (err) g_error_free(err);
        return nullptr;
    }
    if (!arv_camera_is_gv_device(camera)) {
        *error = "not a GigE Vision camera";
        g_object_unref(camera);
        return nullptr;
    }
    std::shared_ptr<AravisDevice> device(new AravisDevice(id, camera));
    device->ReadIdentity();
    return device;
}

AravisDevice::AravisDevice(std::string id, ArvCamera* camera)
    : m_id(std::move(id)), m_camera(camera), m_device(arv_camera_get_device(camera)) {
    m_controlLost = g_signal_connect(m_device, "control-lost", G_CALLBACK(&OnControlLost), this);
}

AravisDevice::~AravisDevice() {
    GrabStop(nullptr);
    g_signal_handler_disconnect(m_device, m_controlLost);
    g_object_unref(m_camera);
}

void AravisDevice::MarkDead(const char* why) {
    if (m_alive.exchange(false)) Say("GEV camera " + m_id + " stopped answering (" + why + ")");
}

bool AravisDevice::Failed(GError** error) {
    if (!*error) return false;
    if ((*error)->domain == arv_device_error_quark() &&
        ((*error)->code == ARV_DEVICE_ERROR_TIMEOUT || (*error)->code == ARV_DEVICE_ERROR_NOT_CONNECTED ||
         (*error)->code == ARV_DEVICE_ERROR_TRANSFER_ERROR)) {
        MarkDead((*error)->message);
    }
    g_clear_error(error);
    return true;
}

void AravisDevice::Report(ULONG number, const std::string& what) {
    if (m_reported.insert(number).second) Say("GEV camera " + m_id + ": " + what);
}

// ---- Features ------------------------------------------------------------------

ArvGcNode* AravisDevice::Feature(const char* name) {
    ArvGcNode* node = arv_device_get_feature(m_device, name);
    if (!node || !ARV_IS_GC_FEATURE_NODE(node)) return nullptr;
    GError* err = nullptr;
    const bool available = arv_gc_feature_node_is_available(ARV_GC_FEATURE_NODE(node), &err);
    if (Failed(&err) || !available) return nullptr;
    return node;
}

ArvGcNode* AravisDevice::FirstFeature(const char* const* names) {
    for (; names && *names; ++names) {
        if (ArvGcNode* node = Feature(*names)) return node;
    }
    return nullptr;
}

bool AravisDevice::ReadNumber(ArvGcNode* node, double* value) {
    GError* err = nullptr;
    double v = 0.0;
    if (ARV_IS_GC_ENUMERATION(node)) v = static_cast<double>(arv_gc_enumeration_get_int_value(ARV_GC_ENUMERATION(node), &err));
    else if (ARV_IS_GC_BOOLEAN(node)) v = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), &err) ? 1.0 : 0.0;
    else if (ARV_IS_GC_INTEGER(node)) v = static_cast<double>(arv_gc_integer_get_value(ARV_GC_INTEGER(node), &err));
    else if (ARV_IS_GC_FLOAT(node)) v = arv_gc_float_get_value(ARV_GC_FLOAT(node), &err);
    else return false;
    if (Failed(&err)) return false;
    *value = v;
    return true;
}

bool AravisDevice::WriteNumber(ArvGcNode* node, double value) {
    GError* err = nullptr;
    if (ARV_IS_GC_COMMAND(node)) arv_gc_command_execute(ARV_GC_COMMAND(node), &err);
    else if (ARV_IS_GC_ENUMERATION(node)) arv_gc_enumeration_set_int_value(ARV_GC_ENUMERATION(node), std::llround(value), &err);
    else if (ARV_IS_GC_BOOLEAN(node)) arv_gc_boolean_set_value(ARV_GC_BOOLEAN(node), value != 0.0, &err);
    else if (ARV_IS_GC_INTEGER(node)) arv_gc_integer_set_value(ARV_GC_INTEGER(node), std::llround(value), &err);
    else if (ARV_IS_GC_FLOAT(node)) arv_gc_float_set_value(ARV_GC_FLOAT(node), value, &err);
    else return false;
    return !Failed(&err);
}

bool AravisDevice::Bounds(ArvGcNode* node, double* min, double* max) {
    GError* err = nullptr;
    if (ARV_IS_GC_INTEGER(node)) {
        *min = static_cast<double>(arv_gc_integer_get_min(ARV_GC_INTEGER(node), &err));
        if (!err) *max = static_cast<double>(arv_gc_integer_get_max(ARV_GC_INTEGER(node), &err));
    } else if (ARV_IS_GC_FLOAT(node)) {
        *min = arv_gc_float_get_min(ARV_GC_FLOAT(node), &err);
        if (!err) *max = arv_gc_float_get_max(ARV_GC_FLOAT(node), &err);
    } else {
        return false;
    }
    return !Failed(&err);
}

bool AravisDevice::SetEntry(const char* feature, const char* entry) {
    ArvGcNode* node = Feature(feature);
    if (!node || !ARV_IS_GC_ENUMERATION(node)) return false;
    GError* err = nullptr;
    arv_gc_enumeration_set_string_value(ARV_GC_ENUMERATION(node), entry, &err);
    return !Failed(&err);
}

std::string AravisDevice::Entry(const char* feature) {
    ArvGcNode* node = Feature(feature);
    if (!node || !ARV_IS_GC_ENUMERATION(node)) return "";
    GError* err = nullptr;
    const char* entry = arv_gc_enumeration_get_string_value(ARV_GC_ENUMERATION(node), &err);
    if (Failed(&err) || !entry) return "";
    return entry;
}

// Colour gains: the balance ratio of that colour where the camera has one,
// else its one gain.
ArvGcNode* AravisDevice::GainNode(ULONG number) {
    static const char* const kRatio[] = {"BalanceRatio", "BalanceRatioAbs", nullptr};
    static const char* const kGain[] = {"Gain", "GainRaw", nullptr};
    if (ArvGcNode* ratio = FirstFeature(kRatio)) {
        if (SetEntry("BalanceRatioSelector", GainColour(number))) return ratio;
    }
    return FirstFeature(kGain);
}

int AravisDevice::SetFeature(const char* feature, double value) {
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    ArvGcNode* node = Feature(feature);
    return node && WriteNumber(node, value) ? 1 : 0;
}

int AravisDevice::SetEnumFeature(const char* feature, const char* entry) {
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    return SetEntry(feature, entry) ? 1 : 0;
}

int AravisDevice::GetFeature(const char* feature, double* value) {
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    ArvGcNode* node = Feature(feature);
    return node && ReadNumber(node, value) ? 1 : 0;
}

// ---- Identity and attributes ---------------------------------------------------

void AravisDevice::ReadIdentity() {
    std::lock_guard<std::mutex> lock(m_control);
    auto text = [&](const char* feature) -> std::string {
        ArvGcNode* node = Feature(feature);
        if (!node || !ARV_IS_GC_STRING(node)) return "";
        GError* err = nullptr;
        const char* value = arv_gc_string_get_value(ARV_GC_STRING(node), &err);
        if (Failed(&err) || !value) return "";
        return value;
    };
    m_texts[kParamModel] = text("DeviceModelName");
    std::string serial = text("DeviceSerialNumber");
    if (serial.empty()) serial = text("DeviceID");
    m_texts[kParamSerial] = serial.empty() ? m_id : serial;
    ArvGvDevice* gv = ARV_GV_DEVICE(m_device);
    m_texts[kParamCameraAddress] = AddressText(arv_gv_device_get_device_address(gv));
    m_texts[kParamHostAddress] = AddressText(arv_gv_device_get_interface_address(gv));
    guint32 high = 0, low = 0;
    GError* err = nullptr;
    if (arv_device_read_register(m_device, kRegMacHigh, &high, &err) &&
        arv_device_read_register(m_device, kRegMacLow, &low, &err)) {
        m_texts[kParamMacAddress] = MacText(high, low);
    }
    Failed(&err);
    const std::string source = Entry("TriggerSource");
    ULONG number = 0;
    if (TriggerSourceNumber(source, &number)) m_triggerSource = number;
    m_triggerOn = Entry("TriggerMode") == "On";
}

int AravisDevice::GetAttr(ORV_CAM_ATTR* attr) {
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    static const char* const kWidth[] = {"Width", nullptr};
    static const char* const kHeight[] = {"Height", nullptr};
    double width = 0, height = 0;
    ArvGcNode* w = FirstFeature(kWidth);
    ArvGcNode* h = FirstFeature(kHeight);
    if (!w || !h || !ReadNumber(w, &width) || !ReadNumber(h, &height)) return 0;
    const std::string format = Entry("PixelFormat");
    PixelLayout layout = PixelFormatLayout(format);
    if (!layout.known) {
        // A format the contract has no code for: reported as raw colour,
        // which the back-end skips.
        layout.colorFormat = ORV_COLOR_RAW;
        layout.bytesPerPixel = 1;
        layout.bitsPerPixel = 8;
    }
    *attr = ORV_CAM_ATTR{};
    attr->Width = static_cast<ULONG>(width);
    attr->Height = static_cast<ULONG>(height);
    attr->BytesPerPixel = layout.bytesPerPixel;
    attr->BitsPerPixel = layout.bitsPerPixel;
    attr->ColorFormat = layout.colorFormat;
    std::strncpy(attr->CameraFile, format.c_str(), sizeof attr->CameraFile - 1);
    return 1;
}

// ---- Numbered parameters -------------------------------------------------------

int AravisDevice::GetParam(ULONG number, ULONG index, double* value) {
    if (!m_alive) return 0;
    if (number == kParamFrameTime) {
        std::lock_guard<std::mutex> lock(m_frames);
        auto it = m_frameTimes.find(index);
        if (it == m_frameTimes.end()) return 0;
        *value = it->second;
        return 1;
    }
    std::lock_guard<std::mutex> lock(m_control);
    if (IsTextParam(number)) {
        auto it = m_texts.find(number);
        if (it == m_texts.end() || it->second.empty()) return 0;
        *value = static_cast<double>(reinterpret_cast<std::uintptr_t>(it->second.c_str()));
        return 1;
    }
    switch (number) {
        case kParamTriggerMode: {
            const std::string mode = Entry("TriggerMode");
            if (mode.empty()) return 0;
            *value = mode == "On" ? 1.0 : 0.0;
            return 1;
        }
        case kParamTriggerSource:
            if (!Feature("TriggerSource")) return 0;
            *value = static_cast<double>(m_triggerSource);
            return 1;
        case kParamSoftwareTrigger:
            *value = 0.0;
            return Feature("TriggerSoftware") ? 1 : 0;
        case kParamBayer: {
            const std::string format = Entry("PixelFormat");
            if (format.empty()) return 0;
            *value = PixelFormatLayout(format).bayer;
            return 1;
        }
        case kParamRedGain:
        case kParamGreenGain:
        case kParamBlueGain: {
            ArvGcNode* node = GainNode(number);
            return node && ReadNumber(node, value) ? 1 : 0;
        }
        default: {
            ArvGcNode* node = FirstFeature(NumericFeatures(number));
            return node && ReadNumber(node, value) ? 1 : 0;
        }
    }
}

bool AravisDevice::ApplyTrigger() {
    SetEntry("TriggerSelector", "FrameStart");  // cameras without a selector have one trigger
    if (m_triggerOn && m_triggerSource != kSourceTimer) {
        const std::string entry = TriggerSourceEntry(m_triggerSource);
        if (entry.empty() || !SetEntry("TriggerSource", entry.c_str())) {
            Report(kParamTriggerSource, "the camera has no trigger source " +
                                            (entry.empty() ? std::to_string(m_triggerSource) : entry));
            return false;
        }
        return SetEntry("TriggerMode", "On");
    }
    return SetEntry("TriggerMode", "Off");
}

int AravisDevice::SetParam(ULONG number, ULONG, double value) {
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    switch (number) {
        case kParamTriggerMode:
            m_triggerOn = value != 0.0;
            return ApplyTrigger() ? 1 : 0;
        case kParamTriggerSource:
            if (value < 0.0 || value > 255.0) return 0;
            m_triggerSource = static_cast<ULONG>(value);
            return ApplyTrigger() ? 1 : 0;
        case kParamSoftwareTrigger: {
            ArvGcNode* node = Feature("TriggerSoftware");
            if (!node) {
                Report(number, "the camera has no TriggerSoftware command");
                return 0;
            }
            return WriteNumber(node, 1.0) ? 1 : 0;
        }
        case kParamRedGain:
        case kParamGreenGain:
        case kParamBlueGain: {
            ArvGcNode* node = GainNode(number);
            if (!node) Report(number, "the camera has no balance ratio or gain for parameter " + std::to_string(number));
            return node && WriteNumber(node, value) ? 1 : 0;
        }
        default: {
            ArvGcNode* node = FirstFeature(NumericFeatures(number));
            if (!node) {
                char text[96];
                std::snprintf(text, sizeof text, "the camera has no feature for parameter 0x%lX (%lu)",
                              static_cast<unsigned long>(number), static_cast<unsigned long>(number));
                Report(number, text);
                return 0;
            }
            return WriteNumber(node, value) ? 1 : 0;
        }
    }
}

int AravisDevice::GetCaps(ULONG number, ORV_PARAM_CAPS* caps) {
    *caps = ORV_PARAM_CAPS{};
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    if (IsTextParam(number)) {
        caps->Flags = 1;
        return m_texts.count(number) ? 1 : 0;
    }
    ArvGcNode* node = nullptr;
    if (GainColour(number)) node = GainNode(number);
    else node = FirstFeature(NumericFeatures(number));
    return node && Bounds(node, &caps->Min, &caps->Max) ? 1 : 0;
}

bool AravisDevice::Supported(ULONG number) {
    if (!m_alive) return false;
    if (number == kParamFrameTime) return true;
    std::lock_guard<std::mutex> lock(m_control);
    if (IsTextParam(number)) return m_texts.count(number) && !m_texts[number].empty();
    switch (number) {
        case kParamTriggerMode: return Feature("TriggerMode") != nullptr;
        case kParamTriggerSource: return Feature("TriggerSource") != nullptr;
        case kParamSoftwareTrigger: return Feature("TriggerSoftware") != nullptr;
        case kParamBayer: return Feature("PixelFormat") != nullptr;
        case kParamRedGain:
        case kParamGreenGain:
        case kParamBlueGain: return GainNode(number) != nullptr;
        default: return FirstFeature(NumericFeatures(number)) != nullptr;
    }
}

double AravisDevice::CheckValue(ULONG number, double value) {
    if (!m_alive) return value;
    std::lock_guard<std::mutex> lock(m_control);
    ArvGcNode* node = GainColour(number) ? GainNode(number) : FirstFeature(NumericFeatures(number));
    double min = 0, max = 0;
    if (!node || !Bounds(node, &min, &max)) return value;
    return std::min(std::max(value, min), max);
}

double AravisDevice::GetStored(ULONG number, ULONG index) {
    double value = 0.0;
    if (GetParam(number, index, &value)) return value;
    std::lock_guard<std::mutex> lock(m_control);
    auto it = m_stored.find({number, index});
    return it == m_stored.end() ? 0.0 : it->second;
}

int AravisDevice::SetStored(ULONG number, ULONG index, double value) {
    if (IsTextParam(number)) return 0;
    {
        std::lock_guard<std::mutex> lock(m_control);
        m_stored[{number, index}] = value;
    }
    // A store takes effect like a write, except that it fires no trigger.
    if (number != kParamSoftwareTrigger) SetParam(number, index, value);
    return 1;
}

// ---- Registers and geometry ----------------------------------------------------

ULONG AravisDevice::ReadReg(ULONG address) {
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    guint32 value = 0;
    GError* err = nullptr;
    arv_device_read_register(m_device, address, &value, &err);
    return Failed(&err) ? 0 : value;
}

int AravisDevice::WriteReg(ULONG address, ULONG value) {
    if (!m_alive) return 0;
    std::lock_guard<std::mutex> lock(m_control);
    GError* err = nullptr;
    arv_device_write_register(m_device, address, value, &err);
    return Failed(&err) ? 0 : 1;
}

int AravisDevice::SetAoi(ULONG x, ULONG y, ULONG width, ULONG height) {
    if (!m_alive) return 0;
    bool grabbing;
    {
        std::lock_guard<std::mutex> lock(m_grabsMutex);
        grabbing = !m_grabs.empty();
    }
    std::lock_guard<std::mutex> lock(m_control);
    gint cx = 0, cy = 0, cw = 0, ch = 0;
    GError* err = nullptr;
    arv_camera_get_region(m_camera, &cx, &cy, &cw, &ch, &err);
    if (Failed(&err)) return 0;
    // The client sizes its buffers for this window: a grab's frames must fit it.
    const ULONG bytesPerPixel = std::max<ULONG>(PixelFormatLayout(Entry("PixelFormat")).bytesPerPixel, 1);
    if (static_cast<ULONG>(cx) == x && static_cast<ULONG>(cy) == y && static_cast<ULONG>(cw) == width &&
        static_cast<ULONG>(ch) == height) {
        m_aoiBytes = std::size_t(width) * height * bytesPerPixel;
        return 1;
    }
    // The frame size of a running grab cannot change under its buffers.
    if (grabbing && (static_cast<ULONG>(cw) != width || static_cast<ULONG>(ch) != height)) return 0;
    arv_camera_set_region(m_camera, static_cast<gint>(x), static_cast<gint>(y), static_cast<gint>(width),
                          static_cast<gint>(height), &err);
    if (Failed(&err)) return 0;
    arv_camera_get_region(m_camera, &cx, &cy, &cw, &ch, &err);
    if (Failed(&err) || static_cast<ULONG>(cw) != width || static_cast<ULONG>(ch) != height) return 0;
    m_aoiBytes = std::size_t(width) * height * bytesPerPixel;
    return 1;
}

// ---- Grabs -----------------------------------------------------------------------

bool AravisDevice::StartAcquisition(std::string* error) {
    // Called under m_control by the grab being started.
    if (ArvGcNode* lock = Feature("TLParamsLocked")) WriteNumber(lock, 1.0);
    SetEntry("AcquisitionMode", "Continuous");
    ArvGcNode* start = Feature("AcquisitionStart");
    if (!start || !WriteNumber(start, 1.0)) {
        *error = "the camera did not start acquiring";
        return false;
    }
    return true;
}

void AravisDevice::StopAcquisition() {
    if (!m_alive) return;  // a camera that does not answer would only make us wait
    std::lock_guard<std::mutex> lock(m_control);
    if (ArvGcNode* stop = Feature("AcquisitionStop")) WriteNumber(stop, 1.0);
    if (ArvGcNode* unlock = Feature("TLParamsLocked")) WriteNumber(unlock, 0.0);
}

HGRAB AravisDevice::Grab(ULONG, void** buffers, ULONG count) {
    if (!m_alive) return nullptr;
    ORV_CAM_ATTR attr{};
    if (!GetAttr(&attr)) return nullptr;
    std::shared_ptr<AravisGrab> grab;
    {
        std::lock_guard<std::mutex> lock(m_control);
        const std::size_t frameBytes =
            m_aoiBytes != 0 ? m_aoiBytes : std::size_t(attr.Width) * attr.Height * attr.BytesPerPixel;
        GError* err = nullptr;
        const guint payload = arv_camera_get_payload(m_camera, &err);
        if (Failed(&err)) return nullptr;
        if (payload > frameBytes || frameBytes == 0) {
            Say("GEV camera " + m_id + ": a frame of " + std::to_string(payload) + " bytes does not fit a buffer of " +
                std::to_string(frameBytes) + " bytes (" + std::to_string(attr.Width) + " x " +
                std::to_string(attr.Height) + ", " + std::to_string(attr.BytesPerPixel) + " bytes per pixel)");
            return nullptr;
        }
        grab = std::make_shared<AravisGrab>(this, std::vector<void*>(buffers, buffers + count), frameBytes);
        std::string error;
        if (!grab->Start(m_camera, &error)) {
            Say("GEV camera " + m_id + ": " + error);
            return nullptr;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_grabsMutex);
        m_grabs.push_back(grab);
    }
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        Registry()[grab->Handle()] = grab;
    }
    return grab->Handle();
}

std::shared_ptr<AravisGrab> AravisDevice::FindOwnGrab(HGRAB handle) {
    std::lock_guard<std::mutex> lock(m_grabsMutex);
    for (auto& g : m_grabs) {
        if (g->Handle() == handle) return g;
    }
    return nullptr;
}

std::shared_ptr<AravisGrab> AravisDevice::FindGrab(HGRAB handle) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto it = Registry().find(handle);
    return it == Registry().end() ? nullptr : it->second.lock();
}

int AravisDevice::GrabWaitFrame(HGRAB handle, void** address, ULONG timeoutMs, bool lock, ULONG* count,
                                GRAB_EXT_ATTR* ext) {
    std::shared_ptr<AravisGrab> grab = FindOwnGrab(handle);
    if (!grab) return -2;
    return grab->Wait(timeoutMs, lock, address, count, ext);
}

int AravisDevice::GrabRelease(HGRAB handle, int index) {
    std::shared_ptr<AravisGrab> grab = FindOwnGrab(handle);
    return grab ? grab->Release(index) : 0;
}

int AravisDevice::GrabStop(HGRAB handle) {
    std::vector<std::shared_ptr<AravisGrab>> stopping;
    {
        std::lock_guard<std::mutex> lock(m_grabsMutex);
        for (auto it = m_grabs.begin(); it != m_grabs.end();) {
            if (!handle || (*it)->Handle() == handle) {
                stopping.push_back(*it);
                it = m_grabs.erase(it);
            } else {
                ++it;
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        for (auto& g : stopping) Registry().erase(g->Handle());
    }
    for (auto& g : stopping) g->Stop();
    return stopping.empty() ? 0 : 1;
}

void AravisDevice::AddFrameEvent(HANDLE event) {
    std::lock_guard<std::mutex> lock(m_frames);
    m_frameEvents.push_back(event);
}

void AravisDevice::RemoveFrameEvent(HANDLE event) {
    std::lock_guard<std::mutex> lock(m_frames);
    m_frameEvents.erase(std::remove(m_frameEvents.begin(), m_frameEvents.end(), event), m_frameEvents.end());
}

void AravisDevice::FrameArrived() {
    std::lock_guard<std::mutex> lock(m_frames);
    for (HANDLE event : m_frameEvents) SetEvent(event);
}

void AravisDevice::FrameTaken(ULONG index, double frameTimeUs) {
    std::lock_guard<std::mutex> lock(m_frames);
    m_frameTimes[index] = frameTimeUs;
}

// ---- The library's entry points ------------------------------------------------

std::shared_ptr<Device> Open(const std::string& id, std::string* error) { return AravisDevice::Open(id, error); }

std::vector<std::string> Discover() {
    std::lock_guard<std::mutex> lock(SystemMutex());
    arv_update_device_list();
    std::vector<std::string> ids;
    const unsigned n = arv_get_n_devices();
    for (unsigned i = 0; i < n; ++i) {
        const char* protocol = arv_get_device_protocol(i);
        const char* id = arv_get_device_id(i);
        if (id && protocol && std::strcmp(protocol, "GigEVision") == 0) ids.push_back(id);
    }
    return ids;
}

bool GrabStats(HGRAB grab, ORV_GRAB_STATS* stats) {
    std::shared_ptr<AravisGrab> g = AravisDevice::FindGrab(grab);
    if (!g) return false;
    *stats = g->Stats();
    return true;
}

bool Supported() { return true; }

}  // namespace kiru::gev
