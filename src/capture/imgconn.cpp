// The display side. There is no window system here: a paint copies the
// source image into the window's record, which the simulation API shows.
#include "capture/imgconn.h"

#include <cstring>

#include "capture/sim/station_state.h"

CImgConn::CImgConn(HWND window, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG colorFormat)
    : m_window(window), m_width(width), m_height(height), m_bitsPerPixel(bitsPerPixel), m_colorFormat(colorFormat) {}

CImgConn::~CImgConn() = default;

int CImgConn::Display() {
    const auto* pixels = static_cast<const unsigned char*>(m_source.GetBufferAddr());
    if (!pixels) return 0;
    const std::size_t bytes = static_cast<std::size_t>(m_width) * m_height * ((m_bitsPerPixel + 7) / 8);
    kiru::sim::StationState& s = kiru::sim::StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    kiru::sim::DisplayInfo& info = s.displays[m_window];
    ++info.paints;
    info.width = m_width;
    info.height = m_height;
    info.bitsPerPixel = m_bitsPerPixel;
    info.colorFormat = m_colorFormat;
    info.pixels.assign(pixels, pixels + bytes);
    return 1;
}

CImgConn* OrxCreateImgConn(void* buffer, ULONG width, ULONG height, ULONG bitsPerPixel, HWND window,
                           ULONG colorFormat, ULONG, void*, ULONG, ULONG, void*, void*) {
    if (!window || width == 0 || height == 0 || bitsPerPixel == 0 || bitsPerPixel > 64) return nullptr;
    auto* connection = new CImgConn(window, width, height, bitsPerPixel, colorFormat);
    connection->GetSrc()->SetBufferAddr(buffer);
    return connection;
}
