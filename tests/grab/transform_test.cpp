// Image transforms of the grab object: the ApplyImageTransform pipeline of
// both classes against a stage-by-stage model, the client's sense of
// rotation, the alternating work halves, the mosaic copy, and the LUT limits.
// The pixel kernels themselves are tested in tests/image.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "image/image_kernels.h"
#include "support/pattern.h"
#include "support/test_grab.h"

namespace {

using kiru_test::Bytes;
using kiru_test::Pattern;

Bytes Copy(const unsigned char* p, std::size_t n) { return Bytes(p, p + n); }

// Either grab class with a frame geometry of any size (also below Create's
// 32-pixel minimum, the way a back-end adopts the size of a stored image)
// and a stored angle.
template <class Base>
class PipelineGrab : public Base {
public:
    PipelineGrab() { this->Initialize(); }
    void Adopt(ULONG width, ULONG height, ULONG bytesPerPixel, ULONG horz = 1, ULONG vert = 1, unsigned stored = 0) {
        this->m_width = width;
        this->m_height = height;
        this->m_bytesPerPixel = bytesPerPixel;
        this->m_bitsPerPixel = 8 * bytesPerPixel;
        this->m_widthByteCount = width * bytesPerPixel;
        this->m_heightByteCount = height * bytesPerPixel;
        this->m_imageSizePixels = width * height;
        this->m_imageSizeBytes = width * height * bytesPerPixel;
        this->SetTiling(horz, vert);
        this->m_rotation = stored;
    }
};
using Grab = PipelineGrab<kiru_test::TestGrab>;

struct Stages {
    ULONG width, height, bpp, horz, vert;
    std::size_t cameras;
    bool mosaicStage;  // CIGrab's pipeline has it, IXGrab's does not
    IFW_IMG_TRANSFORM_TYPE transform;
    unsigned stored;  // rotation as stored
};

// The pipeline step by step: the client's buffer and one work half (filled
// with workFill) take turns. Returns the result and whether it is in the
// client's buffer. The rotation stage uses the rotation kernel, which the
// kernel tests check against the pixel-by-pixel mapping.
std::pair<Bytes, bool> ModelPipeline(const Stages& s, Bytes client, std::uint8_t workFill) {
    const std::size_t image = std::size_t(s.width) * s.height * s.bpp;
    Bytes work(std::size_t(s.horz) * s.vert * s.cameras * image, workFill);
    Bytes* cur = &client;
    Bytes* other = &work;
    const bool quarter = kiru::img::IsQuarterTurnAngle(s.stored);
    // GetWidth and GetHeight: the client's view of the mosaic.
    const std::size_t viewW = quarter ? (s.vert * s.height) & ~std::size_t(7) : s.horz * s.width;
    const std::size_t viewH = quarter ? s.horz * s.width : s.vert * s.height;

    if (s.mosaicStage && s.horz > 1) {
        const std::size_t row = std::size_t(s.width) * s.bpp;
        std::size_t frame = 0;
        for (std::size_t t = 0; t < s.vert; ++t)
            for (std::size_t j = 0; j < s.horz; ++j, ++frame)
                for (std::size_t r = 0; r < s.height; ++r)
                    std::memcpy(&(*other)[t * s.horz * image + j * row + r * s.horz * row],
                                &(*cur)[frame * image + r * row], row);
        std::swap(cur, other);
    }
    if (s.transform == IFW_TRANSFORM_MIRROR || s.transform == IFW_TRANSFORM_FLIP) {
        const bool exactQuarter = s.stored == 90 || s.stored == 270;
        const std::size_t w = exactQuarter ? viewH : viewW, rows = exactQuarter ? viewW : viewH;
        const bool mirror = s.transform == IFW_TRANSFORM_MIRROR;
        for (std::size_t c = 0; c < s.cameras; ++c)
            for (std::size_t y = 0; y < rows; ++y)
                for (std::size_t x = 0; x < w; ++x) {
                    const std::size_t from = ((mirror ? y : rows - 1 - y) * w + (mirror ? w - 1 - x : x)) * s.bpp;
                    std::memcpy(&(*other)[c * image + (y * w + x) * s.bpp], &(*cur)[c * image + from], s.bpp);
                }
        std::swap(cur, other);
    }
    if (s.stored != 0) {
        const std::size_t w = quarter ? viewH : viewW, h = quarter ? viewW : viewH;
        for (std::size_t c = 0; c < s.cameras; ++c)
            kiru::img::RotateBlock(cur->data() + c * image, w, h, other->data() + c * image, s.bpp, s.stored);
        return {*other, other == &client};
    }
    return {*cur, cur == &client};
}

// Every combination of tiling, camera count, pixel size, mirror or flip and
// rotation gives the model's bytes in the model's buffer.
template <class Base>
void ExpectPipelineMatchesModel(bool mosaicStage) {
    std::uint32_t seed = mosaicStage ? 1 : 5000;
    for (bool planar : {false, true})
        for (ULONG bpp : {1u, 2u, 3u, 4u})
            for (ULONG horz : {1u, 2u, 3u})
                for (ULONG vert : {1u, 2u})
                    for (IFW_IMG_TRANSFORM_TYPE t : {IFW_TRANSFORM_NONE, IFW_TRANSFORM_MIRROR, IFW_TRANSFORM_FLIP})
                        for (unsigned stored : {0u, 90u, 180u, 270u, 17u, 100u, 200u}) {
                            if (planar && bpp != 1) continue;  // planes are one byte a pixel
                            const Stages s{5, 9, bpp, horz, vert, planar ? 8u : 1u, mosaicStage, t, stored};
                            SCOPED_TRACE(testing::Message()
                                         << (planar ? "planar, " : "") << bpp << "-byte pixels, " << horz << "x" << vert
                                         << " tiles, transform " << t << ", stored angle " << stored);
                            PipelineGrab<Base> grab;
                            if (planar) {
                                ASSERT_EQ(grab.SetImageColor(IFW_COLOR_PLANAR), 1);
                            }
                            ASSERT_EQ(std::size_t(grab.GetNumCameras()), s.cameras);
                            grab.Adopt(s.width, s.height, bpp, horz, vert, stored);
                            grab.SetImgTransform(t);
                            const Bytes input = Pattern(std::size_t(horz) * vert * s.cameras * 5 * 9 * bpp, ++seed);

                            // A rotation leaves unreached pixels as the work half held
                            // them; only bytes that do not depend on that compare.
                            const auto model = ModelPipeline(s, input, 0x00);
                            const Bytes otherFill = ModelPipeline(s, input, 0xFF).first;
                            Bytes client = input;
                            const unsigned char* got = grab.ApplyImageTransform(client.data(), 0);
                            ASSERT_NE(got, nullptr);
                            EXPECT_EQ(got == client.data(), model.second) << "the buffer holding the result";
                            std::size_t differ = 0;
                            for (std::size_t i = 0; i < input.size(); ++i)
                                if (model.first[i] == otherFill[i]) differ += got[i] != model.first[i];
                            EXPECT_EQ(differ, 0u);
                        }
}

}  // namespace

TEST(TransformPipeline, CommonLayerMatchesTheStageByStageModel) {
    ExpectPipelineMatchesModel<kiru_test::TestGrab>(true);
}

TEST(TransformPipeline, InterfaceMatchesTheModelWithoutItsMosaicStage) {
    ExpectPipelineMatchesModel<kiru_test::TestIXGrab>(false);
}

// SetRotateTransform stores the client's angle negated, so that images turn
// clockwise; a full turn is no turn, and without a transform the client's
// image comes back untouched.
TEST(ApplyImageTransform, ClientAnglesTurnClockwise) {
    Grab grab;
    grab.Adopt(3, 8, 1);
    Bytes frame(24);  // pixel (x, y) holds 10 * y + x + 1
    for (int i = 0; i < 24; ++i) frame[i] = static_cast<std::uint8_t>(10 * (i / 3) + i % 3 + 1);
    for (ULONG degrees : {90u, 450u, 270u, 0u, 360u}) {
        grab.SetRotateTransform(degrees);
        const unsigned stored = (360 - degrees % 360) % 360;
        const auto model = ModelPipeline(Stages{3, 8, 1, 1, 1, 1, true, IFW_TRANSFORM_NONE, stored}, frame, 0);
        Bytes image = frame;
        const unsigned char* out = grab.ApplyImageTransform(image.data(), 0);
        EXPECT_EQ(Copy(out, 24), model.first) << degrees;
        EXPECT_EQ(out == image.data(), model.second) << degrees;
        EXPECT_EQ(image, frame) << degrees;
        EXPECT_EQ(grab.GetWidth() * 10 + grab.GetHeight(), stored ? 83u : 38u) << degrees;
    }
    // Turned a quarter clockwise, the first row is the first column read upwards.
    grab.SetRotateTransform(90);
    Bytes image = frame;
    EXPECT_EQ(Copy(grab.ApplyImageTransform(image.data(), 0), 8), (Bytes{71, 61, 51, 41, 31, 21, 11, 1}));
}

TEST(ApplyImageTransform, SuccessiveCallsAlternateHalvesOfTheWorkArea) {
    Grab grab;
    grab.Adopt(4, 1, 1);
    grab.SetImgTransform(IFW_TRANSFORM_MIRROR);
    Bytes image = {1, 2, 3, 4};
    unsigned char* first = grab.ApplyImageTransform(image.data(), 0);
    image = {5, 6, 7, 8};
    unsigned char* second = grab.ApplyImageTransform(image.data(), 0);
    EXPECT_EQ(std::abs(first - second), 4) << "halves are one frame set apart";
    EXPECT_EQ(Copy(first, 4), (Bytes{4, 3, 2, 1})) << "the previous result survives the next call";
    EXPECT_EQ(Copy(second, 4), (Bytes{8, 7, 6, 5}));
    EXPECT_EQ(grab.ApplyImageTransform(image.data(), 0), first);
    // Without a frame geometry there is no work area: the image comes back as it is.
    kiru_test::TestGrab empty;
    empty.SetImgTransform(IFW_TRANSFORM_MIRROR);
    EXPECT_EQ(empty.ApplyImageTransform(image.data(), 0), image.data());
    EXPECT_EQ(image, (Bytes{5, 6, 7, 8}));
}

TEST(ApplyImageTransform, VertToHorzPlanesIsTheMosaicStage) {
    Grab grab;
    grab.Adopt(4, 3, 1, 2, 2);
    const Bytes frames = Pattern(4 * 12, 3);
    Bytes mosaic(frames.size());
    EXPECT_EQ(grab.VertToHorzPlanes(const_cast<unsigned char*>(frames.data()), mosaic.data()), mosaic.data());
    Bytes client = frames;
    EXPECT_EQ(Copy(grab.ApplyImageTransform(client.data(), 0), mosaic.size()), mosaic);
    EXPECT_EQ(client, frames);
}

// The limits are stored whether or not the object is initialized.
TEST(Lut, LimitsAreStoredEvenWhenNotInitialized) {
    struct Step {
        const char* op;
        int (*call)(CIGrab&);
        UINT floor, ceiling;
    };
    const Step steps[] = {{"InvLinearizeLUT", [](CIGrab& g) { return g.InvLinearizeLUT(); }, 255, 0},
                          {"LinearizeLUT", [](CIGrab& g) { return g.LinearizeLUT(); }, 0, 255},
                          {"SetLUTFloor", [](CIGrab& g) { return g.SetLUTFloor(12); }, 12, 255},
                          {"SetLUTCeiling", [](CIGrab& g) { return g.SetLUTCeiling(200); }, 12, 200}};
    kiru_test::TestGrab grab;
    for (int initialized : {0, 1}) {
        ASSERT_EQ(initialized ? grab.Initialize() : 1, 1);
        for (const Step& s : steps) {
            const std::string before = grab.PlantError();
            EXPECT_EQ(s.call(grab), initialized) << s.op;
            EXPECT_EQ(grab.GetLastErrorMsg(),
                      initialized ? before : std::string("CIGrab::") + s.op + ": Grab not initialized");
            EXPECT_EQ(grab.GetLUTFloor() * 1000 + grab.GetLUTCeiling(), s.floor * 1000 + s.ceiling) << s.op;
        }
    }
    // A table of no entries, or none at all, is refused without a message.
    unsigned char table[256] = {};
    const std::string before = grab.PlantError();
    EXPECT_EQ(grab.WriteLUTBuf(0, 0, table) + grab.WriteLUTBuf(0, 256, nullptr), 0);
    EXPECT_EQ(grab.GetLastErrorMsg(), before);
}
