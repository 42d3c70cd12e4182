// The cameras' static address entries where they live in a table of this
// process: the station's adapter, the camera's address and MAC, and nothing
// left after Terminate.
#include <algorithm>

#include "backends/gev/gev_fixture.h"
#include "platform/inet.h"
#include "platform/ip_net.h"

namespace kiru_test {
namespace {

TEST_F(GevTest, CamerasGetStaticAddressEntriesUntilTerminate) {
    Open(Camera(0, "Text.0x400E = 10.9.8.7\nText.0x4014 = 10.9.8.1\nText.0x400F = 0A:1b:2C:3d:4E:5f\n"));
    auto entries = kiru::platform::StaticArpEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].dwAddr, inet_addr("10.9.8.7"));
    EXPECT_EQ(entries[0].dwIndex, 1u);  // the station's first host adapter
    EXPECT_EQ(entries[0].dwType, static_cast<DWORD>(MIB_IPNET_TYPE_STATIC));
    const BYTE mac[6] = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
    EXPECT_TRUE(std::equal(mac, mac + 6, entries[0].bPhysAddr));
    EXPECT_EQ(grab->Terminate(), 1);
    EXPECT_TRUE(kiru::platform::StaticArpEntries().empty());
}

}  // namespace
}  // namespace kiru_test
