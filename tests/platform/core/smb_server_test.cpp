// The private SMB server of the test support: Finder information a client
// writes lands in the extended attribute a Linux server keeps it in, and
// one put there is what the client reads.
#include "smb_server.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdint>
#include <string>

namespace {

using kivo_test::SmbShareTest;

const char* const kMetadata = "user.org.netatalk.Metadata";

std::uint32_t be(const std::string& b, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

std::string be32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// The 32 bytes of the Finder information entry (id 9) of an AppleDouble
// version 2 header, found through its descriptor table; "" when the header
// or the entry is not whole.
std::string finder_info_of(const std::string& v)
{
    if (v.size() < 26 || be(v, 0, 4) != 0x00051607 || be(v, 4, 4) != 0x00020000) {
        return "";
    }
    std::size_t count = be(v, 24, 2);
    for (std::size_t i = 0; i < count && 38 + 12 * i <= v.size(); ++i) {
        std::size_t at = 26 + 12 * i;
        std::size_t offset = be(v, at + 4, 4), length = be(v, at + 8, 4);
        if (be(v, at, 4) == 9) {
            return length == 32 && offset + length <= v.size() ? v.substr(offset, length) : "";
        }
    }
    return "";
}

std::string metadata_of(const std::string& path)
{
    char buf[1024];
    ssize_t n = getxattr(path.c_str(), kMetadata, buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

// The 60-byte stream a client sees: signature, version 1.0, reserved and
// backup date, the Finder information, ProDOS information and reserved.
std::string afp_info(const std::string& finder)
{
    return std::string("AFP\0", 4) + be32(0x100) + std::string(8, '\0') + finder + std::string(12, '\0');
}

// A file (type TEXT, creator KIVO, flags inited and invisible) and a folder
// (flags custom icon and invisible), each with extended information.
struct Item
{
    const char* name;
    bool folder;
    std::string finder;
};
const Item kItems[] = {
    {"notes.txt", false, std::string("TEXTKIVO\x41\x00\x01\x02\x03\x04\x05\x06", 16) + "0123456789abcdef"},
    {"Letters", true, std::string(8, '\0') + std::string("\x44\x00\0\0\0\0\0\0", 8) + "fedcba9876543210"},
};

class SmbServerTest : public SmbShareTest
{
protected:
    void make(const Item& item)
    {
        if (item.folder) {
            ASSERT_EQ(mkdir(at(item.name).c_str(), 0755), 0);
        } else {
            ASSERT_TRUE(kivo_test::write_file(at(item.name), "text\n"));
        }
    }
};

TEST_F(SmbServerTest, FinderInfoWrittenByAClientLandsInTheMetadataAttribute)
{
    for (const Item& item : kItems) {
        SCOPED_TRACE(item.name);
        make(item);
        std::string why;
        ASSERT_TRUE(smb.write_stream(item.name, "AFP_AfpInfo", afp_info(item.finder), &why)) << why;
        std::string value = metadata_of(at(item.name));
        // The server writes its own 402-byte layout of eight entries.
        ASSERT_EQ(value.size(), 402u);
        EXPECT_EQ(be(value, 24, 2), 8u);
        EXPECT_EQ(finder_info_of(value), item.finder);
    }
}

TEST_F(SmbServerTest, MetadataAttributeIsWhatAClientReads)
{
    // The server's eight entries in another order, each where it puts them.
    const std::uint32_t entries[][3] = {{9, 122, 32},         {8, 354, 16},         {14, 370, 4},
                                        {4, 154, 0},          {0x8053567e, 398, 0}, {0x8053594e, 390, 0},
                                        {0x80494e4f, 382, 0}, {0x80444556, 374, 0}};
    for (const Item& item : kItems) {
        SCOPED_TRACE(item.name);
        make(item);
        std::string value = be32(0x00051607) + be32(0x00020000) + std::string(16, '\0') + std::string("\0\x08", 2);
        for (const auto& e : entries) {
            value += be32(e[0]) + be32(e[1]) + be32(e[2]);
        }
        value += item.finder;
        value.resize(402, '\0');
        ASSERT_EQ(setxattr(at(item.name).c_str(), kMetadata, value.data(), value.size(), 0), 0);
        std::string stream, why;
        ASSERT_TRUE(smb.read_stream(item.name, "AFP_AfpInfo", &stream, &why)) << why;
        ASSERT_EQ(stream.size(), 60u);
        EXPECT_EQ(stream.substr(0, 8), afp_info("").substr(0, 8));
        EXPECT_EQ(stream.substr(16, 32), item.finder);
    }
    // Nothing to read where the attribute is missing.
    ASSERT_TRUE(kivo_test::write_file(at("plain.txt"), "text\n"));
    EXPECT_FALSE(smb.read_stream("plain.txt", "AFP_AfpInfo", nullptr));
}

} // namespace
