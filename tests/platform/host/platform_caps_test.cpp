#include "host_utils.h"
#include "tcpip_transport.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <cstring>
#include <string>

namespace {

TEST(PlatformCaps, FilledTwiceWithoutLeaksOrStaleArrays)
{
    // The network fields come from the fake network, so no test asks the
    // machine's resolver.
    TCPIP_FAKE_TRANSPORT fake;
    TCPIP_TRANSPORT* real = tcpip_set_transport(&fake);
    PLATFORM_CAPS caps;
    EXPECT_EQ(caps.os_version_text, nullptr); // a fresh record holds no arrays to free
    utsname names;
    ASSERT_EQ(uname(&names), 0);
    const std::string version = std::string(names.sysname) + " " + names.release;
    // The second call frees the first call's arrays (leak checking) and the
    // destructor the second's; a name gone by then is not kept.
    for (int round = 0; round < 2; ++round) {
        caps.get_system_info();
        ASSERT_NE(caps.os_version_text, nullptr);
        EXPECT_EQ(std::string(caps.os_version_text), version.substr(0, 49));
        EXPECT_EQ(std::strchr(caps.host_name, '.'), nullptr);
        EXPECT_GE(caps.processor_count, 1);
        ASSERT_NE(caps.processor_mhz, nullptr);
        EXPECT_GT(caps.ram_mb, 0u);
        EXPECT_GE(caps.logical_ram_mb, caps.ram_mb);
        EXPECT_GE(caps.free_memory_mb, 0);
        ASSERT_EQ(caps.volume_count, 1);
        ASSERT_NE(caps.volume_free_mb, nullptr);
        EXPECT_STREQ(caps.network_host_name, round == 0 ? "kivo-fake-host" : "");
        EXPECT_STREQ(caps.network_address, round == 0 ? "10.0.0.1" : "");
        fake.name.clear();
    }
    tcpip_set_transport(real);
}

} // namespace
