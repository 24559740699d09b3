#include "device/pslink.h"
#include "device/link/SimulatedSupply.h"

#include <gtest/gtest.h>

TEST(SimulatedLink, ConnectSequenceIsLogged)
{
    pslink::ResetSimulators();
    qputenv("TARNWELL_COM1", "sim");
    ASSERT_EQ(OpenCOM(0, 0), 1);
    unsigned char version[10] = {};
    EXPECT_NE(dsoReadVersion(0, version), 0);
    unsigned char v[5] = {0, 5, 0, 0, 0};
    dsoSetVoltage(0, v);
    CloseCOM(0);
    ASSERT_NE(pslink::SimulatorFor(0), nullptr);
    const auto log = pslink::SimulatorFor(0)->Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], "dsoSetVoltage 0,5,0,0");
    qunsetenv("TARNWELL_COM1");
}
