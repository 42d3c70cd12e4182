// The display library: an image connection paints a source image into a window.
#pragma once

#include <kiru/ciobject.h>
#include <kiru/win_types.h>

// The source image of a connection; its address can be replaced.
class CImgSrc : public CIobject {
public:
    void* GetBufferAddr() const { return m_buffer; }
    void SetBufferAddr(void* buffer) { m_buffer = buffer; }

private:
    friend class CImgConn;
    void* m_buffer = nullptr;
};

class CImgConn : public CIobject {
public:
    ~CImgConn() override;
    CImgSrc* GetSrc() { return &m_source; }
    // Paints the source image into the window; 0 without a source image.
    int Display();

    HWND Window() const { return m_window; }

private:
    friend CImgConn* OrxCreateImgConn(void*, ULONG, ULONG, ULONG, HWND, ULONG, ULONG, void*, ULONG, ULONG, void*,
                                      void*);
    CImgConn(HWND window, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG colorFormat);
    CImgSrc m_source;
    HWND m_window;
    ULONG m_width, m_height, m_bitsPerPixel, m_colorFormat;
};

// A connection showing buffer (width x height, bitsPerPixel, ORV_COLOR code)
// in window; null when the window is null or the format has no pixels.
CImgConn* OrxCreateImgConn(void* buffer, ULONG width, ULONG height, ULONG bitsPerPixel, HWND window,
                           ULONG colorFormat, ULONG a, void* b, ULONG c, ULONG d, void* e, void* f);
