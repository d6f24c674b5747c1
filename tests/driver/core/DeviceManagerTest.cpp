#include "driver/core/DeviceManager.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/FakeHost.h"

namespace wedgecard {
namespace {

using test::TFakeGuids;

TEST(DeviceManager, WritesIdentifiersAsGuidsInRegistryFormWithoutBraces) {
    IGuidSource::TGuid guid;
    guid.Data1 = 0x0000ABCD;
    guid.Data2 = 0x00EF;
    guid.Data3 = 0x0A0B;
    guid.Data4 = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(FormatDeviceID(guid), "0000ABCD-00EF-0A0B-0123-456789ABCDEF");
}

TEST(DeviceManager, GivesEveryDeviceANew36CharacterUpperCaseIdentifier) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    std::set<std::string> seen;
    for (int i = 0; i < 5; ++i) {
        const std::string id = devices.Add()->ID();
        ASSERT_EQ(id.size(), 36U) << id;
        for (std::size_t at = 0; at < id.size(); ++at) {
            if (at == 8 || at == 13 || at == 18 || at == 23) {
                EXPECT_EQ(id[at], '-') << id;
            } else {
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(id[at])) &&
                            !std::islower(static_cast<unsigned char>(id[at])))
                    << id;
            }
        }
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 5U);
}

TEST(DeviceManager, AppendsANewDeviceWithDefaultSettings) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    EXPECT_EQ(devices.Count(), 0);

    T1CDevice* first = devices.Add();
    T1CDevice* second = devices.Add();
    ASSERT_EQ(devices.Count(), 2);
    EXPECT_EQ(devices.Items(0), first);
    EXPECT_EQ(devices.Items(1), second);
    EXPECT_EQ(second->Owner(), &devices);
    EXPECT_EQ(second->Sensitivity, 100);
    EXPECT_FALSE(second->KeepsQuietTime);
    EXPECT_EQ(second->Frame->CardPrefixes(), std::optional(std::vector<std::string>{}));
    EXPECT_EQ(second->Frame->CardEnds(), "");
}

TEST(DeviceManager, FindsADeviceOnlyByItsExactIdentifier) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    T1CDevice* first = devices.Add();
    T1CDevice* second = devices.Add();
    const std::string id = second->ID();

    EXPECT_EQ(devices.Find(first->ID()), first);
    EXPECT_EQ(devices.Find(id), second);

    std::string lower = id;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    ASSERT_NE(lower, id);
    EXPECT_EQ(devices.Find(lower), nullptr);
    EXPECT_EQ(devices.Find("{" + id + "}"), nullptr);
    EXPECT_EQ(devices.Find(""), nullptr);
    EXPECT_EQ(devices.Find(id.substr(0, 35)), nullptr);
    EXPECT_EQ(devices.Find(id + " "), nullptr);
}

TEST(DeviceManager, HasNoDeviceAtAPositionOutsideTheList) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    EXPECT_EQ(devices.Items(0), nullptr);
    EXPECT_EQ(devices.Items(-1), nullptr);

    devices.Add();
    devices.Add();
    EXPECT_EQ(devices.Items(-1), nullptr);
    EXPECT_EQ(devices.Items(devices.Count()), nullptr);
    EXPECT_NE(devices.Items(devices.Count() - 1), nullptr);
}

TEST(DeviceManager, ClosesTheGapWhereADestroyedDeviceStood) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    std::vector<T1CDevice*> added;
    for (int i = 0; i < 5; ++i) {
        added.push_back(devices.Add());
    }
    const std::string middleID = added[2]->ID();

    delete added[2];  // from the middle
    EXPECT_EQ(devices.Find(middleID), nullptr);
    delete added[0];  // the first
    delete added[4];  // the last

    ASSERT_EQ(devices.Count(), 2);
    EXPECT_EQ(devices.Items(0), added[1]);
    EXPECT_EQ(devices.Items(1), added[3]);
}

TEST(DeviceManager, WorksAsNewAfterItsLastDeviceIsDestroyed) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    T1CDevice* only = devices.Add();
    const std::string oldID = only->ID();
    delete only;
    EXPECT_EQ(devices.Count(), 0);
    EXPECT_EQ(devices.Items(0), nullptr);
    EXPECT_EQ(devices.Find(oldID), nullptr);

    T1CDevice* next = devices.Add();
    ASSERT_EQ(devices.Count(), 1);
    EXPECT_EQ(devices.Items(0), next);
    EXPECT_NE(next->ID(), oldID);

    devices.Clear();
    EXPECT_EQ(devices.Count(), 0);
    devices.Add();
    EXPECT_EQ(devices.Count(), 1);
}

TEST(DeviceManager, AddsNoDeviceWhenTheSystemCannotMakeAGuid) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    T1CDevice* open = devices.Add();

    guids.Fail = true;
    EXPECT_ANY_THROW(devices.Add());
    ASSERT_EQ(devices.Count(), 1);
    EXPECT_EQ(devices.Items(0), open);

    guids.Fail = false;
    EXPECT_NE(devices.Add(), nullptr);
    EXPECT_EQ(devices.Count(), 2);
}

TEST(DeviceManager, MovesADeviceToTheEndOfItsNewOwner) {
    TFakeGuids guids;
    TDeviceManager devices(guids);
    TDeviceManager others(guids);
    T1CDevice* first = devices.Add();
    T1CDevice* second = devices.Add();
    T1CDevice* resident = others.Add();

    // The same owner again leaves the order as it is.
    first->SetOwner(&devices);
    EXPECT_EQ(devices.Items(0), first);
    EXPECT_EQ(devices.Count(), 2);

    first->SetOwner(&others);
    EXPECT_EQ(first->Owner(), &others);
    ASSERT_EQ(devices.Count(), 1);
    EXPECT_EQ(devices.Items(0), second);
    ASSERT_EQ(others.Count(), 2);
    EXPECT_EQ(others.Items(0), resident);
    EXPECT_EQ(others.Items(1), first);
    EXPECT_EQ(devices.Find(first->ID()), nullptr);
    EXPECT_EQ(others.Find(first->ID()), first);

    // Without an owner it stands in no list and is the caller's to destroy.
    second->SetOwner(nullptr);
    EXPECT_EQ(devices.Count(), 0);
    delete second;
    EXPECT_EQ(devices.Count(), 0);
}

}  // namespace
}  // namespace wedgecard
