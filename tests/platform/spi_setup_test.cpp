// The spidev set-up sequence: every request is made in order whatever the driver answers, and only
// refusals and differing read-backs are reported.
#include "platform/spi_setup.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using R = platform::SpiSetupRequests;

class Driver : public R {
public:
    std::vector<Request> made;
    std::map<Request, uint32_t> written = {{WriteMode, 0}, {WriteBits, 8}, {WriteSpeed, 500000}}; // driver defaults
    std::map<Request, bool> refuse;
    std::map<Request, uint32_t> settles; // value a read returns instead of what was written

    bool request(Request r, uint32_t* value) override
    {
        made.push_back(r);
        if (refuse[r])
            return false;
        switch (r) {
        case WriteMode: case WriteBits: case WriteSpeed: written[r] = *value; return true;
        case ReadMode: *value = settles.count(r) ? settles[r] : written[WriteMode]; return true;
        case ReadBits: *value = settles.count(r) ? settles[r] : written[WriteBits]; return true;
        case ReadSpeed: *value = settles.count(r) ? settles[r] : written[WriteSpeed]; return true;
        }
        return false;
    }
};

const std::vector<R::Request> kOrder = {R::WriteMode, R::ReadMode, R::WriteBits, R::ReadBits, R::WriteSpeed, R::ReadSpeed};

TEST(SpiSetUp, WritesModeBitsAndSpeedAndReadsEachBack)
{
    Driver d;
    EXPECT_EQ(platform::setUpSpi(d, 3, 8, 10000000), "");
    EXPECT_EQ(d.made, kOrder);
    EXPECT_EQ(d.written[R::WriteMode], 3u);
    EXPECT_EQ(d.written[R::WriteBits], 8u);
    EXPECT_EQ(d.written[R::WriteSpeed], 10000000u);

    Driver zeroBits;
    EXPECT_EQ(platform::setUpSpi(zeroBits, 0, 0, 5000000), "") << "0 bits means the driver's 8";
    EXPECT_EQ(zeroBits.written[R::WriteBits], 8u);
}

TEST(SpiSetUp, RefusalsAndOtherReadBacksAreReportedAndTheRestStillRuns)
{
    struct Case {
        R::Request request;
        bool refused;
        uint32_t settles;
        const char* report;
    };
    const Case cases[] = {
        {R::WriteMode, true, 0, "can't set mode; mode reads 0, asked 3"},
        {R::ReadMode, true, 0, "can't get mode"},
        {R::ReadMode, false, 0, "mode reads 0, asked 3"},
        {R::WriteBits, true, 0, "can't set bits per word"},
        {R::ReadBits, true, 0, "can't get bits per word"},
        {R::ReadBits, false, 16, "bits per word reads 16, asked 8"},
        {R::WriteSpeed, true, 0, "can't set max speed; max speed reads 500000 Hz, asked 10000000 Hz"},
        {R::ReadSpeed, true, 0, "can't get max speed"},
        {R::ReadSpeed, false, 9600000, "max speed reads 9600000 Hz, asked 10000000 Hz"},
        {R::ReadSpeed, false, 10000001, "max speed reads 10000001 Hz, asked 10000000 Hz"},
    };
    for (const Case& c : cases) {
        Driver d;
        if (c.refused)
            d.refuse[c.request] = true;
        else
            d.settles[c.request] = c.settles;
        const std::string report = platform::setUpSpi(d, 3, 8, 10000000);
        EXPECT_EQ(report, c.report) << c.request;
        EXPECT_EQ(d.made, kOrder) << c.request;
    }

    Driver all;
    for (R::Request r : kOrder)
        all.refuse[r] = true;
    EXPECT_EQ(platform::setUpSpi(all, 3, 8, 10000000),
              "can't set mode; can't get mode; can't set bits per word; can't get bits per word; "
              "can't set max speed; can't get max speed");
    EXPECT_EQ(all.made, kOrder);
}

}
