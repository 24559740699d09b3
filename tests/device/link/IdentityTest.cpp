#include "device/link/Identity.h"

#include <gtest/gtest.h>

#include <string>

using namespace pslink;

TEST(Identity, LosesNonPrintableEdges)
{
    const struct
    {
        std::string reply;
        std::string identity;
    } rows[] = {
        {"TARNWELL-SIM V1.0", "TARNWELL-SIM V1.0"},
        {std::string("PSU V2.1\r\n\0\xff", 12), "PSU V2.1"},
        {std::string("\xff\x00 PSU", 6), "PSU"},
        {std::string("A\x01" "B", 3), "A B"}, // an inner control byte would corrupt the text
        {std::string("\r\n\0", 3), ""},
        {"", ""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(cleanIdentity(r.reply), r.identity);
}
